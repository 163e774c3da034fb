#include "ui/cli/cli.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "app/application.h"
#include "app/controls.h"
#include "app/browser_part.h"
#include "app/job_board.h"
#include "platform/fs.h"
#include "platform/interrupt.h"
#include "platform/paths.h"
#include "ui/cli/rooms_command.h"
#include "ui/headless/headless_desktop.h"

namespace qz::ui {
namespace {

using namespace std::chrono_literals;

constexpr const char* kUsage =
    "用法：\n"
    "  qiongzhi record <直播间分享链接> [--dir 目录] [--headless] [--timeout 秒]\n"
    "      打开直播间，等到直播真实地址出现，录制到 zhibo_n.mp4；Ctrl+C 停止并保存。\n"
    "  qiongzhi replay <回放网址> [--dir 目录] [--headless] [--timeout 秒]\n"
    "      打开回放网址，等到回放真实地址出现，下载到 huifang_n.mp4。\n"
    "  qiongzhi download <地址> [--dir 目录]\n"
    "      直接下载一个 http(s)/rtmp(s) 地址（如 .m3u8 回放）到 huifang_n.mp4。\n"
    "  qiongzhi rooms list | add <分享链接>... | remove <序号或链接> | on <序号或链接> | off <序号或链接>\n"
    "      查看或修改自动录制的直播间列表（data/rooms.ini）。\n"
    "  qiongzhi --help\n"
    "退出码：0 完成，2 参数错误，3 目录不可写，4 找不到浏览器，5 等待地址超时，6 下载工具失败或缺失。\n"
    "不带参数运行时打开窗口。\n";

struct Options {
  std::string command, link, dir;
  bool headless = false;
  int timeout_s = 90;
};

void say(std::FILE* to, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), to);
  std::fflush(to);
}

bool looks_like_url(const std::string& s) {
  for (const char* scheme : {"http://", "https://", "rtmp://", "rtmps://"})
    if (s.rfind(scheme, 0) == 0 && s.size() > std::string(scheme).size()) return true;
  return false;
}

std::optional<Options> parse(const std::vector<std::string>& args, std::string& error) {
  Options o;
  if (args.empty()) {
    error = "缺少命令。";
    return std::nullopt;
  }
  o.command = args[0];
  if (o.command != "record" && o.command != "replay" && o.command != "download") {
    error = "未知命令：" + o.command;
    return std::nullopt;
  }
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--headless") {
      o.headless = true;
    } else if ((a == "--dir" || a == "--timeout") && i + 1 < args.size()) {
      if (a == "--dir") {
        o.dir = args[++i];
      } else {
        try {
          o.timeout_s = std::stoi(args[++i]);
        } catch (...) {
          o.timeout_s = 0;
        }
        if (o.timeout_s <= 0) {
          error = "--timeout 需要一个正整数（秒）。";
          return std::nullopt;
        }
      }
    } else if (a.rfind("--", 0) == 0) {
      error = "未知选项或缺少参数：" + a;
      return std::nullopt;
    } else if (o.link.empty()) {
      o.link = a;
    } else {
      error = "多余的参数：" + a;
      return std::nullopt;
    }
  }
  if (o.link.empty()) {
    error = "缺少链接。";
    return std::nullopt;
  }
  if (!looks_like_url(o.link)) {
    error = "不是有效的链接（需要 http:// 或 https:// 开头）：" + o.link;
    return std::nullopt;
  }
  return o;
}

// True when a file can be created in `folder` (made first when missing).
bool folder_writable(const std::string& folder) {
  if (!platform::make_directories(folder)) return false;
  const std::string probe = platform::join_path(folder, ".qiongzhi-write-test");
  const bool ok = platform::write_file(probe, "x");
  platform::remove_file(probe);
  return ok;
}

// Prints the lines of the recording jobs on the board as they are said: the lines the display
// box shows. A progress line (one the box replaces rather than adds to) is rewritten in place on
// one terminal line, so a long replay does not scroll thousands of them past. The wait for an
// address prints nothing here: the command line says how it ended itself.
class BoardPrinter {
 public:
  explicit BoardPrinter(app::JobBoard& board) : board_(board) {}

  // The board's observer: called one change at a time.
  void changed(const app::JobChange& change) {
    const auto job = board_.job(change.id);
    if (!job || !printed(job->kind)) return;
    if (change.what == app::JobChange::What::Added) {
      if (job->kind == app::JobKind::ToolDownload) return;
      app::JobId none = 0;
      recording_.compare_exchange_strong(none, change.id);
      return;
    }
    if (change.what == app::JobChange::What::Line) {
      say(stdout, (open_ ? "\n" : "") + change.text + "\n");
      open_ = false;
    } else if (change.what == app::JobChange::What::Progress) {
      const std::string text = one_line(change.text);
      const std::size_t width = columns(text);
      say(stdout, "\r" + text + std::string(open_ && width_ > width ? width_ - width : 0, ' '));
      width_ = width;
      open_ = true;
    }
  }
  // The first recording job put on the board; 0 before one.
  app::JobId recording() const { return recording_.load(); }

 private:
  // The recording jobs, and the tools' download that a first start on Windows waits for.
  static bool printed(app::JobKind kind) {
    return kind == app::JobKind::LiveRecording || kind == app::JobKind::ReplayDownload ||
           kind == app::JobKind::ToolDownload;
  }
  // A progress text of several lines (the tools' download) stands on one terminal line.
  static std::string one_line(const std::string& text) {
    std::string out;
    for (const char c : text) {
      if (c == '\r') continue;
      if (c == '\n') {
        if (!out.empty() && out.back() != ' ') out += "  ";
        continue;
      }
      out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
  }

  // Terminal columns of UTF-8 text: the Chinese characters of the line take two.
  static std::size_t columns(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text) n += c < 0x80 ? 1 : ((c & 0xC0) == 0xC0 ? 2 : 0);
    return n;
  }

  app::JobBoard& board_;
  std::atomic<app::JobId> recording_{0};
  bool open_ = false;      // a progress line stands on the terminal's last line, not ended
  std::size_t width_ = 0;  // its columns
};

// The exit code of a recording job that has ended: done when it kept a file that plays and ended
// the way a finished job does (its tool's work done, the user's stop, a live stream that stayed
// away): the jobs say "任务完成" exactly then.
int exit_code_of(const app::Job& job) {
  const bool finished = job.ending == app::JobEnding::Done || job.ending == app::JobEnding::Stopped ||
                        job.ending == app::JobEnding::GaveUp;
  return finished && !job.parts.empty() ? kCliDone : kCliToolFailed;
}

class CliRun {
 public:
  CliRun(const Options& o, const Installer& install) : options_(o) {
    desktop_.set_box_printer([](const app::MessageBoxRequest& box) {
      say(stderr, "【" + box.caption + "】" + box.text + "\n");
    });
    // The options are configuration the subsystems read as they are made.
    if (options_.headless) app_.context().config.browser_headless = true;
    install(app_);
  }

  int run() {
    if (!app_.start()) return kCliToolFailed;
    desktop_.run_on_ui([&] { app_.window_created(); });
    // The saved settings come in on a thread of their own: the boxes are set after them, so an
    // old address or folder never overwrites the one given here.
    app_.wait_for_saved_settings(10s);
    if (!options_.dir.empty()) {
      // A console user means a relative --dir from where they stand, not from the program's
      // folder (the rule for the window's box).
      const std::string given = platform::absolute_path(options_.dir);
      if (given.empty()) {
        say(stderr, "下载目录无法写入：" + options_.dir + "\n");
        return finish(kCliFolder);
      }
      window_.set_text(app::kDownloadFolderBox, given);
    }
    const std::string folder = window_.text(app::kDownloadFolderBox);
    if (!folder_writable(folder)) {
      say(stderr, "下载目录无法写入：" + folder + "\n");
      return finish(kCliFolder);
    }
    if (options_.command == "download") {
      window_.set_text(app::kReplayAddressBox, options_.link);
      return record(app::kReplayButton);
    }
    const bool live = options_.command == "record";
    const char* box = live ? app::kLiveAddressBox : app::kReplayAddressBox;
    window_.set_text(box, "");  // an address saved by an earlier run must not count
    // The wait for the address is a job of its own: a browser that fails ends it.
    const app::JobId wait = board().add(app::JobKind::CaptureWait, options_.link);
    board().set_state(wait, app::JobState::Running);
    // A dashboard link is opened like a room: its page's requests lead to the replay address.
    say(stdout, std::string(live ? "打开直播间：" : "打开回放网址：") + options_.link + "\n");
    if (live) {
      window_.set_text(app::kShareLinkBox, options_.link);
      desktop_.run_on_ui([&] { window_.click(app::kOpenLiveRoomButton); });
    } else {
      // The replay pages are desktop pages, as the window's replay list opens them.
      if (auto* browser = dynamic_cast<app::BrowserPart*>(app_.subsystem("capture")))
        desktop_.run_on_ui([&] { browser->open_replay_page(options_.link); });
    }
    if (ending_of(wait) == app::JobEnding::BrowserMissing) return browser_failed(wait);
    say(stdout, "等待真实地址（最多 " + std::to_string(options_.timeout_s) + " 秒）……\n");
    const bool got = wait_or_interrupt([&] { return !window_.text(box).empty() || ending_of(wait) != app::JobEnding::None; },
                                       std::chrono::seconds(options_.timeout_s));
    if (ending_of(wait) != app::JobEnding::None) return browser_failed(wait);
    if (!got) {
      if (platform::interrupt_count() > 0) {
        board().end(wait, app::JobEnding::Stopped);
        return finish(kCliNoAddress);
      }
      const std::string missed = std::string("在 ") + std::to_string(options_.timeout_s) + " 秒内没有得到" +
                                 (live ? "直播" : "回放") + "真实地址。请确认链接正确、直播正在进行。";
      board().show_line(wait, missed);
      board().end(wait, app::JobEnding::NoAddress);
      say(stderr, missed + "\n");
      return finish(kCliNoAddress);
    }
    board().end(wait, app::JobEnding::Done);
    say(stdout, std::string(live ? "直播" : "回放") + "真实地址：" + window_.text(box) + "\n");
    return record(live ? app::kLiveButton : app::kReplayButton);
  }

 private:
  app::JobBoard& board() { return app_.context().jobs; }

  app::JobEnding ending_of(app::JobId id) {
    const auto job = board().job(id);
    return job ? job->ending : app::JobEnding::None;
  }

  // The wait for an address ended because the browser is missing or failed: says why.
  int browser_failed(app::JobId wait) {
    const auto job = board().job(wait);
    if (job && job->ending == app::JobEnding::BrowserFailed)
      say(stderr, job->line + "\n");
    else
      say(stderr, "找不到可用的浏览器（Chrome、Edge 或 Chromium）。请安装后再试，或在 data/config.ini 中设置 browser_path。\n");
    return finish(kCliNoBrowser);
  }

  // Waits for `done`; an interrupt or the time limit ends the wait early (false).
  bool wait_or_interrupt(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (platform::interrupt_count() > 0 || std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(100ms);
    }
    return true;
  }

  int record(const char* button) {
    const int interrupts_before = platform::interrupt_count();
    // The click puts the job on the board (a live start then waits a second before its tool runs).
    desktop_.run_on_ui([&] { window_.click(button); });
    wait_or_interrupt([&] { return printer_.recording() != 0; }, 5s);
    const app::JobId id = printer_.recording();
    if (id == 0) return finish(kCliToolFailed);
    const auto ended = [&] { return ending_of(id) != app::JobEnding::None; };
    for (auto seen = board().changes(); !ended() && platform::interrupt_count() == interrupts_before;)
      seen = board().wait_for_change(seen, 100ms);
    if (!ended()) {
      // The click says "正在停止并保存文件……", and the job's ending follows.
      desktop_.run_on_ui([&] { window_.click(button); });
      HeadlessDesktop::wait_until(ended, 20s);
    }
    const auto job = board().job(id);
    return finish(job && job->ending != app::JobEnding::None ? exit_code_of(*job) : kCliToolFailed);
  }

  int finish(int code) {
    app_.stop_subsystems();  // the user's saved settings stay as the window left them
    say(stdout, "\n");
    return code;
  }

  Options options_;
  app::WindowModel window_;
  HeadlessDesktop desktop_;
  app::Application app_{window_, desktop_, platform::program_folder()};
  BoardPrinter printer_{app_.context().jobs};
  // Ends before the application, whose threads may still report to the board while it goes.
  app::JobSubscription printing_ =
      app_.context().jobs.subscribe([this](const app::JobChange& change) { printer_.changed(change); });
};

}  // namespace

bool is_cli_invocation(const std::vector<std::string>& args) {
  // The window takes no arguments: anything given is for the command line, which explains
  // itself when it does not understand.
  return !args.empty();
}

int run_cli(const std::vector<std::string>& args, const Installer& install) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    say(stdout, kUsage);
    return kCliDone;
  }
  if (!args.empty() && args[0] == "rooms") return run_rooms_command({args.begin() + 1, args.end()}, platform::program_folder());
  std::string error;
  const auto options = parse(args, error);
  if (!options) {
    say(stderr, error + "\n\n" + kUsage);
    return kCliUsage;
  }
  platform::catch_interrupts();
  CliRun run(*options, install);
  return run.run();
}

}  // namespace qz::ui
