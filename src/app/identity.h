#pragma once

namespace qz::app {

inline constexpr const char* kTitle = "琼枝直播下载";
inline constexpr const char* kVersion = "2.7";
inline constexpr const char* kSoftwareId = "zhibo_mvx";

// The main window's outer size in pixels.
inline constexpr int kWindowWidth = 688;
inline constexpr int kWindowHeight = 537;

}  // namespace qz::app
