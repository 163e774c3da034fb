#include "capture/automation.h"

#include <chrono>
#include <random>
#include <thread>

#include "capture/device_profile.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "platform/websocket.h"

namespace qz::capture {

using nlohmann::json;
using namespace std::chrono_literals;

// One debugging connection: to the browser this component started, or to one the user started.
struct Automation::Link {
  std::unique_ptr<DevToolsClient> client;
  std::unique_ptr<platform::BrowserProcess> process;  // only for a browser started here
  bool discover = false;                              // an attached browser: every page is watched
  std::atomic<bool> closing{false};                   // ended by us: its end is no news
  std::mutex mutex;
  std::set<std::string> known_targets;       // pages attached already
  std::vector<std::string> initial_targets;  // the blank tab a fresh browser opens with
};

struct Automation::Page {
  PageHandle handle = 0;  // 0 until announced
  std::shared_ptr<Link> link;
  std::string target_id;
  std::string session_id;
  std::set<std::string> sessions;  // its own and its frames'; guarded by the component's mutex
  std::atomic<bool> closed{false};
  std::mutex mutex;
  RequestHandler handler;
  bool network_enabled = false;
  std::string user_agent;                 // the profile's agent; "" keeps the browser's own
  std::set<std::string> own_request_ids;  // requests form_ajax_lacal issued (and their redirects)
};

namespace {

std::string random_hex(std::size_t digits) {
  std::random_device device;
  std::mt19937_64 generator((static_cast<unsigned long long>(device()) << 32) ^ device() ^
                            static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()));
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < digits; ++i) out += hex[generator() & 15];
  return out;
}

bool parse_window_size(const std::string& text, int& width, int& height) {
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos) return false;
  try {
    width = std::stoi(text.substr(0, comma));
    height = std::stoi(text.substr(comma + 1));
  } catch (...) {
    return false;
  }
  return width > 0 && height > 0 && width < 100000 && height < 100000;
}

// "ws://127.0.0.1:9222/devtools/browser/<id>" -> "/devtools/browser/<id>"
std::string path_of_ws_url(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return {};
  const std::size_t slash = url.find('/', scheme + 3);
  return slash == std::string::npos ? std::string() : url.substr(slash);
}

// Every new page and frame waits for us before it runs, so its first request is seen too.
const json kAutoAttach = {{"autoAttach", true}, {"waitForDebuggerOnStart", true}, {"flatten", true}};

// The event's text again after its params changed.
std::string dump_event(const DevToolsEvent& event) {
  json message = {{"method", event.method}, {"params", event.params}};
  if (!event.session_id.empty()) message["sessionId"] = event.session_id;
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool asks_headless(const std::vector<std::string>& flags) {
  for (const std::string& flag : flags)
    if (flag.rfind("--headless", 0) == 0) return true;
  return false;
}

}  // namespace

Automation::Automation(AutomationOptions options)
    : options_(std::move(options)), own_tag_("qz-own-" + random_hex(16) + "-") {}

Automation::~Automation() { shutdown(); }

void Automation::form_set_run_dir(const std::string& program_folder) {
  std::lock_guard lock(mutex_);
  program_folder_ = program_folder;
}

void Automation::form_logcall(LogCallback log) {
  std::lock_guard lock(mutex_);
  log_ = std::move(log);
}

void Automation::set_error_log(LogCallback log) {
  std::lock_guard lock(mutex_);
  error_log_ = std::move(log);
}

void Automation::set_browser_gone(std::function<void()> on_gone) {
  std::lock_guard lock(mutex_);
  on_gone_ = std::move(on_gone);
}

std::string Automation::form_common_api(const std::string& module, const std::string& name,
                                        const std::string& arg) {
  (void)arg;
  if (module == "owlform" && name == "version") return kVersion;
  return {};
}

void Automation::log(const std::string& line) {
  LogCallback log;
  {
    std::lock_guard lock(mutex_);
    log = log_;
  }
  if (log) log(line);
}

void Automation::error_log(const std::string& line) {
  LogCallback log;
  {
    std::lock_guard lock(mutex_);
    log = error_log_;
  }
  if (log) log(line);
  this->log(line);
}

void Automation::fail(BrowserProblem problem, const std::string& detail) {
  {
    std::lock_guard lock(mutex_);
    failure_ = {problem, detail};
  }
  log("browser: " + detail);
}

BrowserFailure Automation::last_failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

int Automation::form_global_init(const std::string& browser, PageCallback on_page) {
  std::string path = browser;
  if (path.empty()) path = options_.browser_path;
  if (path.empty()) path = platform::find_browser();
  // A typed path must name a program the system can run, not any file.
  const bool usable = !path.empty() && platform::is_executable_program(path);
  std::lock_guard lock(mutex_);
  on_page_ = std::move(on_page);
  if (usable) browser_ = path;
  return usable ? 1 : 0;
}

std::string Automation::profile_folder() const {
  std::lock_guard lock(mutex_);
  return profile_;
}

std::shared_ptr<Automation::Link> Automation::open_link(bool discover, const DevToolsClient::ChannelOpener& open_channel,
                                                        std::string* error) {
  auto link = std::make_shared<Link>();
  link->discover = discover;
  std::weak_ptr<Link> weak = link;
  DevToolsClient::Handlers handlers;
  handlers.on_event = [this, weak](DevToolsEvent& event) {
    if (auto l = weak.lock()) on_event(l, event);
  };
  handlers.on_problem = [this](const std::string& line) { error_log(line); };
  handlers.on_closed = [this, weak] { on_link_closed(weak); };
  link->client = DevToolsClient::open(open_channel, std::move(handlers), error);
  if (!link->client) return nullptr;
  return link;
}

std::shared_ptr<Automation::Link> Automation::connect_link(int port, const std::string& path, bool discover,
                                                           std::string* error) {
  return open_link(
      discover,
      [&](platform::MessageHandlers handlers, std::string* channel_error) {
        return platform::WebSocket::connect("127.0.0.1", port, path, std::move(handlers), channel_error);
      },
      error);
}

bool Automation::watch_targets(const std::shared_ptr<Link>& link) {
  // Pages open already are attached at once (not paused); new ones as they start.
  auto reply = link->client->call("Target.setAutoAttach", kAutoAttach);
  if (!reply.ok) log("Target.setAutoAttach: " + reply.error);
  return reply.ok;
}

std::shared_ptr<Automation::Link> Automation::own_browser() {
  std::lock_guard start(start_mutex_);
  std::shared_ptr<Link> old;
  std::string browser, folder;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return nullptr;
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
  if (stopped_) {  // shut down meanwhile: do not leave this browser running
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

bool Automation::start_cancelled() {
  std::lock_guard lock(mutex_);
  return stopped_;
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
    std::this_thread::sleep_for(50ms);
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

std::shared_ptr<Automation::Page> Automation::add_page(const std::shared_ptr<Link>& link, const std::string& target_id,
                                                       const std::string& session_id, const std::string& user_agent) {
  auto page = std::make_shared<Page>();
  page->link = link;
  page->user_agent = user_agent;
  page->target_id = target_id;
  page->session_id = session_id;
  page->sessions.insert(session_id);
  {
    std::lock_guard lock(mutex_);
    live_pages_.push_back(page);
  }
  pages_cv_.notify_all();
  return page;
}

std::shared_ptr<Automation::Page> Automation::find_page(PageHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = pages_.find(handle);
  return it == pages_.end() ? nullptr : it->second;
}

std::shared_ptr<Automation::Page> Automation::page_of_target(const std::shared_ptr<Link>& link,
                                                             const std::string& target_id) {
  if (target_id.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  for (auto& page : live_pages_)
    if (page->link == link && page->target_id == target_id) return page;
  return nullptr;
}

std::shared_ptr<Automation::Page> Automation::page_of_session(const std::shared_ptr<Link>& link,
                                                              const std::string& session_id) {
  if (session_id.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  for (auto& page : live_pages_)
    if (page->link == link && page->sessions.count(session_id)) return page;
  return nullptr;
}

std::shared_ptr<Automation::Page> Automation::wait_for_target(const std::shared_ptr<Link>& link,
                                                              const std::string& target_id) {
  std::unique_lock lock(mutex_);
  std::shared_ptr<Page> found;
  pages_cv_.wait_for(lock, 5s, [&] {
    for (auto& page : live_pages_)
      if (page->link == link && page->target_id == target_id) found = page;
    return found != nullptr || stopped_;
  });
  return found;
}

void Automation::announce(const std::shared_ptr<Page>& page) {
  PageCallback on_page;
  {
    std::lock_guard lock(mutex_);
    if (page->handle != 0) return;
    page->handle = ++next_page_;
    pages_[page->handle] = page;
    on_page = on_page_;
  }
  if (!on_page) return;
  // The callback runs on the component's event thread, like every other delivery; the caller
  // waits for it so the page is subscribed before it loads anything.
  const PageHandle handle = page->handle;
  page->link->client->post([on_page, handle] { on_page(handle); }, true);
}

void Automation::apply_agent(const std::shared_ptr<Page>& page, const std::string& session, const std::string& agent) {
  if (agent.empty()) return;
  DevToolsClient& client = *page->link->client;
  client.call("Emulation.setUserAgentOverride", user_agent_override(agent), session);
  client.call("Emulation.setTouchEmulationEnabled", touch_emulation(agent), session);
}

void Automation::set_up_session(const std::shared_ptr<Page>& page, const std::string& session, bool network) {
  DevToolsClient& client = *page->link->client;
  if (network) client.call("Network.enable", json::object(), session);
  client.call("Target.setAutoAttach", kAutoAttach, session);
}

PageHandle Automation::form_browser_start(const std::string& address, const StartRecord& record) {
  {
    std::lock_guard lock(mutex_);
    failure_ = {};
  }
  auto link = own_browser();
  if (!link) return 0;
  json params = {{"url", "about:blank"}, {"newWindow", true}};
  int width = 0, height = 0;
  if (parse_window_size(record.window_size, width, height)) {
    params["width"] = width;
    params["height"] = height;
  }
  auto created = link->client->call("Target.createTarget", params);
  if (!created.ok) {
    fail(BrowserProblem::no_connection, "Target.createTarget: " + created.error);
    return 0;
  }
  const std::string target = text_field(created.result, "targetId");
  // Auto-attach brings the new page in; a browser that does not is asked by hand.
  std::shared_ptr<Page> page = wait_for_target(link, target);
  if (!page) {
    {
      std::lock_guard lock(link->mutex);
      link->known_targets.insert(target);
    }
    auto attached = link->client->call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}});
    if (!attached.ok) {
      fail(BrowserProblem::no_connection, "Target.attachToTarget: " + attached.error);
      return 0;
    }
    page = add_page(link, target, text_field(attached.result, "sessionId"));
    set_up_session(page, page->session_id, false);
  }
  {
    std::lock_guard lock(page->mutex);
    page->user_agent = record.user_agent;
  }
  apply_agent(page, page->session_id, record.user_agent);
  std::vector<std::string> initial;
  {
    std::lock_guard lock(link->mutex);
    initial.swap(link->initial_targets);
  }
  for (const std::string& id : initial) link->client->call("Target.closeTarget", {{"targetId", id}});

  announce(page);
  if (!address.empty()) link->client->call("Page.navigate", {{"url", address}}, page->session_id);
  return page->handle;
}

bool Automation::regevent_request_willbe_sent(PageHandle handle, RequestHandler handler) {
  auto page = find_page(handle);
  if (!page || page->closed) return false;
  bool enable = false;
  {
    std::lock_guard lock(page->mutex);
    page->handler = std::move(handler);
    enable = !page->network_enabled;
    page->network_enabled = true;
  }
  if (!enable) return true;
  std::set<std::string> sessions;
  {
    std::lock_guard lock(mutex_);
    sessions = page->sessions;
  }
  bool ok = true;
  for (const std::string& session : sessions) {
    auto reply = page->link->client->call("Network.enable", json::object(), session);
    if (session == page->session_id) ok = reply.ok;
  }
  if (!ok) {
    std::lock_guard lock(page->mutex);
    page->network_enabled = false;
  }
  return ok;
}

std::string Automation::form_get_page_url(PageHandle handle) {
  auto page = find_page(handle);
  if (!page || page->closed) return {};
  auto reply = page->link->client->call("Target.getTargetInfo", {{"targetId", page->target_id}});
  if (!reply.ok) return {};
  return text_field(object_field(reply.result, "targetInfo"), "url");
}

std::string Automation::form_ajax_lacal(PageHandle handle, const std::string& address) {
  auto page = find_page(handle);
  if (!page || page->closed) return {};
  // The request carries a fragment of ours (never sent to the server, but shown in the request
  // event), so on_request can keep it from the page's request handler.
  const std::string url = address + "#" + own_tag_ + std::to_string(++own_requests_);
  const std::string expression =
      "fetch(" + json(url).dump(-1, ' ', false, json::error_handler_t::replace) +
      ", {credentials: 'include'}).then(r => r.text())";
  auto reply = page->link->client->call(
      "Runtime.evaluate", {{"expression", expression}, {"awaitPromise", true}, {"returnByValue", true}},
      page->session_id);
  if (!reply.ok || reply.result.contains("exceptionDetails")) return {};
  const json& result = object_field(reply.result, "result");
  if (text_field(result, "type") != "string") return {};
  return text_field(result, "value");
}

int Automation::form_page_isactive(PageHandle handle) {
  auto page = find_page(handle);
  if (!page || page->closed) return 0;
  auto reply = page->link->client->call("Target.getTargetInfo", {{"targetId", page->target_id}});
  return reply.ok ? 1 : 0;
}

bool Automation::form_custom_useragent(PageHandle handle, const std::string& user_agent) {
  auto page = find_page(handle);
  if (!page || page->closed) return false;
  {
    std::lock_guard lock(page->mutex);
    page->user_agent = user_agent;
  }
  std::set<std::string> sessions;
  {
    std::lock_guard lock(mutex_);
    sessions = page->sessions;
  }
  for (const std::string& session : sessions)
    if (session != page->session_id) apply_agent(page, session, user_agent);
  DevToolsClient& client = *page->link->client;
  const bool ok = client.call("Emulation.setUserAgentOverride", user_agent_override(user_agent), page->session_id).ok;
  client.call("Emulation.setTouchEmulationEnabled", touch_emulation(user_agent), page->session_id);
  return ok;
}

bool Automation::form_forward_url(PageHandle handle, const std::string& address) {
  auto page = find_page(handle);
  if (!page || page->closed) return false;
  return page->link->client->call("Page.navigate", {{"url", address}}, page->session_id).ok;
}

bool Automation::form_connect_started() {
  std::lock_guard start(start_mutex_);
  {
    std::lock_guard lock(mutex_);
    failure_ = {};
    if (stopped_) return false;
    if (attached_ && attached_->client->connected()) return true;
  }
  std::shared_ptr<Link> link;
  std::string error, tried;
  const auto note = [&](const std::string& what) { tried += (tried.empty() ? "" : ", ") + what; };
  for (const std::string& folder : platform::default_browser_profiles()) {
    if (auto endpoint = platform::read_devtools_active_port(folder)) {
      note(platform::join_path(folder, "DevToolsActivePort") + " (port " + std::to_string(endpoint->port) + ")");
      if ((link = connect_link(endpoint->port, endpoint->path, true, &error))) break;
    }
  }
  if (!link) {
    const int port = options_.fallback_port;
    note("127.0.0.1:" + std::to_string(port));
    if (auto version = platform::http_get("127.0.0.1", port, "/json/version")) {
      const json info = json::parse(*version, nullptr, false);
      const std::string path = path_of_ws_url(text_field(info, "webSocketDebuggerUrl"));
      if (!path.empty()) link = connect_link(port, path, true, &error);
    }
  }
  if (!link) {
    fail(BrowserProblem::not_found, tried + (error.empty() ? "" : " (" + error + ")"));
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return false;
    if (attached_) {
      attached_->closing = true;
      attached_->client->close();
    }
    attached_ = link;
  }
  return watch_targets(link);
}

void Automation::on_attached(const std::shared_ptr<Link>& link, const DevToolsEvent& event) {
  const json& info = object_field(event.params, "targetInfo");
  const std::string session = text_field(event.params, "sessionId");
  const std::string type = text_field(info, "type");
  const std::string target = text_field(info, "targetId");
  if (session.empty()) return;
  DevToolsClient& client = *link->client;
  const auto resume = [&] {
    if (bool_field(event.params, "waitingForDebugger")) client.call("Runtime.runIfWaitingForDebugger", json::object(), session);
  };
  // A new page may be reported twice, through the browser and through its opener's session:
  // whichever comes first sets it up before it runs; the other only lets go.
  bool fresh = false;
  if (type == "page" && text_field(info, "url").rfind("devtools://", 0) != 0) {
    std::lock_guard lock(link->mutex);
    fresh = link->known_targets.insert(target).second;
  }
  if (fresh) {
    auto opener = page_of_target(link, text_field(info, "openerId"));
    std::string agent;
    if (opener) {
      std::lock_guard lock(opener->mutex);
      agent = opener->user_agent;
    }
    // The page has its agent before anyone can find it: form_browser_start, waiting for this
    // page, sets its own profile the moment the page is listed, and must not be overwritten.
    auto page = add_page(link, target, session, agent);
    apply_agent(page, session, agent);
    set_up_session(page, session, false);
    // A page the program opens itself is announced by form_browser_start once it has its profile.
    if (link->discover || (opener && opener->handle != 0)) announce(page);
    resume();
    return;
  }
  if (type == "iframe") {
    if (auto page = page_of_session(link, event.session_id)) {
      std::string agent;
      bool network = false;
      {
        std::lock_guard lock(page->mutex);
        agent = page->user_agent;
        network = page->network_enabled;
      }
      {
        std::lock_guard lock(mutex_);
        page->sessions.insert(session);
      }
      apply_agent(page, session, agent);
      set_up_session(page, session, network);
    }
    resume();
    return;
  }
  // Workers, the browser's own screens, a page seen twice: let them run, stay out of their way.
  resume();
  client.call("Target.detachFromTarget", {{"sessionId", session}});
}

void Automation::on_detached(const std::shared_ptr<Link>& link, const DevToolsEvent& event) {
  const std::string session = text_field(event.params, "sessionId");
  const std::string target = text_field(event.params, "targetId");
  std::lock_guard lock(mutex_);
  for (auto it = live_pages_.begin(); it != live_pages_.end();) {
    Page& page = **it;
    const bool gone = page.link == link && ((!target.empty() && page.target_id == target && event.method != "Target.detachedFromTarget") ||
                                            (!session.empty() && page.session_id == session));
    if (gone) {
      page.closed = true;
      it = live_pages_.erase(it);
      continue;
    }
    if (page.link == link && !session.empty()) page.sessions.erase(session);
    ++it;
  }
}

void Automation::on_event(const std::shared_ptr<Link>& link, DevToolsEvent& event) {
  if (event.method == "Network.requestWillBeSent") {
    if (auto page = page_of_session(link, event.session_id)) on_request(page, event);
  } else if (event.method == "Target.attachedToTarget") {
    on_attached(link, event);
  } else if (event.method == "Target.targetDestroyed" || event.method == "Target.detachedFromTarget") {
    on_detached(link, event);
  }
}

void Automation::on_link_closed(const std::weak_ptr<Link>& weak) {
  auto link = weak.lock();
  if (!link || link->closing) return;
  std::function<void()> gone;
  {
    std::lock_guard lock(mutex_);
    if (stopped_ || (link != own_ && link != attached_)) return;
    gone = on_gone_;
    for (auto& page : live_pages_)
      if (page->link == link) page->closed = true;
  }
  log("browser: the debugging connection has ended");
  if (gone) gone();
}

bool Automation::wants_body(const json& request) const {
  const std::string url = text_field(request, "url");
  for (const std::string& marker : options_.body_markers)
    if (!marker.empty() && url.find(marker) != std::string::npos) return true;
  return false;
}

void Automation::on_request(const std::shared_ptr<Page>& page, DevToolsEvent& event) {
  RequestHandler handler;
  const std::string request_id = text_field(event.params, "requestId");
  const json& request = object_field(event.params, "request");
  {
    std::lock_guard lock(page->mutex);
    if (!page->handler) return;
    if (page->own_request_ids.count(request_id)) return;  // a redirect of our own request
    if (event.raw.find(own_tag_) != std::string::npos) {
      const std::string fragment = text_field(request, "urlFragment");
      const std::string url = text_field(request, "url");
      if (fragment.find(own_tag_) != std::string::npos || url.find(own_tag_) != std::string::npos) {
        page->own_request_ids.insert(request_id);
        return;
      }
    }
    handler = page->handler;
  }
  if (text_field(request, "postData").size() > kMaxExaminedBody) {
    // A page can send any body; one past the cap is not examined (nor copied further).
    log("request body of " + std::to_string(text_field(request, "postData").size()) + " bytes not examined: " + request_id);
    event.params["request"].erase("postData");
    event.raw = dump_event(event);
  } else if (bool_field(request, "hasPostData") && !request.contains("postData") && wants_body(request)) {
    // Larger bodies are left out of the event: fetch the body so capture does not depend on size.
    auto body = page->link->client->call("Network.getRequestPostData", {{"requestId", request_id}},
                                         event.session_id);
    const std::string data = text_field(body.result, "postData");
    if (body.ok && data.size() > kMaxExaminedBody) {
      log("request body of " + std::to_string(data.size()) + " bytes not examined: " + request_id);
    } else if (body.ok && !data.empty()) {
      event.params["request"]["postData"] = data;
      log("request body fetched: " + request_id);
      event.raw = dump_event(event);
    }
  }
  handler(page->handle, std::move(event.raw));
}

void Automation::stop_events() {
  std::shared_ptr<Link> own, attached;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    own = own_;
    attached = attached_;
  }
  pages_cv_.notify_all();
  if (own) own->client->stop_events();
  if (attached) attached->client->stop_events();
}

void Automation::shutdown() {
  stop_events();
  std::lock_guard start(start_mutex_);
  std::shared_ptr<Link> own, attached;
  {
    std::lock_guard lock(mutex_);
    own = std::move(own_);
    attached = std::move(attached_);
    pages_.clear();
    live_pages_.clear();
  }
  if (attached) {  // the user's browser stays open
    attached->closing = true;
    attached->client->close();
  }
  if (own) {
    own->closing = true;
    // Closed properly, the browser writes its cookies out: the login holds for the next run.
    own->client->call("Browser.close", json::object(), {}, 2s);
    own->client->close();
    if (own->process && !own->process->wait_exit(3000)) own->process->kill();
  }
}

}  // namespace qz::capture
