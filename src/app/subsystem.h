#pragma once
// One part of the program with a life of its own: capture, recording, provisioning, notices. The
// application owns them in the order they were added and calls each at the places of the
// program's frame; closing asks all of them to stop at once, then joins them in reverse order.
// Every call has a default that does nothing, so a part overrides only the places it works at.
#include <string_view>

namespace qz::app {

class Subsystem {
 public:
  virtual ~Subsystem() = default;

  // Unique among the parts of one application.
  virtual std::string_view name() const = 0;

  // Program start, before any window exists; false ends the program there.
  virtual bool start() { return true; }
  // The window's created handler, on the UI thread.
  virtual void window_created() {}
  // On the provisioning thread, after the saved settings have been loaded.
  virtual void settings_loaded() {}
  // The start-up step, a second after the window opened: first the boxes it asks the user
  // (before the step's second run-log entry), then background work that returns at once.
  virtual void startup_boxes() {}
  virtual void startup_work() {}

  // True while something closing must wait for still runs (a recording tool).
  virtual bool busy() { return false; }

  // Closing, from any thread: asks everything of this part to stop and returns at once.
  virtual void request_stop() {}
  // After request_stop: returns when every thread this part started has ended. Called once
  // more is harmless.
  virtual void join() {}
};

}  // namespace qz::app
