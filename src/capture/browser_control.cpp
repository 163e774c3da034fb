#include "capture/browser_control.h"

#include "app/control_names.h"
#include "app/display_box.h"
#include "capture/request_rules.h"
#include "platform/browser.h"

namespace qz::capture {

std::string browser_failure_text(const BrowserFailure& failure) {
  const std::string start(kBrowserStartFailed);
  switch (failure.problem) {
    case BrowserProblem::none:
      return {};
    case BrowserProblem::no_browser:
      return start + "没有找到可用的浏览器（Chrome、Edge 或 Chromium）。";
    case BrowserProblem::cannot_start:
      return start + "无法运行浏览器：" + failure.detail;
    case BrowserProblem::no_display:
      return start + "没有可显示浏览器窗口的图形界面。请在命令行加 --headless，或在 data/config.ini 中设置 browser_headless=1。";
    case BrowserProblem::exited:
      return start + "浏览器刚启动就退出了（" + failure.detail + "）。可能已有同一配置的浏览器在运行，或浏览器无法在本机运行。";
    case BrowserProblem::no_port:
      return start + "浏览器没有打开调试端口（" + failure.detail + "）。";
    case BrowserProblem::no_connection:
      return start + "无法连接浏览器的调试端口：" + failure.detail;
    case BrowserProblem::not_found:
      return std::string(kAttachFailed) + "没有找到开启了远程调试的浏览器。已尝试：" + failure.detail;
  }
  return {};
}

BrowserControl::BrowserControl(app::Context& ctx, Automation& component, CaptureState& state,
                               StreamCapture& capture)
    : ctx_(ctx), component_(component), state_(state), capture_(capture) {
  component_.set_browser_gone([this] { on_browser_gone(); });
}

BrowserControl::~BrowserControl() {
  request_stop();
  join();
}

void BrowserControl::initialise(const std::string& browser) {
  if (!trimmer_started_.exchange(true)) platform::start_working_set_trimmer();
  state_.browser_ready = component_.form_global_init(browser, [this](PageHandle page) { on_page(page); });
}

void BrowserControl::browser_missing() {
  const std::string download = "https://" + ctx_.config.browser_download_host + "/chrome/";
  app::MessageBoxRequest box;
  box.text = "请下载谷歌浏览器后再使用本软件。官网地址：" + download + "\r\n稍后会自动打开网址，请手动安装";
  app::report_browser_missing(ctx_, box.text);
  ctx_.desktop.message_box(box);
  ctx_.desktop.open_with_default_handler(download);
}

void BrowserControl::browser_initialisation() {
  initialise("");
  if (state_.browser_ready == 0) browser_missing();
}

bool BrowserControl::browser_ready_or_say_so() {
  if (state_.browser_ready == 0) initialise("");
  if (state_.browser_ready != 0) return true;
  browser_missing();
  return false;
}

void BrowserControl::start_window(const std::string& address, const StartRecord& record) {
  if (component_.form_browser_start(address, record) != 0) return;
  const std::string text = browser_failure_text(component_.last_failure());
  if (!text.empty()) app::report_browser_failure(ctx_, text);
}

void BrowserControl::open_live_room() {
  if (!browser_ready_or_say_so()) return;
  const std::string address = ctx_.window.text(app::kShareLinkBox);
  post([this, address] { start_window(address, {kLiveRoomAgent, kLiveRoomWindow}); });
}

void BrowserControl::open_replay_page(const std::string& address) {
  if (!browser_ready_or_say_so()) return;
  post([this, address] { start_window(address, {kReplayListAgent, kReplayListWindow}); });
}

void BrowserControl::open_replay_list() {
  const std::string list = list_page_address(ctx_.config.live_host);
  post([this, list] {
    const PageHandle page = state_.current_page;
    if (component_.form_page_isactive(page) == 1) {
      component_.form_custom_useragent(page, kReplayListAgent);
      component_.form_forward_url(page, list);
    } else {
      start_window(list, {kReplayListAgent, kReplayListWindow});
    }
  });
}

void BrowserControl::connect_running_browser() {
  post([this] {
    if (component_.form_connect_started()) return;
    const std::string text = browser_failure_text(component_.last_failure());
    if (!text.empty()) app::write_display(ctx_.window, text);
  });
}

void BrowserControl::manual_initialisation() {
  const std::string browser = ctx_.window.text(app::kBrowserPathBox);
  post([this, browser] {
    initialise(browser);
    ctx_.window.set_status_part(1, state_.browser_ready != 0 ? "真" : "假");
  });
}

void BrowserControl::on_page(PageHandle page) {
  state_.current_page = page;
  ctx_.window.set_status_part(0, std::to_string(page));
  component_.regevent_request_willbe_sent(
      page, [this](PageHandle from, std::string event_text) { capture_.handle_request(from, event_text); });
}

void BrowserControl::on_browser_gone() {
  app::report_browser_failure(ctx_, std::string(kBrowserGone) +
                                         "，无法再获取直播或回放地址。请重新点击“打开直播间”或“打开回放网址”。");
}

void BrowserControl::post(std::function<void()> work) {
  worker_.post([this, work = std::move(work)](std::stop_token cancel) {
    // Past its time at closing the work is cancelled: the component lets go of its browsers, so
    // whatever the work waits for ends at once.
    std::stop_callback give_up(cancel, [this] { component_.cancel_browser_work(); });
    work();
  });
}

void BrowserControl::request_stop() { worker_.request_stop(); }

bool BrowserControl::join(std::chrono::milliseconds limit) { return worker_.join(limit); }

}  // namespace qz::capture
