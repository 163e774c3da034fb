#pragma once
// Finding, starting and stopping a Chromium-family browser (Chrome, Edge, Chromium) for the
// debugging protocol, and what goes with it: the private profile folder, the port file the browser
// writes there, and the Windows working-set trimmer.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/message_channel.h"

namespace qz::platform {

// The executable of an installed Chrome, Edge or Chromium; empty when none is found.
// Linux: the names chromium, chromium-browser, google-chrome, google-chrome-stable, microsoft-edge
// on PATH. Windows: the registry's App Paths for chrome.exe and msedge.exe, then the usual
// Program Files folders (32- and 64-bit).
std::string find_browser();

// The default profile folders of installed browsers, where a browser the user started with remote
// debugging leaves its DevToolsActivePort file.
std::vector<std::string> default_browser_profiles();

struct DevToolsEndpoint {
  int port = 0;
  std::string path;  // "/devtools/browser/<id>"
};
// The first two lines of <profile>/DevToolsActivePort; nothing when missing or malformed.
std::optional<DevToolsEndpoint> read_devtools_active_port(const std::string& profile_folder);

// A folder (with its parents) that only the current user can open: made with mode 0700 on Linux,
// with an ACL granting the user alone on Windows, so it is never readable by others even for a
// moment. A folder there already gets the same protection; a symbolic link (or junction) there is
// refused, never followed, and so is a folder of another user. True when it exists, protected.
bool make_private_directory(const std::string& path);

// A program the system can run: on Linux a regular file with execute permission, on Windows an
// .exe file that starts like one. A folder, a text file or a missing path is not.
bool is_executable_program(const std::string& path);

// Whether a windowed browser has a screen to show on: on Linux an X or Wayland display is named
// in the environment; Windows always has one.
bool has_display();
// Removes a folder with everything in it; true when nothing is left.
bool remove_tree(const std::string& path);

// Whether the program's own browser is driven over the pipe it is started with
// (--remote-debugging-pipe) rather than a port: Linux. On Windows it keeps its loopback port.
bool browser_pipe_supported();

// Ends a browser left running on `profile` by an earlier run that crashed (the profile's lock
// names it, and its command line names the profile): a browser driven over a pipe cannot be
// taken over, and while it holds the profile a new one only hands it its arguments and exits.
// True when no such browser is left. Windows: nothing to do (the port file leads to it).
bool end_browser_on_profile(const std::string& profile);

// A started browser process. Destroying the object neither waits for nor stops the process.
class BrowserProcess {
 public:
  struct Impl;
  explicit BrowserProcess(std::unique_ptr<Impl> impl);
  BrowserProcess(const BrowserProcess&) = delete;
  BrowserProcess& operator=(const BrowserProcess&) = delete;
  ~BrowserProcess();

  // Starts `program` with `args` through the launch service (no shell; standard streams go
  // nowhere); it ends with this program. Nothing and a readable `error` when it cannot be started.
  static std::unique_ptr<BrowserProcess> start(const std::string& program,
                                               const std::vector<std::string>& args, std::string* error);
  // The same for a browser driven over its debugging pipe (`args` ask for
  // --remote-debugging-pipe): our end comes back in `channel`, its messages read on a thread of
  // its own and handed to `handlers`. Only where browser_pipe_supported().
  static std::unique_ptr<BrowserProcess> start_piped(const std::string& program, const std::vector<std::string>& args,
                                                     MessageHandlers handlers,
                                                     std::unique_ptr<MessageChannel>* channel, std::string* error);
  bool running();
  // True when the process has ended within `timeout_ms`.
  bool wait_exit(int timeout_ms);
  void kill();
  int id() const;

 private:
  // `descriptors` become the browser's 3, 4, ... (Linux).
  static std::unique_ptr<BrowserProcess> launch(const std::string& program, const std::vector<std::string>& args,
                                                std::vector<int> descriptors, std::string* error);
  std::unique_ptr<Impl> impl_;
};

// Windows: once per process, a thread that every 60 s trims the working set of the process.
// Elsewhere nothing.
void start_working_set_trimmer();

}  // namespace qz::platform
