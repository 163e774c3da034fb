// The job board: states and endings, many jobs, many observers, and jobs reporting from many
// threads at once (run under TSan too).
#include "app/job_board.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "app/display_box.h"
#include "app/job_report.h"

namespace qz::app {
namespace {

using namespace std::chrono_literals;
using What = JobChange::What;

TEST(JobBoard, StatesAndEndingsFollowTheirRules) {
  struct Case {
    const char* name;
    std::function<void(JobBoard&, JobId)> steps;
    JobState state;
    JobEnding ending;
    std::string line;
  } cases[] = {
      {"new", [](JobBoard&, JobId) {}, JobState::Starting, JobEnding::None, ""},
      {"through a drop",
       [](JobBoard& b, JobId id) {
         b.set_state(id, JobState::Running);
         b.show_line(id, "直播中断");
         b.set_state(id, JobState::Reconnecting);
         b.set_state(id, JobState::Running);
       },
       JobState::Running, JobEnding::None, "直播中断"},
      {"only an ending ends",
       [](JobBoard& b, JobId id) { b.set_state(id, JobState::Ended); }, JobState::Starting, JobEnding::None, ""},
      {"no ending is no ending",
       [](JobBoard& b, JobId id) { EXPECT_FALSE(b.end(id, JobEnding::None)); }, JobState::Starting,
       JobEnding::None, ""},
      {"the first ending wins",
       [](JobBoard& b, JobId id) {
         b.set_state(id, JobState::Stopping);
         EXPECT_TRUE(b.end(id, JobEnding::Stopped));
         EXPECT_FALSE(b.end(id, JobEnding::Failed));
       },
       JobState::Ended, JobEnding::Stopped, ""},
      {"an ended job changes no more",
       [](JobBoard& b, JobId id) {
         b.show_line(id, "任务完成");
         b.end(id, JobEnding::Done);
         b.show_line(id, "late");
         b.show_progress(id, "late progress");
         b.set_state(id, JobState::Running);
         b.set_parts(id, {{"late.mp4", 1}});
       },
       JobState::Ended, JobEnding::Done, "任务完成"},
  };
  for (const Case& c : cases) {
    JobBoard board;
    const JobId id = board.add(JobKind::LiveRecording, "room");
    c.steps(board, id);
    const auto job = board.job(id);
    ASSERT_TRUE(job) << c.name;
    EXPECT_EQ(job->state, c.state) << c.name;
    EXPECT_EQ(job->ending, c.ending) << c.name;
    EXPECT_EQ(job->line, c.line) << c.name;
    EXPECT_TRUE(job->parts.empty()) << c.name;
  }
}

TEST(JobBoard, ManyJobsEachKeepTheirOwnAndUnknownIdsChangeNothing) {
  JobBoard board;
  const JobId live = board.add(JobKind::LiveRecording, "https://room/1");
  const JobId replay = board.add(JobKind::ReplayDownload, "https://cdn/a.m3u8");
  const JobId wait = board.add(JobKind::CaptureWait, "https://room/2");
  EXPECT_NE(live, replay);
  board.set_parts(live, {{"zhibo_1.mp4", 12.5}, {"zhibo_1_2.mp4", 3}});
  board.show_progress(replay, "回放下载：已完成 1/5 段（20.0%）");
  board.end_every(JobKind::CaptureWait, JobEnding::BrowserFailed, "浏览器已退出");
  const std::uint64_t before = board.changes();
  EXPECT_FALSE(board.end(9999, JobEnding::Done));
  board.show_line(9999, "nowhere");
  EXPECT_EQ(board.changes(), before);
  EXPECT_FALSE(board.job(9999));

  const std::vector<Job> jobs = board.jobs();
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].id, live);  // oldest first
  EXPECT_EQ(jobs[0].parts, (std::vector<JobPart>{{"zhibo_1.mp4", 12.5}, {"zhibo_1_2.mp4", 3}}));
  EXPECT_EQ(jobs[0].ending, JobEnding::None);
  EXPECT_EQ(jobs[1].line, "回放下载：已完成 1/5 段（20.0%）");
  EXPECT_EQ(jobs[1].ending, JobEnding::None);  // end_every ends only its kind
  EXPECT_EQ(jobs[2].title, "https://room/2");
  EXPECT_EQ(jobs[2].ending, JobEnding::BrowserFailed);
  EXPECT_EQ(jobs[2].line, "浏览器已退出");
}

// A board that runs for weeks forgets the oldest ended jobs, never one that runs.
TEST(JobBoard, ForgetsTheOldestEndedJobsOnly) {
  JobBoard board;
  const JobId running = board.add(JobKind::WatchedRoom, "room");
  std::vector<JobId> ended;
  for (std::size_t i = 0; i < JobBoard::kKeptEndedJobs + 10; ++i) {
    ended.push_back(board.add(JobKind::LiveRecording, "part"));
    board.end(ended.back(), JobEnding::Done);
  }
  EXPECT_EQ(board.jobs().size(), JobBoard::kKeptEndedJobs + 1);
  EXPECT_TRUE(board.job(running));
  EXPECT_FALSE(board.job(ended.front()));
  EXPECT_FALSE(board.job(ended[9]));
  EXPECT_TRUE(board.job(ended[10]));
  EXPECT_TRUE(board.job(ended.back()));
}

TEST(JobBoard, EveryObserverSeesEachChangeInOrderUntilItUnsubscribes) {
  JobBoard board;
  std::vector<std::string> first, second;
  const auto recorder = [&board](std::vector<std::string>& into) {
    return [&board, &into](const JobChange& c) {
      // Called without the board's lock: the observer may read the board.
      const auto job = board.job(c.id);
      into.push_back(std::to_string(static_cast<int>(c.what)) + ":" + c.text + ":" +
                     std::to_string(job ? static_cast<int>(job->state) : -1));
    };
  };
  JobSubscription one = board.subscribe(recorder(first));
  JobSubscription two = board.subscribe(recorder(second));
  const JobId id = board.add(JobKind::ReplayDownload, "a.m3u8");
  board.set_state(id, JobState::Running);
  board.show_line(id, "开始");
  board.show_progress(id, "回放下载：1");
  board.set_parts(id, {{"huifang_1.mp4", 5}});
  two.unsubscribe();
  board.end(id, JobEnding::Done);
  const std::vector<std::string> all = {"0:a.m3u8:0", "1::1", "2:开始:1", "3:回放下载：1:1", "4::1", "5::4"};
  EXPECT_EQ(first, all);
  EXPECT_EQ(second, std::vector<std::string>(all.begin(), all.end() - 1));

  // An observer may unsubscribe itself, and may report to the board.
  JobSubscription self;
  int calls = 0;
  self = board.subscribe([&](const JobChange& c) {
    ++calls;
    self.unsubscribe();
    if (c.what == What::Added) board.show_line(c.id, "seen");
  });
  board.add(JobKind::CaptureWait, "x");
  EXPECT_EQ(calls, 1);
}

// Unsubscribing waits for a call under way: once it has returned, the observer's state may go.
TEST(JobBoard, UnsubscribingWaitsForTheCallUnderWay) {
  JobBoard board;
  std::mutex m;
  std::condition_variable cv;
  bool in_call = false, release = false;
  JobSubscription sub = board.subscribe([&](const JobChange&) {
    std::unique_lock lock(m);
    in_call = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
    in_call = false;
  });
  std::thread reporter([&] { board.add(JobKind::LiveRecording, "room"); });
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return in_call; });
  }
  std::atomic<bool> was_in_call{true};
  std::thread leaver([&] {
    sub.unsubscribe();
    std::lock_guard lock(m);
    was_in_call = in_call;
  });
  std::this_thread::sleep_for(50ms);  // gives the leaver the chance to wait; the check holds either way
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  reporter.join();
  leaver.join();
  EXPECT_FALSE(was_in_call);
}

// Jobs report from many threads while observers come and go: every change reaches every observer
// that stayed, one call at a time, and every job ends as it said.
TEST(JobBoard, ManyJobsOnManyThreadsWithManyObservers) {
  constexpr int kThreads = 6, kJobsEach = 40, kChangesPerJob = 6;  // add, state, line, progress, parts, end
  JobBoard board;
  struct Counter {
    std::atomic<int> changes{0};
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
  };
  std::vector<std::unique_ptr<Counter>> counters;
  std::vector<JobSubscription> stayed;
  for (int i = 0; i < 3; ++i) {
    counters.push_back(std::make_unique<Counter>());
    Counter& c = *counters.back();
    stayed.push_back(board.subscribe([&c](const JobChange&) {
      if (c.inside.fetch_add(1) != 0) c.overlapped = true;
      ++c.changes;
      c.inside.fetch_sub(1);
    }));
  }
  std::atomic<bool> reporting{true};
  std::thread churn([&] {
    while (reporting) {
      JobSubscription passing = board.subscribe([&board](const JobChange& c) { board.job(c.id); });
      board.jobs();
    }
  });
  std::vector<std::thread> threads;
  std::mutex ids_mutex;
  std::map<JobId, JobEnding> expected;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int j = 0; j < kJobsEach; ++j) {
        const JobId id = board.add(JobKind::LiveRecording, "room " + std::to_string(t));
        board.set_state(id, JobState::Running);
        board.show_line(id, "line");
        board.show_progress(id, "progress");
        board.set_parts(id, {{"zhibo_" + std::to_string(j) + ".mp4", 1.0 * j}});
        const JobEnding ending = j % 2 ? JobEnding::Stopped : JobEnding::GaveUp;
        board.end(id, ending);
        std::lock_guard lock(ids_mutex);
        expected[id] = ending;
      }
    });
  }
  for (auto& t : threads) t.join();
  reporting = false;
  churn.join();
  for (const auto& c : counters) {
    EXPECT_EQ(c->changes, kThreads * kJobsEach * kChangesPerJob);
    EXPECT_FALSE(c->overlapped);
  }
  ASSERT_EQ(expected.size(), static_cast<std::size_t>(kThreads * kJobsEach));
  int checked = 0;
  for (const Job& job : board.jobs()) {
    EXPECT_EQ(job.ending, expected.at(job.id));
    EXPECT_EQ(job.state, JobState::Ended);
    ++checked;
  }
  EXPECT_EQ(checked, static_cast<int>(JobBoard::kKeptEndedJobs));
}

TEST(JobBoard, WaitingForAChangeWakesOnOneFromAnotherThread) {
  JobBoard board;
  const std::uint64_t seen = board.changes();
  std::thread reporter([&] { board.add(JobKind::ReplayDownload, "a"); });
  EXPECT_EQ(board.wait_for_change(seen, 60s), seen + 1);
  reporter.join();
}

// A job the window started tells the display box and the board; one without a window the board
// alone.
TEST(JobReport, TellsTheBoardAndTheWindowThatStartedTheJob) {
  JobBoard board;
  WindowModel window;
  const JobReport shown(&board, board.add(JobKind::LiveRecording, "room"), &window);
  const JobReport unseen(&board, board.add(JobKind::WatchedRoom, "other"), nullptr);
  window.set_text(kDisplayBox, "old\r\n");
  shown.first_line("开始下载：a");
  shown.open_line("保存位置：b");
  shown.line(" size=1");
  shown.progress("回放下载：", "回放下载：1");
  shown.line("x");
  shown.progress("回放下载：", "回放下载：2");
  unseen.line("never in the box");
  EXPECT_EQ(window.text(kDisplayBox), "开始下载：a\r\n保存位置：b size=1\r\nx\r\n回放下载：2\r\n");
  EXPECT_EQ(board.job(shown.id())->line, "回放下载：2");
  EXPECT_EQ(board.job(unseen.id())->line, "never in the box");

  // A report without a board (a caption left busy with no job behind it) still writes the box.
  JobReport(nullptr, 0, &window).first_line("没有保存任何内容");
  EXPECT_EQ(window.text(kDisplayBox), "没有保存任何内容\r\n");
}

}  // namespace
}  // namespace qz::app
