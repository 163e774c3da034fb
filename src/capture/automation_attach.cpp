// Attaching: a debugging connection to a browser, ours or one the user started, and its end.
#include "capture/automation.h"
#include "capture/automation_internals.h"

#include "platform/fs.h"
#include "platform/websocket.h"

namespace qz::capture {

using nlohmann::json;

namespace {

// "ws://127.0.0.1:9222/devtools/browser/<id>" -> "/devtools/browser/<id>"
std::string path_of_ws_url(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return {};
  const std::size_t slash = url.find('/', scheme + 3);
  return slash == std::string::npos ? std::string() : url.substr(slash);
}

}  // namespace

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

bool Automation::form_connect_started() {
  std::lock_guard start(start_mutex_);
  {
    std::lock_guard lock(mutex_);
    failure_ = {};
    if (stopping_.stop_requested()) return false;
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
    if (stopping_.stop_requested()) return false;
    if (attached_) {
      attached_->closing = true;
      attached_->client->close();
    }
    attached_ = link;
  }
  return watch_targets(link);
}

void Automation::on_link_closed(const std::weak_ptr<Link>& weak) {
  auto link = weak.lock();
  if (!link || link->closing) return;
  std::function<void()> gone;
  {
    std::lock_guard lock(mutex_);
    if (stopping_.stop_requested() || (link != own_ && link != attached_)) return;
    gone = on_gone_;
    for (auto& page : live_pages_)
      if (page->link == link) page->closed = true;
  }
  log("browser: the debugging connection has ended");
  if (gone) gone();
}

}  // namespace qz::capture
