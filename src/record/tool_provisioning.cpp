#include "record/tool_provisioning.h"

#include <cstdio>
#include <memory>

#include "app/controls.h"
#include "platform/fs.h"
#include "platform/os_info.h"
#include "net/file_downloader.h"
#include "record/media_tools.h"

namespace qz::record {
namespace {

constexpr const char* kDownloadFolderBox = app::kDownloadFolderBox;

}  // namespace

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
  std::vector<int> tasks;
  net::FileDownloader downloader;
  app::WindowModel& window = ctx.window;
  for (const ToolDownload& d : downloads) {
    window.set_text(app::kDisplayBox, kToolsDownloadingText);
    // The downloader writes under a temporary name and renames when the file is whole, so the
    // presence test of the next start never takes a broken tool for a good one.
    tasks.push_back(downloader.Download(
        "http://" + ctx.config.tool_host + d.source_path, d.target, 3,
        [&window](int task, int, std::int64_t total, std::int64_t downloaded) {
          window.set_text(app::kDisplayBox, tool_progress_text(task, total, downloaded));
        },
        user));
  }
  return tasks;
}

std::string missing_tools_text(const app::Context& ctx) {
  std::string missing;
  if (!platform::file_exists(ffmpeg_program(ctx))) missing = "ffmpeg";
  if (ffplay_program(ctx).empty()) missing += missing.empty() ? "ffplay" : "、ffplay";
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

}  // namespace qz::record
