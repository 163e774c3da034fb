#include "app/application.h"

#include "app/controls.h"
#include "app/identity.h"
#include "app/logs.h"
#include "app/settings.h"

namespace qz::app {
namespace {

void run(const std::function<void()>& hook) {
  if (hook) hook();
}

}  // namespace

Application::Application(WindowModel& window, Desktop& desktop, std::string program_folder)
    : ctx_{window, desktop, std::move(program_folder), {}, {}} {
  ctx_.config = Config::load(ctx_.program_folder);
  register_click_handlers();
}

Application::~Application() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(threads_mutex_);
    threads.swap(threads_);
  }
  for (std::thread& t : threads)
    if (t.joinable()) t.join();
}

std::string Application::caption() const { return std::string(kTitle) + "v" + kVersion; }

bool Application::start() {
  if (hooks_.load_automation && !hooks_.load_automation()) return false;
  return true;
}

void Application::window_created() {
  run(hooks_.initialise_browser);
  ctx_.ffmpeg_path = ctx_.path("ffm.exe");
  start_thread([this] {
    load_edit_boxes(ctx_, {});
    run(hooks_.provision_tools);
  });
  ctx_.window.set_caption(caption());
  if (ctx_.window.text("编辑框_下载目录").empty()) {
    const std::string down = ctx_.path("down");
    ctx_.window.set_text("编辑框_下载目录", down);
    platform::make_directory(down);
  }
  load_edit_boxes(ctx_, main_settings_path(ctx_));
}

void Application::startup_step() {
  write_run_log(ctx_.program_folder, "启动窗口创建完毕");
  run(hooks_.show_disclaimer);
  write_run_log(ctx_.program_folder, "启动窗口线程");
  run(hooks_.start_service_notices);
}

void Application::window_closing() {
  run(hooks_.stop_capture);
  run(hooks_.stop_recording_tools);
  run(hooks_.stop_downloads);
  save_edit_boxes(ctx_, main_settings_path(ctx_), kDisplayBox);
}

void Application::start_thread(std::function<void()> body) {
  std::lock_guard lock(threads_mutex_);
  threads_.emplace_back(std::move(body));
}

void Application::register_click_handlers() {
  ctx_.window.on_click("按钮2", [this] { on_save_settings_clicked(ctx_); });
  ctx_.window.on_click("超级链接框1", [this] {
    ctx_.desktop.open_with_default_handler("https://" + ctx_.config.browser_download_host +
                                           "/intl/zh-CN/chrome/");
  });
  // "浏览" carries no action: the download folder is typed into its box.
}

}  // namespace qz::app
