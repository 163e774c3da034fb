#include "record/display_writer.h"

#include "platform/text_codec.h"

namespace qz::record {

void write_display(app::WindowModel& window, const std::string& line) {
  window.update_text(kDisplayBox, [&line](const std::string& current) {
    std::string text = platform::utf8_to_gbk(current).size() > kDisplayLimit ? std::string() : current;
    text += line;
    text += "\r\n";
    return text;
  });
}

}  // namespace qz::record
