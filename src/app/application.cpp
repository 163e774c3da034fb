#include "app/application.h"

#include "app/controls.h"
#include "app/identity.h"
#include "app/logs.h"
#include "app/settings.h"

namespace qz::app {

Application::Application(WindowModel& window, Desktop& desktop, std::string program_folder)
    : ctx_{window, desktop, std::move(program_folder), {}, {}} {
  ctx_.config = Config::load(ctx_.program_folder);
  register_click_handlers();
}

Application::~Application() {
  stop_subsystems();
  {
    std::lock_guard lock(closing_mutex_);
    closing_finished_ = true;  // a watchdog still waiting lets go; nothing ends the process now
    process_ended_ = true;
  }
  closing_done_.notify_all();
  closing_threads_.join_all();
  threads_.join_all();
  // The window can outlive the application (tests): its buttons must not reach the parts.
  ctx_.window.clear_click_handlers();
  while (!subsystems_.empty()) subsystems_.pop_back();
}

std::string Application::caption() const { return std::string(kTitle) + "v" + kVersion; }

bool Application::add(std::unique_ptr<Subsystem> subsystem) {
  if (!subsystem || this->subsystem(subsystem->name())) return false;
  subsystems_.push_back(std::move(subsystem));
  return true;
}

Subsystem* Application::subsystem(std::string_view name) {
  for (const auto& s : subsystems_)
    if (s->name() == name) return s.get();
  return nullptr;
}

bool Application::start() {
  for (const auto& s : subsystems_)
    if (!s->start()) return false;
  return true;
}

void Application::window_created() {
  for (const auto& s : subsystems_) s->window_created();
  ctx_.ffmpeg_path = ctx_.path("ffm.exe");
  ctx_.window.set_caption(caption());
  if (ctx_.window.text(kDownloadFolderBox).empty()) {
    const std::string down = ctx_.path("down");
    ctx_.window.set_text(kDownloadFolderBox, down);
    platform::make_directory(down);
  }
  load_edit_boxes(ctx_, main_settings_path(ctx_));
  resolve_download_folder(ctx_);
  // The saved settings ("保存配置") are read after the main file, never beside it, so for a box
  // both files hold what the user saved on purpose wins every time.
  start_thread([this] {
    load_edit_boxes(ctx_, {});
    resolve_download_folder(ctx_);
    {
      std::lock_guard lock(settings_loaded_mutex_);
      settings_loaded_ = true;
    }
    settings_loaded_cv_.notify_all();
    for (const auto& s : subsystems_) s->settings_loaded();
  });
}

void Application::startup_step() {
  write_run_log(ctx_.program_folder, "启动窗口创建完毕");
  for (const auto& s : subsystems_) s->startup_boxes();
  write_run_log(ctx_.program_folder, "启动窗口线程");
  for (const auto& s : subsystems_) s->startup_work();
}

bool Application::busy() {
  for (const auto& s : subsystems_)
    if (s->busy()) return true;
  return false;
}

void Application::stop_subsystems() {
  std::call_once(stopped_, [this] {
    for (const auto& s : subsystems_) s->request_stop();
    for (auto it = subsystems_.rbegin(); it != subsystems_.rend(); ++it) (*it)->join();
  });
}

void Application::window_closing() {
  std::call_once(closed_, [this] {
    stop_subsystems();
    save_settings_once();
  });
}

void Application::save_settings_once() {
  std::lock_guard lock(settings_mutex_);
  if (settings_saved_) return;
  settings_saved_ = true;
  save_edit_boxes(ctx_, main_settings_path(ctx_), kDisplayBox);
}

void Application::close_in_background(std::function<void()> end_process,
                                      std::chrono::milliseconds deadline) {
  {
    std::lock_guard lock(closing_mutex_);
    if (end_process_) return;  // closing already under way
    end_process_ = std::move(end_process);
  }
  closing_threads_.start([this] {
    window_closing();
    {
      std::lock_guard lock(closing_mutex_);
      closing_finished_ = true;
    }
    closing_done_.notify_all();
    end_process_once();
  });
  closing_threads_.start([this, deadline] {
    {
      std::unique_lock lock(closing_mutex_);
      if (closing_done_.wait_for(lock, deadline, [this] { return closing_finished_; })) return;
    }
    save_settings_once();
    end_process_once();
  });
}

void Application::end_process_once() {
  std::function<void()> end;
  {
    std::lock_guard lock(closing_mutex_);
    if (process_ended_) return;
    process_ended_ = true;
    end = end_process_;
  }
  if (end) end();
}

bool Application::wait_for_saved_settings(std::chrono::milliseconds limit) {
  std::unique_lock lock(settings_loaded_mutex_);
  return settings_loaded_cv_.wait_for(lock, limit, [&] { return settings_loaded_; });
}

void Application::start_thread(std::function<void()> body) { threads_.start(std::move(body)); }

void Application::register_click_handlers() {
  ctx_.window.on_click(kSaveSettingsButton, [this] { on_save_settings_clicked(ctx_); });
  ctx_.window.on_click(kBrowserDownloadLink, [this] {
    ctx_.desktop.open_with_default_handler("https://" + ctx_.config.browser_download_host +
                                           "/intl/zh-CN/chrome/");
  });
  // "浏览" carries no action: the download folder is typed into its box.
}

}  // namespace qz::app
