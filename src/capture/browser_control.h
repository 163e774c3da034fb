#pragma once
// Brings up the browser for a live room or the replay list and subscribes every new page to the
// capture handler: the initialisation at window creation, the buttons "打开直播间" (按钮3),
// "打开回放网址" (按钮6), "连接已打开浏览器" (按钮5), "手动初始化" (按钮4), and the page callback.
//
// The buttons return at once: what waits on the browser runs on one worker, in click order, and
// reports through the window model. A browser that cannot start, or goes away, says so in the
// display box.
#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "app/browser_part.h"
#include "app/context.h"
#include "capture/automation.h"
#include "capture/browser_worker.h"
#include "capture/capture_state.h"
#include "capture/stream_capture.h"

namespace qz::capture {

inline constexpr const char* kLiveRoomAgent =
    "Mozilla/5.0 (Linux; U; Android 11; zh-cn; MI CC9 Pro Premium Edition Build/RKQ1.200826.002) "
    "AppleWebKit/537.36 (KHTML, like Gecko) Version/4.0 Chrome/79.0.3945.147 Mobile Safari/537.36 "
    "XiaoMi/MiuiBrowser/14.1.18";
inline constexpr const char* kLiveRoomWindow = "600,760";
inline constexpr const char* kReplayListAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/89.0.4389.90 Safari/537.36";
inline constexpr const char* kReplayListWindow = "1000,760";

using app::kAttachFailed;
using app::kBrowserGone;
using app::kBrowserStartFailed;

// The display line for a failed start or attach.
std::string browser_failure_text(const BrowserFailure& failure);

class BrowserControl {
 public:
  BrowserControl(app::Context& ctx, Automation& component, CaptureState& state, StreamCapture& capture);
  ~BrowserControl();  // request_stop() and join()

  void browser_initialisation();  // the created handler
  void open_live_room();
  void open_replay_list();
  // The command line's replay link: a new window with the replay list's desktop profile.
  void open_replay_page(const std::string& address);
  void connect_running_browser();
  void manual_initialisation();
  // The component's page callback.
  void on_page(PageHandle page);

  // Closing: browser work not started yet is dropped.
  void request_stop();
  // Waits at most `limit` for the browser work under way (the component's shutdown makes it give
  // up); past it the work is cancelled and waited for. True when it ended in time.
  bool join(std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Browser work runs or waits.
  bool busy() const { return worker_.busy(); }

 private:
  void initialise(const std::string& browser);
  void browser_missing();
  bool browser_ready_or_say_so();
  void start_window(const std::string& address, const StartRecord& record);
  void on_browser_gone();
  void post(std::function<void()> work);  // on the worker, in click order

  app::Context& ctx_;
  Automation& component_;
  CaptureState& state_;
  StreamCapture& capture_;
  std::atomic<bool> trimmer_started_{false};
  BrowserWorker worker_;          // last: it goes first, before what its work uses
};

}  // namespace qz::capture
