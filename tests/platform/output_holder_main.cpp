// A small program that starts a second copy of itself which keeps this program's output open and
// says nothing for a minute, as a tool's own helper (or, under Wine, the desktop process a tool's
// start wakes) may. It prints that copy's id and "done", then ends at once.
//   output_holder          the program to read
//   output_holder hold     the copy that holds the output
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "hold") {
    std::this_thread::sleep_for(std::chrono::minutes(1));
    return 0;
  }
#ifdef _WIN32
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  for (HANDLE h : {si.hStdOutput, si.hStdError}) ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  PROCESS_INFORMATION pi{};
  std::string command = std::string("\"") + argv[0] + "\" hold";
  if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 3;
  const int holder = static_cast<int>(pi.dwProcessId);
#else
  const pid_t holder = ::fork();
  if (holder < 0) return 3;
  if (holder == 0) {
    ::execl(argv[0], argv[0], "hold", static_cast<char*>(nullptr));
    ::_exit(127);
  }
#endif
  std::printf("%d\ndone\n", static_cast<int>(holder));
  std::fflush(stdout);
  return 0;
}
