#include "provisioning/tool_provisioning.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "app/controls.h"
#include "app/job_board.h"
#include "app/text_util.h"
#include "net/http_fetch.h"
#include "net/sha256.h"
#include "provisioning/verified_download.h"
#include "platform/fs.h"
#include "platform/os_info.h"
#include "net/file_downloader.h"
#include "platform/tls_trust.h"
#include "platform/verified_get.h"
#include "record/media_tools.h"

namespace qz::provisioning {
namespace {

constexpr const char* kDownloadFolderBox = app::kDownloadFolderBox;
constexpr std::size_t kMaxDigestBytes = 4096;

std::string file_name_of(const std::string& path) {
  const std::size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

// The display box while tools download: each report shows its progress, and the texts of tools
// that failed stay below it, so a failure is not overwritten by the other tool's progress. The
// same reports go to the job board, where the command line reads them.
class ToolDisplay {
 public:
  ToolDisplay(app::WindowModel& window, app::JobBoard& board, app::JobId job)
      : window_(window), board_(board), job_(job) {}
  void progress(const std::string& text) {
    std::lock_guard lock(mutex_);
    window_.set_text(app::kDisplayBox, failures_.empty() ? text : text + "\r\n\r\n" + failures_);
    board_.show_progress(job_, text);
  }
  void failed(const std::string& text) {
    std::lock_guard lock(mutex_);
    failures_ += (failures_.empty() ? "" : "\r\n") + text;
    window_.set_text(app::kDisplayBox, failures_);
    board_.show_line(job_, text);
  }
  // Every download has ended.
  void ended() {
    std::lock_guard lock(mutex_);
    board_.end(job_, failures_.empty() ? app::JobEnding::Done : app::JobEnding::Failed);
  }

 private:
  app::WindowModel& window_;
  app::JobBoard& board_;
  const app::JobId job_;
  std::mutex mutex_;  // reports of both tools' downloader threads meet here
  std::string failures_;
};

}  // namespace

std::string tool_address(const std::string& tool_host, const std::string& source_path) {
  std::string base = tool_host;
  if (!app::starts_with_ignoring_ascii_case(base, "http://") && !app::starts_with_ignoring_ascii_case(base, "https://"))
    base = "https://" + base;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base + source_path;
}

std::string tool_failed_text(const std::string& tool_file, bool digest_mismatch) {
  const std::string what = digest_mismatch
                               ? "组件 " + tool_file + " 与服务器给出的校验值不符，已删除，没有使用。"
                               : "组件 " + tool_file + " 下载失败。";
  return what + "请检查网络后重新打开软件，或者请把 ffm.exe 和 ffplay.exe 放到程序目录";
}

std::optional<std::string> fetch_tool_digest(const std::string& tool_url) {
  const std::string url = tool_url + ".sha256";
  int status = 0;
  std::string body;
  if (platform::is_https_address(url)) {
    platform::VerifiedGetResult got = platform::verified_get(url, kMaxDigestBytes);
    if (!got.ok) return std::nullopt;
    status = got.status;
    body = std::move(got.body);
  } else {
    // A plain server the user named: nothing to verify the channel with, the digest still
    // catches a file cut or mangled on the way.
    net::HttpFetchRequest request;
    request.url = url;
    request.max_body_bytes = kMaxDigestBytes;
    net::HttpFetchResponse response = net::HttpFetch(request);
    if (response.status.empty() || response.status[0] < '1' || response.status[0] > '5') return std::nullopt;
    status = std::atoi(response.status.c_str());
    body = std::move(response.body);
  }
  if (status == 404 || status == 410) return std::string();
  if (status < 200 || status > 299) return std::nullopt;
  std::string digest = net::parse_sha256_text(body);
  if (digest.empty()) return std::nullopt;
  return digest;
}

std::vector<ToolDownload> missing_tool_downloads(const app::Context& ctx, bool windows_64bit) {
  std::vector<ToolDownload> downloads;
  const std::string ffmpeg = ctx.ffmpeg_path.empty() ? ctx.path("ffm.exe") : ctx.ffmpeg_path;
  if (!platform::file_exists(ffmpeg))
    downloads.push_back({windows_64bit ? "/tool/ffmpeg.exe" : "/tool/ffmpeg32.exe", ffmpeg});
  const std::string ffplay = ctx.path("ffplay.exe");
  if (!platform::file_exists(ffplay))
    downloads.push_back({windows_64bit ? "/tool/ffplay.exe" : "/tool/ffplay32.exe", ffplay});
  return downloads;
}

std::string tool_progress_text(int task, std::int64_t total, std::int64_t downloaded) {
  const double percent =
      total != 0 ? static_cast<double>(downloaded) * 100 / static_cast<double>(total) : 0.0;
  char number[64];
  std::snprintf(number, sizeof number, "%.13g", percent);
  return std::to_string(task) + ":已完成" + std::to_string(downloaded) + "/" + std::to_string(total) +
         "\r\n进度：" + number + "%    \r\n\r\n组件缺失，请在下载完成组件后，再开始下载直播";
}

std::vector<int> start_tool_downloads(app::Context& ctx, const std::vector<ToolDownload>& downloads,
                                      const std::string& user) {
  platform::set_extra_ca_file(ctx.config.ca_file);
  std::vector<int> tasks;
  net::FileDownloader downloader;
  if (downloads.empty()) return tasks;
  std::string tools;
  for (const ToolDownload& d : downloads) tools += (tools.empty() ? "" : "、") + file_name_of(d.target);
  const app::JobId job = ctx.jobs.add(app::JobKind::ToolDownload, tools);
  ctx.jobs.set_state(job, app::JobState::Running);
  auto display = std::make_shared<ToolDisplay>(ctx.window, ctx.jobs, job);
  for (const ToolDownload& d : downloads) {
    ctx.window.set_text(app::kDisplayBox, kToolsDownloadingText);
    ctx.jobs.show_line(job, kToolsDownloadingText);
    const std::string url = tool_address(ctx.config.tool_host, d.source_path);
    const std::string tool = file_name_of(d.target);
    const std::optional<std::string> digest = fetch_tool_digest(url);
    if (!digest) {
      display->failed(tool_failed_text(tool, false));
      tasks.push_back(-1);
      continue;
    }
    // A tool lands only whole and, when its server gives a digest, only matching it: the presence
    // test of the next start never takes a broken tool for a good one, and a recording never runs
    // one.
    const int task = start_verified_download(
        downloader, {url, d.target, 3, *digest, user},
        [display, tool](int number, int kind, std::int64_t total, std::int64_t downloaded, bool mismatched) {
          if (kind == net::kDownloadFailed)
            display->failed(tool_failed_text(tool, mismatched));
          else
            display->progress(tool_progress_text(number, total, downloaded));
        });
    if (task < 0) display->failed(tool_failed_text(tool, false));
    tasks.push_back(task);
  }
  downloader.Join();
  display->ended();
  return tasks;
}

std::string missing_tools_text(const app::Context& ctx) {
  std::string missing;
  if (!platform::file_exists(record::ffmpeg_program(ctx))) missing = "ffmpeg";
  if (record::ffplay_program(ctx).empty()) missing += missing.empty() ? "ffplay" : "、ffplay";
  if (missing.empty()) return {};
  return "组件缺失：程序目录和 PATH 中都找不到 " + missing + "，请先安装（例如 ffmpeg 软件包）或放进程序目录，再开始下载直播";
}

bool path_has_blank(const std::string& program_folder) {
  return program_folder.find(' ') != std::string::npos;
}

void provision_tools(app::Context& ctx, const std::string& user) {
  if (path_has_blank(ctx.program_folder)) {
    app::MessageBoxRequest box;
    box.text = kBlankWarning;
    ctx.desktop.message_box(box);
  }
#ifdef _WIN32
  start_tool_downloads(ctx, missing_tool_downloads(ctx, platform::is_64bit_windows()), user);
#else
  (void)user;
  if (const std::string text = missing_tools_text(ctx); !text.empty())
    ctx.window.set_text(app::kDisplayBox, text);
#endif
  if (ctx.window.text(kDownloadFolderBox).empty()) {
    const std::string down = ctx.path("down");
    ctx.window.set_text(kDownloadFolderBox, down);
    platform::make_directories(down);
  }
}

namespace {

// Its work runs on the application's provisioning thread; the downloads it starts belong to the
// file downloader.
class ProvisioningSubsystem final : public app::Subsystem {
 public:
  explicit ProvisioningSubsystem(app::Context& ctx) : ctx_(ctx) {}
  std::string_view name() const override { return "provisioning"; }
  void settings_loaded() override { provision_tools(ctx_); }
  // The file downloads (tools, update) stop, so whatever waits for them ends promptly.
  void request_stop() override { net::FileDownloader::StopEveryTask(); }

 private:
  app::Context& ctx_;
};

}  // namespace

void install_tool_provisioning(app::Application& app) {
  app.add(std::make_unique<ProvisioningSubsystem>(app.context()));
}

}  // namespace qz::provisioning
