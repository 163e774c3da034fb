#include "capture/automation.h"

#include <chrono>
#include <random>
#include <thread>

#include "platform/fs.h"
#include "platform/system.h"
#include "platform/websocket.h"

namespace qz::capture {

using nlohmann::json;
using namespace std::chrono_literals;

// One debugging connection: to the browser this component started, or to one the user started.
struct Automation::Link {
  std::unique_ptr<DevToolsClient> client;
  std::unique_ptr<platform::BrowserProcess> process;  // only for the browser started here
  bool discover = false;                              // pages of an attached browser
  std::mutex mutex;
  std::set<std::string> known_targets;
  std::vector<std::string> initial_targets;  // the blank tab a fresh browser opens with
};

struct Automation::Page {
  PageHandle handle = 0;
  std::shared_ptr<Link> link;
  std::string target_id;
  std::string session_id;
  std::atomic<bool> closed{false};
  std::mutex mutex;
  RequestHandler handler;
  bool network_enabled = false;
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

int Automation::form_global_init(const std::string& browser, PageCallback on_page) {
  std::string path = browser;
  if (path.empty()) path = options_.browser_path;
  if (path.empty()) path = platform::find_browser();
  const bool usable = !path.empty() && platform::file_exists(path) && !platform::is_directory(path);
  std::lock_guard lock(mutex_);
  on_page_ = std::move(on_page);
  if (usable) browser_ = path;
  return usable ? 1 : 0;
}

std::string Automation::profile_folder() const {
  std::lock_guard lock(mutex_);
  return profile_;
}

std::shared_ptr<Automation::Link> Automation::connect_link(int port, const std::string& path, bool discover,
                                                           std::string* error) {
  auto link = std::make_shared<Link>();
  link->discover = discover;
  std::weak_ptr<Link> weak = link;
  link->client = DevToolsClient::connect(
      "127.0.0.1", port, path,
      [this, weak](DevToolsEvent& event) {
        if (auto l = weak.lock()) on_event(l, event);
      },
      error);
  if (!link->client) return nullptr;
  return link;
}

std::shared_ptr<Automation::Link> Automation::own_browser(std::string* error) {
  std::lock_guard start(start_mutex_);
  std::shared_ptr<Link> old;
  std::string browser, folder, old_profile;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) {
      *error = "the component has been shut down";
      return nullptr;
    }
    if (own_ && own_->client->connected()) return own_;
    old = std::move(own_);
    old_profile = profile_;
    browser = browser_;
    folder = program_folder_;
  }
  if (old) {  // the user closed the browser: start a fresh one
    old->client->close();
    if (old->process && !old->process->wait_exit(2000)) old->process->kill();
    if (!old_profile.empty()) platform::remove_tree(old_profile);
  }
  if (browser.empty()) {
    *error = "no browser has been chosen";
    return nullptr;
  }
  if (folder.empty()) folder = ".";
  const auto t = platform::local_time_now();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d-", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  const std::string profile =
      platform::join_path(platform::join_path(folder, "browser"), std::string(stamp) + random_hex(6));
  // Only the user may read the profile: it holds the session cookies and the debugging port.
  if (!platform::make_private_directory(profile)) {
    *error = "cannot make the browser profile folder " + profile;
    return nullptr;
  }
  std::vector<std::string> args = {
      "--remote-debugging-port=0",        "--remote-debugging-address=127.0.0.1",
      "--user-data-dir=" + profile,       "--no-first-run",
      "--no-default-browser-check",       "--disable-background-networking",
      "--disable-component-update",       "--disable-sync",
  };
  if (options_.headless) args.push_back("--headless=new");
  args.insert(args.end(), options_.browser_flags.begin(), options_.browser_flags.end());
  args.push_back("about:blank");
  auto process = platform::BrowserProcess::start(browser, args, error);
  if (!process) return nullptr;
  {
    std::lock_guard lock(mutex_);
    profile_ = profile;
  }
  log("browser started: " + browser);

  std::optional<platform::DevToolsEndpoint> endpoint;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!(endpoint = platform::read_devtools_active_port(profile))) {
    if (!process->running() || std::chrono::steady_clock::now() > deadline) {
      *error = "the browser did not open its debugging port";
      process->kill();
      platform::remove_tree(profile);
      return nullptr;
    }
    std::this_thread::sleep_for(50ms);
  }
  auto link = connect_link(endpoint->port, endpoint->path, false, error);
  if (!link) {
    process->kill();
    platform::remove_tree(profile);
    return nullptr;
  }
  link->process = std::move(process);
  if (auto targets = link->client->call("Target.getTargets"); targets.ok) {
    for (const json& info : targets.result.value("targetInfos", json::array()))
      if (info.value("type", "") == "page") link->initial_targets.push_back(info.value("targetId", ""));
  }
  std::lock_guard lock(mutex_);
  if (stopped_) {  // shut down meanwhile: do not leave this browser running
    link->client->close();
    link->process->kill();
    platform::remove_tree(profile);
    *error = "the component has been shut down";
    return nullptr;
  }
  own_ = link;
  return link;
}

PageHandle Automation::add_page(const std::shared_ptr<Link>& link, const std::string& target_id,
                                const std::string& session_id) {
  auto page = std::make_shared<Page>();
  page->link = link;
  page->target_id = target_id;
  page->session_id = session_id;
  std::lock_guard lock(mutex_);
  page->handle = ++next_page_;
  pages_[page->handle] = page;
  return page->handle;
}

std::shared_ptr<Automation::Page> Automation::find_page(PageHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = pages_.find(handle);
  return it == pages_.end() ? nullptr : it->second;
}

void Automation::announce(const std::shared_ptr<Link>& link, PageHandle page) {
  PageCallback on_page;
  {
    std::lock_guard lock(mutex_);
    on_page = on_page_;
  }
  if (!on_page) return;
  // The callback runs on the component's event thread, like every other delivery; the caller
  // waits for it so the page is subscribed before it loads anything.
  link->client->post([on_page, page] { on_page(page); }, true);
}

PageHandle Automation::form_browser_start(const std::string& address, const StartRecord& record) {
  std::string error;
  auto link = own_browser(&error);
  if (!link) {
    log("form_browser_start: " + error);
    return 0;
  }
  json params = {{"url", "about:blank"}, {"newWindow", true}};
  int width = 0, height = 0;
  if (parse_window_size(record.window_size, width, height)) {
    params["width"] = width;
    params["height"] = height;
  }
  auto created = link->client->call("Target.createTarget", params);
  if (!created.ok) {
    log("form_browser_start: " + created.error);
    return 0;
  }
  const std::string target = created.result.value("targetId", "");
  {
    std::lock_guard lock(link->mutex);
    link->known_targets.insert(target);
  }
  auto attached = link->client->call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}});
  if (!attached.ok) {
    log("form_browser_start: " + attached.error);
    return 0;
  }
  const std::string session = attached.result.value("sessionId", "");
  if (!record.user_agent.empty())
    link->client->call("Emulation.setUserAgentOverride", {{"userAgent", record.user_agent}}, session);
  std::vector<std::string> initial;
  {
    std::lock_guard lock(link->mutex);
    initial.swap(link->initial_targets);
  }
  for (const std::string& id : initial) link->client->call("Target.closeTarget", {{"targetId", id}});

  const PageHandle page = add_page(link, target, session);
  announce(link, page);
  if (!address.empty()) link->client->call("Page.navigate", {{"url", address}}, session);
  return page;
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
  auto reply = page->link->client->call("Network.enable", json::object(), page->session_id);
  if (!reply.ok) {
    std::lock_guard lock(page->mutex);
    page->network_enabled = false;
  }
  return reply.ok;
}

std::string Automation::form_get_page_url(PageHandle handle) {
  auto page = find_page(handle);
  if (!page || page->closed) return {};
  auto reply = page->link->client->call("Target.getTargetInfo", {{"targetId", page->target_id}});
  if (!reply.ok) return {};
  return reply.result.value("targetInfo", json::object()).value("url", "");
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
  const json result = reply.result.value("result", json::object());
  if (result.value("type", "") != "string") return {};
  return result.value("value", "");
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
  return page->link->client->call("Emulation.setUserAgentOverride", {{"userAgent", user_agent}},
                                  page->session_id).ok;
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
    if (stopped_) return false;
    if (attached_ && attached_->client->connected()) return true;
  }
  std::shared_ptr<Link> link;
  std::string error;
  for (const std::string& folder : platform::default_browser_profiles()) {
    if (auto endpoint = platform::read_devtools_active_port(folder))
      if ((link = connect_link(endpoint->port, endpoint->path, true, &error))) break;
  }
  if (!link) {
    if (auto version = platform::http_get("127.0.0.1", options_.fallback_port, "/json/version")) {
      const json info = json::parse(*version, nullptr, false);
      if (info.is_object()) {
        const std::string path = path_of_ws_url(info.value("webSocketDebuggerUrl", ""));
        if (!path.empty()) link = connect_link(options_.fallback_port, path, true, &error);
      }
    }
  }
  if (!link) {
    log("form_connect_started: no browser with remote debugging answers" + (error.empty() ? "" : " (" + error + ")"));
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return false;
    if (attached_) attached_->client->close();
    attached_ = link;
  }
  // Announces every existing page as a targetCreated event, and each new one later.
  auto discover = link->client->call("Target.setDiscoverTargets", {{"discover", true}});
  if (!discover.ok) log("form_connect_started: " + discover.error);
  return discover.ok;
}

void Automation::attach_discovered(const std::shared_ptr<Link>& link, const json& info) {
  if (info.value("type", "") != "page") return;
  const std::string target = info.value("targetId", "");
  if (target.empty() || info.value("url", "").rfind("devtools://", 0) == 0) return;
  {
    std::lock_guard lock(link->mutex);
    if (!link->known_targets.insert(target).second) return;
  }
  auto attached = link->client->call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}});
  if (!attached.ok) return;
  const PageHandle page = add_page(link, target, attached.result.value("sessionId", ""));
  announce(link, page);
}

void Automation::on_event(const std::shared_ptr<Link>& link, DevToolsEvent& event) {
  if (event.method == "Network.requestWillBeSent") {
    std::shared_ptr<Page> page;
    {
      std::lock_guard lock(mutex_);
      for (auto& [handle, p] : pages_)
        if (p->link == link && p->session_id == event.session_id) page = p;
    }
    if (page) on_request(page, event);
  } else if (event.method == "Target.targetCreated" && link->discover) {
    attach_discovered(link, event.params.value("targetInfo", json::object()));
  } else if (event.method == "Target.targetDestroyed" || event.method == "Target.detachedFromTarget") {
    const std::string target = event.params.value("targetId", "");
    const std::string session = event.params.value("sessionId", "");
    std::lock_guard lock(mutex_);
    for (auto& [handle, p] : pages_)
      if (p->link == link && ((!target.empty() && p->target_id == target) ||
                              (!session.empty() && p->session_id == session)))
        p->closed = true;
  }
}

void Automation::on_request(const std::shared_ptr<Page>& page, DevToolsEvent& event) {
  RequestHandler handler;
  const std::string request_id = event.params.value("requestId", "");
  {
    std::lock_guard lock(page->mutex);
    if (!page->handler) return;
    if (page->own_request_ids.count(request_id)) return;  // a redirect of our own request
    if (event.raw.find(own_tag_) != std::string::npos) {
      const json request = event.params.value("request", json::object());
      const std::string fragment = request.value("urlFragment", "");
      const std::string url = request.value("url", "");
      if (fragment.find(own_tag_) != std::string::npos || url.find(own_tag_) != std::string::npos) {
        page->own_request_ids.insert(request_id);
        return;
      }
    }
    handler = page->handler;
  }
  json* request = event.params.contains("request") ? &event.params["request"] : nullptr;
  if (request && request->is_object() && request->value("hasPostData", false) && !request->contains("postData")) {
    // Larger bodies are left out of the event: fetch the body so capture does not depend on size.
    auto body = page->link->client->call("Network.getRequestPostData", {{"requestId", request_id}},
                                         page->session_id);
    if (body.ok && body.result.contains("postData") && body.result["postData"].is_string()) {
      (*request)["postData"] = body.result["postData"];
      log("request body fetched: " + request_id);
      json message = {{"method", event.method}, {"params", event.params}};
      if (!event.session_id.empty()) message["sessionId"] = event.session_id;
      event.raw = message.dump(-1, ' ', false, json::error_handler_t::replace);
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
  if (own) own->client->stop_events();
  if (attached) attached->client->stop_events();
}

void Automation::shutdown() {
  stop_events();
  std::lock_guard start(start_mutex_);
  std::shared_ptr<Link> own, attached;
  std::string profile;
  {
    std::lock_guard lock(mutex_);
    own = std::move(own_);
    attached = std::move(attached_);
    pages_.clear();
    profile = profile_;
  }
  if (attached) attached->client->close();  // the user's browser stays open
  if (own) {
    own->client->call("Browser.close", json::object(), {}, 5s);
    own->client->close();
    if (own->process && !own->process->wait_exit(5000)) own->process->kill();
  }
  if (!profile.empty()) platform::remove_tree(profile);
}

}  // namespace qz::capture
