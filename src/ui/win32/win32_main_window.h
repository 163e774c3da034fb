#pragma once
// Draws the window model with plain Win32 controls: the control table at its positions, texts
// carried over from the model on the window's thread (PostMessage), clicks and typing carried back.
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/controls.h"
#include "app/window_model.h"
#include "ui/win32/win32_desktop.h"

namespace qz::ui {

class Win32MainWindow final : public app::WindowObserver {
 public:
  static constexpr UINT kControlChangedMessage = WM_APP + 2;
  static constexpr int kFirstControlId = 1000;

  Win32MainWindow(app::WindowModel& model, Win32Desktop& desktop);
  ~Win32MainWindow() override;

  // Creates the window and its controls (not yet shown); false when Windows refuses.
  bool create(HINSTANCE instance);
  HWND handle() const { return window_; }
  HWND control(std::string_view name) const;

  // Runs when the user closes the window, after it has left the screen; without it the window
  // is destroyed.
  std::function<void()> on_close;
  // Closing as the program does it: the window leaves the screen at once, `app` closes in the
  // background, and `end_process` ends the program when that is done or its deadline comes.
  void close_application_with(app::Application& app, std::function<void()> end_process);

  void control_changed(const app::ControlChange& change) override;

 private:
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam);
  void create_controls();
  HWND create_control(const app::ControlSpec& spec, int id);
  void apply(const app::ControlChange& change);
  void apply_text(const std::string& name);
  void on_command(int id, int code);
  LRESULT on_colour(HDC dc, HWND control);
  void draw_picture(const DRAWITEMSTRUCT& item);

  app::WindowModel& model_;
  Win32Desktop& desktop_;
  HWND window_ = nullptr;
  HWND status_bar_ = nullptr;
  HFONT font_ = nullptr;
  HBRUSH black_brush_ = nullptr;
  std::map<std::string, HWND, std::less<>> controls_;
  std::vector<std::string> names_by_id_;
  // The control whose text the window is setting itself: its EN_CHANGE is no typing, and
  // reporting the text back could overwrite a newer one a worker wrote in the same instant.
  HWND applying_ = nullptr;
};

}  // namespace qz::ui
