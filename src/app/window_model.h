#pragma once
// The one way any part of the program touches the screen. Texts live here, guarded by a lock, so
// any thread may read or write them; a back end observes the changes and carries them to its
// widgets on its own UI thread. Clicks come back from the back end by control name.
//
// Names are those of control_names.h. A debug build stops at any other name (a misspelt name
// would otherwise read as empty and write nowhere, silently); a release build ignores it.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "app/control_names.h"

namespace qz::app {

struct ControlChange {
  enum class What { Text, StatusPart, Caption, Visibility, Picture };
  What what;
  std::string name;  // control name (Text)
  int part = 0;      // status-bar part (StatusPart)
};

class WindowObserver {
 public:
  virtual ~WindowObserver() = default;
  // Called on the writing thread, outside the model's lock: marshal, do not block.
  virtual void control_changed(const ControlChange& change) = 0;
};

class WindowModel {
 public:
  WindowModel();  // controls with their initial texts from the control table

  // Text of an edit box, the caption of a button or label; empty for an unknown name.
  std::string text(std::string_view name) const;
  // Replaces the whole text. An unknown name is ignored.
  void set_text(std::string_view name, std::string text);
  // What the user typed, reported by a back end: stored without echoing back to it.
  void set_text_from_ui(std::string_view name, std::string text);

  std::string status_part(int part) const;
  void set_status_part(int part, std::string text);

  std::string caption() const;
  void set_caption(std::string caption);

  bool visible(std::string_view name) const;
  void set_visible(std::string_view name, bool visible);

  // Picture bytes (a GIF) shown by a picture control; empty shows nothing.
  std::string picture(std::string_view name) const;
  void set_picture(std::string_view name, std::string bytes);

  // Runs `action` under the model's lock with the current text of `name` and stores what it
  // returns, so a read-extend-write is one step for other writers using this call.
  void update_text(std::string_view name, const std::function<std::string(const std::string&)>& action);

  using ClickHandler = std::function<void()>;
  void on_click(std::string_view name, ClickHandler handler);
  // Called by back ends on the UI thread. A control without a handler does nothing.
  void click(std::string_view name);
  // Every handler dropped: the buttons do nothing from then on.
  void clear_click_handlers();

  void set_observer(WindowObserver* observer);

 private:
  static void require_known(std::string_view name);

  void notify(const ControlChange& change);

  mutable std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> texts_;
  std::map<int, std::string> status_parts_;
  std::string caption_;
  std::map<std::string, bool, std::less<>> visible_;
  std::map<std::string, std::string, std::less<>> pictures_;
  std::map<std::string, ClickHandler, std::less<>> handlers_;
  WindowObserver* observer_ = nullptr;
};

}  // namespace qz::app
