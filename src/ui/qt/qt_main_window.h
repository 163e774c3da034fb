#pragma once
// Draws the window model with Qt Widgets: the control table at its positions, texts carried over
// from the model on the UI thread, clicks and typing carried back.
#include <QMainWindow>
#include <QLabel>
#include <QStatusBar>
#include <functional>
#include <map>
#include <string>

#include "app/application.h"
#include "app/controls.h"
#include "app/window_model.h"

namespace qz::ui {

class QtMainWindow final : public QMainWindow, public app::WindowObserver {
  Q_OBJECT
 public:
  explicit QtMainWindow(app::WindowModel& model);
  ~QtMainWindow() override;

  // Runs when the user closes the window, after it has left the screen.
  std::function<void()> on_close;
  // Closing as the program does it: the window leaves the screen at once, `app` closes in the
  // background, and `end_process` ends the program when that is done or its deadline comes.
  void close_application_with(app::Application& app, std::function<void()> end_process);

  // The program's picture, built into the program, so it shows from any working folder.
  static QIcon program_icon();

  QWidget* control(const std::string& name) const;
  QLabel* status_part(int part) const;

  void control_changed(const app::ControlChange& change) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void build();
  QWidget* make_control(const app::ControlSpec& spec, QWidget* parent);
  void apply(const app::ControlChange& change);
  void apply_text(const std::string& name);
  void apply_picture(const std::string& name);
  static void set_label_text(QLabel* label, const std::string& text);

  app::WindowModel& model_;
  std::map<std::string, QWidget*, std::less<>> controls_;
  std::vector<QLabel*> parts_;
  bool sized_ = false;
};

}  // namespace qz::ui
