#pragma once
// Brings up the browser for a live room or the replay list and subscribes every new page to the
// capture handler: the initialisation at window creation, the buttons "打开直播间" (按钮3),
// "打开回放网址" (按钮6), "连接已打开浏览器" (按钮5), "手动初始化" (按钮4), and the page callback.
#include <string>

#include "app/context.h"
#include "capture/automation.h"
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

class BrowserControl {
 public:
  BrowserControl(app::Context& ctx, Automation& component, CaptureState& state, StreamCapture& capture);

  void browser_initialisation();  // the created handler
  void open_live_room();
  void open_replay_list();
  void connect_running_browser();
  void manual_initialisation();
  // The component's page callback.
  void on_page(PageHandle page);

 private:
  void initialise(const std::string& browser);
  void browser_missing();

  app::Context& ctx_;
  Automation& component_;
  CaptureState& state_;
  StreamCapture& capture_;
  bool trimmer_started_ = false;  // window thread only
};

}  // namespace qz::capture
