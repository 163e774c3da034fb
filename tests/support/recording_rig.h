#pragma once
// The rig of the tests that drive the recording buttons end to end with the real ffmpeg: a
// program folder of its own, a headless window with the recording parts installed, and the clicks
// and looks a user makes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/application.h"
#include "platform/fs.h"
#include "record/display_writer.h"
#include "record/install.h"
#include "record/media_fixture.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

namespace qz::test {

// The name of the ffmpeg in the program folder.
#ifdef _WIN32
inline constexpr const char* kOwnToolName = "ffm.exe";
#else
inline constexpr const char* kOwnToolName = "ffmpeg";
#endif

struct RecordingRig : ::testing::Test {
  TempFolder folder;
  app::WindowModel window;
  ui::HeadlessDesktop desktop;
  std::unique_ptr<app::Application> app;
  std::string ffmpeg = test_ffmpeg();
  std::string own_tool = u8(folder / kOwnToolName);  // the program folder's ffmpeg
  std::chrono::milliseconds display_wait = std::chrono::seconds(30);

  void SetUp() override {
    if (ffmpeg.empty()) GTEST_SKIP() << "no ffmpeg on this machine";
#ifdef _WIN32
    // The Windows program runs the ffm.exe of its own folder.
    copy_tool_into_program_folder();
#endif
  }
  void TearDown() override { app.reset(); }

  void copy_tool_into_program_folder() { std::filesystem::copy_file(from_u8(ffmpeg), from_u8(own_tool)); }
  void open() {
    app = std::make_unique<app::Application>(window, desktop, folder.str());
    record::install(*app);
    desktop.run_on_ui([&] { app->window_created(); });
  }
  void click(const char* name) {
    desktop.run_on_ui([&] { window.click(name); });
  }
  // What the display box shows; a rig that keeps more of it than the box holds says so here.
  virtual std::string display() const { return window.text(app::kDisplayBox); }
  bool display_shows(const std::string& what) { return display_shows(what, display_wait); }
  bool display_shows(const std::string& what, std::chrono::milliseconds timeout) {
    return ui::HeadlessDesktop::wait_until([&] { return display().find(what) != std::string::npos; }, timeout);
  }
  std::string down(const std::string& name) const {
    return platform::join_path(window.text("编辑框_下载目录"), name);
  }
  std::optional<double> duration(const std::string& file) { return playable_duration(ffmpeg, file); }
};

}  // namespace qz::test
