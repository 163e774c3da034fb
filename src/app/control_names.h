#pragma once
// The names of the main window's controls: the one spelling every part uses to read, write and
// click a control through the window model. The window model refuses other names in debug builds.
// Character arrays, so a name passes as a C string, a string view or a string alike.

namespace qz::app {

// Share link and the two real addresses.
inline constexpr char kShareLinkLabel[] = "透明标签1";
inline constexpr char kShareLinkBox[] = "编辑框_url";
inline constexpr char kAddressLabels[] = "标签2";
inline constexpr char kLiveAddressBox[] = "编辑框_直播url";
inline constexpr char kReplayAddressBox[] = "编辑框_回放url";
inline constexpr char kDownloadFolderBox[] = "编辑框_下载目录";

// The browser's buttons ("打开直播间", "打开回放网址", "连接已打开浏览器", "手动初始化"), the
// browser path box and the browser download link.
inline constexpr char kOpenLiveRoomButton[] = "按钮3";
inline constexpr char kOpenReplayButton[] = "按钮6";
inline constexpr char kConnectBrowserButton[] = "按钮5";
inline constexpr char kManualInitButton[] = "按钮4";
inline constexpr char kBrowserPathBox[] = "编辑框_google";
inline constexpr char kBrowserDownloadLink[] = "超级链接框1";

// Recording: "开始下载直播", "开始下载回放", "边下边播" and the preview's size.
inline constexpr char kLiveButton[] = "按钮_开始";
inline constexpr char kReplayButton[] = "按钮_开始1";
inline constexpr char kPreviewButton[] = "按钮_播放";
inline constexpr char kWidthLabel[] = "标签3";
inline constexpr char kPreviewWidthBox[] = "编辑框_宽度";
inline constexpr char kHeightLabel[] = "标签4";
inline constexpr char kPreviewHeightBox[] = "编辑框_高度";
inline constexpr char kPreviewHintLabel[] = "标签1";

// "浏览", "保存配置", the display box and the status bar.
inline constexpr char kBrowseButton[] = "按钮1";
inline constexpr char kSaveSettingsButton[] = "按钮2";
inline constexpr char kDisplayBox[] = "编辑框_显示";
inline constexpr char kStatusBar[] = "状态条1";

// The notice area: the service notices' own status parts, update label, button and picture.
inline constexpr char kNoticePart0[] = "标签_版本";    // version display
inline constexpr char kNoticePart1[] = "标签_服务器";  // server probe message
inline constexpr char kNoticePart2[] = "标签_公告";    // announcement or quote
inline constexpr char kUpdateLabel[] = "标签_更新";
inline constexpr char kOpenNewVersionButton[] = "按钮_打开新版本";
inline constexpr char kAdvertPicture[] = "图片框_广告";

}  // namespace qz::app
