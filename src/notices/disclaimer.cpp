#include "notices/disclaimer.h"

#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/text_codec.h"

namespace qz::notices {
namespace {

// Named in the marker's first line; the marker is never read back.
constexpr const char* kMakerSite = "https://www.qiongzhi.invalid";

constexpr const char* kLines[] = {
    "免责声明：",
    "  1、本软件是青禾（以下简称本人）在业余时间开发的一款安全，绿色产品；",
    "  2、本软件只供技术交流研究使用，利用本软件下载、生成的任何内容，和本工作室无关；",
    "  3、本软件绝对不针对任何一家平台，如果有人利用软件用于非法用途，本工作室将保留追究其民事以及刑事"
    "责任的权利；",
    "  4、因使用本软件而引起的任何意外、疏忽、合约毁坏、诽谤、版权或知识产权侵犯及其所造成的任何损失，"
    "本工作室概不负责，亦概不承担任何民事或者刑事法律责任；",
    "  5、本软件只要在官网下载，我们保证无任何病毒和恶意代码，如果360或者其他工具提示病毒，是杀毒软件误"
    "报，添加信任或者关闭杀毒软件即可。如果确实担心，可以联系客服，我们提交给杀毒软件厂商解除报毒。",
    "  6、以上内容，本工作室保留最终解释权。",
    "如果您已认真阅读并同意以上内容，请点击“确定”，否则请删除与本软件相关的所有资源。",
    "本信息仅弹出一次。",
};

}  // namespace

std::string disclaimer_text() {
  std::string text;
  for (const char* line : kLines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

std::string disclaimer_marker_bytes() {
  return platform::utf8_to_gbk(std::string("您已经同意") + kMakerSite + "的软件使用协议\r\n\r\n" +
                               disclaimer_text());
}

std::string disclaimer_marker_path(const std::string& documents_folder) {
  return platform::join_path(documents_folder, "agrx.dll");
}

void show_disclaimer_once(app::Desktop& desktop, const std::string& documents_folder) {
  const std::string marker = disclaimer_marker_path(documents_folder);
  if (!platform::file_exists(marker)) {
    app::MessageBoxRequest box;
    box.text = disclaimer_text();
    box.caption = "免责声明";
    box.buttons = app::MessageButtons::OkCancel;
    box.owned_by_window = false;
    if (desktop.message_box(box) != app::MessageReply::Ok) return;
  }
  if (platform::write_file_atomically(marker, disclaimer_marker_bytes())) platform::set_hidden(marker);
}

void show_disclaimer_once(app::Desktop& desktop) {
  show_disclaimer_once(desktop, platform::documents_folder());
}

}  // namespace qz::notices
