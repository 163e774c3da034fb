#pragma once
// The browser automation component: drives a Chrome, Edge or Chromium through its debugging
// protocol. Its entries keep the names the rest of the program knows them by; C++ types take
// the place of raw memory blocks (texts are std::string, a missing text block is "").
//
// A browser is started once, on the first form_browser_start, with its own per-run profile folder
// under the program folder (readable by the user alone) and a debugging port chosen by the browser
// and bound to loopback; later starts open new windows in it. form_connect_started attaches to a
// browser the user started with remote debugging instead. Every page is announced to the page
// callback with a small page handle; subscribed pages deliver each request they are about to send
// to their request handler, on the component's event thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "capture/devtools_client.h"
#include "platform/browser.h"

namespace qz::capture {

using PageHandle = std::int32_t;

// Gets the page handle (the component's other two arguments are not used by anyone).
using PageCallback = std::function<void(PageHandle page)>;
// Gets the page and the JSON text of its Network.requestWillBeSent message (top-level "params"),
// with request.postData filled in when the browser had left it out.
using RequestHandler = std::function<void(PageHandle page, std::string event_text)>;
using LogCallback = std::function<void(const std::string& line)>;

// The per-window settings of form_browser_start.
struct StartRecord {
  std::string user_agent;
  std::string window_size;  // "width,height", e.g. "600,760"
};

struct AutomationOptions {
  std::vector<std::string> browser_flags;  // extra switches, e.g. --no-sandbox when run as root
  bool headless = false;
  int fallback_port = 9222;     // form_connect_started when no DevToolsActivePort is found
  std::string browser_path;     // used when form_global_init gets ""
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
  // page callback. False when none answers.
  bool form_connect_started();

  // No request event or page callback is delivered after this returns.
  void stop_events();
  // stop_events(), then closes the browser this component started (its profile folder goes with
  // it) and leaves an attached browser running.
  void shutdown();

  std::string profile_folder() const;

 private:
  struct Link;
  struct Page;

  void log(const std::string& line);
  std::shared_ptr<Link> own_browser(std::string* error);
  std::shared_ptr<Link> connect_link(int port, const std::string& path, bool discover, std::string* error);
  void on_event(const std::shared_ptr<Link>& link, DevToolsEvent& event);
  void on_request(const std::shared_ptr<Page>& page, DevToolsEvent& event);
  void attach_discovered(const std::shared_ptr<Link>& link, const nlohmann::json& info);
  PageHandle add_page(const std::shared_ptr<Link>& link, const std::string& target_id,
                      const std::string& session_id);
  std::shared_ptr<Page> find_page(PageHandle page);
  void announce(const std::shared_ptr<Link>& link, PageHandle page);

  AutomationOptions options_;
  mutable std::mutex mutex_;
  std::string program_folder_;
  std::string browser_;
  std::string profile_;
  PageCallback on_page_;
  LogCallback log_;
  std::shared_ptr<Link> own_;
  std::shared_ptr<Link> attached_;
  std::map<PageHandle, std::shared_ptr<Page>> pages_;
  PageHandle next_page_ = 0;
  std::atomic<long long> own_requests_{0};
  std::string own_tag_;
  bool stopped_ = false;
  std::mutex start_mutex_;  // one browser start at a time
};

}  // namespace qz::capture
