#include "app/window_model.h"

#include <cstdio>
#include <cstdlib>

#include "app/controls.h"

namespace qz::app {

void WindowModel::require_known(std::string_view name) {
#ifdef NDEBUG
  (void)name;
#else
  if (find_control(name)) return;
  std::fprintf(stderr, "window model: no control named \"%.*s\"\n", static_cast<int>(name.size()),
               name.data());
  std::abort();
#endif
}

WindowModel::WindowModel() {
  for (const ControlSpec& c : main_window_controls()) {
    if (c.kind != ControlKind::StatusBar) texts_.emplace(std::string(c.name), std::string(c.text));
    visible_.emplace(std::string(c.name), (c.style & kHidden) == 0);
  }
}

bool WindowModel::visible(std::string_view name) const {
  require_known(name);
  std::lock_guard lock(mutex_);
  const auto it = visible_.find(name);
  return it != visible_.end() && it->second;
}

void WindowModel::set_visible(std::string_view name, bool visible) {
  require_known(name);
  {
    std::lock_guard lock(mutex_);
    const auto it = visible_.find(name);
    if (it == visible_.end()) return;
    it->second = visible;
  }
  notify({ControlChange::What::Visibility, std::string(name)});
}

std::string WindowModel::picture(std::string_view name) const {
  require_known(name);
  std::lock_guard lock(mutex_);
  const auto it = pictures_.find(name);
  return it == pictures_.end() ? std::string() : it->second;
}

void WindowModel::set_picture(std::string_view name, std::string bytes) {
  require_known(name);
  if (!visible_.contains(name)) return;  // the set of names never changes after construction
  {
    std::lock_guard lock(mutex_);
    pictures_[std::string(name)] = std::move(bytes);
  }
  notify({ControlChange::What::Picture, std::string(name)});
}

std::string WindowModel::text(std::string_view name) const {
  require_known(name);
  std::lock_guard lock(mutex_);
  const auto it = texts_.find(name);
  return it == texts_.end() ? std::string() : it->second;
}

void WindowModel::set_text(std::string_view name, std::string text) {
  require_known(name);
  {
    std::lock_guard lock(mutex_);
    const auto it = texts_.find(name);
    if (it == texts_.end()) return;
    it->second = std::move(text);
  }
  notify({ControlChange::What::Text, std::string(name)});
}

void WindowModel::set_text_from_ui(std::string_view name, std::string text) {
  require_known(name);
  std::lock_guard lock(mutex_);
  const auto it = texts_.find(name);
  if (it != texts_.end()) it->second = std::move(text);
}

void WindowModel::update_text(std::string_view name,
                              const std::function<std::string(const std::string&)>& action) {
  require_known(name);
  {
    std::lock_guard lock(mutex_);
    const auto it = texts_.find(name);
    if (it == texts_.end()) return;
    it->second = action(it->second);
  }
  notify({ControlChange::What::Text, std::string(name)});
}

std::string WindowModel::status_part(int part) const {
  std::lock_guard lock(mutex_);
  const auto it = status_parts_.find(part);
  return it == status_parts_.end() ? std::string() : it->second;
}

void WindowModel::set_status_part(int part, std::string text) {
  if (part < 0 || part >= kStatusBarParts) return;
  {
    std::lock_guard lock(mutex_);
    status_parts_[part] = std::move(text);
  }
  notify({ControlChange::What::StatusPart, std::string(kStatusBar), part});
}

std::string WindowModel::caption() const {
  std::lock_guard lock(mutex_);
  return caption_;
}

void WindowModel::set_caption(std::string caption) {
  {
    std::lock_guard lock(mutex_);
    caption_ = std::move(caption);
  }
  notify({ControlChange::What::Caption, {}});
}

void WindowModel::on_click(std::string_view name, ClickHandler handler) {
  require_known(name);
  std::lock_guard lock(mutex_);
  handlers_[std::string(name)] = std::move(handler);
}

void WindowModel::click(std::string_view name) {
  require_known(name);
  ClickHandler handler;
  {
    std::lock_guard lock(mutex_);
    const auto it = handlers_.find(name);
    if (it == handlers_.end()) return;
    handler = it->second;
  }
  if (handler) handler();
}

void WindowModel::clear_click_handlers() {
  std::lock_guard lock(mutex_);
  handlers_.clear();
}

void WindowModel::set_observer(WindowObserver* observer) {
  std::lock_guard lock(mutex_);
  observer_ = observer;
}

void WindowModel::notify(const ControlChange& change) {
  WindowObserver* observer;
  {
    std::lock_guard lock(mutex_);
    observer = observer_;
  }
  if (observer) observer->control_changed(change);
}

}  // namespace qz::app
