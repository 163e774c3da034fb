#pragma once
// What the browser automation component keeps of each debugging connection and each page it
// watches. Shared by the files the component is made of (automation*.cpp), one per job, and by
// no one else.
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "capture/automation.h"
#include "capture/devtools_client.h"
#include "platform/browser.h"

namespace qz::capture {

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

// Every new page and frame waits for us before it runs, so its first request is seen too.
inline const nlohmann::json kAutoAttach = {{"autoAttach", true}, {"waitForDebuggerOnStart", true}, {"flatten", true}};

}  // namespace qz::capture
