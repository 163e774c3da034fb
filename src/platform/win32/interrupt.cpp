#include "platform/interrupt.h"

#include <windows.h>

#include <atomic>

namespace qz::platform {
namespace {

std::atomic<int> g_interrupts{0};

BOOL WINAPI on_console_event(DWORD) {
  g_interrupts.fetch_add(1);
  return TRUE;
}

}  // namespace

void catch_interrupts() { SetConsoleCtrlHandler(&on_console_event, TRUE); }

int interrupt_count() { return g_interrupts.load(); }

}  // namespace qz::platform
