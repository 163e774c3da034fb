#include "capture/browser_control.h"

#include "capture/request_rules.h"
#include "platform/browser.h"

namespace qz::capture {

BrowserControl::BrowserControl(app::Context& ctx, Automation& component, CaptureState& state,
                               StreamCapture& capture)
    : ctx_(ctx), component_(component), state_(state), capture_(capture) {}

void BrowserControl::initialise(const std::string& browser) {
  if (!trimmer_started_) {
    trimmer_started_ = true;
    platform::start_working_set_trimmer();
  }
  state_.browser_ready = component_.form_global_init(browser, [this](PageHandle page) { on_page(page); });
}

void BrowserControl::browser_missing() {
  const std::string download = "https://" + ctx_.config.browser_download_host + "/chrome/";
  app::MessageBoxRequest box;
  box.text = "请下载谷歌浏览器后再使用本软件。官网地址：" + download + "\r\n稍后会自动打开网址，请手动安装";
  ctx_.desktop.message_box(box);
  ctx_.desktop.open_with_default_handler(download);
}

void BrowserControl::browser_initialisation() {
  initialise("");
  if (state_.browser_ready == 0) browser_missing();
}

void BrowserControl::open_live_room() {
  if (state_.browser_ready == 0) initialise("");
  if (state_.browser_ready == 0) {
    browser_missing();
    return;
  }
  component_.form_browser_start(ctx_.window.text(app::kShareLinkBox), {kLiveRoomAgent, kLiveRoomWindow});
}

void BrowserControl::open_replay_list() {
  const std::string list = list_page_address(ctx_.config.live_host);
  const PageHandle page = state_.current_page;
  if (component_.form_page_isactive(page) == 1) {
    component_.form_custom_useragent(page, kReplayListAgent);
    component_.form_forward_url(page, list);
  } else {
    component_.form_browser_start(list, {kReplayListAgent, kReplayListWindow});
  }
}

void BrowserControl::connect_running_browser() { component_.form_connect_started(); }

void BrowserControl::manual_initialisation() {
  initialise(ctx_.window.text(app::kBrowserPathBox));
  ctx_.window.set_status_part(1, state_.browser_ready != 0 ? "真" : "假");
}

void BrowserControl::on_page(PageHandle page) {
  state_.current_page = page;
  ctx_.window.set_status_part(0, std::to_string(page));
  component_.regevent_request_willbe_sent(
      page, [this](PageHandle from, std::string event_text) { capture_.handle_request(from, event_text); });
}

}  // namespace qz::capture
