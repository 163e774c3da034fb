#pragma once
// The one way this program starts another program: a tool whose output it reads, a browser it
// drives, a batch file or an opener it hands a file to. A program and its argument list go in,
// never a prebuilt command line; the OS files (posix/process.cpp, win32/process.cpp) turn them
// into what the system wants. The OS handles stay in those files.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qz::platform {

enum class Streams {
  // Standard output and standard error joined on one pipe that read_output() reads, standard
  // input a pipe that stop_gracefully() writes to (ffmpeg's way of being asked to stop).
  kPiped,
  // Standard input piped as above (for stop_gracefully()), the output thrown away.
  kInputOnly,
  // No pipes at all: standard streams go to the null device.
  kNone,
};

// What happens to the started program when this program ends, however it ends (a normal exit,
// a crash, a kill). Windows: a job object that the system closes with this program, so its
// members end; Linux: a signal the kernel sends when this program goes (see process.cpp).
enum class WhenWeEnd {
  kKeepRunning,  // the program lives on by itself (an opener, an update that replaces us)
  kStop,         // ended; Linux sends SIGINT first so a tool can still finish its file
  kKill,         // ended at once
};

struct ProcessOptions {
  std::string program;            // full path of the program file
  std::vector<std::string> args;  // the arguments after the program's own name, as it gets them
  std::string working_folder;     // empty: the folder of `program`
  Streams streams = Streams::kPiped;
  WhenWeEnd when_we_end = WhenWeEnd::kStop;
  // Windows: the program (a console tool) gets no window of its own. Linux: nothing to do.
  bool hidden_window = true;
  // Not in this program's console, session or process group: keyboard interrupts and the
  // terminal closing do not reach it. Nobody needs to wait() for it; its exit is collected.
  bool detached = false;
  // Linux only: descriptors of ours the program gets as its descriptors 3, 4, ... in this order
  // (at most 8), e.g. the browser's debugging pipe. Windows: must stay empty.
  std::vector<int> extra_descriptors;
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
  // the program has ended and all it wrote has been read (a program it started that still holds
  // the pipe does not count), or when no output is captured.
  std::size_t read_output(char* buffer, std::size_t size);

  // Waits up to `timeout_ms` (negative: without limit) for the process to end; its exit code,
  // or nothing when it still runs (or was never started).
  std::optional<int> wait(int timeout_ms);
  bool running() { return started() && !wait(0); }

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

// A started program nobody waits for (an opener, the new version of this program): started with
// `options` forced to detached, its exit collected in the background. True when it started.
bool start_detached(ProcessOptions options);

// Opens a file the way the desktop does. Linux: xdg-open. Windows: a batch file runs in a hidden
// console in `working_folder` (empty: the file's folder) and ends with this program; other files
// go to their associated program. True when it was handed over.
bool open_with_desktop(const std::string& path, const std::string& working_folder = {});

struct RunningProcess {
  int id = 0;
  int parent_id = 0;
};
// The running processes whose program file is `program` (compared case-insensitively on
// Windows); processes whose program file cannot be read are left out.
std::vector<RunningProcess> processes_running_program(const std::string& program);
// True when the process's parent has ended: its id is free, names a younger process, or is the
// system's (which takes over orphans).
bool parent_has_gone(const RunningProcess& process);
// The program file of a running process; empty when it cannot be read (or it has ended).
std::string program_of_process(int id);
// This process's id.
int current_process_id();
// Ends the process with that id at once; true when it was ended.
bool terminate_process(int id);

// The full path of a program found in the folders of the PATH variable, or nothing.
std::optional<std::string> find_on_search_path(const std::string& name);

}  // namespace qz::platform
