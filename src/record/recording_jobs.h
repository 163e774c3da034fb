#pragma once
// The live recording job ("开始下载直播" on 按钮_开始) and the replay download job ("开始下载回放"
// on 按钮_开始1): each start click runs ffmpeg on a thread of its own, writing the stream to the
// first free numbered .mp4 in the download folder and to a local UDP port for the preview; a
// second click stops the tool that button started, and only that one. Each job is on the job
// board from its start click to its ending; the window's display box shows its lines.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/context.h"
#include "app/job_report.h"
#include "record/live_recording.h"
#include "record/tool_job.h"

namespace qz::record {

using app::kLiveButton;
using app::kReplayButton;
inline constexpr const char* kLiveIdle = "开始下载直播";
inline constexpr const char* kReplayIdle = "开始下载回放";
inline constexpr const char* kBusy = "停止下载";
inline constexpr const char* kFinishedMessage = "下载完成，请查看软件运行目录的mp4文件：\r\n\r\n";
// What the display box says from a stop click until the job has ended and its files are known to
// play; then the finished message names each playable file ("<file>（时长 00:01:02）") and
// "任务完成" follows, or kNothingKept says that nothing plays.
inline constexpr const char* kStopping = "正在停止并保存文件……";
inline constexpr const char* kNothingKept = "没有保存任何内容";
// The line of a replay address that neither the program nor ffmpeg can read as a playlist.
inline constexpr const char* kNotAPlaylist = "不是可识别的回放列表：";

// folder + separator + prefix + n, for the smallest n >= 1 with no file "<that>.mp4".
std::string first_free_file_base(const std::string& folder, const std::string& prefix);

// The ending of a live recording that ended `end`, having kept something that plays or not.
app::JobEnding live_job_ending(LiveEnd end, bool kept_any, bool tool_present);

class RecordingJobs : public std::enable_shared_from_this<RecordingJobs> {
 public:
  explicit RecordingJobs(app::Context& ctx) : ctx_(ctx) {}
  ~RecordingJobs();

  // Window thread.
  void live_clicked();
  void replay_clicked();
  void preview_clicked();

  // The window closes: every job is asked to stop and its tool gets `grace` to finish its file,
  // then what still runs is ended; leftover tools of the program folder are ended too.
  void stop_all(std::chrono::milliseconds grace);
  // The application goes away: nothing starts any more, every job has ended and its thread has
  // been joined when this returns.
  void shutdown();

  // 0 before any job; 1 after a start click or while a live recording starts; 2 while a replay
  // download runs. Chooses the preview's port.
  int job_kind() const { return job_kind_.load(); }

  // True while a start waits out its second or a job's tool has not ended.
  bool busy();

 private:
  // A job started from the window: its tool's runs and what it tells.
  struct Started {
    std::shared_ptr<ToolJob> tool;  // null while a live start waits out its second
    app::JobReport report;
  };
  using Body = void (RecordingJobs::*)(ToolJob&, const app::JobReport&);

  void prepare_download_folder();
  app::JobReport new_report(app::JobKind kind, std::string title);
  void start_live_job(std::uint64_t token);
  // The job's thread, or null once the jobs have shut down.
  std::shared_ptr<ToolJob> launch(Body body, const app::JobReport& report);
  void run_to_its_end(Body body, ToolJob& job, const app::JobReport& report);
  void live_thread(ToolJob& job, const app::JobReport& report);
  void replay_thread(ToolJob& job, const app::JobReport& report);
  // The stop click's part: the caption, the box, and the stop of a job still running.
  void stop_clicked(const char* button, const char* idle_caption, Started started);
  // A job's last lines, once its tools have ended: the files of `files` that play, named after
  // the finished message, and "任务完成" when the job is `complete` (stopped, or its tool finished
  // its work); or, after a stop, that nothing was kept. The files that play become the job's
  // parts; true when there is one.
  bool report_ending(ToolJob& job, const app::JobReport& report, const std::vector<std::string>& files,
                     bool complete);
  // A live job that ended without a stop click: the caption as after one, and why it ended.
  void live_job_ended(ToolJob& job, const app::JobReport& report, const std::string& reason,
                      const std::string& summary);
  // A live start still waiting out its second is called off: its job ends, its button is idle.
  void cancel_pending_start();
  void end_leftover_tools();
  std::vector<std::shared_ptr<ToolJob>> running_jobs();
  void join_finished_workers();  // with mutex_ held

  app::Context& ctx_;
  std::atomic<int> job_kind_{0};

  std::mutex mutex_;
  bool gone_ = false;
  Started live_job_;    // the job 按钮_开始 started, until it is stopped
  Started replay_job_;  // the same for 按钮_开始1
  struct Worker {
    std::shared_ptr<ToolJob> job;
    std::thread thread;
  };
  std::vector<Worker> workers_;  // every job started whose thread has not been joined
  std::uint64_t pending_live_start_ = 0;  // token of a live start waiting out its second, 0: none
  app::JobReport pending_live_report_;    // that start's job
  std::uint64_t next_token_ = 0;
};

}  // namespace qz::record
