// usage: qz_fetch <url> <target> [parts]
// Downloads through the File downloader and exits 0 when the file is whole, 1 otherwise.
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "net/file_downloader.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <url> <target> [parts]\n", argv[0]);
    return 2;
  }
  const int parts = argc > 3 ? std::stoi(argv[3]) : 3;
  std::mutex mutex;
  std::condition_variable done;
  int result = 2;  // still running
  qz::net::FileDownloader downloader;
  const int task = downloader.Download(argv[1], argv[2], parts, [&](int, int kind, std::int64_t, std::int64_t) {
    if (kind == qz::net::kDownloadProgress) return;
    std::lock_guard lock(mutex);
    result = kind == qz::net::kDownloadFinished ? 0 : 1;
    done.notify_all();
  }, "qz_fetch");
  if (task < 0) {
    std::fprintf(stderr, "the download could not start\n");
    return 1;
  }
  std::unique_lock lock(mutex);
  done.wait(lock, [&] { return result != 2; });
  downloader.Wait("qz_fetch", task, 60000);
  return result;
}
