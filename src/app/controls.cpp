#include "app/controls.h"

#include <array>

namespace qz::app {
namespace {

using K = ControlKind;

constexpr std::array<ControlSpec, 30> kControls{{
    {kShareLinkLabel, K::TransparentLabel, 4, 19, 116, 16, "琼枝直播分享链接：", kPlain},
    {kShareLinkBox, K::Edit, 141, 16, 435, 32, "", kPlain},
    {kOpenLiveRoomButton, K::Button, 416, 48, 96, 32, "打开直播间", kPlain},
    {kLiveButton, K::Button, 585, 49, 80, 32, "开始下载直播", kPlain},
    {kAddressLabels, K::Label, 8, 56, 96, 120,
     "直播真实地址：\r\n\r\n\r\n\r\n回放真实地址：\r\n\r\n\r\n\r\n视频保存位置：", kPlain},
    {kLiveAddressBox, K::Edit, 112, 56, 296, 24, "", kReadOnly},
    {kOpenReplayButton, K::Button, 416, 96, 104, 32, "打开回放网址", kPlain},
    {kReplayAddressBox, K::Edit, 111, 102, 297, 24, "", kReadOnly},
    {kReplayButton, K::Button, 591, 101, 80, 32, "开始下载回放", kPlain},
    {kDownloadFolderBox, K::Edit, 112, 148, 368, 24, "", kPlain},
    {kBrowseButton, K::Button, 512, 144, 56, 32, "浏览", kPlain},
    {kDisplayBox, K::Edit, 0, 184, 464, 192, "", kReadOnly | kMultiLine | kWhiteOnBlack},
    {kPreviewButton, K::Button, 475, 194, 80, 32, "边下边播", kPlain},
    {kWidthLabel, K::Label, 472, 240, 40, 24, "宽度：", kPlain},
    {kPreviewWidthBox, K::Edit, 513, 240, 40, 24, "360", kCentred},
    {kHeightLabel, K::Label, 557, 240, 32, 24, "高度：", kPlain},
    {kPreviewHeightBox, K::Edit, 590, 240, 40, 24, "640", kCentred},
    {kPreviewHintLabel, K::Label, 480, 280, 184, 96,
     "如果你需要实时转播，可以把\r\n\r\n这里的宽度和高度调大一点。\r\n\r\n这里只是影响预览功能，实际\r\n\r\n"
     "下载的视频和这里的设置没关系。",
     kPlain},
    {kSaveSettingsButton, K::Button, 584, 392, 88, 40, "保存配置", kPlain},
    {kConnectBrowserButton, K::Button, 432, 400, 128, 32, "连接已打开浏览器", kPlain},
    {kBrowserDownloadLink, K::Hyperlink, 240, 408, 160, 24, "下载谷歌浏览器", kPlain},
    {kManualInitButton, K::Button, 504, 440, 96, 40, "手动初始化", kPlain},
    {kBrowserPathBox, K::Edit, 8, 448, 480, 32, "", kPlain},
    {kStatusBar, K::StatusBar, 0, 0, 0, 0, "", kPlain},
    // The notice area fills the free space left of the hyperlink, below the display box.
    {kNoticePart2, K::Label, 4, 380, 232, 20, "", kPlain},
    {kAdvertPicture, K::Picture, 240, 378, 188, 28, "", kPlain},
    {kNoticePart0, K::Label, 4, 404, 60, 20, "", kPlain},
    {kNoticePart1, K::Label, 66, 404, 170, 20, "", kPlain},
    {kUpdateLabel, K::Label, 4, 426, 130, 20, "", kPlain},
    {kOpenNewVersionButton, K::Button, 136, 424, 100, 22, "打开新版本", kHidden},
}};

constexpr std::array<std::string_view, 8> kEditBoxOrder{
    kBrowserPathBox, kPreviewHeightBox, kPreviewWidthBox, kReplayAddressBox,
    kLiveAddressBox, kDownloadFolderBox, kDisplayBox, kShareLinkBox,
};

}  // namespace

std::span<const ControlSpec> main_window_controls() { return kControls; }

const ControlSpec* find_control(std::string_view name) {
  for (const ControlSpec& c : kControls)
    if (c.name == name) return &c;
  return nullptr;
}

std::span<const std::string_view> edit_boxes_in_control_order() { return kEditBoxOrder; }

}  // namespace qz::app
