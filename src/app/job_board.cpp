#include "app/job_board.h"

#include <algorithm>
#include <utility>

namespace qz::app {

struct JobSubscription::Entry {
  explicit Entry(std::function<void(const JobChange&)> o) : observer(std::move(o)) {}
  // Held during each call: calls to one observer never overlap, and unsubscribing waits for the
  // call under way. Recursive, so that an observer may unsubscribe itself.
  std::recursive_mutex calling;
  bool active = true;  // guarded by `calling`
  std::function<void(const JobChange&)> observer;
};

JobSubscription::JobSubscription(JobSubscription&& other) noexcept
    : board_(std::exchange(other.board_, nullptr)), entry_(std::move(other.entry_)) {}

JobSubscription& JobSubscription::operator=(JobSubscription&& other) noexcept {
  if (this != &other) {
    unsubscribe();
    board_ = std::exchange(other.board_, nullptr);
    entry_ = std::move(other.entry_);
  }
  return *this;
}

JobSubscription::~JobSubscription() { unsubscribe(); }

void JobSubscription::unsubscribe() {
  if (!entry_) return;
  {
    std::lock_guard lock(entry_->calling);
    entry_->active = false;
  }
  board_->remove(entry_);
  entry_.reset();
  board_ = nullptr;
}

JobId JobBoard::add(JobKind kind, std::string title) {
  Job job;
  job.kind = kind;
  job.title = std::move(title);
  {
    std::lock_guard lock(mutex_);
    job.id = next_id_++;
    jobs_.emplace(job.id, job);
    ++changes_;
  }
  changed_.notify_all();
  notify({job.id, JobChange::What::Added, job.title});
  return job.id;
}

bool JobBoard::apply(JobId id, const std::function<void(Job&)>& change) {
  {
    std::lock_guard lock(mutex_);
    const auto it = jobs_.find(id);
    if (it == jobs_.end() || it->second.state == JobState::Ended) return false;
    change(it->second);
    if (it->second.state == JobState::Ended) {
      ended_.push_back(id);
      forget_old_ended();
    }
    ++changes_;
  }
  changed_.notify_all();
  return true;
}

void JobBoard::forget_old_ended() {
  while (ended_.size() > kKeptEndedJobs) {
    jobs_.erase(ended_.front());
    ended_.pop_front();
  }
}

void JobBoard::set_state(JobId id, JobState state) {
  // Only an ending makes a job Ended: it carries how.
  if (state == JobState::Ended) return;
  if (apply(id, [state](Job& job) { job.state = state; })) notify({id, JobChange::What::State, {}});
}

void JobBoard::show_line(JobId id, const std::string& line) {
  if (apply(id, [&line](Job& job) { job.line = line; })) notify({id, JobChange::What::Line, line});
}

void JobBoard::show_progress(JobId id, const std::string& line) {
  if (apply(id, [&line](Job& job) { job.line = line; })) notify({id, JobChange::What::Progress, line});
}

void JobBoard::set_parts(JobId id, std::vector<JobPart> parts) {
  if (apply(id, [&parts](Job& job) { job.parts = std::move(parts); })) notify({id, JobChange::What::Parts, {}});
}

bool JobBoard::end(JobId id, JobEnding ending) {
  if (ending == JobEnding::None) return false;
  const bool ended = apply(id, [ending](Job& job) {
    job.ending = ending;
    job.state = JobState::Ended;
  });
  if (ended) notify({id, JobChange::What::Ended, {}});
  return ended;
}

void JobBoard::end_every(JobKind kind, JobEnding ending, const std::string& line) {
  std::vector<JobId> running;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, job] : jobs_)
      if (job.kind == kind && job.state != JobState::Ended) running.push_back(id);
  }
  for (JobId id : running) {
    if (!line.empty()) show_line(id, line);
    end(id, ending);
  }
}

std::optional<Job> JobBoard::job(JobId id) const {
  std::lock_guard lock(mutex_);
  const auto it = jobs_.find(id);
  if (it == jobs_.end()) return std::nullopt;
  return it->second;
}

std::vector<Job> JobBoard::jobs() const {
  std::lock_guard lock(mutex_);
  std::vector<Job> all;
  all.reserve(jobs_.size());
  for (const auto& [id, job] : jobs_) all.push_back(job);
  return all;
}

std::uint64_t JobBoard::changes() const {
  std::lock_guard lock(mutex_);
  return changes_;
}

std::uint64_t JobBoard::wait_for_change(std::uint64_t seen, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, limit, [&] { return changes_ != seen; });
  return changes_;
}

JobSubscription JobBoard::subscribe(std::function<void(const JobChange&)> observer) {
  auto entry = std::make_shared<JobSubscription::Entry>(std::move(observer));
  {
    std::lock_guard lock(observers_mutex_);
    observers_.push_back(entry);
  }
  return JobSubscription(this, std::move(entry));
}

void JobBoard::remove(const std::shared_ptr<JobSubscription::Entry>& entry) {
  std::lock_guard lock(observers_mutex_);
  observers_.erase(std::remove(observers_.begin(), observers_.end(), entry), observers_.end());
}

void JobBoard::notify(const JobChange& change) {
  std::vector<std::shared_ptr<JobSubscription::Entry>> observers;
  {
    std::lock_guard lock(observers_mutex_);
    observers = observers_;
  }
  for (const auto& entry : observers) {
    std::lock_guard lock(entry->calling);
    if (entry->active) entry->observer(change);
  }
}

}  // namespace qz::app
