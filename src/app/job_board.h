#pragma once
// The job board: every job of the program (a live recording, a replay download, a wait for a
// stream address, a watched room) by id, with its kind, title, state, parts, latest line and how
// it ended. Jobs report here from their own threads; every front end reads the board, none parses
// another's text.
//
// Two ways to read it, both thread-safe: a snapshot (job(), jobs()) with a change counter that a
// front end on a timer compares, and observers, told of each change as it happens on the writing
// thread. Observers are called without the board's lock held (an observer may read the board or
// report to it), one call at a time each, and never again once unsubscribed. The command line
// observes, so that it prints every line of a job, including those that follow each other
// faster than any poll.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qz::app {

using JobId = std::uint64_t;

enum class JobKind { LiveRecording, ReplayDownload, CaptureWait, WatchedRoom, ToolDownload };

enum class JobState { Starting, Running, Reconnecting, Stopping, Ended };

// How a job ended; None while it has not.
enum class JobEnding {
  None,
  Done,            // the tool finished its work
  Stopped,         // the user's stop, or the closing program
  GaveUp,          // a live stream stayed away longer than the reconnect time
  CannotWrite,     // the disk or the folder refused the file
  ToolMissing,     // no recording tool
  ToolFailed,      // the tool ended without a finished file
  BrowserMissing,  // no browser to open the page in
  BrowserFailed,   // the browser could not start, or went away
  NoAddress,       // no usable stream address (none came in time, or the one given is refused)
  Failed,          // the job met an error of the program's own
};

struct JobPart {
  std::string file;
  double seconds = 0;
  bool operator==(const JobPart&) const = default;
};

struct Job {
  JobId id = 0;
  JobKind kind = JobKind::LiveRecording;
  std::string title;  // the room or the address
  JobState state = JobState::Starting;
  std::vector<JobPart> parts;
  std::string line;     // the latest line the job said
  JobEnding ending = JobEnding::None;
};

struct JobChange {
  enum class What { Added, State, Line, Progress, Parts, Ended };
  JobId id = 0;
  What what = What::Added;
  // Line, Progress: the line; Added: the title.
  std::string text;
};

class JobBoard;

// An observer's place on the board; unsubscribes when it goes.
class JobSubscription {
 public:
  JobSubscription() = default;
  JobSubscription(JobSubscription&& other) noexcept;
  JobSubscription& operator=(JobSubscription&& other) noexcept;
  ~JobSubscription();
  // After this returns the observer is not running and is never called again (it may be called
  // from the observer itself).
  void unsubscribe();

 private:
  friend class JobBoard;
  struct Entry;
  JobSubscription(JobBoard* board, std::shared_ptr<Entry> entry) : board_(board), entry_(std::move(entry)) {}
  JobBoard* board_ = nullptr;
  std::shared_ptr<Entry> entry_;
};

class JobBoard {
 public:
  // Ended jobs kept for reading; older ones are forgotten, so a board that runs for weeks (rooms
  // recorded again and again) does not grow.
  static constexpr std::size_t kKeptEndedJobs = 64;

  JobBoard() = default;
  JobBoard(const JobBoard&) = delete;
  JobBoard& operator=(const JobBoard&) = delete;

  // A new job in state Starting.
  JobId add(JobKind kind, std::string title);

  // Each change below is ignored for an unknown or ended job.
  void set_state(JobId id, JobState state);
  // A line the job says; it becomes the job's latest line.
  void show_line(JobId id, const std::string& line);
  // A line that stands for a state (progress): observers replace the previous one with it.
  void show_progress(JobId id, const std::string& line);
  void set_parts(JobId id, std::vector<JobPart> parts);
  // Ends the job; the first ending wins (false for any later one). The state becomes Ended.
  bool end(JobId id, JobEnding ending);
  // Ends every job of `kind` still running, each after saying `line` (when not empty).
  void end_every(JobKind kind, JobEnding ending, const std::string& line);

  std::optional<Job> job(JobId id) const;
  std::vector<Job> jobs() const;  // oldest first

  // Grows by one with every change.
  std::uint64_t changes() const;
  // Waits until changes() differs from `seen` or `limit` has passed; the count then.
  std::uint64_t wait_for_change(std::uint64_t seen, std::chrono::milliseconds limit) const;

  // The subscription must not outlive the board, nor be ended while holding a lock the observer
  // takes (ending it waits for a call under way).
  [[nodiscard]] JobSubscription subscribe(std::function<void(const JobChange&)> observer);

 private:
  friend class JobSubscription;
  // Applies `change` to the job under the lock; false when the job is unknown or has ended.
  bool apply(JobId id, const std::function<void(Job&)>& change);
  void forget_old_ended();  // with mutex_ held
  void notify(const JobChange& change);
  void remove(const std::shared_ptr<JobSubscription::Entry>& entry);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<JobId, Job> jobs_;
  std::list<JobId> ended_;  // oldest ending first
  JobId next_id_ = 1;
  std::uint64_t changes_ = 0;

  std::mutex observers_mutex_;
  std::vector<std::shared_ptr<JobSubscription::Entry>> observers_;
};

}  // namespace qz::app
