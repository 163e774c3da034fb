#pragma once
// A front end without a screen, for tests and the command line: a UI thread that runs posted
// tasks in order, message boxes answered by scripted replies, opened addresses recorded.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "app/desktop.h"

namespace qz::ui {

class HeadlessDesktop final : public app::Desktop {
 public:
  HeadlessDesktop();
  ~HeadlessDesktop() override;  // runs the tasks already due, then stops the UI thread

  app::MessageReply message_box(const app::MessageBoxRequest& request) override;
  void open_with_default_handler(const std::string& address) override;
  void post(std::function<void()> task, int delay_ms = 0) override;
  bool close_window() override { return false; }  // there is no window

  // Replies given to the next boxes, in order; when none is left a box is answered Ok.
  void script_replies(std::vector<app::MessageReply> replies);
  std::vector<app::MessageBoxRequest> shown_boxes() const;
  std::vector<std::string> opened_addresses() const;
  // Message boxes to be printed to this callback as they are shown (the command line's way).
  void set_box_printer(std::function<void(const app::MessageBoxRequest&)> printer);

  // Runs `task` on the UI thread and returns when it has run.
  void run_on_ui(const std::function<void()>& task);
  // The open sequence a window back end performs: created handler now, start-up step after 1 s.
  void open_window(app::Application& app);
  // Waits until `done` holds (checked every 20 ms) or the time is up; true when it held.
  static bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

 private:
  void loop();

  using Clock = std::chrono::steady_clock;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<Clock::time_point, std::function<void()>> tasks_;
  bool stopping_ = false;
  std::deque<app::MessageReply> replies_;
  std::vector<app::MessageBoxRequest> boxes_;
  std::vector<std::string> opened_;
  std::function<void(const app::MessageBoxRequest&)> printer_;
  std::thread thread_;
};

}  // namespace qz::ui
