#include "record/live_recording.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <thread>

#include "app/logs.h"
#include "platform/fs.h"
#include "record/media_tools.h"
#include "record/tool_output.h"
#include "record/tool_runner.h"

namespace qz::record {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kFirstBytesAllowance{10};

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// ffmpeg reports "time=00:00:00.00" before anything has arrived: only time that moves is data.
bool is_progress(const std::string& line) { return reported_time(line) > 0; }

// Watches a run's file while it is written: when it has not grown for `stall_after`, asks the
// run to stop, and ends it after the grace. The file grows fragment by fragment, about once a
// second while a stream flows.
class StallWatch {
 public:
  // `on_stall` is told at once (from the watching thread), when the last growth was.
  StallWatch(ToolJob& job, std::string file, const LiveSettings& settings,
             std::function<void(const platform::LocalTime&)> on_stall)
      : job_(job), file_(std::move(file)), settings_(settings), on_stall_(std::move(on_stall)),
        thread_([this] { watch(); }) {}
  ~StallWatch() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  bool stalled() const { return stalled_; }
  Clock::time_point last_growth() const {
    std::lock_guard lock(mutex_);
    return last_growth_;
  }
  platform::LocalTime last_growth_clock() const {
    std::lock_guard lock(mutex_);
    return last_growth_clock_;
  }

 private:
  void watch() {
    std::unique_lock lock(mutex_);
    std::uint64_t size = 0;
    while (!changed_.wait_for(lock, std::chrono::milliseconds(250), [this] { return done_; })) {
      const std::uint64_t now_size = platform::file_size(file_).value_or(0);
      if (now_size != size) {
        size = now_size;
        last_growth_ = Clock::now();
        last_growth_clock_ = platform::local_time_now();
      }
      // Before its first bytes ffmpeg reads a few seconds of the stream to learn what it holds.
      const auto limit = settings_.stall_after + (size == 0 ? kFirstBytesAllowance : std::chrono::seconds(0));
      if (Clock::now() - last_growth_ < limit) continue;
      stalled_ = true;
      const platform::LocalTime since = last_growth_clock_;
      lock.unlock();
      on_stall_(since);
      job_.stop_run();
      lock.lock();
      if (!changed_.wait_for(lock, settings_.stall_grace, [this] { return done_; })) {
        lock.unlock();
        job_.terminate_run();
        lock.lock();
      }
      changed_.wait(lock, [this] { return done_; });
    }
  }

  ToolJob& job_;
  std::string file_;
  LiveSettings settings_;
  std::function<void(const platform::LocalTime&)> on_stall_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::atomic<bool> stalled_{false};
  Clock::time_point last_growth_ = Clock::now();
  platform::LocalTime last_growth_clock_ = platform::local_time_now();
  std::thread thread_;
};

}  // namespace

struct LiveRecording::Run {
  bool saved = false;        // the stream flowed into the file
  bool stalled = false;      // ended by the watchdog
  bool cannot_write = false;
  double first_time = -1;    // the stream time ffmpeg first reported
  double seconds = 0;        // as ffmpeg reported it, from its first report
  Clock::time_point data_end;            // when the stream was last seen flowing
  platform::LocalTime data_end_clock;
};

void LiveRecording::say(const std::string& line, bool to_run_log) {
  report_.line(line);
  if (to_run_log) app::write_run_log(ctx_.program_folder, line);
}

LiveRecording::Run LiveRecording::run_once(const std::string& address, const std::string& file, bool continuation,
                                           double hole_seconds) {
  Run run;
  const bool existed = platform::file_exists(file);
  ToolCommand command = ffmpeg_copy_command(ffmpeg_program(ctx_), address, udp_port_, file);
  // A room whose audio was found not to be AAC keeps that audio on every reconnect.
  if (!audio_filter_) command = without_aac_filter(command);
  {
    const int stall_seconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(settings_.stall_after).count());
    // The watch runs on its own thread while the tool's lines arrive on this one.
    std::atomic<bool> saved_so_far{false};
    StallWatch watch(job_, file, settings_, [&](const platform::LocalTime& since) {
      // Only a stream that has flowed in this run can stall; a try that never connects is quiet.
      if (saved_so_far.load() || !continuation) say(stalled_text(stall_seconds, since), true);
    });
    const ToolRun ran = run_tool_once(job_, command, [&](const std::string& line) {
      if (is_progress(line)) {
        // The stream's clock need not start at zero: a live stream's is the room's.
        const double time = reported_time(line);
        if (run.first_time < 0) run.first_time = time;
        run.seconds = std::max(run.seconds, time - run.first_time);
        // ffmpeg reads a new stream for seconds before its first report and then writes all it
        // read: the stream came back when this try connected, and the hole ends there.
        if (!run.saved && continuation) say(reconnected_text(hole_seconds, file), true);
        if (!run.saved && !job_.stop_requested()) report_.set_state(app::JobState::Running);
        run.saved = true;
        saved_so_far = true;
      }
      // ffmpeg's closing statistics read "任务完成" also when the stream dropped under it, stalled
      // or was cut short: the job says it once the recording is over and its parts are known to
      // play, and a drop line says what happened meanwhile.
      if (line == kToolDoneLine) return;
      // A try's opening lines (and all of a failed try's) are not shown: tried every two
      // seconds, they would push the gap lines out of the box.
      if (run.saved || !continuation) report_.line(line);
    });
    if (ran.aac_filter_refused) audio_filter_ = false;
    run.cannot_write = ran.write_refused;
    run.stalled = watch.stalled();
    run.data_end = run.stalled ? watch.last_growth() : Clock::now();
    run.data_end_clock = run.stalled ? watch.last_growth_clock() : platform::local_time_now();
  }
  // A try that saved nothing leaves nothing behind: its file (if it made one) was never a part.
  if (!run.saved && !existed && continuation) platform::remove_file(file);
  return run;
}

LiveEnd LiveRecording::run(const std::string& first_address, const std::string& base) {
  const LiveEnd end = record_parts(first_address, base);
  // A part lasts as long as what reached the disk. ffmpeg's count is not that: it starts after
  // its first look at the stream, whose seconds are written too. Measured once it is all over,
  // so that no reconnect waits for it.
  for (RecordedPart& part : parts_)
    if (const auto on_disk = seconds_on_disk(ffmpeg_program(ctx_), part.file)) part.seconds = *on_disk;
  return end;
}

void LiveRecording::add_part(const std::string& file, const Run& run) {
  // ffmpeg goes on counting for a while after its writes start failing: its count is no length.
  parts_.push_back({file, run.cannot_write ? 0.0 : run.seconds});
  std::vector<app::JobPart> parts;
  for (const RecordedPart& part : parts_) parts.push_back({part.file, part.seconds});
  report_.set_parts(std::move(parts));
}

LiveEnd LiveRecording::record_parts(const std::string& first_address, const std::string& base) {
  int part = 1;
  Run last = run_once(first_address, part_file(base, part), false, 0);
  if (!last.saved) return job_.stop_requested() ? LiveEnd::kStopped : LiveEnd::kNeverStarted;
  add_part(part_file(base, part), last);
  for (;;) {
    if (job_.stop_requested()) return LiveEnd::kStopped;
    if (last.cannot_write) {
      end_reason_ = "文件无法继续写入（磁盘已满或目录不可写），录制结束，已保存到：" + parts_.back().file;
      say(end_reason_, true);
      return LiveEnd::kCannotWrite;
    }
    // A stall has been named when it was found.
    if (!last.stalled) say(dropped_text(last.data_end_clock), true);
    report_.set_state(app::JobState::Reconnecting);
    const auto gave_up_at = last.data_end + settings_.reconnect_for;
    auto next_try = Clock::now();
    for (;;) {
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next_try - Clock::now());
      if (job_.wait_for_stop(std::max(wait, std::chrono::milliseconds(0)))) return LiveEnd::kStopped;
      if (Clock::now() >= gave_up_at) {
        end_reason_ = gave_up_text(static_cast<int>(
            std::chrono::duration_cast<std::chrono::seconds>(settings_.reconnect_for).count()));
        say(end_reason_, true);
        return LiveEnd::kGaveUp;
      }
      next_try = Clock::now() + settings_.retry_every;
      // The room page stays open: a renewed address replaces one that has expired.
      const std::string address = ctx_.window.text(address_box_);
      if (!check_stream_address(address).empty()) continue;
      const int candidate = next_free_part(base, part);
      const std::string file = part_file(base, candidate);
      Run attempt = run_once(address, file, true, seconds_since(last.data_end));
      if (attempt.cannot_write && !attempt.saved) {
        last.cannot_write = true;
        break;
      }
      if (attempt.saved) {
        part = candidate;
        add_part(file, attempt);
        last = attempt;
        break;
      }
      if (job_.stop_requested()) return LiveEnd::kStopped;
    }
  }
}

namespace {

// What must match for two files to be joined without re-encoding: each stream's codec, picture
// size, sample rate and channel layout, as ffmpeg describes the file.
std::string stream_parameters(const std::string& ffmpeg, const std::string& file) {
  ToolJob probe;
  std::string output;
  run_tool_once(probe, {ffmpeg, {"-hide_banner", "-i", file}}, [&](const std::string& line) { output += line; });
  static const std::regex stream(R"(Stream #\d+:\d+[^:]*: (Video|Audio): (\w+)[^\r\n]*)");
  static const std::regex details(R"(\b\d{2,5}x\d{2,5}\b|\b\d+ Hz\b|\b(mono|stereo|5\.1)\b)");
  std::string parameters;
  for (std::sregex_iterator it(output.begin(), output.end(), stream), end; it != end; ++it) {
    parameters += (*it)[1].str() + " " + (*it)[2].str();
    const std::string rest = (*it)[0].str();
    for (std::sregex_iterator d(rest.begin(), rest.end(), details); d != end; ++d) parameters += " " + d->str();
    parameters += ";";
  }
  return parameters;
}

std::string concat_list_entry(const std::string& file) {
  std::string quoted;
  for (char c : file) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return "file '" + quoted + "'\n";
}

}  // namespace

void join_parts(const std::string& ffmpeg, const std::vector<RecordedPart>& parts, const std::string& base,
                const std::function<void(const std::string&)>& line) {
  std::vector<std::vector<std::string>> groups;
  std::string previous;
  for (const RecordedPart& part : parts) {
    const std::string parameters = stream_parameters(ffmpeg, part.file);
    if (parameters.empty()) continue;  // nothing readable in it
    if (groups.empty() || parameters != previous) groups.emplace_back();
    groups.back().push_back(part.file);
    previous = parameters;
  }
  for (const auto& group : groups) {
    if (group.size() < 2) continue;
    std::string joined = base + "_joined.mp4";
    for (int k = 2; platform::file_exists(joined); ++k) joined = base + "_joined_" + std::to_string(k) + ".mp4";
    const std::string list = joined + ".txt";
    std::string text;
    for (const std::string& file : group) text += concat_list_entry(file);
    if (!platform::write_file(list, text)) {
      line("无法合并：列表文件写不进下载目录");
      return;
    }
    // The parts' audio is in MP4 form already: no audio filter.
    ToolCommand command{ffmpeg, {"-hide_banner", "-f", "concat", "-safe", "0", "-i", list, "-c", "copy"}};
    command.args.insert(command.args.end(), fragmented_mp4_options().begin(), fragmented_mp4_options().end());
    command.args.push_back(joined);
    ToolJob joiner;
    std::string output;
    const ToolRun run = run_tool_once(joiner, command, [&](const std::string& l) { output += l; });
    platform::remove_file(list);
    if (run.exit_code == 0 && platform::file_exists(joined))
      line("已合并 " + std::to_string(group.size()) + " 段为：" + joined);
    else
      line("合并失败，各段文件保留：" + joined);
  }
}

}  // namespace qz::record
