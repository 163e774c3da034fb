// Launching: the browser this component starts on its own profile, over a pipe or a port.
#include "capture/automation.h"
#include "capture/automation_internals.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/fs.h"
#include "platform/system.h"

namespace qz::capture {

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

bool asks_headless(const std::vector<std::string>& flags) {
  for (const std::string& flag : flags)
    if (flag.rfind("--headless", 0) == 0) return true;
  return false;
}

}  // namespace

std::shared_ptr<Automation::Link> Automation::own_browser() {
  std::lock_guard start(start_mutex_);
  std::shared_ptr<Link> old;
  std::string browser, folder;
  {
    std::lock_guard lock(mutex_);
    if (stopping_.stop_requested()) return nullptr;
    if (own_ && own_->client->connected()) return own_;
    old = std::move(own_);
    browser = browser_;
    folder = program_folder_;
  }
  if (old) {  // the user closed the browser: start it again on the same profile
    old->closing = true;
    old->client->close();
    if (old->process && !old->process->wait_exit(2000)) old->process->kill();
  }
  if (browser.empty()) {
    fail(BrowserProblem::no_browser, "no browser has been chosen");
    return nullptr;
  }
  if (folder.empty()) folder = ".";
  const std::string profile = platform::join_path(platform::join_path(folder, "data"), "browser");
  // Only the user may read the profile: it holds the login cookies.
  if (!platform::make_private_directory(profile)) {
    fail(BrowserProblem::cannot_start, "cannot make the private profile folder " + profile);
    return nullptr;
  }
  {
    std::lock_guard lock(mutex_);
    profile_ = profile;
  }
  std::shared_ptr<Link> link;
  // A browser left running on this profile by an earlier run (one that crashed) holds its lock.
  // Driven over a pipe, it has no port to be taken over by: it is ended (asked first, so it
  // writes its cookies out) and a fresh one starts. With a port, it is used while it answers,
  // else its port file is stale and the browser starts afresh.
  if (platform::browser_pipe_supported()) {
    if (!platform::end_browser_on_profile(profile)) log("browser: the one left running on the profile does not end");
  } else if (auto endpoint = platform::read_devtools_active_port(profile)) {
    std::string ignored;
    link = connect_link(endpoint->port, endpoint->path, false, &ignored);
    if (link)
      log("browser: using the one still running on the profile");
    else
      platform::remove_file(platform::join_path(profile, "DevToolsActivePort"));
  }
  if (!link) link = start_browser(browser, profile);
  if (!link) return nullptr;
  if (auto targets = link->client->call("Target.getTargets"); targets.ok) {
    for (const json& info : array_field(targets.result, "targetInfos"))
      if (text_field(info, "type") == "page") link->initial_targets.push_back(text_field(info, "targetId"));
  }
  watch_targets(link);
  std::lock_guard lock(mutex_);
  if (stopping_.stop_requested()) {  // shut down meanwhile: do not leave this browser running
    link->closing = true;
    link->client->close();
    if (link->process) link->process->kill();
    return nullptr;
  }
  own_ = link;
  return link;
}

std::shared_ptr<Automation::Link> Automation::start_browser(const std::string& browser, const std::string& profile) {
  const bool headless = options_.headless || asks_headless(options_.browser_flags);
  if (!headless && !platform::has_display()) {
    fail(BrowserProblem::no_display, browser);
    return nullptr;
  }
  const bool piped = platform::browser_pipe_supported();
  std::vector<std::string> args = {
      "--user-data-dir=" + profile,       "--no-first-run",
      "--no-default-browser-check",       "--disable-background-networking",
      "--disable-component-update",       "--disable-sync",
  };
  // Over the pipe no other program can reach the browser (and the login kept in it); a port on
  // loopback is open to every local account.
  if (piped)
    args.insert(args.begin(), "--remote-debugging-pipe");
  else
    args.insert(args.begin(), {"--remote-debugging-port=0", "--remote-debugging-address=127.0.0.1"});
  if (options_.headless) args.push_back("--headless=new");
  args.insert(args.end(), options_.browser_flags.begin(), options_.browser_flags.end());
  args.push_back("about:blank");
  return piped ? start_piped_browser(browser, args) : start_port_browser(browser, args, profile);
}

bool Automation::start_cancelled() const { return stopping_.stop_requested(); }

bool Automation::pause_unless_stopped(std::chrono::milliseconds pause) const {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  wake.wait_for(lock, stopping_.get_token(), pause, [] { return false; });
  return !stopping_.stop_requested();
}

std::shared_ptr<Automation::Link> Automation::start_piped_browser(const std::string& browser,
                                                                  const std::vector<std::string>& args) {
  std::unique_ptr<platform::BrowserProcess> process;
  std::string error;
  auto link = open_link(
      false,
      [&](platform::MessageHandlers handlers, std::string* channel_error) {
        std::unique_ptr<platform::MessageChannel> channel;
        process = platform::BrowserProcess::start_piped(browser, args, std::move(handlers), &channel, channel_error);
        return channel;
      },
      &error);
  if (!link) {
    fail(BrowserProblem::cannot_start, error);
    if (process) process->kill();
    return nullptr;
  }
  log("browser started: " + browser);
  link->process = std::move(process);
  // The pipe is there at once; the browser answers on it once it is up. Asked in short turns, so
  // a shutdown meanwhile ends the wait.
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!link->client->call("Browser.getVersion", json::object(), {}, 250ms).ok) {
    const bool stopped = start_cancelled();
    const bool gone = !link->client->connected() || !link->process->running();
    if (stopped || gone || std::chrono::steady_clock::now() > deadline) {
      if (!stopped) fail(gone ? BrowserProblem::exited : BrowserProblem::no_port, browser);
      link->closing = true;
      link->client->close();
      link->process->kill();
      return nullptr;
    }
  }
  return link;
}

std::shared_ptr<Automation::Link> Automation::start_port_browser(const std::string& browser,
                                                                 const std::vector<std::string>& args,
                                                                 const std::string& profile) {
  std::string error;
  auto process = platform::BrowserProcess::start(browser, args, &error);
  if (!process) {
    fail(BrowserProblem::cannot_start, error);
    return nullptr;
  }
  log("browser started: " + browser);
  std::optional<platform::DevToolsEndpoint> endpoint;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!(endpoint = platform::read_devtools_active_port(profile))) {
    const bool stopped = start_cancelled();
    if (stopped || !process->running() || std::chrono::steady_clock::now() > deadline) {
      if (!stopped && !process->running())
        fail(BrowserProblem::exited, browser);
      else if (!stopped)
        fail(BrowserProblem::no_port, browser);
      process->kill();
      return nullptr;
    }
    pause_unless_stopped(50ms);  // the port file is looked for again, and a stop seen, at once
  }
  auto link = connect_link(endpoint->port, endpoint->path, false, &error);
  if (!link) {
    fail(BrowserProblem::no_connection, error);
    process->kill();
    return nullptr;
  }
  link->process = std::move(process);
  return link;
}

}  // namespace qz::capture
