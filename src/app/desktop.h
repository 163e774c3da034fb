#pragma once
// What the program needs from the front end besides the window's texts: message boxes, opening an
// address with the desktop's default handler, running work on the UI thread, and closing the
// window as the user would when the program closes itself. Each back end
// (Qt, Win32, headless) implements it.
#include <functional>
#include <string>

namespace qz::app {

enum class MessageButtons { Ok, OkCancel };
enum class MessageIcon { None, Information, Warning, Stop };
enum class MessageReply { Ok, Cancel };

struct MessageBoxRequest {
  std::string text;
  std::string caption = "信息：";
  MessageButtons buttons = MessageButtons::Ok;
  MessageIcon icon = MessageIcon::None;
  int timeout_ms = 0;          // > 0: the box closes by itself after that time (reply Ok)
  bool owned_by_window = true;  // false: no owner (before the window exists)
};

class Desktop {
 public:
  virtual ~Desktop() = default;
  // Any thread; blocks the caller until the box is answered.
  virtual MessageReply message_box(const MessageBoxRequest& request) = 0;
  // Opens an address or a file with the desktop's default handler.
  virtual void open_with_default_handler(const std::string& address) = 0;
  // Runs `task` on the UI thread, now or after `delay_ms`.
  virtual void post(std::function<void()> task, int delay_ms = 0) = 0;
  // Any thread; closes the main window the way the user's close does: it leaves the screen at
  // once and closing goes on in the background. False when there is no window to close.
  virtual bool close_window() = 0;
};

}  // namespace qz::app
