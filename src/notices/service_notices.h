#pragma once
// The background services of the maker's servers: the version display, the version check with the
// server probe and the self-update, the drive-C advice, the quote of the day, and the announcement
// with its advertisement picture. None is needed for recording; each fails silently, leaving its
// output as it was, and nothing is tried again.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/context.h"
#include "net/file_downloader.h"

namespace qz::notices {

// The top-level text values of a JSON object; nothing when `body` is no JSON object. Values of
// other types are left out (they read as empty, as missing keys do).
std::optional<std::map<std::string, std::string>> read_text_values(std::string_view body);

// "已下载：<D/1024>kb/<T/1024>kb\r\n进度：<percent>%".
std::string update_progress_text(std::int64_t total, std::int64_t downloaded);

// The drive-C advice is due for a program folder on drive "C" (upper case, as the path is given).
bool wants_drive_c_advice(std::string_view program_folder);

// An advert link the shell may open: an http:// or https:// address with a host. Anything else
// (a path such as "http\\..\\x.exe", "file:", "javascript:") is never handed to the shell.
bool is_web_address(std::string_view link);

// Advert pictures are shown only when they are GIFs (by their signature) and not over this size.
inline constexpr std::size_t kMaxAdvertBytes = 2 * 1048576;
bool is_gif_picture(std::string_view bytes);

// Notices are short texts for one line of the window: longer ones are cut to this many characters,
// never inside a character.
inline constexpr std::size_t kMaxNoticeChars = 200;
std::string cut_notice_text(std::string_view utf8, std::size_t max_chars = kMaxNoticeChars);

// Documents of the maker's servers (probe, index, announcement) and the quote are small: a larger
// answer is refused, not read.
inline constexpr std::size_t kMaxNoticeBytes = 1048576;

// The server probe's choice.
struct ProbeResult {
  std::string base;     // the server to take the update from
  std::string message;  // status part 1
};

inline constexpr const char* kUpdateFailedText =
    "抱歉，自动更新失败，请到官网下载，下载后，把文件复制到当前目录";
inline constexpr const char* kDriveCAdvice = "建议不要把软件放在C盘或者桌面，可以避免80%的软件异常";
// The downloader's task list of the update.
inline constexpr const char* kUpdateUser = "update";

class ServiceNotices : public std::enable_shared_from_this<ServiceNotices> {
 public:
  using ThreadStarter = std::function<void(std::function<void()>)>;
  // `start_thread` runs a body on a thread of its own (the application's, so it can be joined);
  // the update downloads with `downloader`, which its owner stops and joins when closing (it
  // outlives the notice threads).
  ServiceNotices(app::Context& ctx, ThreadStarter start_thread, net::FileDownloader& downloader);

  // start_service_notices: starts the version thread and the announcement thread, returns at once.
  void start();
  void run_version_thread();
  void run_announcement_thread();

  ProbeResult probe_servers() const;
  // Probe, index, prompt and, on OK, the download; returns without waiting for the download.
  void run_update_flow();
  // The downloader's report on the update file.
  void on_update_progress(int task, int kind, std::int64_t total, std::int64_t downloaded);

  void on_open_new_version();
  void on_advert_clicked();

  // What closing the program means; the shell's closing handler and the end of the process unless
  // a test puts something else here. Set before start().
  std::function<void()> close_program;

  // The update's task in the downloader's "update" list, 0 before a download was started.
  int update_task() const;
  std::string update_target() const;
  std::string advert_link() const;

 private:
  std::string index_address(const std::string& base) const;
  void finish_update(std::int64_t total, std::int64_t downloaded);

  app::Context& ctx_;
  ThreadStarter start_thread_;
  mutable std::mutex mutex_;  // guards the fields below: threads and clicks meet here
  std::string base_;
  std::string target_path_;
  std::string advert_link_;
  int update_task_ = 0;
  net::FileDownloader& downloader_;
};

}  // namespace qz::notices
