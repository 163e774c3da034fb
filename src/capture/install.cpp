#include "capture/install.h"

#include <memory>

#include "app/browser_part.h"
#include "capture/browser_control.h"
#include "capture/loader.h"
#include "capture/request_rules.h"
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
  options.body_markers = {"liveplay", dashboard_marker(config.live_host)};
  return options;
}

// Everything of the capture subsystem. Shared with the click handlers, which hold it weakly.
struct Parts {
  explicit Parts(app::Context& ctx)
      : automation(options_from(ctx.config)),
        capture(ctx, automation, state),
        control(ctx, automation, state, capture) {}

  Automation automation;
  CaptureState state;
  StreamCapture capture;
  BrowserControl control;
};

class CaptureSubsystem final : public app::Subsystem, public app::BrowserPart {
 public:
  explicit CaptureSubsystem(app::Context& ctx) : ctx_(ctx), parts_(std::make_shared<Parts>(ctx)) {}
  ~CaptureSubsystem() override {
    request_stop();
    join();
  }

  std::string_view name() const override { return "capture"; }
  bool start() override {
    return load_automation(ctx_, parts_->automation, platform::running_as_admin());
  }
  void window_created() override { parts_->control.browser_initialisation(); }

  // Event delivery stops first, so no handler runs once the workers and the lock go away; the
  // browser work under way gives up when the component shuts down, so closing waits a few
  // seconds at most.
  void request_stop() override {
    parts_->automation.stop_events();
    parts_->control.request_stop();
    parts_->capture.request_stop();
  }
  void join() override {
    parts_->automation.shutdown();
    parts_->control.join();
    parts_->capture.join();
  }

  void open_replay_page(const std::string& address) override { parts_->control.open_replay_page(address); }

  void register_clicks() {
    std::weak_ptr<Parts> weak = parts_;
    auto on = [this, weak](const char* button, void (BrowserControl::*action)()) {
      ctx_.window.on_click(button, [weak, action] {
        if (auto p = weak.lock()) (p->control.*action)();
      });
    };
    on(app::kOpenLiveRoomButton, &BrowserControl::open_live_room);
    on(app::kOpenReplayButton, &BrowserControl::open_replay_list);
    on(app::kConnectBrowserButton, &BrowserControl::connect_running_browser);
    on(app::kManualInitButton, &BrowserControl::manual_initialisation);
  }

 private:
  app::Context& ctx_;
  std::shared_ptr<Parts> parts_;
};

}  // namespace

void install(app::Application& app) {
  auto part = std::make_unique<CaptureSubsystem>(app.context());
  CaptureSubsystem& added = *part;
  if (app.add(std::move(part))) added.register_clicks();
}

}  // namespace qz::capture
