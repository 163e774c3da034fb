#include "provisioning/verified_download.h"

#include <atomic>
#include <memory>

#include "app/text_util.h"
#include "net/sha256.h"

namespace qz::provisioning {

int start_verified_download(net::FileDownloader& downloader, const VerifiedDownload& download,
                            VerifiedProgress on_progress) {
  // Set on the downloader thread that checks the whole file, read by the failure report after it.
  auto mismatched = std::make_shared<std::atomic<bool>>(false);
  net::DownloadCheck check;
  if (!download.sha256.empty())
    check = [expected = app::ascii_lower(download.sha256), mismatched](const std::string& part) {
      if (net::sha256_of_file(part) == expected) return true;
      *mismatched = true;
      return false;
    };
  return downloader.Download(
      download.address, download.target, download.parts,
      [on_progress = std::move(on_progress), mismatched](int task, int kind, std::int64_t total,
                                                         std::int64_t downloaded) {
        if (on_progress) on_progress(task, kind, total, downloaded, kind == net::kDownloadFailed && *mismatched);
      },
      download.user, std::move(check));
}

}  // namespace qz::provisioning
