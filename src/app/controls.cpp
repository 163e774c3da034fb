#include "app/controls.h"

#include <array>

namespace qz::app {
namespace {

using K = ControlKind;

constexpr std::array<ControlSpec, 30> kControls{{
    {"透明标签1", K::TransparentLabel, 4, 19, 116, 16, "琼枝直播分享链接：", kPlain},
    {"编辑框_url", K::Edit, 141, 16, 435, 32, "", kPlain},
    {"按钮3", K::Button, 416, 48, 96, 32, "打开直播间", kPlain},
    {"按钮_开始", K::Button, 585, 49, 80, 32, "开始下载直播", kPlain},
    {"标签2", K::Label, 8, 56, 96, 120,
     "直播真实地址：\r\n\r\n\r\n\r\n回放真实地址：\r\n\r\n\r\n\r\n视频保存位置：", kPlain},
    {"编辑框_直播url", K::Edit, 112, 56, 296, 24, "", kReadOnly},
    {"按钮6", K::Button, 416, 96, 104, 32, "打开回放网址", kPlain},
    {"编辑框_回放url", K::Edit, 111, 102, 297, 24, "", kReadOnly},
    {"按钮_开始1", K::Button, 591, 101, 80, 32, "开始下载回放", kPlain},
    {"编辑框_下载目录", K::Edit, 112, 148, 368, 24, "", kPlain},
    {"按钮1", K::Button, 512, 144, 56, 32, "浏览", kPlain},
    {"编辑框_显示", K::Edit, 0, 184, 464, 192, "", kReadOnly | kMultiLine | kWhiteOnBlack},
    {"按钮_播放", K::Button, 475, 194, 80, 32, "边下边播", kPlain},
    {"标签3", K::Label, 472, 240, 40, 24, "宽度：", kPlain},
    {"编辑框_宽度", K::Edit, 513, 240, 40, 24, "360", kCentred},
    {"标签4", K::Label, 557, 240, 32, 24, "高度：", kPlain},
    {"编辑框_高度", K::Edit, 590, 240, 40, 24, "640", kCentred},
    {"标签1", K::Label, 480, 280, 184, 96,
     "如果你需要实时转播，可以把\r\n\r\n这里的宽度和高度调大一点。\r\n\r\n这里只是影响预览功能，实际\r\n\r\n"
     "下载的视频和这里的设置没关系。",
     kPlain},
    {"按钮2", K::Button, 584, 392, 88, 40, "保存配置", kPlain},
    {"按钮5", K::Button, 432, 400, 128, 32, "连接已打开浏览器", kPlain},
    {"超级链接框1", K::Hyperlink, 240, 408, 160, 24, "下载谷歌浏览器", kPlain},
    {"按钮4", K::Button, 504, 440, 96, 40, "手动初始化", kPlain},
    {"编辑框_google", K::Edit, 8, 448, 480, 32, "", kPlain},
    {"状态条1", K::StatusBar, 0, 0, 0, 0, "", kPlain},
    // The notice area fills the free space left of the hyperlink, below the display box.
    {"标签_公告", K::Label, 4, 380, 232, 20, "", kPlain},
    {"图片框_广告", K::Picture, 240, 378, 188, 28, "", kPlain},
    {"标签_版本", K::Label, 4, 404, 60, 20, "", kPlain},
    {"标签_服务器", K::Label, 66, 404, 170, 20, "", kPlain},
    {"标签_更新", K::Label, 4, 426, 130, 20, "", kPlain},
    {"按钮_打开新版本", K::Button, 136, 424, 100, 22, "打开新版本", kHidden},
}};

constexpr std::array<std::string_view, 8> kEditBoxOrder{
    "编辑框_google", "编辑框_高度", "编辑框_宽度", "编辑框_回放url",
    "编辑框_直播url", "编辑框_下载目录", "编辑框_显示", "编辑框_url",
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
