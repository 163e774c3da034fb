// Target tracking: the pages and frames the browser attaches, their sessions, and their end.
#include "capture/automation.h"
#include "capture/automation_internals.h"

#include <chrono>

namespace qz::capture {

using nlohmann::json;
using namespace std::chrono_literals;

void Automation::on_event(const std::shared_ptr<Link>& link, DevToolsEvent& event) {
  if (event.method == "Network.requestWillBeSent") {
    if (auto page = page_of_session(link, event.session_id)) on_request(page, event);
  } else if (event.method == "Target.attachedToTarget") {
    on_attached(link, event);
  } else if (event.method == "Target.targetDestroyed" || event.method == "Target.detachedFromTarget") {
    on_detached(link, event);
  }
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
  pages_cv_.wait_for(lock, stopping_.get_token(), 5s, [&] {
    for (auto& page : live_pages_)
      if (page->link == link && page->target_id == target_id) found = page;
    return found != nullptr;
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

void Automation::set_up_session(const std::shared_ptr<Page>& page, const std::string& session, bool network) {
  DevToolsClient& client = *page->link->client;
  if (network) client.call("Network.enable", json::object(), session);
  client.call("Target.setAutoAttach", kAutoAttach, session);
}

}  // namespace qz::capture
