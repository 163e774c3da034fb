#pragma once
// HTTP reads for the File downloader: WinINet on Windows, libcurl elsewhere. Redirects are
// followed. Header text is "Name: value" lines joined by "\r\n".
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qz::platform {

struct DownloadReply {
  int status = 0;                               // HTTP status of the final answer
  std::optional<std::uint64_t> content_length;  // nothing when the answer has none
  std::string content_range;                    // "bytes a-b/total" or ""
};

// Opens the address, reads the answer's status and Content-Length, and closes it without
// reading the body. Nothing when the address cannot be reached.
std::optional<DownloadReply> probe_download(const std::string& url, const std::string& headers);

// The Location header of the address's own answer, redirects not followed; nothing when there is
// none or the address cannot be reached.
std::optional<std::string> redirect_location(const std::string& url);

enum class FetchOutcome { Complete, Failed, Cancelled };

// One worker's connection, reused from block to block.
class DownloadSession {
 public:
  DownloadSession();
  ~DownloadSession();
  DownloadSession(const DownloadSession&) = delete;
  DownloadSession& operator=(const DownloadSession&) = delete;

  struct Callbacks {
    std::function<bool(const DownloadReply&)> on_reply;        // once, before any data; false cancels
    std::function<bool(const char*, std::size_t)> on_data;     // each chunk read; false cancels
    std::function<bool()> cancelled;                           // polled while waiting for data
  };
  // A GET of the address with the headers; Complete when the whole body has been handed over.
  FetchOutcome fetch(const std::string& url, const std::string& headers, const Callbacks& callbacks);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qz::platform
