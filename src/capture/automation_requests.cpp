// Request filtering: a page's outgoing requests on their way to its handler, without the
// component's own requests, with a body the browser left out fetched when it matters.
#include "capture/automation.h"
#include "capture/automation_internals.h"

namespace qz::capture {

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

// The event's text again after its params changed.
std::string dump_event(const DevToolsEvent& event) {
  json message = {{"method", event.method}, {"params", event.params}};
  if (!event.session_id.empty()) message["sessionId"] = event.session_id;
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

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

}  // namespace qz::capture
