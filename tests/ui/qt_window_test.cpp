// The Qt window draws the control table exactly and carries texts both ways.
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTextDocumentFragment>
#include <gtest/gtest.h>

#include <thread>

#include "app/controls.h"
#include "app/identity.h"
#include "ui/qt/qt_main_window.h"
#include "ui/qt/qt_text.h"

namespace qz::ui {
namespace {

using app::ControlKind;

QString shown_text(QWidget* widget) {
  if (auto* line = qobject_cast<QLineEdit*>(widget)) return line->text();
  if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) return box->toPlainText();
  if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (label->textFormat() != Qt::RichText) return label->text();
    return QTextDocumentFragment::fromHtml(label->text()).toPlainText().replace(QChar::LineSeparator, '\n');
  }
  return {};
}

void settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

struct QtWindowTest : ::testing::Test {
  app::WindowModel model;
  QtMainWindow window{model};
  void SetUp() override {
    window.show();
    settle();
  }
};

TEST_F(QtWindowTest, EveryControlStandsWhereTheTableSaysWithItsText) {
  EXPECT_EQ(window.frameGeometry().size(), QSize(app::kWindowWidth, app::kWindowHeight));
  for (const app::ControlSpec& spec : app::main_window_controls()) {
    if (spec.kind == ControlKind::StatusBar) continue;
    SCOPED_TRACE(std::string(spec.name));
    QWidget* widget = window.control(std::string(spec.name));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), QRect(spec.x, spec.y, spec.width, spec.height));
    EXPECT_EQ(widget->isVisible(), (spec.style & app::kHidden) == 0);
    if (spec.kind == ControlKind::Hyperlink)
      EXPECT_TRUE(shown_text(widget).contains(to_qt(spec.text)));
    else if (spec.kind != ControlKind::Picture)
      EXPECT_EQ(shown_text(widget), to_qt_lines(spec.text));
    if (spec.kind == ControlKind::Edit && (spec.style & app::kReadOnly)) {
      auto* line = qobject_cast<QLineEdit*>(widget);
      auto* box = qobject_cast<QPlainTextEdit*>(widget);
      EXPECT_TRUE((line && line->isReadOnly()) || (box && box->isReadOnly()));
    }
  }
  auto* display = qobject_cast<QPlainTextEdit*>(window.control("编辑框_显示"));
  ASSERT_NE(display, nullptr);
  EXPECT_TRUE(display->styleSheet().contains("background: black"));
  EXPECT_TRUE(display->styleSheet().contains("color: white"));
  auto* width = qobject_cast<QLineEdit*>(window.control("编辑框_宽度"));
  EXPECT_TRUE(width->alignment() & Qt::AlignHCenter);
  EXPECT_NE(window.status_part(0), nullptr);
  EXPECT_NE(window.status_part(1), nullptr);
}

TEST_F(QtWindowTest, ShowsTheProgramsPictureAsItsIcon) {
  const QImage picture(QStringLiteral(QZ_SOURCE_DIR "/packaging/qiongzhi.png"));
  ASSERT_FALSE(picture.isNull());
  const QIcon icon = window.windowIcon();
  ASSERT_FALSE(icon.isNull());
  // Compared in the form Qt draws in: a round trip through premultiplied alpha changes
  // half-transparent edge pixels by a step.
  const QImage shown = icon.pixmap(picture.size()).toImage();
  EXPECT_EQ(shown.size(), picture.size());
  EXPECT_EQ(shown.convertToFormat(QImage::Format_ARGB32_Premultiplied),
            picture.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

TEST_F(QtWindowTest, WritesFromAnyThreadReachTheWidgets) {
  std::thread worker([this] {
    model.set_caption(std::string(app::kTitle) + "v" + app::kVersion);
    model.set_text("编辑框_显示", "line 1\r\nline 2\r\n");
    model.set_text("按钮_开始", "停止下载");
    model.set_status_part(1, "真");
    model.set_visible("按钮_打开新版本", true);
  });
  worker.join();
  settle();
  EXPECT_EQ(window.windowTitle(), QString::fromUtf8("琼枝直播下载v2.7"));
  EXPECT_EQ(shown_text(window.control("编辑框_显示")), QString("line 1\nline 2\n"));
  EXPECT_EQ(shown_text(window.control("按钮_开始")), QString::fromUtf8("停止下载"));
  EXPECT_EQ(window.status_part(1)->text(), QString::fromUtf8("真"));
  EXPECT_TRUE(window.control("按钮_打开新版本")->isVisible());
}

TEST_F(QtWindowTest, ClicksAndTypingComeBackToTheModel) {
  int clicks = 0;
  model.on_click("按钮3", [&] { ++clicks; });
  QTest::mouseClick(window.control("按钮3"), Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  auto* url = qobject_cast<QLineEdit*>(window.control("编辑框_url"));
  url->setFocus();
  QTest::keyClicks(url, "https://v.example/r");
  EXPECT_EQ(model.text("编辑框_url"), "https://v.example/r");
}

}  // namespace
}  // namespace qz::ui

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
