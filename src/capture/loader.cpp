#include "capture/loader.h"

#include "app/logs.h"
#include "platform/system.h"

namespace qz::capture {

bool load_automation(app::Context& ctx, Automation& component, bool is_admin,
                     std::string_view required_version) {
  component.form_set_run_dir(ctx.program_folder);
  // The component's log lines are neither shown nor stored.
  component.form_logcall([](const std::string&) {});
  // What the component had to drop or skip goes to the error log, so it is never lost silently.
  component.set_error_log([folder = ctx.program_folder](const std::string& line) {
    app::append_error_log(folder, "运行时间：" + app::format_timestamp(platform::local_time_now()) + "\r\n" + line);
  });
  const std::string version = component.form_common_api("owlform", "version", "");
  if (version != required_version) {
    app::MessageBoxRequest box;
    box.caption = "猫头鹰填表";
    box.text = "\r\nowlform.dll版本不匹配！！！\r\n owlform.dll 版本号：" + version + "\r\n模块版本号：" +
               std::string(required_version);
    box.icon = app::MessageIcon::Stop;
    box.timeout_ms = 6000;
    box.owned_by_window = false;
    ctx.desktop.message_box(box);
    return false;
  }
  if (!is_admin) app::append_error_log(ctx.program_folder, app::no_admin_error_entry(platform::local_time_now()));
  return true;
}

}  // namespace qz::capture
