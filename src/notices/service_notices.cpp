#include "notices/service_notices.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "app/controls.h"
#include "app/desktop_shortcut.h"
#include "app/identity.h"
#include "app/logs.h"
#include "app/text_util.h"
#include "net/http_fetch.h"
#include "platform/executable.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text_codec.h"
#include "platform/tls_trust.h"
#include "platform/verified_get.h"
#include "provisioning/verified_download.h"
#include "net/file_downloader.h"

namespace qz::notices {
namespace {

using Values = std::map<std::string, std::string>;

struct Fetched {
  bool ok = false;
  std::string body;
  std::string status;  // HttpFetch's status or failure text
};

bool is_success(const std::string& status) { return !status.empty() && status[0] == '2'; }

// Probe files, the announcement and the pictures: plain GETs through HttpFetch, each capped at
// what its use can need.
Fetched plain_get(const std::string& url, std::size_t max_bytes = kMaxNoticeBytes) {
  net::HttpFetchRequest request;
  request.url = url;
  request.max_body_bytes = max_bytes;
  net::HttpFetchResponse response = net::HttpFetch(request);
  return {is_success(response.status), std::move(response.body), std::move(response.status)};
}

// JSON documents are UTF-8; a server that sends GBK is understood too.
std::string as_utf8(std::string bytes) {
  return platform::is_valid_utf8(bytes) ? bytes : platform::gbk_to_utf8(bytes);
}

std::string value_of(const std::optional<Values>& values, const std::string& key) {
  if (!values) return {};
  const auto it = values->find(key);
  return it == values->end() ? std::string() : it->second;
}

// The update index decides which program the user runs next: it comes only over a connection
// whose certificate checks out.
std::optional<Values> fetch_update_index(const std::string& url, const std::string& program_folder) {
  const platform::VerifiedGetResult got = platform::verified_get(url, kMaxNoticeBytes);
  if (got.too_large) app::write_run_log(program_folder, std::string("升级信息：") + net::kBodyTooLargeText);
  if (!got.ok || got.status < 200 || got.status > 299) return std::nullopt;
  return read_text_values(as_utf8(got.body));
}

// The server names the file the update writes into the program folder: a bare file name only,
// so an index cannot place a file anywhere else.
bool is_plain_file_name(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == '/' || c == '\\' || c == ':') return false;
  return true;
}

// Plain decimal with at most two fraction digits, trailing zeros dropped: 1, 0.5, 33.33.
std::string plain_number(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  std::string text = buffer;
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text == "-0" ? "0" : text;
}

}  // namespace

bool is_web_address(std::string_view link) {
  // The scheme in lower case, as the maker's servers write it; "HTTP://" is shown, not opened.
  std::string_view rest;
  for (std::string_view scheme : {"http://", "https://"})
    if (link.substr(0, scheme.size()) == scheme) rest = link.substr(scheme.size());
  if (rest.empty()) return false;
  // No blank, control character or backslash anywhere: the shell would read them its own way.
  for (unsigned char c : link)
    if (c <= 0x20 || c == 0x7f || c == '\\' || c == '"') return false;
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  std::string_view host = authority;
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    host = host.substr(1, close - 1);
    for (char c : host)
      if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.')) return false;
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && (after.front() != ':' || after.find_first_not_of("0123456789", 1) != std::string_view::npos))
      return false;
    return true;
  }
  if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
    if (host.find_first_not_of("0123456789", colon + 1) != std::string_view::npos) return false;
    host = host.substr(0, colon);
  }
  if (host.empty() || host.front() == '.' || host.front() == '-') return false;
  for (unsigned char c : host)
    if (!(std::isalnum(c) || c == '.' || c == '-' || c == '_' || c >= 0x80)) return false;
  return true;
}

bool is_gif_picture(std::string_view bytes) {
  return bytes.size() <= kMaxAdvertBytes && (bytes.substr(0, 6) == "GIF87a" || bytes.substr(0, 6) == "GIF89a");
}

std::string cut_notice_text(std::string_view utf8, std::size_t max_chars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (chars++ == max_chars) return std::string(utf8.substr(0, i));
  }
  return std::string(utf8);
}

std::optional<Values> read_text_values(std::string_view body) {
  const nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
  if (document.is_discarded() || !document.is_object()) return std::nullopt;
  Values values;
  for (const auto& [key, value] : document.items())
    if (value.is_string()) values[key] = value.get<std::string>();
  return values;
}

std::string update_progress_text(std::int64_t total, std::int64_t downloaded) {
  const double percent = total > 0 ? static_cast<double>(downloaded) / static_cast<double>(total) * 100 : 0;
  return "已下载：" + plain_number(static_cast<double>(downloaded) / 1024) + "kb/" +
         plain_number(static_cast<double>(total) / 1024) + "kb\r\n进度：" + plain_number(percent) + "%";
}

bool wants_drive_c_advice(std::string_view program_folder) {
  return !program_folder.empty() && program_folder[0] == 'C';
}

ServiceNotices::ServiceNotices(app::Context& ctx, ThreadStarter start_thread, net::FileDownloader& downloader)
    : ctx_(ctx), start_thread_(std::move(start_thread)), downloader_(downloader) {}

void ServiceNotices::start() {
  auto self = shared_from_this();
  start_thread_([self] { self->run_version_thread(); });
  start_thread_([self] { self->run_announcement_thread(); });
}

std::string ServiceNotices::index_address(const std::string& base) const {
  return base + app::kSoftwareId + "/index.json";
}

void ServiceNotices::run_version_thread() {
  const std::string version = app::kVersion;
  platform::set_extra_ca_file(ctx_.config.ca_file);
  app::write_run_log(ctx_.program_folder, "显示版本号" + version);
  ctx_.window.set_text(app::kNoticePart0, "版本v" + version);

  // "1" the running version is the offered one, "0" another is offered, "-1" nothing is offered
  // (no index, no JSON object, or no version in it): then there is nothing to update to.
  const std::optional<Values> index = fetch_update_index(index_address(ctx_.config.update_primary), ctx_.program_folder);
  const std::string offered = value_of(index, "版本");
  const std::string result = offered.empty() ? "-1" : offered == version ? "1" : "0";
  app::write_run_log(ctx_.program_folder, "版本检查结果1是最新版：" + result);

  if (wants_drive_c_advice(ctx_.program_folder)) {
    ctx_.window.set_visible(app::kUpdateLabel, true);
    ctx_.window.set_text(app::kUpdateLabel, kDriveCAdvice);
  }

  net::HttpFetchRequest request;
  request.url = ctx_.config.quote_url + "?encode=text";
  request.max_body_bytes = kMaxNoticeBytes;
  const net::HttpFetchResponse quote = net::HttpFetch(request);
  std::string text;
  if (is_success(quote.status)) text = platform::is_valid_utf8(quote.body) ? quote.body : quote.text;
  else if (quote.status == net::kBodyTooLargeText) app::write_run_log(ctx_.program_folder, "每日一句：" + quote.status);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  ctx_.window.set_text(app::kNoticePart2, "   " + cut_notice_text(text));

  // Last: its prompt waits for the user, and neither the advice nor the quote should wait with it.
  if (result == "0") run_update_flow();
}

ProbeResult ServiceNotices::probe_servers() const {
  const std::pair<std::string, const char*> servers[] = {
      {ctx_.config.update_primary, "华北多线服务器正常"},
      {ctx_.config.update_mirror1, "广州服务器正常"},
      {ctx_.config.update_mirror2, "上海服务器正常"},
  };
  for (const auto& [base, message] : servers) {
    const Fetched probe = plain_get(base + "test.txt");
    if (probe.ok && probe.body == "ok") return {base, message};
  }
  return {ctx_.config.update_primary, "服务器异常，尝试使用多线服务器连接"};
}

void ServiceNotices::run_update_flow() {
  platform::set_extra_ca_file(ctx_.config.ca_file);
  const ProbeResult probe = probe_servers();
  ctx_.window.set_text(app::kNoticePart1, probe.message);
  {
    std::lock_guard lock(mutex_);
    base_ = probe.base;
  }

  app::write_run_log(ctx_.program_folder, "启动升级程序检查");
  const std::optional<Values> index = fetch_update_index(index_address(probe.base), ctx_.program_folder);
  app::write_run_log(ctx_.program_folder, "升级文件获取到数据");
  const std::string version = value_of(index, "版本");
  const std::string notes = value_of(index, "更新说明");
  const std::string file_name = value_of(index, "文件名");
  const std::string address = value_of(index, "下载地址");
  // Nothing to offer: no prompt with empty fields, no download of nothing.
  if (version.empty() || address.empty() || !is_plain_file_name(file_name)) return;
  // The file becomes the program the user runs next: it comes over a verified connection or not
  // at all.
  if (!platform::is_https_address(address)) {
    app::write_run_log(ctx_.program_folder, "升级地址不是https，不下载");
    ctx_.window.set_visible(app::kUpdateLabel, true);
    ctx_.window.set_text(app::kUpdateLabel, kUpdateFailedText);
    return;
  }
  const std::string target =
      net::FileDownloader::ResolveTarget(address, ctx_.path(file_name));
  const auto slash = target.find_last_of("/\\");
  if (!is_plain_file_name(slash == std::string::npos ? target : target.substr(slash + 1))) return;

  app::write_run_log(ctx_.program_folder, "提醒用户升级");
  app::MessageBoxRequest box;
  box.text = "发现新版本：v" + version + "，更新内容：\r\n" + notes;
  box.caption = "发现新版本，是否更新";
  box.buttons = app::MessageButtons::OkCancel;
  if (ctx_.desktop.message_box(box) != app::MessageReply::Ok) return;

  ctx_.window.set_text(app::kUpdateLabel, "开始更新");
  const std::string expected = value_of(index, "sha256");
  {
    std::lock_guard lock(mutex_);
    target_path_ = target;
  }
  ctx_.window.set_text(app::kOpenNewVersionButton, "打开：" + file_name);
  // The download outlives this flow: its reports reach this object only while it exists.
  std::weak_ptr<ServiceNotices> weak = weak_from_this();
  // The file becomes the program the user runs next: one that is not the announced file never
  // lands in the program folder.
  const int task = provisioning::start_verified_download(
      downloader_, {address, target, 2, expected, kUpdateUser},
      [weak](int number, int kind, std::int64_t total, std::int64_t downloaded, bool) {
        if (const auto self = weak.lock()) self->on_update_progress(number, kind, total, downloaded);
      });
  if (task < 0) ctx_.window.set_text(app::kUpdateLabel, kUpdateFailedText);
  std::lock_guard lock(mutex_);
  update_task_ = task < 0 ? downloader_.TaskCount(kUpdateUser) : task;
}

void ServiceNotices::on_update_progress(int, int kind, std::int64_t total, std::int64_t downloaded) {
  if (kind == net::kDownloadFailed) {
    ctx_.window.set_text(app::kUpdateLabel, kUpdateFailedText);
    return;
  }
  ctx_.window.set_text(app::kUpdateLabel, update_progress_text(total, downloaded));
  // Only the downloader's word that the file is whole under its final name completes the update;
  // a progress figure of 100 does not.
  if (kind == net::kDownloadFinished) finish_update(total, downloaded);
}

void ServiceNotices::finish_update(std::int64_t, std::int64_t) {
  ctx_.window.set_text(app::kUpdateLabel, "更新结束");
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const std::string target = update_target();
  ctx_.window.set_visible(app::kOpenNewVersionButton, true);
  const std::optional<std::uint64_t> size = platform::file_size(target);
  if (!size || *size < 20) {
    ctx_.window.set_text(app::kUpdateLabel, kUpdateFailedText);
    return;
  }
  app::ShortcutRequest shortcut;
  shortcut.name = app::kTitle;
  shortcut.target = target;
  app::create_desktop_shortcut(shortcut);
}

void ServiceNotices::on_open_new_version() {
  const std::string target = update_target();
  if (target.empty() || !platform::file_exists(target)) return;
  platform::make_executable(target);
  // The new version replaces this one, so it must outlive it.
  platform::ProcessOptions options;
  options.program = target;
  options.streams = platform::Streams::kNone;
  options.when_we_end = platform::WhenWeEnd::kKeepRunning;
  options.hidden_window = false;
  if (!platform::start_detached(options)) {
    // The old program stays when the new one cannot start.
    ctx_.window.set_text(app::kUpdateLabel, kUpdateFailedText);
    return;
  }
  auto self = shared_from_this();
  ctx_.desktop.post([self] {
    if (self->close_program) self->close_program();
  }, 2000);
}

void ServiceNotices::run_announcement_thread() {
  const std::string primary = ctx_.config.update_primary;
  const Fetched document = plain_get(primary + "gonggao.json");
  if (document.status == net::kBodyTooLargeText)
    app::write_run_log(ctx_.program_folder, "公告：" + document.status);
  const std::optional<Values> values =
      document.ok ? read_text_values(as_utf8(document.body)) : std::nullopt;
  if (values) ctx_.window.set_text(app::kNoticePart2, cut_notice_text(value_of(values, "all")));
  const std::string link = value_of(values, "ad1url");

  std::mt19937 random(static_cast<std::mt19937::result_type>(
      std::chrono::system_clock::now().time_since_epoch().count()));
  const int n = std::uniform_int_distribution<int>(1, 17)(random);
  // Only a GIF goes to the system's picture reader: other bytes are not shown.
  const Fetched picture = plain_get(primary + "tool/ad" + std::to_string(n) + ".gif", kMaxAdvertBytes);
  if (picture.ok && is_gif_picture(picture.body)) ctx_.window.set_picture(app::kAdvertPicture, picture.body);
  std::lock_guard lock(mutex_);
  advert_link_ = link;
}

void ServiceNotices::on_advert_clicked() {
  const std::string link = advert_link();
  if (link.empty()) return;
  if (is_web_address(link)) {
    ctx_.desktop.open_with_default_handler(link);
    return;
  }
  app::MessageBoxRequest box;
  box.text = link;
  ctx_.desktop.message_box(box);
}

int ServiceNotices::update_task() const {
  std::lock_guard lock(mutex_);
  return update_task_;
}

std::string ServiceNotices::update_target() const {
  std::lock_guard lock(mutex_);
  return target_path_;
}

std::string ServiceNotices::advert_link() const {
  std::lock_guard lock(mutex_);
  return advert_link_;
}

}  // namespace qz::notices
