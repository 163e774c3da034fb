#include "ui/qt/qt_main_window.h"

#include <QBuffer>
#include <QCloseEvent>
#include <QIcon>
#include <QMovie>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include "app/identity.h"
#include "ui/qt/qt_text.h"

namespace qz::ui {

using app::ControlKind;

QtMainWindow::QtMainWindow(app::WindowModel& model) : model_(model) {
  build();
  model_.set_observer(this);
}

QtMainWindow::~QtMainWindow() { model_.set_observer(nullptr); }

QIcon QtMainWindow::program_icon() { return QIcon(QStringLiteral(":/qiongzhi/qiongzhi.png")); }

void QtMainWindow::build() {
  // The layout was drawn for a 12-pixel Chinese UI font; a larger one would clip the labels.
  QFont font = this->font();
  font.setFamilies({QStringLiteral("Microsoft YaHei"), QStringLiteral("WenQuanYi Micro Hei"),
                    QStringLiteral("Noto Sans CJK SC"), font.family()});
  font.setPixelSize(12);
  setFont(font);
  auto* client = new QWidget(this);
  setCentralWidget(client);
  for (const app::ControlSpec& spec : app::main_window_controls()) {
    if (spec.kind == ControlKind::StatusBar) continue;
    QWidget* widget = make_control(spec, client);
    widget->setObjectName(to_qt(spec.name));
    widget->setGeometry(spec.x, spec.y, spec.width, spec.height);
    widget->setVisible(model_.visible(spec.name));
    controls_.emplace(std::string(spec.name), widget);
  }
  auto* bar = new QStatusBar(this);
  bar->setObjectName(to_qt(app::kStatusBar));
  bar->setSizeGripEnabled(false);
  for (int part = 0; part < app::kStatusBarParts; ++part) {
    auto* label = new QLabel(bar);
    label->setObjectName(QStringLiteral("%1#%2").arg(to_qt(app::kStatusBar)).arg(part));
    bar->addWidget(label, part == app::kStatusBarParts - 1 ? 1 : 0);
    label->setMinimumWidth(part == app::kStatusBarParts - 1 ? 0 : 120);
    parts_.push_back(label);
  }
  setStatusBar(bar);
  setWindowTitle(to_qt(model_.caption()));
  setWindowIcon(program_icon());
  resize(app::kWindowWidth, app::kWindowHeight);
}

QWidget* QtMainWindow::make_control(const app::ControlSpec& spec, QWidget* parent) {
  const std::string name(spec.name);
  const QString text = to_qt_lines(model_.text(name));
  switch (spec.kind) {
    case ControlKind::Label:
    case ControlKind::TransparentLabel: {
      auto* label = new QLabel(parent);
      set_label_text(label, model_.text(name));
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      if (spec.kind == ControlKind::TransparentLabel) label->setAttribute(Qt::WA_TranslucentBackground);
      return label;
    }
    case ControlKind::Hyperlink: {
      auto* link = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()), parent);
      link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
      connect(link, &QLabel::linkActivated, this, [this, name] { model_.click(name); });
      return link;
    }
    case ControlKind::Button: {
      auto* button = new QPushButton(text, parent);
      connect(button, &QPushButton::clicked, this, [this, name] { model_.click(name); });
      return button;
    }
    case ControlKind::Edit:
      if (spec.style & app::kMultiLine) {
        auto* box = new QPlainTextEdit(text, parent);
        box->setReadOnly(spec.style & app::kReadOnly);
        if (spec.style & app::kWhiteOnBlack)
          box->setStyleSheet(QStringLiteral("QPlainTextEdit { background: black; color: white; }"));
        return box;
      } else {
        auto* box = new QLineEdit(text, parent);
        box->setReadOnly(spec.style & app::kReadOnly);
        if (spec.style & app::kCentred) box->setAlignment(Qt::AlignCenter);
        connect(box, &QLineEdit::textEdited, this,
                [this, name](const QString& t) { model_.set_text_from_ui(name, from_qt(t)); });
        return box;
      }
    case ControlKind::Picture: {
      auto* picture = new QLabel(parent);
      picture->setAlignment(Qt::AlignCenter);
      picture->setCursor(Qt::PointingHandCursor);
      picture->installEventFilter(this);
      return picture;
    }
    case ControlKind::StatusBar: break;
  }
  return new QWidget(parent);
}

void QtMainWindow::set_label_text(QLabel* label, const std::string& text) {
  // Multi-line labels keep the 13-pixel line pitch the layout was drawn with, whatever the font's
  // own line spacing.
  if (text.find("\r\n") == std::string::npos) {
    label->setTextFormat(Qt::PlainText);
    label->setText(to_qt(text));
    return;
  }
  label->setTextFormat(Qt::RichText);
  QString html = to_qt_lines(text).toHtmlEscaped().replace(QStringLiteral("\n"), QStringLiteral("<br>"));
  label->setText(QStringLiteral("<p style=\"line-height:80%; margin:0\">%1</p>").arg(html));
}

QWidget* QtMainWindow::control(const std::string& name) const {
  const auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second;
}

QLabel* QtMainWindow::status_part(int part) const {
  return part >= 0 && part < static_cast<int>(parts_.size()) ? parts_[part] : nullptr;
}

void QtMainWindow::control_changed(const app::ControlChange& change) {
  QMetaObject::invokeMethod(this, [this, change] { apply(change); }, Qt::QueuedConnection);
}

void QtMainWindow::apply(const app::ControlChange& change) {
  switch (change.what) {
    case app::ControlChange::What::Caption: setWindowTitle(to_qt(model_.caption())); break;
    case app::ControlChange::What::StatusPart:
      if (QLabel* label = status_part(change.part)) label->setText(to_qt(model_.status_part(change.part)));
      break;
    case app::ControlChange::What::Text: apply_text(change.name); break;
    case app::ControlChange::What::Visibility:
      if (QWidget* widget = control(change.name)) widget->setVisible(model_.visible(change.name));
      break;
    case app::ControlChange::What::Picture: apply_picture(change.name); break;
  }
}

void QtMainWindow::apply_picture(const std::string& name) {
  auto* label = qobject_cast<QLabel*>(control(name));
  if (!label) return;
  if (QMovie* old = label->movie()) {
    label->setMovie(nullptr);
    delete old->device();
    delete old;
  }
  const std::string bytes = model_.picture(name);
  if (bytes.empty()) {
    label->clear();
    return;
  }
  auto* buffer = new QBuffer(label);
  buffer->setData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  buffer->open(QIODevice::ReadOnly);
  auto* movie = new QMovie(buffer, QByteArray(), label);
  movie->setScaledSize(label->size());
  label->setMovie(movie);
  movie->start();
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    for (const auto& [name, widget] : controls_)
      if (widget == watched) model_.click(name);
  }
  return QMainWindow::eventFilter(watched, event);
}

void QtMainWindow::apply_text(const std::string& name) {
  QWidget* widget = control(name);
  const std::string text = model_.text(name);
  if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    const QString t = to_qt(text);
    if (line->text() != t) line->setText(t);
  } else if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
    box->setPlainText(to_qt_lines(text));
    box->verticalScrollBar()->setValue(box->verticalScrollBar()->maximum());
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(to_qt(text));
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    set_label_text(label, text);
  }
}

void QtMainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (sized_) return;
  sized_ = true;
  // The outer size counts the frame the window manager adds; keep the whole at 688 x 537.
  const QSize frame = frameGeometry().size() - geometry().size();
  setFixedSize(app::kWindowWidth - frame.width(), app::kWindowHeight - frame.height());
}

void QtMainWindow::close_application_with(app::Application& app, std::function<void()> end_process) {
  on_close = [&app, end_process = std::move(end_process)] { app.close_in_background(end_process); };
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  // Off the screen first: the stops that follow may take the recordings' whole grace.
  hide();
  if (on_close) on_close();
  event->accept();
}

}  // namespace qz::ui
