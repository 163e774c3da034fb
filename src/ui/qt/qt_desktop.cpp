#include "ui/qt/qt_desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include "ui/qt/qt_text.h"

namespace qz::ui {

QtDesktop::QtDesktop() = default;

app::MessageReply QtDesktop::show_box(const app::MessageBoxRequest& request) {
  QMessageBox box(request.owned_by_window ? owner_ : nullptr);
  box.setWindowTitle(to_qt(request.caption));
  box.setText(to_qt(request.text));
  switch (request.icon) {
    case app::MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case app::MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case app::MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case app::MessageIcon::Stop: box.setIcon(QMessageBox::Critical); break;
  }
  if (request.buttons == app::MessageButtons::OkCancel)
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  else
    box.setStandardButtons(QMessageBox::Ok);
  if (request.timeout_ms > 0) QTimer::singleShot(request.timeout_ms, &box, &QMessageBox::accept);
  const int result = box.exec();
  return result == QMessageBox::Cancel ? app::MessageReply::Cancel : app::MessageReply::Ok;
}

app::MessageReply QtDesktop::message_box(const app::MessageBoxRequest& request) {
  if (QThread::currentThread() == qApp->thread()) return show_box(request);
  app::MessageReply reply = app::MessageReply::Ok;
  QMetaObject::invokeMethod(
      this, [&] { reply = show_box(request); }, Qt::BlockingQueuedConnection);
  return reply;
}

void QtDesktop::open_with_default_handler(const std::string& address) {
  const QString target = to_qt(address);
  QMetaObject::invokeMethod(
      this, [target] { QDesktopServices::openUrl(QUrl::fromUserInput(target)); },
      Qt::QueuedConnection);
}

void QtDesktop::post(std::function<void()> task, int delay_ms) {
  QMetaObject::invokeMethod(
      this, [this, task = std::move(task), delay_ms] { QTimer::singleShot(delay_ms, this, task); },
      Qt::QueuedConnection);
}

bool QtDesktop::close_window() {
  if (!owner_) return false;
  // On the window's thread, as the user's close arrives there.
  QMetaObject::invokeMethod(owner_, [owner = owner_] { owner->close(); }, Qt::QueuedConnection);
  return true;
}

}  // namespace qz::ui
