// Emulation: the device profile (agent, client hints, touch) a page and its frames present.
#include "capture/automation.h"
#include "capture/automation_internals.h"

#include "capture/device_profile.h"

namespace qz::capture {

bool Automation::apply_agent(const std::shared_ptr<Page>& page, const std::string& session, const std::string& agent) {
  if (agent.empty()) return true;  // the browser's own agent stays
  DevToolsClient& client = *page->link->client;
  const bool ok = client.call("Emulation.setUserAgentOverride", user_agent_override(agent), session).ok;
  client.call("Emulation.setTouchEmulationEnabled", touch_emulation(agent), session);
  return ok;
}

bool Automation::form_custom_useragent(PageHandle handle, const std::string& user_agent) {
  auto page = find_page(handle);
  if (!page || page->closed) return false;
  {
    std::lock_guard lock(page->mutex);
    page->user_agent = user_agent;  // for the frames and pages it brings later
  }
  std::set<std::string> sessions;
  {
    std::lock_guard lock(mutex_);
    sessions = page->sessions;
  }
  for (const std::string& session : sessions)
    if (session != page->session_id) apply_agent(page, session, user_agent);
  return apply_agent(page, page->session_id, user_agent);  // the page's own session last
}

}  // namespace qz::capture
