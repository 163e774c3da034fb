#pragma once
// Ctrl+C and termination requests for the command line: caught, counted, never fatal.

namespace qz::platform {

// From now on SIGINT/SIGTERM (Windows: Ctrl+C, Ctrl+Break, console close) only set a flag.
void catch_interrupts();
// How many interrupts have arrived since catch_interrupts().
int interrupt_count();

}  // namespace qz::platform
