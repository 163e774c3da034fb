#pragma once
// The File downloader: fetches one file over HTTP in 1 MiB ranged blocks on several connections
// at once, writing each block straight into the target file. A worker asks for a run of
// consecutive blocks in one ranged request while many blocks are left, so a far server's answer
// delay is paid once per run rather than once per block; runs shrink towards the end so the
// connections finish together. Download returns at once; the work
// goes on in a coordinator thread and its block workers, and the caller hears of it through the
// progress callback.
//
// Every task belongs to a user (a name such as "provisioning" or "update"); each user has one
// process-wide task list. Every Download takes the next number in its user's list, from 1, a
// failed one included. A task is let go of as it ends: its number stays taken, and control
// operations on it do nothing.
//
// The file is written under a temporary name beside the target and renamed when every block is
// in, so "the target exists" always means "the target is whole". A failed or stopped task removes
// the temporary file and leaves no target.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qz::net {

// Kinds of progress report.
inline constexpr int kDownloadProgress = 1;  // downloaded bytes so far (from a block worker)
inline constexpr int kDownloadFinished = 0;  // the target is whole and in place
inline constexpr int kDownloadFailed = -1;   // the task failed; both sizes are 0

// (task number, kind, total bytes, downloaded bytes). Runs on a downloader thread, one report at a
// time per task; it may call the control operations but must not wait for the task to end.
using DownloadProgress = std::function<void(int task, int kind, std::int64_t total, std::int64_t downloaded)>;

// Asked on a downloader thread with the path of the whole temporary file before it takes the
// target's name; false deletes it and fails the task (say, a digest that does not match), so a
// file that is not the right one never lands under the target's name.
using DownloadCheck = std::function<bool(const std::string& part_path)>;

// A task's record; it lives as long as the task list that holds it.
struct DownloadTask;

// Each task's coordinator thread belongs to the FileDownloader object that started it: the object
// joins it when it goes, so no report reaches a caller's objects after the downloader is gone.
class FileDownloader {
 public:
  static constexpr std::uint64_t kBlockSize = 1048576;

  FileDownloader() = default;
  FileDownloader(const FileDownloader&) = delete;
  FileDownloader& operator=(const FileDownloader&) = delete;
  // Waits until every task this object started has ended (Join); a task it started that is paused
  // is stopped first, since nothing could resume it once its owner is gone.
  ~FileDownloader();

  // Stops every task this object started that is still going; Join then returns promptly.
  void RequestStop();
  // Waits until every task this object started has ended and joins their coordinator threads.
  void Join();
  // Stops every task of every user and every object: the program is closing.
  static void StopEveryTask();

  // Starts fetching `url` into `target_path` with at most `part_count` connections. A target
  // without an extension is taken as a folder and gets the address's file name (after one
  // redirect). Returns the task number in the user's list, or -1 when the task cannot start (no
  // connection, no or zero Content-Length, target not writable); -1 still takes a number.
  int Download(const std::string& url, const std::string& target_path, int part_count,
               DownloadProgress progress, const std::string& user = "", DownloadCheck check = nullptr);

  // Control operations for one task of a user (by number) or for all of them. A number outside the
  // list, a failed Download or a task that has ended is left alone, and so is a task once stopped
  // or failed: its workers are already leaving, so it cannot be resumed.
  void Pause(const std::string& user, int task);
  void PauseAll(const std::string& user);
  void Stop(const std::string& user, int task);  // ends the task; no final report
  void StopAll(const std::string& user);
  void Resume(const std::string& user, int task);
  void ResumeAll(const std::string& user);
  void Restart(const std::string& user, int task);  // stopped and at once running again
  void RestartAll(const std::string& user);

  // Numbers the user's list has given out (the latest task's number).
  int TaskCount(const std::string& user) const;
  // Tasks of the user that have not ended yet.
  int TasksGoing(const std::string& user) const;
  // Waits until the task has ended (finished, failed or stopped and cleaned up); false on timeout.
  // An unknown or failed task counts as ended.
  bool Wait(const std::string& user, int task, int timeout_ms) const;

  // The path a Download of `url` into `target_path` writes: the target itself when its last
  // component has an extension, else the target joined with the address's file name.
  static std::string ResolveTarget(const std::string& url, const std::string& target_path);
  // The file name of an address: after the last "/" (or "\"), before the first "?".
  static std::string FileNameOf(const std::string& address);

 private:
  struct Started {
    std::shared_ptr<DownloadTask> task;
    std::jthread coordinator;  // joined when the entry goes
  };
  void JoinEnded();  // with mutex_ held: the tasks that have ended leave started_

  std::mutex mutex_;  // guards started_: Download may run on several threads at once
  std::vector<Started> started_;
};

}  // namespace qz::net
