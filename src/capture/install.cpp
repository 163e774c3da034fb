#include "capture/install.h"

#include <memory>

#include "capture/browser_control.h"
#include "capture/loader.h"
#include "capture/stream_capture.h"
#include "platform/system.h"

namespace qz::capture {

namespace {

AutomationOptions options_from(const app::Config& config) {
  AutomationOptions options;
  std::size_t start = 0;
  const std::string& flags = config.browser_flags;
  while (start < flags.size()) {
    std::size_t end = flags.find(' ', start);
    if (end == std::string::npos) end = flags.size();
    if (end > start) options.browser_flags.push_back(flags.substr(start, end - start));
    start = end + 1;
  }
  options.headless = config.browser_headless;
  options.fallback_port = config.browser_port;
  options.browser_path = config.browser_path;
  return options;
}

// Everything of the capture subsystem, alive as long as the shell's hooks hold it.
struct Subsystem {
  explicit Subsystem(app::Context& ctx)
      : automation(options_from(ctx.config)),
        capture(ctx, automation, state),
        control(ctx, automation, state, capture) {}
  ~Subsystem() { stop(); }

  // Event delivery stops first, so no handler runs once the workers and the lock go away.
  void stop() {
    automation.stop_events();
    capture.request_stop();
    automation.shutdown();
    capture.join();
  }

  Automation automation;
  CaptureState state;
  StreamCapture capture;
  BrowserControl control;
};

}  // namespace

void install(app::Application& app) {
  app::Context& ctx = app.context();
  auto subsystem = std::make_shared<Subsystem>(ctx);
  app::ShellHooks& hooks = app.hooks();
  hooks.load_automation = [subsystem, &ctx] {
    if (!load_automation(ctx, subsystem->automation, platform::running_as_admin()))
      platform::exit_process_now(0);
    return true;
  };
  hooks.initialise_browser = [subsystem] { subsystem->control.browser_initialisation(); };
  hooks.stop_capture = [subsystem] { subsystem->stop(); };

  // The window outlives the application in tests: its handlers must not keep the subsystem.
  std::weak_ptr<Subsystem> weak = subsystem;
  auto on = [&ctx, weak](const char* button, void (BrowserControl::*action)()) {
    ctx.window.on_click(button, [weak, action] {
      if (auto s = weak.lock()) (s->control.*action)();
    });
  };
  on("按钮3", &BrowserControl::open_live_room);
  on("按钮6", &BrowserControl::open_replay_list);
  on("按钮5", &BrowserControl::connect_running_browser);
  on("按钮4", &BrowserControl::manual_initialisation);
}

}  // namespace qz::capture
