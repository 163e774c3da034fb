// The component's edge: its settings, the page API the rest of the program calls by its legacy
// names, and closing. Launching, attaching, target tracking, emulation and request filtering each
// have a file of their own (automation_*.cpp).
#include "capture/automation.h"
#include "capture/automation_internals.h"

#include <chrono>
#include <random>

namespace qz::capture {

using nlohmann::json;
using namespace std::chrono_literals;

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

bool Automation::form_forward_url(PageHandle handle, const std::string& address) {
  auto page = find_page(handle);
  if (!page || page->closed) return false;
  return page->link->client->call("Page.navigate", {{"url", address}}, page->session_id).ok;
}

void Automation::stop_events() {
  std::shared_ptr<Link> own, attached;
  {
    std::lock_guard lock(mutex_);
    stopping_.request_stop();  // wakes the waits for a page
    own = own_;
    attached = attached_;
  }
  if (own) own->client->stop_events();
  if (attached) attached->client->stop_events();
}

void Automation::cancel_browser_work() {
  stop_events();
  std::shared_ptr<Link> own, attached;
  {
    std::lock_guard lock(mutex_);
    own = own_;
    attached = attached_;
  }
  for (const auto& link : {own, attached}) {
    if (!link) continue;
    link->closing = true;
    link->client->close();
  }
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
