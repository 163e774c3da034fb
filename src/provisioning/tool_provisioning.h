#pragma once
// Tool provisioning: the program does not ship ffmpeg and ffplay. On Windows the first start
// without them fetches the build that fits the machine from the tool server into the program
// folder ("ffm.exe", "ffplay.exe"), showing progress in the display box. On Linux the tools come
// from the program folder or PATH, and the display box says which ones neither has. It also warns
// once per start about a blank in the program folder's path, which breaks ffmpeg's unquoted file
// argument, and defaults the download folder.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/application.h"

namespace qz::provisioning {

inline constexpr const char* kProvisioningUser = "provisioning";
inline constexpr const char* kBlankWarning = "为了软件运行的稳定，建议目录名字内，不要有空格。";
inline constexpr const char* kToolsDownloadingText = "组件缺失，正在下载，请耐心等待，下载完成后再使用。";

struct ToolDownload {
  std::string source_path;  // path on the tool server, e.g. "/tool/ffmpeg32.exe"
  std::string target;       // file in the program folder
};

// Where a tool comes from: "https://" + tool_host + path, or tool_host as given when it names its
// own scheme ("http://127.0.0.1:8080" for a local server the user chooses).
std::string tool_address(const std::string& tool_host, const std::string& source_path);

// What the display box says when a tool did not arrive, or arrived but did not match the digest
// its server gives: which tool, and what the user can do instead.
std::string tool_failed_text(const std::string& tool_file, bool digest_mismatch);

// The digest the tool server gives beside a tool (`<address>.sha256`). Empty when it offers none
// (404); nothing when the answer cannot be trusted or read, which refuses the tool.
std::optional<std::string> fetch_tool_digest(const std::string& tool_url);

// The Windows rule: each tool without a file in the program folder, ffmpeg first, with the
// server path of the build for this Windows.
std::vector<ToolDownload> missing_tool_downloads(const app::Context& ctx, bool windows_64bit);

// "<task>:已完成<D>/<T>\r\n进度：<percent>%    \r\n\r\n组件缺失，请在下载完成组件后，再开始下载直播",
// the percentage with up to 13 significant digits (0 when the total is 0, as in a failure report).
std::string tool_progress_text(int task, std::int64_t total, std::int64_t downloaded);

// For each download: the display box says a tool is missing, then the download starts with 3
// parts and shows its progress there. Returns the task numbers in `user`'s list (-1 for one that
// could not start, or whose digest could not be read). Returns when every download has ended, so
// the thread that asked for them owns them; closing stops them (the provisioning part's request_stop). A tool
// file appears only whole and, when its server gives a digest, only when it matches. A tool that
// fails says so in the display box, and that text stays below any later progress.
std::vector<int> start_tool_downloads(app::Context& ctx, const std::vector<ToolDownload>& downloads,
                                      const std::string& user = kProvisioningUser);

// Linux: the display text naming the tools that neither the program folder nor PATH has; empty
// when both are there.
std::string missing_tools_text(const app::Context& ctx);

bool path_has_blank(const std::string& program_folder);

// The provisioning thread's work after the saved settings are loaded: blank warning, tools, and
// the download folder default.
void provision_tools(app::Context& ctx, const std::string& user = kProvisioningUser);

// Adds the provisioning part: its work runs after the saved settings are loaded.
void install_tool_provisioning(app::Application& app);

}  // namespace qz::provisioning
