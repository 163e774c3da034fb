#include "record/recording_jobs.h"

#include <algorithm>
#include <exception>
#include <new>

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

void RecordingJobs::stop_clicked(const char* button, const char* idle_caption, std::shared_ptr<ToolJob> job) {
  ctx_.window.set_text(button, idle_caption);
  // A job that ended by itself has already said what it kept.
  if (job && job->finished()) return;
  // The line goes up before the stop: the tool's closing lines and the job's ending then always
  // land below it, however fast the tool ends. A start cancelled in its first second kept nothing.
  ctx_.window.set_text(kDisplayBox, std::string(job ? kStopping : kNothingKept) + "\r\n");
  if (job) job->request_stop();
}

void RecordingJobs::report_ending(ToolJob& job, const std::vector<std::string>& files, bool complete) {
  std::string kept;
  for (const std::string& file : files) {
    const auto seconds = seconds_on_disk(ffmpeg_program(ctx_), file);
    if (seconds && *seconds > 0) kept += (kept.empty() ? "" : "\r\n") + file + "（时长 " + clock_text(*seconds) + "）";
  }
  // One write: the box, cleared when full, never keeps "任务完成" without the files before it.
  if (!kept.empty()) {
    write_display(ctx_.window, kFinishedMessage + kept + (complete ? std::string("\r\n") + kToolDoneLine : ""));
  } else if (job.stop_requested()) {
    write_display(ctx_.window, kNothingKept);
  }
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
    std::uint64_t token;
    {
      std::lock_guard lock(mutex_);
      token = pending_live_start_ = ++next_token_;
    }
    // The recording starts one second later; the window keeps handling its messages meanwhile,
    // and a stop click in that second cancels the start.
    std::weak_ptr<RecordingJobs> self = weak_from_this();
    ctx_.desktop.post([self, token] {
      if (auto jobs = self.lock()) jobs->start_live_job(token);
    }, 1000);
    return;
  }
  std::shared_ptr<ToolJob> job;
  {
    std::lock_guard lock(mutex_);
    pending_live_start_ = 0;
    job.swap(live_job_);
  }
  stop_clicked(kLiveButton, kLiveIdle, std::move(job));
}

void RecordingJobs::start_live_job(std::uint64_t token) {
  {
    std::lock_guard lock(mutex_);
    if (gone_ || token != pending_live_start_) return;
    pending_live_start_ = 0;
  }
  auto job = launch(&RecordingJobs::live_thread);
  std::lock_guard lock(mutex_);
  live_job_ = job;
}

void RecordingJobs::replay_clicked() {
  {
    std::lock_guard lock(mutex_);
    if (gone_) return;
  }
  prepare_download_folder();
  job_kind_ = 1;
  if (ctx_.window.text(kReplayButton) == kReplayIdle) {
    auto job = launch(&RecordingJobs::replay_thread);
    {
      std::lock_guard lock(mutex_);
      replay_job_ = job;
    }
    ctx_.window.set_text(kReplayButton, kBusy);
    return;
  }
  std::shared_ptr<ToolJob> job;
  {
    std::lock_guard lock(mutex_);
    job.swap(replay_job_);
  }
  stop_clicked(kReplayButton, kReplayIdle, std::move(job));
}

void RecordingJobs::preview_clicked() {
  {
    std::lock_guard lock(mutex_);
    if (gone_) return;
  }
  start_preview(ctx_, job_kind_.load());
}

std::shared_ptr<ToolJob> RecordingJobs::launch(void (RecordingJobs::*body)(ToolJob&)) {
  auto job = std::make_shared<ToolJob>();
  std::lock_guard lock(mutex_);
  if (gone_) return nullptr;
  join_finished_workers();
  workers_.push_back({job, std::thread([this, body, job] {
                        run_to_its_end(body, *job);
                        job->mark_finished();
                      })});
  return job;
}

// A job that meets an exception (no memory for a huge playlist, say) ends with a line saying so,
// and its tool with it; the program, its window and every other job go on.
void RecordingJobs::run_to_its_end(void (RecordingJobs::*body)(ToolJob&), ToolJob& job) {
  std::string why;
  try {
    (this->*body)(job);
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
    write_display(ctx_.window, why);
  } catch (...) {
    // No memory even for the line: the job still ends.
  }
}

void RecordingJobs::join_finished_workers() {
  auto finished = std::partition(workers_.begin(), workers_.end(),
                                 [](const Worker& w) { return !w.job->finished(); });
  for (auto it = finished; it != workers_.end(); ++it)
    if (it->thread.joinable()) it->thread.join();
  workers_.erase(finished, workers_.end());
}

void RecordingJobs::live_thread(ToolJob& job) {
  const std::string address = ctx_.window.text(kLiveAddressBox);
  ctx_.window.set_text(kDisplayBox, "开始下载：" + address + "\r\n");
  if (const std::string refused = check_stream_address(address); !refused.empty()) {
    write_display(ctx_.window, refused);
    return;
  }
  const std::string base = first_free_file_base(ctx_.window.text(kFolderBox), "zhibo_");
  // No line break: the first status line continues this one.
  ctx_.window.update_text(kDisplayBox, [&](const std::string& t) { return t + "保存位置：" + base; });
  job_kind_ = 1;
  LiveSettings settings;
  settings.reconnect_for = std::chrono::seconds(std::max(ctx_.config.reconnect_seconds, 0));
  settings.stall_after = std::chrono::seconds(std::max(ctx_.config.stall_seconds, 1));
  LiveRecording recording(ctx_, job, settings, kLiveAddressBox, kLivePort);
  const LiveEnd end = recording.run(address, base);
  const auto& parts = recording.parts();
  const std::string summary = parts_text(parts);
  if (end == LiveEnd::kGaveUp || end == LiveEnd::kCannotWrite) {
    // Ended by itself: as if stopped, unless the user has started something new meanwhile.
    live_job_ended(job, recording.end_reason(), summary);
  } else if (parts.size() > 1) {
    write_display(ctx_.window, summary);
  }
  if (parts.size() > 1) app::write_run_log(ctx_.program_folder, summary);
  if (ctx_.config.join_parts && parts.size() > 1)
    join_parts(ffmpeg_program(ctx_), parts, base, [this](const std::string& line) {
      write_display(ctx_.window, line);
      app::write_run_log(ctx_.program_folder, line);
    });
  std::vector<std::string> files;
  for (const RecordedPart& part : parts) files.push_back(part.file);
  // A recording the disk cut short kept what plays, but did not finish its work.
  report_ending(job, files, end != LiveEnd::kCannotWrite);
}

void RecordingJobs::live_job_ended(ToolJob& job, const std::string& reason, const std::string& summary) {
  {
    std::lock_guard lock(mutex_);
    if (live_job_.get() != &job) {
      write_display(ctx_.window, summary);
      return;
    }
    live_job_.reset();
  }
  ctx_.window.set_text(kLiveButton, kLiveIdle);
  write_display(ctx_.window, "");
  write_display(ctx_.window, reason);
  write_display(ctx_.window, summary);
}

void RecordingJobs::replay_thread(ToolJob& job) {
  const std::string address = ctx_.window.text(kReplayAddressBox);
  if (const std::string refused = check_stream_address(address); !refused.empty()) {
    write_display(ctx_.window, refused);
    return;
  }
  const std::string base = first_free_file_base(ctx_.window.text(kFolderBox), "huifang_");
  job_kind_ = 2;
  // "任务完成" is the job's to say, once the file is known to play.
  bool tool_done = false, write_refused = false;
  const LineCallback show = [&](const std::string& line) {
    tool_done = tool_done || line == kToolDoneLine;
    write_refused = write_refused || line == kWriteRefusedLine;
    if (line != kToolDoneLine) write_display(ctx_.window, line);
  };
  const std::string target = base + ".mp4";
  // A missing tool is said at once, before any segment is fetched for it.
  const bool tool_present = platform::file_exists(ffmpeg_program(ctx_));
  const HlsReplayRequest fast{address, target, ffmpeg_program(ctx_), kReplayPort, ctx_.config.replay_connections};
  if (!tool_present || run_hls_replay(fast, job, ctx_.window, show) != HlsReplayOutcome::Finished) {
    run_tool_once(job, ffmpeg_copy_command(ffmpeg_program(ctx_), address, kReplayPort, target), show);
    // ffmpeg's own last line ("Invalid data found when processing input") does not tell the user
    // that the address is no playlist at all.
    if (tool_present && !job.stop_requested() && !seconds_on_disk(ffmpeg_program(ctx_), target))
      if (const std::string why = why_not_a_playlist(address); !why.empty())
        write_display(ctx_.window, kNotAPlaylist + address + why);
  }
  report_ending(job, {target}, (tool_done || job.stop_requested()) && !write_refused);
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

void RecordingJobs::stop_all(std::chrono::milliseconds grace) {
  {
    std::lock_guard lock(mutex_);
    pending_live_start_ = 0;
  }
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
    pending_live_start_ = 0;
  }
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
