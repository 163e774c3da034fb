#pragma once
// The frame of the process: start, the main window's created handler, the start-up step one
// second after the window opened, and the closing handler. Other subsystems plug into the
// hooks at the places where their work belongs in that order (install_subsystems, wiring.cpp).
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/context.h"

namespace qz::app {

struct ShellHooks {
  // Start, before the identity is set; false ends the program before any window exists.
  std::function<bool()> load_automation;
  // Created handler, first: bring up the browser (and what request capture needs).
  std::function<void()> initialise_browser;
  // On the provisioning thread, after the saved settings have been loaded.
  std::function<void()> provision_tools;
  // Start-up step, between its two run-log entries.
  std::function<void()> show_disclaimer;
  // Start-up step, last; returns at once.
  std::function<void()> start_service_notices;
  // Closing handler, first: no request event may be handled after this returns.
  std::function<void()> stop_capture;
  // Closing handler, second: end the recording tools (jobs finish their files first).
  std::function<void()> stop_recording_tools;
  // Closing handler, with the others: stop the file downloads (tools, update), so the threads
  // that wait for them end promptly and are joined before the window model goes.
  std::function<void()> stop_downloads;
  // True while a job's recording tool still runs (the command line waits on it).
  std::function<bool()> recording_busy;
};

class Application {
 public:
  Application(WindowModel& window, Desktop& desktop, std::string program_folder);
  ~Application();  // joins the threads it started (tests end the program this way)

  Context& context() { return ctx_; }
  ShellHooks& hooks() { return hooks_; }

  // Start: false means the window must not open.
  bool start();
  // UI thread, in this order over a run.
  void window_created();
  void startup_step();
  // The caller ends the process after this returns.
  void window_closing();

  // Starts a thread the application owns; it is joined when the application is destroyed.
  void start_thread(std::function<void()> body);

  std::string caption() const;

 private:
  void register_click_handlers();

  Context ctx_;
  ShellHooks hooks_;
  std::mutex threads_mutex_;
  std::vector<std::thread> threads_;
};

// Fills the hooks and click handlers of every subsystem; the programs call it right after
// constructing the application. Defined in wiring.cpp (library qz_core).
void install_subsystems(Application& app);

}  // namespace qz::app
