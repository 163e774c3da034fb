#include "record/recording_jobs.h"

#include <algorithm>
#include <exception>
#include <new>
#include <utility>

#include "app/settings.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/range_download.h"
#include "platform/text_codec.h"
#include "app/logs.h"
#include "record/display_writer.h"
#include "record/hls_progress.h"
#include "record/hls_replay.h"
#include "record/live_recording.h"
#include "record/media_tools.h"
#include "record/preview.h"
#include "record/tool_output.h"
#include "record/tool_runner.h"

namespace qz::record {
namespace {

constexpr const char* kFolderBox = app::kDownloadFolderBox;
constexpr const char* kLiveAddressBox = app::kLiveAddressBox;
constexpr const char* kReplayAddressBox = app::kReplayAddressBox;

// The start of what `address` answers, up to its first line's end (at most 1 KB).
std::string start_of_answer(const std::string& address) {
  platform::DownloadSession session;
  std::string body;
  platform::DownloadSession::Callbacks callbacks;
  callbacks.on_reply = [](const platform::DownloadReply& reply) { return reply.status >= 200 && reply.status <= 299; };
  callbacks.on_data = [&](const char* data, std::size_t n) {
    body.append(data, n);
    return body.size() < 1024 && body.find_first_of("\r\n") == std::string::npos;
  };
  session.fetch(address, "Accept: */*", callbacks);
  return body.substr(0, std::min<std::size_t>(body.size(), 1024));
}

// Why the answer at `address` is no HLS playlist ("（第一行是“…”，不是 #EXTM3U；ffmpeg 也无法读取）"),
// or empty when it starts like one or cannot be had (ffmpeg's lines have said why).
std::string why_not_a_playlist(const std::string& address) {
  std::string start = start_of_answer(address);
  if (start.rfind("\xEF\xBB\xBF", 0) == 0) start.erase(0, 3);
  if (start.empty() || start.rfind("#EXTM3U", 0) == 0) return {};
  std::string first = start.substr(0, start.find_first_of("\r\n"));
  if (first.size() > 60) first.resize(platform::utf8_complete_prefix(std::string_view(first).substr(0, 60)));
  for (char& c : first)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  if (!platform::is_valid_utf8(first)) first = "（不是文字）";
  return "（第一行是“" + first + "”，不是 #EXTM3U；ffmpeg 也无法读取）";
}

}  // namespace

app::JobEnding live_job_ending(LiveEnd end, bool kept_any, bool tool_present) {
  switch (end) {
    case LiveEnd::kStopped:
      return app::JobEnding::Stopped;
    case LiveEnd::kGaveUp:
      return app::JobEnding::GaveUp;
    case LiveEnd::kCannotWrite:
      return app::JobEnding::CannotWrite;
    case LiveEnd::kNeverStarted:
      break;
  }
  if (kept_any) return app::JobEnding::Done;
  return tool_present ? app::JobEnding::ToolFailed : app::JobEnding::ToolMissing;
}

std::string first_free_file_base(const std::string& folder, const std::string& prefix) {
  for (unsigned n = 1;; ++n) {
    std::string base = platform::join_path(folder, prefix + std::to_string(n));
    if (!platform::file_exists(base + ".mp4")) return base;
  }
}

RecordingJobs::~RecordingJobs() { shutdown(); }

void RecordingJobs::prepare_download_folder() {
  if (ctx_.window.text(kFolderBox).empty()) ctx_.window.set_text(kFolderBox, ctx_.path("down"));
  app::resolve_download_folder(ctx_);  // the user may have typed a relative one
  platform::make_directories(ctx_.window.text(kFolderBox));  // a failure shows as ffmpeg's error
}

app::JobReport RecordingJobs::new_report(app::JobKind kind, std::string title) {
  return app::JobReport(&ctx_.jobs, ctx_.jobs.add(kind, std::move(title)), &ctx_.window);
}

void RecordingJobs::stop_clicked(const char* button, const char* idle_caption, Started started) {
  ctx_.window.set_text(button, idle_caption);
  // A job that ended by itself has already said what it kept.
  if (started.tool && started.tool->finished()) return;
  // A caption left busy with no job behind it still clears the box.
  const app::JobReport report = started.report.on_board() ? started.report : app::JobReport(nullptr, 0, &ctx_.window);
  // The line goes up before the stop: the tool's closing lines and the job's ending then always
  // land below it, however fast the tool ends. A start cancelled in its first second kept nothing.
  if (!started.tool) {
    report.first_line(kNothingKept);
    report.end(app::JobEnding::Stopped);
    return;
  }
  report.first_line(kStopping);
  report.set_state(app::JobState::Stopping);
  started.tool->request_stop();
}

bool RecordingJobs::report_ending(ToolJob& job, const app::JobReport& report, const std::vector<std::string>& files,
                                  bool complete) {
  std::string kept;
  std::vector<app::JobPart> parts;
  for (const std::string& file : files) {
    const auto seconds = seconds_on_disk(ffmpeg_program(ctx_), file);
    if (!seconds || *seconds <= 0) continue;
    kept += (kept.empty() ? "" : "\r\n") + file + "（时长 " + clock_text(*seconds) + "）";
    parts.push_back({file, *seconds});
  }
  // One write: the box, cleared when full, never keeps "任务完成" without the files before it.
  if (!kept.empty()) {
    report.line(kFinishedMessage + kept + (complete ? std::string("\r\n") + kToolDoneLine : ""));
  } else if (job.stop_requested()) {
    report.line(kNothingKept);
  }
  report.set_parts(std::move(parts));
  return !kept.empty();
}

void RecordingJobs::live_clicked() {
  {
    std::lock_guard lock(mutex_);
    if (gone_) return;
  }
  prepare_download_folder();
  job_kind_ = 1;
  if (ctx_.window.text(kLiveButton) == kLiveIdle) {
    ctx_.window.set_text(kLiveButton, kBusy);
    end_leftover_tools();
    // The job is the room's when the share link names it, else the address's.
    std::string title = ctx_.window.text(app::kShareLinkBox);
    if (title.empty()) title = ctx_.window.text(kLiveAddressBox);
    const app::JobReport report = new_report(app::JobKind::LiveRecording, std::move(title));
    std::uint64_t token;
    {
      std::lock_guard lock(mutex_);
      token = pending_live_start_ = ++next_token_;
      pending_live_report_ = report;
    }
    // The recording starts one second later; the window keeps handling its messages meanwhile,
    // and a stop click in that second cancels the start.
    std::weak_ptr<RecordingJobs> self = weak_from_this();
    ctx_.desktop.post([self, token] {
      if (auto jobs = self.lock()) jobs->start_live_job(token);
    }, 1000);
    return;
  }
  Started started;
  {
    std::lock_guard lock(mutex_);
    started = std::exchange(live_job_, {});
    if (pending_live_start_ != 0 && !started.tool) started.report = pending_live_report_;
    pending_live_start_ = 0;
  }
  stop_clicked(kLiveButton, kLiveIdle, std::move(started));
}

void RecordingJobs::start_live_job(std::uint64_t token) {
  app::JobReport report;
  {
    std::lock_guard lock(mutex_);
    if (gone_ || token != pending_live_start_) return;
    pending_live_start_ = 0;
    report = pending_live_report_;
  }
  auto job = launch(&RecordingJobs::live_thread, report);
  if (!job) {
    // Closing began within the second: nothing records, and the button says so.
    ctx_.window.set_text(kLiveButton, kLiveIdle);
    report.end(app::JobEnding::Stopped);
    return;
  }
  std::lock_guard lock(mutex_);
  live_job_ = {job, report};
}

void RecordingJobs::replay_clicked() {
  {
    std::lock_guard lock(mutex_);
    if (gone_) return;
  }
  prepare_download_folder();
  job_kind_ = 1;
  if (ctx_.window.text(kReplayButton) == kReplayIdle) {
    const app::JobReport report = new_report(app::JobKind::ReplayDownload, ctx_.window.text(kReplayAddressBox));
    auto job = launch(&RecordingJobs::replay_thread, report);
    if (!job) {
      // Closing began meanwhile: nothing downloads, and the button keeps its idle caption.
      report.end(app::JobEnding::Stopped);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      replay_job_ = {job, report};
    }
    ctx_.window.set_text(kReplayButton, kBusy);
    return;
  }
  Started started;
  {
    std::lock_guard lock(mutex_);
    std::swap(started, replay_job_);
  }
  stop_clicked(kReplayButton, kReplayIdle, std::move(started));
}

void RecordingJobs::preview_clicked() {
  {
    std::lock_guard lock(mutex_);
    if (gone_) return;
  }
  start_preview(ctx_, job_kind_.load());
}

std::shared_ptr<ToolJob> RecordingJobs::launch(Body body, const app::JobReport& report) {
  auto job = std::make_shared<ToolJob>();
  std::lock_guard lock(mutex_);
  if (gone_) return nullptr;
  join_finished_workers();
  workers_.push_back({job, std::thread([this, body, job, report] {
                        run_to_its_end(body, *job, report);
                        // Every way through a job ends it on the board; this one is never taken
                        // unless a way forgot (the first ending wins).
                        report.end(app::JobEnding::Failed);
                        job->mark_finished();
                      })});
  return job;
}

// A job that meets an exception (no memory for a huge playlist, say) ends with a line saying so,
// and its tool with it; the program, its window and every other job go on.
void RecordingJobs::run_to_its_end(Body body, ToolJob& job, const app::JobReport& report) {
  std::string why;
  try {
    (this->*body)(job, report);
    return;
  } catch (const std::bad_alloc&) {
    why = "内存不足，任务已结束";
  } catch (const std::exception& e) {
    why = std::string("任务出错，已结束：") + e.what();
  } catch (...) {
    why = "任务出错，已结束";
  }
  job.terminate_run();
  try {
    report.line(why);
  } catch (...) {
    // No memory even for the line: the job still ends.
  }
  report.end(app::JobEnding::Failed);
}

void RecordingJobs::join_finished_workers() {
  auto finished = std::partition(workers_.begin(), workers_.end(),
                                 [](const Worker& w) { return !w.job->finished(); });
  for (auto it = finished; it != workers_.end(); ++it)
    if (it->thread.joinable()) it->thread.join();
  workers_.erase(finished, workers_.end());
}

void RecordingJobs::live_thread(ToolJob& job, const app::JobReport& report) {
  const std::string address = ctx_.window.text(kLiveAddressBox);
  report.first_line("开始下载：" + address);
  if (const std::string refused = check_stream_address(address); !refused.empty()) {
    report.line(refused);
    report.end(app::JobEnding::NoAddress);
    return;
  }
  const std::string base = first_free_file_base(ctx_.window.text(kFolderBox), "zhibo_");
  // No line break: the first status line continues this one.
  report.open_line("保存位置：" + base);
  job_kind_ = 1;
  LiveSettings settings;
  settings.reconnect_for = std::chrono::seconds(std::max(ctx_.config.reconnect_seconds, 0));
  settings.stall_after = std::chrono::seconds(std::max(ctx_.config.stall_seconds, 1));
  LiveRecording recording(ctx_, job, report, settings, kLiveAddressBox, kLivePort);
  const LiveEnd end = recording.run(address, base);
  const auto& parts = recording.parts();
  const std::string summary = parts_text(parts);
  if (end == LiveEnd::kGaveUp || end == LiveEnd::kCannotWrite) {
    // Ended by itself: as if stopped, unless the user has started something new meanwhile.
    live_job_ended(job, report, recording.end_reason(), summary);
  } else if (parts.size() > 1) {
    report.line(summary);
  }
  if (parts.size() > 1) app::write_run_log(ctx_.program_folder, summary);
  if (ctx_.config.join_parts && parts.size() > 1)
    join_parts(ffmpeg_program(ctx_), parts, base, [this, &report](const std::string& line) {
      report.line(line);
      app::write_run_log(ctx_.program_folder, line);
    });
  std::vector<std::string> files;
  for (const RecordedPart& part : parts) files.push_back(part.file);
  // A recording the disk cut short kept what plays, but did not finish its work.
  const bool kept_any = report_ending(job, report, files, end != LiveEnd::kCannotWrite);
  report.end(live_job_ending(end, kept_any, platform::file_exists(ffmpeg_program(ctx_))));
}

void RecordingJobs::live_job_ended(ToolJob& job, const app::JobReport& report, const std::string& reason,
                                   const std::string& summary) {
  {
    std::lock_guard lock(mutex_);
    if (live_job_.tool.get() != &job) {
      report.line(summary);
      return;
    }
    live_job_ = {};
  }
  ctx_.window.set_text(kLiveButton, kLiveIdle);
  report.line("");
  report.line(reason);
  report.line(summary);
}

void RecordingJobs::replay_thread(ToolJob& job, const app::JobReport& report) {
  report.set_state(app::JobState::Running);
  const std::string address = ctx_.window.text(kReplayAddressBox);
  if (const std::string refused = check_stream_address(address); !refused.empty()) {
    report.line(refused);
    report.end(app::JobEnding::NoAddress);
    return;
  }
  const std::string base = first_free_file_base(ctx_.window.text(kFolderBox), "huifang_");
  job_kind_ = 2;
  // "任务完成" is the job's to say, once the file is known to play.
  bool tool_done = false, write_refused = false;
  const LineCallback show = [&](const std::string& line) {
    tool_done = tool_done || line == kToolDoneLine;
    write_refused = write_refused || line == kWriteRefusedLine;
    if (line != kToolDoneLine) report.line(line);
  };
  const std::string target = base + ".mp4";
  // A missing tool is said at once, before any segment is fetched for it.
  const bool tool_present = platform::file_exists(ffmpeg_program(ctx_));
  const HlsReplayRequest fast{address, target, ffmpeg_program(ctx_), kReplayPort, ctx_.config.replay_connections};
  const ProgressRoute progress(ctx_.window, report);
  if (!tool_present || run_hls_replay(fast, job, ctx_.window, show) != HlsReplayOutcome::Finished) {
    run_tool_once(job, ffmpeg_copy_command(ffmpeg_program(ctx_), address, kReplayPort, target), show);
    // ffmpeg's own last line ("Invalid data found when processing input") does not tell the user
    // that the address is no playlist at all.
    if (tool_present && !job.stop_requested() && !seconds_on_disk(ffmpeg_program(ctx_), target))
      if (const std::string why = why_not_a_playlist(address); !why.empty())
        report.line(kNotAPlaylist + address + why);
  }
  const bool stopped = job.stop_requested();
  report_ending(job, report, {target}, (tool_done || stopped) && !write_refused);
  if (write_refused)
    report.end(app::JobEnding::CannotWrite);
  else if (!tool_present)
    report.end(app::JobEnding::ToolMissing);
  else if (stopped)
    report.end(app::JobEnding::Stopped);
  else
    report.end(tool_done ? app::JobEnding::Done : app::JobEnding::ToolFailed);
}

bool RecordingJobs::busy() {
  {
    std::lock_guard lock(mutex_);
    if (pending_live_start_ != 0) return true;
  }
  return !running_jobs().empty();
}

std::vector<std::shared_ptr<ToolJob>> RecordingJobs::running_jobs() {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<ToolJob>> jobs;
  for (const Worker& w : workers_)
    if (!w.job->finished()) jobs.push_back(w.job);
  return jobs;
}

void RecordingJobs::end_leftover_tools() {
  // Only tools that live in the program folder count: an ffmpeg elsewhere (a system one, or
  // one the user runs) is none of ours. Of those, only orphans: a tool whose program is still
  // running belongs to it, and that may be a second copy of this program recording into the
  // same folder. Tools end with the program that started them, so an orphan is rare (a copy of
  // an older version, a system that refused to tie them).
  const std::string program = ffmpeg_program(ctx_);
  if (program.rfind(platform::join_path(ctx_.program_folder, ""), 0) != 0) return;
  for (const platform::RunningProcess& p : platform::processes_running_program(program))
    if (platform::parent_has_gone(p)) platform::terminate_process(p.id);
}

void RecordingJobs::cancel_pending_start() {
  app::JobReport cancelled;
  {
    std::lock_guard lock(mutex_);
    if (pending_live_start_ != 0) cancelled = pending_live_report_;
    pending_live_start_ = 0;
  }
  if (!cancelled.on_board()) return;
  // A start still waiting out its second never runs now: the button is idle again.
  ctx_.window.set_text(kLiveButton, kLiveIdle);
  cancelled.end(app::JobEnding::Stopped);
}

void RecordingJobs::stop_all(std::chrono::milliseconds grace) {
  cancel_pending_start();
  const auto jobs = running_jobs();
  for (const auto& job : jobs) job->request_stop();
  const auto until = std::chrono::steady_clock::now() + grace;
  for (const auto& job : jobs) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (!job->wait_finished(std::max(left, std::chrono::milliseconds(0)))) job->terminate();
  }
  // A terminated tool's output ends at once; its runner needs only a moment to drain it.
  for (const auto& job : jobs) job->wait_finished(std::chrono::seconds(5));
  end_leftover_tools();
}

void RecordingJobs::shutdown() {
  {
    std::lock_guard lock(mutex_);
    if (gone_) return;
    gone_ = true;
  }
  cancel_pending_start();
  stop_all(std::chrono::seconds(10));
  std::vector<Worker> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (Worker& w : workers)
    if (w.thread.joinable()) w.thread.join();
}

}  // namespace qz::record
