#pragma once
// Outside programs started as processes: a tool whose standard output and standard error are
// joined on one pipe that the caller reads, with its standard input as a pipe as well, and no
// window. The OS handles stay in the OS files (posix/process.cpp, win32/process.cpp).
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qz::platform {

struct ProcessOptions {
  std::string program;            // full path of the program file
  std::vector<std::string> args;  // Linux: the arguments after argv[0], passed as they are
  // Windows: the command line handed to the program, as the caller built and quoted it.
  std::string windows_command_line;
  std::string working_folder;  // empty: the folder of `program`
  bool capture_output = true;  // false: output is thrown away and read_output() returns 0 at once
};

// One started process. read_output() is meant for one thread while any other thread may call
// stop_gracefully(), terminate(), wait() and id(); those calls are safe against each other.
class Process {
 public:
  Process();
  ~Process();  // closes the pipes; never ends the process
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // False when the program could not be started (missing, not executable, no pipe).
  bool start(const ProcessOptions& options);
  bool started() const;
  int id() const;  // 0 before a successful start

  // Blocks until output arrives; returns how many bytes were read (at most `size`), or 0 once
  // every writer of the pipe has gone (the tool has ended) or when no output is captured.
  std::size_t read_output(char* buffer, std::size_t size);

  // Waits up to `timeout_ms` (negative: without limit) for the process to end; its exit code,
  // or nothing when it still runs (or was never started).
  std::optional<int> wait(int timeout_ms);

  // Asks the tool to finish its work and end: SIGINT on Linux; on Windows "q" on its standard
  // input, which ffmpeg takes as the user's request to stop (a console Ctrl+C cannot be sent to
  // a process without a console of ours). False when the process has already ended.
  bool stop_gracefully();
  // Ends the process at once. False when it has already ended.
  bool terminate();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Ids of the running processes whose program file is `program` (compared case-insensitively on
// Windows); processes whose program file cannot be read are left out.
std::vector<int> processes_running_program(const std::string& program);
// Ends the process with that id at once; true when it was ended.
bool terminate_process(int id);

// Starts a program with these arguments and no pipes, without waiting for it and without a
// shell; its id, or 0 when it could not be started.
int start_detached(const std::string& program, const std::vector<std::string>& args);
// Opens a file through the desktop shell with its window hidden (Windows: a batch file runs
// in a hidden console). True when the shell accepted it.
bool shell_open_hidden(const std::string& path);

// The full path of a program found in the folders of the PATH variable, or nothing.
std::optional<std::string> find_on_search_path(const std::string& name);

}  // namespace qz::platform
