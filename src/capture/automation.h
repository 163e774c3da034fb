#pragma once
// The browser automation component: drives a Chrome, Edge or Chromium through its debugging
// protocol. Its entries keep the names the rest of the program knows them by; C++ types take
// the place of raw memory blocks (texts are std::string, a missing text block is "").
//
// A browser is started once, on the first form_browser_start, on one profile folder kept across
// runs (data/browser under the program folder, readable by the user alone, so a login holds),
// driven over the pipe it is started with on Linux (no port any other program could reach) and
// over a debugging port chosen by the browser and bound to loopback on Windows; later starts open
// new windows in it. form_connect_started attaches to a browser the user started with remote debugging instead.
//
// Every page a watched page opens (window.open, target=_blank) and every frame from another site
// is attached as it starts, before it sends anything, and gets the same profile and request
// subscription; in an attached browser every page is watched. Pages are announced to the page
// callback with a small page handle; a frame's requests count as its page's. Requests reach the
// request handler on the component's event thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "capture/devtools_client.h"
#include "platform/browser.h"

namespace qz::capture {

using PageHandle = std::int32_t;

// Gets the page handle (the component's other two arguments are not used by anyone).
using PageCallback = std::function<void(PageHandle page)>;
// Gets the page and the JSON text of its Network.requestWillBeSent message (top-level "params"),
// with request.postData filled in when the browser had left it out. A body over
// kMaxExaminedBody is left out instead: a page can send any size.
inline constexpr std::size_t kMaxExaminedBody = 1u << 20;
using RequestHandler = std::function<void(PageHandle page, std::string event_text)>;
using LogCallback = std::function<void(const std::string& line)>;

// The per-window settings of form_browser_start. A mobile agent brings a whole phone: client
// hints and touch (device_profile.h).
struct StartRecord {
  std::string user_agent;
  std::string window_size;  // "width,height", e.g. "600,760"
};

struct AutomationOptions {
  std::vector<std::string> browser_flags;  // extra switches, e.g. --no-sandbox when run as root
  bool headless = false;
  int fallback_port = 9222;     // form_connect_started when no DevToolsActivePort is found
  std::string browser_path;     // used when form_global_init gets ""
  // A request body the browser left out of its event is fetched only when the request's address
  // holds one of these: every other body is never read.
  std::vector<std::string> body_markers = {"liveplay"};
};

// Why the latest browser start or attach failed, for the user's message.
enum class BrowserProblem {
  none,
  no_browser,       // no browser was chosen or found
  cannot_start,     // the program could not be run
  no_display,       // a windowed browser without a display to show it on
  exited,           // it ended before opening its debugging port
  no_port,          // it runs but never opened its debugging port
  no_connection,    // its debugging port did not take the connection
  not_found,        // form_connect_started: no browser with remote debugging answered
};
struct BrowserFailure {
  BrowserProblem problem = BrowserProblem::none;
  std::string detail;  // the browser's path, what was tried, the system's reason
};

// What the capture handler needs from the component, so it can be tested without a browser.
class PageOperations {
 public:
  virtual ~PageOperations() = default;
  virtual std::string form_get_page_url(PageHandle page) = 0;
  virtual std::string form_ajax_lacal(PageHandle page, const std::string& address) = 0;
};

class Automation final : public PageOperations {
 public:
  static constexpr const char* kVersion = "5.5.32";

  explicit Automation(AutomationOptions options = {});
  ~Automation() override;  // shutdown()

  void form_set_run_dir(const std::string& program_folder);
  void form_logcall(LogCallback log);
  // Lines for the error log: dropped oversized messages, messages that could not be handled.
  void set_error_log(LogCallback log);
  // Told, on a thread of the component, when the browser this component started, or the one it
  // attached to, goes away without being asked to (it crashed, or the user closed it).
  void set_browser_gone(std::function<void()> on_gone);
  // ("owlform", "version", "") gives the component's version; anything else "".
  std::string form_common_api(const std::string& module, const std::string& name, const std::string& arg);
  // Chooses the browser ("" finds one, else the path as given) and keeps the page callback.
  // Non-zero when that browser exists.
  int form_global_init(const std::string& browser, PageCallback on_page);
  // Opens a window at `address` with the record's user agent and size; the page reaches the page
  // callback before it navigates. The page handle, or 0 when no page could be made.
  PageHandle form_browser_start(const std::string& address, const StartRecord& record);
  // Subscribes the page's outgoing requests to `handler`; false for an unknown or closed page.
  bool regevent_request_willbe_sent(PageHandle page, RequestHandler handler);
  // The page's address; "" for an unknown or closed page.
  std::string form_get_page_url(PageHandle page) override;
  // Body of a GET of `address` issued from inside the page, with the page's cookies; "" on any
  // failure. This request is not reported to the page's request handler.
  std::string form_ajax_lacal(PageHandle page, const std::string& address) override;
  // 1 while the page is open, else 0.
  int form_page_isactive(PageHandle page);
  bool form_custom_useragent(PageHandle page, const std::string& user_agent);
  bool form_forward_url(PageHandle page, const std::string& address);
  // Attaches to a browser the user started with remote debugging (a DevToolsActivePort in a
  // default profile, else 127.0.0.1 at the fallback port); its existing and new pages reach the
  // page callback. False when none answers (last_failure() names what was tried).
  bool form_connect_started();

  // Why the latest start (form_browser_start) or attach failed.
  BrowserFailure last_failure() const;

  // No request event or page callback is delivered after this returns.
  void stop_events();
  // stop_events(), and the connections are let go, so browser work under way gives up at once: a
  // start stops waiting, a call waiting for its reply fails. For closing, when that work has
  // taken longer than it may; shutdown() still follows.
  void cancel_browser_work();
  // stop_events(), then closes the browser this component started (its profile stays for the next
  // run) and leaves an attached browser running. Waits at most a few seconds for the browser.
  void shutdown();

  std::string profile_folder() const;

 private:
  struct Link;
  struct Page;

  void log(const std::string& line);
  void error_log(const std::string& line);
  void fail(BrowserProblem problem, const std::string& detail);
  std::shared_ptr<Link> own_browser();
  std::shared_ptr<Link> start_browser(const std::string& browser, const std::string& profile);
  std::shared_ptr<Link> start_piped_browser(const std::string& browser, const std::vector<std::string>& args);
  std::shared_ptr<Link> start_port_browser(const std::string& browser, const std::vector<std::string>& args,
                                           const std::string& profile);
  bool start_cancelled() const;
  bool pause_unless_stopped(std::chrono::milliseconds pause) const;  // false when stopped
  std::shared_ptr<Link> open_link(bool discover, const DevToolsClient::ChannelOpener& open_channel, std::string* error);
  std::shared_ptr<Link> connect_link(int port, const std::string& path, bool discover, std::string* error);
  bool watch_targets(const std::shared_ptr<Link>& link);
  void on_event(const std::shared_ptr<Link>& link, DevToolsEvent& event);
  void on_link_closed(const std::weak_ptr<Link>& link);
  void on_request(const std::shared_ptr<Page>& page, DevToolsEvent& event);
  void on_attached(const std::shared_ptr<Link>& link, const DevToolsEvent& event);
  void on_detached(const std::shared_ptr<Link>& link, const DevToolsEvent& event);
  void set_up_session(const std::shared_ptr<Page>& page, const std::string& session, bool network);
  // Gives one session of the page the agent's whole device profile; true when the browser took
  // the agent. "" keeps the browser's own agent.
  bool apply_agent(const std::shared_ptr<Page>& page, const std::string& session, const std::string& agent);
  std::shared_ptr<Page> add_page(const std::shared_ptr<Link>& link, const std::string& target_id,
                                 const std::string& session_id, const std::string& user_agent = {});
  std::shared_ptr<Page> find_page(PageHandle page);
  std::shared_ptr<Page> page_of_target(const std::shared_ptr<Link>& link, const std::string& target_id);
  std::shared_ptr<Page> page_of_session(const std::shared_ptr<Link>& link, const std::string& session_id);
  std::shared_ptr<Page> wait_for_target(const std::shared_ptr<Link>& link, const std::string& target_id);
  void announce(const std::shared_ptr<Page>& page);
  bool wants_body(const nlohmann::json& request) const;

  AutomationOptions options_;
  mutable std::mutex mutex_;
  std::condition_variable_any pages_cv_;  // a page has been added
  std::string program_folder_;
  std::string browser_;
  std::string profile_;
  PageCallback on_page_;
  LogCallback log_;
  LogCallback error_log_;
  std::function<void()> on_gone_;
  BrowserFailure failure_;
  std::shared_ptr<Link> own_;
  std::shared_ptr<Link> attached_;
  std::vector<std::shared_ptr<Page>> live_pages_;        // every attached page still open
  std::map<PageHandle, std::shared_ptr<Page>> pages_;  // the announced ones, by handle
  PageHandle next_page_ = 0;
  std::atomic<long long> own_requests_{0};
  std::string own_tag_;
  std::stop_source stopping_;  // stop_events(): no start, no delivery, no wait goes on
  std::mutex start_mutex_;  // one browser start at a time
};

}  // namespace qz::capture
