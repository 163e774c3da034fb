#include "net/file_downloader.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/mapped_file.h"
#include "platform/range_download.h"

namespace qz::net {
namespace {

constexpr std::uint64_t kBlock = FileDownloader::kBlockSize;
// The longest run of blocks one request asks for: long enough that an answer delay of tens of
// milliseconds is small beside the run's transfer, short enough that the last runs balance.
constexpr std::uint64_t kMaxRunBlocks = 16;

enum State : int { kRunning = 0, kStopped = 1, kPaused = 2, kFailed = -1 };
// Blocks are written byte for byte where they belong and nothing decodes them, so no encoding is
// allowed: a server that obeyed "gzip" would put compressed bytes into the file.
constexpr const char* kHeaders =
    "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: identity\r\n"
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";

}  // namespace

struct DownloadTask {
  std::string user, url, target, temp;
  DownloadProgress progress;
  DownloadCheck check;
  int number = 0;
  std::uint64_t total = 0, block_count = 0;
  int max_workers = 1;
  platform::MappedFile file;

  std::mutex lock;  // guards everything below
  std::condition_variable changed;
  int state = kRunning;
  std::uint64_t handed_out = 0;  // blocks given to workers so far
  std::uint64_t downloaded = 0;
  bool ended = false;

  // Reports go out one at a time, so the downloaded bytes a caller sees never go backwards. A
  // separate lock from the one above, so a callback may pause or stop its own task.
  std::mutex report_lock;

  void report(int kind, std::int64_t t, std::int64_t d) {
    if (progress) progress(number, kind, t, d);
  }
  void fail() {
    std::lock_guard guard(lock);
    if (state == kRunning || state == kPaused) state = kFailed;
    changed.notify_all();
  }
};

namespace {

using Task = DownloadTask;

// The process-wide task lists, one per user. Every Download takes the next number, a failed one
// included; only tasks still going are kept, so a list holds no more than what runs at once.
struct TaskList {
  int numbered = 0;
  std::map<int, std::shared_ptr<Task>> going;
};
std::mutex g_lists_lock;
std::map<std::string, TaskList>& lists() {
  static auto* l = new std::map<std::string, TaskList>();
  return *l;
}

std::shared_ptr<Task> find_task(const std::string& user, int number) {
  std::lock_guard guard(g_lists_lock);
  const auto list = lists().find(user);
  if (list == lists().end()) return nullptr;
  const auto it = list->second.going.find(number);
  return it == list->second.going.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<Task>> all_tasks(const std::string& user) {
  std::vector<std::shared_ptr<Task>> out;
  std::lock_guard guard(g_lists_lock);
  if (const auto list = lists().find(user); list != lists().end())
    for (const auto& [number, task] : list->second.going) out.push_back(task);
  return out;
}

void let_go(const Task& task) {
  std::lock_guard guard(g_lists_lock);
  if (const auto list = lists().find(task.user); list != lists().end()) list->second.going.erase(task.number);
}

// Sets the state of a task that is still going; ended, failed and stopped tasks stay as they are
// (a stopped task's workers are already leaving and cannot be called back).
void control(const std::shared_ptr<Task>& task, int state) {
  if (!task) return;
  std::lock_guard guard(task->lock);
  if (task->ended || task->state == kFailed || task->state == kStopped) return;
  task->state = state;
  task->changed.notify_all();
}

bool parse_range_start(const std::string& content_range, std::uint64_t& start, std::uint64_t& end) {
  // "bytes a-b/total"
  std::size_t i = content_range.find_first_of("0123456789");
  if (i == std::string::npos || content_range.compare(0, 5, "bytes") != 0) return false;
  try {
    std::size_t used = 0;
    start = std::stoull(content_range.substr(i), &used);
    i += used;
    if (i >= content_range.size() || content_range[i] != '-') return false;
    end = std::stoull(content_range.substr(i + 1));
  } catch (...) {
    return false;
  }
  return true;
}

// How many blocks the next request asks for, with `left` blocks not yet handed out: about a
// quarter of a fair share each, so every connection gets several runs and the last ones are
// single blocks that end together.
std::uint64_t run_length(std::uint64_t left, int workers) {
  const std::uint64_t share = left / (static_cast<std::uint64_t>(workers) * 4);
  return std::clamp<std::uint64_t>(share, 1, std::min(kMaxRunBlocks, left));
}

void run_worker(Task& task) {
  platform::DownloadSession session;
  for (;;) {
    std::uint64_t k, run;
    {
      std::unique_lock guard(task.lock);
      task.changed.wait(guard, [&] { return task.state != kPaused; });
      if (task.state != kRunning || task.handed_out >= task.block_count) return;
      k = task.handed_out;
      run = run_length(task.block_count - k, task.max_workers);
      task.handed_out += run;
    }
    const std::uint64_t first = k * kBlock;
    const std::uint64_t expected = std::min(run * kBlock, task.total - first);
    const std::string headers = std::string(kHeaders) + "\r\nRange:bytes=" + std::to_string(first) + "-" +
                                std::to_string(first + run * kBlock - 1);
    std::uint64_t written = 0;
    bool bad = false;

    platform::DownloadSession::Callbacks callbacks;
    callbacks.on_reply = [&](const platform::DownloadReply& reply) {
      // Only the asked-for bytes may go into the file: an error page or a whole file sent by a
      // server that ignores ranges fails the task instead.
      std::uint64_t start = 0, end = 0;
      const bool ranged = reply.status == 206 && parse_range_start(reply.content_range, start, end) &&
                          start == first && end == first + expected - 1;
      const bool whole = reply.status == 200 && task.block_count == 1 &&
                         (!reply.content_length || *reply.content_length == task.total);
      bad = !(ranged || whole) || (reply.content_length && *reply.content_length != expected);
      return !bad;
    };
    callbacks.on_data = [&](const char* data, std::size_t n) {
      if (written + n > expected || !task.file.write_at(first + written, data, n)) {
        bad = true;
        return false;
      }
      written += n;
      {
        std::lock_guard report(task.report_lock);
        std::uint64_t downloaded;
        {
          std::lock_guard guard(task.lock);
          downloaded = task.downloaded += n;
        }
        // The report of the last bytes waits until the file is in place under its name.
        if (downloaded < task.total)
          task.report(kDownloadProgress, static_cast<std::int64_t>(task.total), static_cast<std::int64_t>(downloaded));
      }
      std::unique_lock guard(task.lock);
      task.changed.wait(guard, [&] { return task.state != kPaused; });
      return task.state == kRunning;
    };
    callbacks.cancelled = [&] {
      std::lock_guard guard(task.lock);
      return task.state == kStopped || task.state == kFailed;
    };

    const platform::FetchOutcome outcome = session.fetch(task.url, headers, callbacks);
    if (bad || (outcome == platform::FetchOutcome::Complete && written != expected) ||
        outcome == platform::FetchOutcome::Failed) {
      task.fail();
      return;
    }
    if (outcome == platform::FetchOutcome::Cancelled) return;  // stopped or failed elsewhere
  }
}

void run_coordinator(std::shared_ptr<Task> task) {
  std::vector<std::jthread> workers;
  for (int i = 0; i < task->max_workers; ++i) {
    try {
      workers.emplace_back([&t = *task] { run_worker(t); });
    } catch (const std::system_error&) {
      task->fail();
      break;
    }
  }
  workers.clear();  // joins them

  int state;
  std::uint64_t downloaded;
  {
    std::lock_guard guard(task->lock);
    state = task->state;
    downloaded = task->downloaded;
  }
  task->file.close();
  if (state == kRunning && (downloaded != task->total || (task->check && !task->check(task->temp)) ||
                            !platform::rename_replacing(task->temp, task->target)))
    state = kFailed;
  if (state != kRunning) platform::remove_file(task->temp);
  {
    std::lock_guard report(task->report_lock);
    const auto total = static_cast<std::int64_t>(task->total);
    if (state == kRunning) {
      task->report(kDownloadProgress, total, total);
      task->report(kDownloadFinished, total, static_cast<std::int64_t>(downloaded));
    } else if (state == kFailed) {
      task->report(kDownloadFailed, 0, 0);
    }
  }
  let_go(*task);  // before it counts as ended, so a caller who saw the end finds it gone
  std::lock_guard guard(task->lock);
  task->state = state;
  task->ended = true;
  task->progress = nullptr;  // the caller's callbacks are not kept alive past the task
  task->check = nullptr;
  task->changed.notify_all();
}

bool has_extension(const std::string& path) {
  const std::size_t sep = path.find_last_of(platform::kSep == '/' ? "/" : "\\/");
  const std::string last = sep == std::string::npos ? path : path.substr(sep + 1);
  return last.find('.') != std::string::npos;
}

}  // namespace

std::string FileDownloader::FileNameOf(const std::string& address) {
  std::string name = address;
  for (char& c : name)
    if (c == '\\') c = '/';
  if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) name = name.substr(slash + 1);
  if (const std::size_t q = name.find('?'); q != std::string::npos) name = name.substr(0, q);
  return name;
}

std::string FileDownloader::ResolveTarget(const std::string& url, const std::string& target_path) {
  if (has_extension(target_path)) return target_path;
  const std::string name = FileNameOf(platform::redirect_location(url).value_or(url));
  if (name.empty()) return {};
  std::string out = target_path;
  if (!out.empty() && out.back() != platform::kSep && out.back() != '/') out += platform::kSep;
  return out + name;
}

int FileDownloader::Download(const std::string& url, const std::string& target_path, int part_count,
                             DownloadProgress progress, const std::string& user, DownloadCheck check) {
  int number;
  {
    std::lock_guard guard(g_lists_lock);
    number = ++lists()[user].numbered;
  }

  const std::string target = ResolveTarget(url, target_path);
  if (target.empty()) return -1;
  const std::optional<platform::DownloadReply> probe = platform::probe_download(url, kHeaders);
  // The length must come from a real answer: an error page's length is not the file's.
  if (!probe || probe->status < 200 || probe->status > 299 || !probe->content_length || *probe->content_length == 0)
    return -1;

  auto task = std::make_shared<Task>();
  task->user = user;
  task->url = url;
  task->target = target;
  task->temp = target + ".part";
  task->progress = std::move(progress);
  task->check = std::move(check);
  task->number = number;
  task->total = *probe->content_length;
  task->block_count = (task->total + kBlock - 1) / kBlock;
  task->max_workers = static_cast<int>(std::min<std::uint64_t>(std::max(part_count, 1), task->block_count));
  if (!task->file.create(task->temp, task->total)) {
    platform::remove_file(task->temp);
    return -1;
  }
  {
    std::lock_guard guard(g_lists_lock);
    lists()[user].going[number] = task;
  }
  try {
    std::lock_guard guard(mutex_);
    JoinEnded();
    started_.push_back({task, std::jthread(run_coordinator, task)});
  } catch (const std::system_error&) {
    let_go(*task);
    task->file.close();
    platform::remove_file(task->temp);
    return -1;
  }
  return number;
}

FileDownloader::~FileDownloader() {
  std::vector<std::shared_ptr<Task>> mine;
  {
    std::lock_guard guard(mutex_);
    for (const Started& s : started_) mine.push_back(s.task);
  }
  for (const auto& task : mine) {
    std::lock_guard guard(task->lock);
    if (task->state == kPaused) {
      task->state = kStopped;
      task->changed.notify_all();
    }
  }
  Join();
}

void FileDownloader::RequestStop() {
  std::lock_guard guard(mutex_);
  for (const Started& s : started_) control(s.task, kStopped);
}

void FileDownloader::Join() {
  std::vector<Started> started;
  {
    std::lock_guard guard(mutex_);
    started.swap(started_);
  }
  started.clear();  // joins them
}

void FileDownloader::JoinEnded() {
  std::erase_if(started_, [](const Started& s) {
    std::lock_guard guard(s.task->lock);
    return s.task->ended;  // its thread is at its last lines: the join is short
  });
}

void FileDownloader::StopEveryTask() {
  std::vector<std::shared_ptr<Task>> every;
  {
    std::lock_guard guard(g_lists_lock);
    for (const auto& [user, list] : lists())
      for (const auto& [number, task] : list.going) every.push_back(task);
  }
  for (const auto& task : every) control(task, kStopped);
}

void FileDownloader::Pause(const std::string& user, int task) { control(find_task(user, task), kPaused); }
void FileDownloader::Stop(const std::string& user, int task) { control(find_task(user, task), kStopped); }
void FileDownloader::Resume(const std::string& user, int task) { control(find_task(user, task), kRunning); }
// Stopped and at once running again: for a task still going, the same as resuming it.
void FileDownloader::Restart(const std::string& user, int task) { control(find_task(user, task), kRunning); }

void FileDownloader::PauseAll(const std::string& user) {
  for (const auto& t : all_tasks(user)) control(t, kPaused);
}
void FileDownloader::StopAll(const std::string& user) {
  for (const auto& t : all_tasks(user)) control(t, kStopped);
}
void FileDownloader::ResumeAll(const std::string& user) {
  for (const auto& t : all_tasks(user)) control(t, kRunning);
}
void FileDownloader::RestartAll(const std::string& user) {
  for (const auto& t : all_tasks(user)) control(t, kRunning);
}

int FileDownloader::TaskCount(const std::string& user) const {
  std::lock_guard guard(g_lists_lock);
  const auto list = lists().find(user);
  return list == lists().end() ? 0 : list->second.numbered;
}

int FileDownloader::TasksGoing(const std::string& user) const { return static_cast<int>(all_tasks(user).size()); }

bool FileDownloader::Wait(const std::string& user, int task_number, int timeout_ms) const {
  const std::shared_ptr<Task> task = find_task(user, task_number);
  if (!task) return true;
  std::unique_lock guard(task->lock);
  return task->changed.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] { return task->ended; });
}

}  // namespace qz::net
