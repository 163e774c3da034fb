#include "platform/interrupt.h"

#include <signal.h>

#include <atomic>

namespace qz::platform {
namespace {

std::atomic<int> g_interrupts{0};

void on_signal(int) { g_interrupts.fetch_add(1); }

}  // namespace

void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = &on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

int interrupt_count() { return g_interrupts.load(); }

}  // namespace qz::platform
