#pragma once
#include <QObject>
#include <QWidget>

#include "app/desktop.h"

namespace qz::ui {

class QtDesktop final : public QObject, public app::Desktop {
  Q_OBJECT
 public:
  QtDesktop();
  void set_owner(QWidget* owner) { owner_ = owner; }

  app::MessageReply message_box(const app::MessageBoxRequest& request) override;
  void open_with_default_handler(const std::string& address) override;
  void post(std::function<void()> task, int delay_ms = 0) override;
  bool close_window() override;

 private:
  app::MessageReply show_box(const app::MessageBoxRequest& request);
  QWidget* owner_ = nullptr;
};

}  // namespace qz::ui
