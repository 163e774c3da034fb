#pragma once
// The live recording job ("开始下载直播" on 按钮_开始) and the replay download job ("开始下载回放"
// on 按钮_开始1): each start click runs ffmpeg on a thread of its own, writing the stream to the
// first free numbered .mp4 in the download folder and to a local UDP port for the preview; a
// second click stops the tool that button started, and only that one.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/context.h"
#include "record/tool_job.h"

namespace qz::record {

using app::kLiveButton;
using app::kReplayButton;
inline constexpr const char* kLiveIdle = "开始下载直播";
inline constexpr const char* kReplayIdle = "开始下载回放";
inline constexpr const char* kBusy = "停止下载";
inline constexpr const char* kFinishedMessage = "下载完成，请查看软件运行目录的mp4文件：\r\n\r\n";

// folder + separator + prefix + n, for the smallest n >= 1 with no file "<that>.mp4".
std::string first_free_file_base(const std::string& folder, const std::string& prefix);

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
  void prepare_download_folder();
  void start_live_job(std::uint64_t token);
  std::shared_ptr<ToolJob> launch(void (RecordingJobs::*body)(ToolJob&));
  void run_to_its_end(void (RecordingJobs::*body)(ToolJob&), ToolJob& job);
  void live_thread(ToolJob& job);
  void replay_thread(ToolJob& job);
  void show_finished_message();
  // A live job that ended without a stop click: the caption and the message as after one.
  void live_job_ended(ToolJob& job, const std::string& reason, const std::string& summary);
  void end_leftover_tools();
  std::vector<std::shared_ptr<ToolJob>> running_jobs();
  void join_finished_workers();  // with mutex_ held

  app::Context& ctx_;
  std::atomic<int> job_kind_{0};

  std::mutex mutex_;
  bool gone_ = false;
  std::shared_ptr<ToolJob> live_job_;    // the job 按钮_开始 started, until it is stopped
  std::shared_ptr<ToolJob> replay_job_;  // the same for 按钮_开始1
  struct Worker {
    std::shared_ptr<ToolJob> job;
    std::thread thread;
  };
  std::vector<Worker> workers_;  // every job started whose thread has not been joined
  std::uint64_t pending_live_start_ = 0;  // token of a live start waiting out its second, 0: none
  std::uint64_t next_token_ = 0;
};

}  // namespace qz::record
