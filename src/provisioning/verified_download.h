#pragma once
// The one way the program fetches a file that it or the user will run (a tool, a new version of
// itself): the downloader writes under a temporary name, and the file takes its final name only
// when it is whole and, when a SHA-256 digest is known, only when its bytes match it. So no later
// start ever finds a broken or foreign program under that name.
#include <cstdint>
#include <functional>
#include <string>

#include "net/file_downloader.h"

namespace qz::provisioning {

struct VerifiedDownload {
  std::string address;
  std::string target;  // the final name in the program folder
  int parts = 1;       // connections at once
  std::string sha256;  // hex, any case; empty when the server offers none: the file is taken whole
  std::string user;    // the downloader's task list
};

// The downloader's report (task number, kind as net::kDownload*, total and downloaded bytes),
// with, on a failure, whether the bytes all arrived but were not the announced file.
using VerifiedProgress =
    std::function<void(int task, int kind, std::int64_t total, std::int64_t downloaded, bool digest_mismatch)>;

// Starts the download on `downloader`, which owns it (its Join or destructor waits for it).
// Returns the task number, or -1 when it could not start.
int start_verified_download(net::FileDownloader& downloader, const VerifiedDownload& download,
                            VerifiedProgress on_progress);

}  // namespace qz::provisioning
