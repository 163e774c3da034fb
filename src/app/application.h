#pragma once
// The frame of the process: start, the main window's created handler, the start-up step one
// second after the window opened, and closing. The program's parts (subsystems) are added in
// install order and called at the places where their work belongs in that frame.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "app/context.h"
#include "app/subsystem.h"
#include "app/thread_group.h"

namespace qz::app {

class Application {
 public:
  // How long closing lets the recordings finish their files before their tools are ended.
  static constexpr std::chrono::seconds kClosingGrace{10};
  // When a closing that has not finished ends the process anyway: the grace, then a moment for
  // the ended tools to go and the settings to be saved.
  static constexpr std::chrono::milliseconds kClosingDeadline = kClosingGrace + std::chrono::seconds(1);

  Application(WindowModel& window, Desktop& desktop, std::string program_folder);
  // Stops every part still running and joins every thread (tests end the program this way).
  ~Application();

  Context& context() { return ctx_; }

  // Adds a part after those already added. A second part of the same name is refused (false):
  // installing twice must never silently replace or double the first.
  bool add(std::unique_ptr<Subsystem> subsystem);
  // The part of that name, or null.
  Subsystem* subsystem(std::string_view name);

  // Start: false means the window must not open.
  bool start();
  // UI thread, in this order over a run.
  void window_created();
  void startup_step();
  // True while a part has work closing must wait for (a recording tool runs).
  bool busy();

  // Closing, waiting for it: every part is asked to stop at once, then joined in reverse order,
  // then the settings are saved. Runs once; a second caller waits for the first to finish.
  void window_closing();
  // Closing without waiting, for a front end that has already taken its window off the screen:
  // returns at once. `end_process` runs once, on a thread of the application's, when
  // window_closing has finished or when `deadline` is over, whichever comes first; at the
  // deadline the settings are saved first when closing has not got that far.
  void close_in_background(std::function<void()> end_process,
                           std::chrono::milliseconds deadline = kClosingDeadline);
  // The parts stopped and joined, settings left as they are (the command line's end). Once.
  void stop_subsystems();

  // Waits until the created handler's thread has loaded the saved settings into the boxes, so a
  // box set afterwards keeps its text; false when that took longer than `limit`.
  bool wait_for_saved_settings(std::chrono::milliseconds limit);

  // Starts a thread the application owns; it is joined when the application is destroyed.
  void start_thread(std::function<void()> body);

  std::string caption() const;

 private:
  void register_click_handlers();
  void save_settings_once();
  void end_process_once();

  Context ctx_;
  std::vector<std::unique_ptr<Subsystem>> subsystems_;  // install order
  std::once_flag stopped_;
  std::once_flag closed_;
  std::mutex settings_mutex_;
  bool settings_saved_ = false;

  // Background closing: the closer runs window_closing, the watchdog holds the deadline.
  std::mutex closing_mutex_;
  std::condition_variable closing_done_;
  bool closing_finished_ = false;
  bool process_ended_ = false;
  std::function<void()> end_process_;
  ThreadGroup closing_threads_;

  ThreadGroup threads_;

  std::mutex settings_loaded_mutex_;
  std::condition_variable settings_loaded_cv_;
  bool settings_loaded_ = false;
};

}  // namespace qz::app
