#pragma once
// The message loop a Win32 window test runs on its own thread: the window under test answers
// only while its messages are served.
#include <windows.h>

#include <chrono>
#include <functional>

namespace qz::test {

// Serves the thread's window messages until `done` holds or the time is up; true when it held.
inline bool pump_messages_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  MSG msg;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
  return true;
}

}  // namespace qz::test
