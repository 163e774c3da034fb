#include "record/hls_replay.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "app/web_address.h"
#include "platform/fs.h"
#include "platform/loopback_server.h"
#include "platform/process.h"
#include "platform/range_download.h"
#include "record/display_writer.h"
#include "record/hls_playlist.h"
#include "record/hls_progress.h"
#include "record/media_tools.h"
#include "record/tool_output.h"

namespace qz::record {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kHeaders =
    "Accept: */*\r\nUser-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/120.0 Safari/537.36";
// A playlist of a day-long replay is a few MB; anything far larger is not one.
constexpr std::size_t kPlaylistLimit = 32u << 20;
constexpr int kTries = 3;
constexpr std::chrono::milliseconds kBackOff[] = {500ms, 1500ms};
constexpr const char* kPlaylistName = "index.m3u8";
constexpr const char* kMasterName = "master.m3u8";
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// The most a part may hold: a key is 16 bytes, an init section a few KB, a segment a few MB. A
// server that sends more (with or without a Content-Length) is not sending that part.
constexpr std::uint64_t kKeyLimit = kMaxKeyBytes;
constexpr std::uint64_t kInitSectionLimit = 16u << 20;
constexpr std::uint64_t kSegmentLimit = 1u << 30;

// ---- the playlist --------------------------------------------------------------------------

struct PlaylistFetch {
  enum Result { Ok, NotHls, Failed } result = Failed;
  std::string body;
  std::string why;  // for Failed
};

bool could_be_hls(const std::string& start) {
  const std::string_view bom = "\xEF\xBB\xBF", tag = "#EXTM3U";
  std::string_view s = start;
  if (s.substr(0, std::min(s.size(), bom.size())) == bom.substr(0, std::min(s.size(), bom.size()))) {
    if (s.size() < bom.size()) return true;
    s.remove_prefix(bom.size());
  }
  const std::size_t n = std::min(s.size(), tag.size());
  return s.substr(0, n) == tag.substr(0, n);
}

PlaylistFetch fetch_playlist(const std::string& address) {
  platform::DownloadSession session;
  PlaylistFetch out;
  int status = 0;
  bool not_hls = false, too_long = false;
  platform::DownloadSession::Callbacks callbacks;
  callbacks.on_reply = [&](const platform::DownloadReply& reply) {
    status = reply.status;
    return status >= 200 && status <= 299;
  };
  callbacks.on_data = [&](const char* data, std::size_t n) {
    out.body.append(data, n);
    // A video file or a page is left at its first bytes: only a playlist is read whole.
    if (!could_be_hls(out.body.substr(0, 16))) not_hls = true;
    if (out.body.size() > kPlaylistLimit) too_long = true;
    return !not_hls && !too_long;
  };
  const platform::FetchOutcome outcome = session.fetch(address, kHeaders, callbacks);
  if (not_hls || (outcome == platform::FetchOutcome::Complete && !out.body.empty() && !could_be_hls(out.body.substr(0, 16)))) {
    out.result = PlaylistFetch::NotHls;
  } else if (status != 0 && (status < 200 || status > 299)) {
    out.why = "服务器回答 HTTP " + std::to_string(status);
  } else if (too_long) {
    out.why = "列表大于 32 MB";
  } else if (outcome != platform::FetchOutcome::Complete) {
    out.why = "连接失败";
  } else if (out.body.size() < 7) {
    out.why = "列表是空的";
  } else {
    out.result = PlaylistFetch::Ok;
  }
  return out;
}

// ---- the shared state of one download ------------------------------------------------------

// Gap: the playlist declares the segment absent; it is never fetched and ffmpeg gets it empty.
enum class ItemState { Waiting, Fetching, Done, Failed, Gap };

enum class ItemKind { Key, InitSection, Segment };

struct Item {
  const std::string* url;  // the playlist's own copy
  std::optional<HlsByteRange> range;
  std::string name;  // the local file name, as ffmpeg asks for it
  std::size_t segment = kNone;  // index in its playlist's segments, kNone for a key or init section
  ItemKind kind = ItemKind::Segment;
  std::size_t track = 0;
  const std::string* bytes = nullptr;  // a key the playlist gives itself: written, not fetched
};

std::uint64_t size_limit(ItemKind kind) {
  switch (kind) {
    case ItemKind::Key: return kKeyLimit;
    case ItemKind::InitSection: return kInitSectionLimit;
    case ItemKind::Segment: return kSegmentLimit;
  }
  return 0;
}

// One media playlist of the replay: the picture's (with its sound, or alone), and the sound's
// when the master gives it a playlist of its own. ffmpeg reads each as a playlist of ours.
struct Track {
  const HlsPlaylist* playlist = nullptr;
  std::string prefix;  // of its parts' local names, so the two tracks' names never meet
  std::size_t segment_count = 0;
  // Guarded by the download's mutex.
  std::size_t done_segments = 0;
  std::size_t cut = kNone;      // first segment not kept after a stop
  std::size_t asked_until = 0;  // one past the last segment ffmpeg has read or asked for
  std::shared_ptr<const std::string> ffmpeg_playlist;  // made at the first request, then kept

  std::string playlist_name() const { return prefix + kPlaylistName; }
};

// Held by a shared pointer: the job's stop handler may still be called while the run ends.
struct Download {
  std::string folder;
  std::vector<Item> items;  // keys and init sections first, then the segments in playing order
  std::map<std::string, std::size_t> by_name;
  std::vector<Track> tracks;  // the picture's first
  std::uint64_t bandwidth = 0;  // the chosen variant's, for the local master playlist
  std::string local_base;  // the loopback server's address, ending in "/"
  std::size_t fetched_total = 0;  // segments to fetch (not declared gaps), all tracks

  std::mutex mutex;  // guards everything below, and the tracks' guarded fields
  std::condition_variable changed;
  std::vector<ItemState> states;
  std::vector<bool> too_large;      // refused for its size: not tried again
  std::size_t next = 0;             // the next item a worker takes
  std::size_t done_segments = 0;    // all tracks
  bool closing = false;             // workers leave; waiting readers are answered
  bool stopped = false;             // the user stopped: segments from each track's cut on are answered empty
  std::atomic<std::uint64_t> bytes{0};

  std::string path_of(const Item& item) const { return platform::join_path(folder, item.name); }

  // ffmpeg's input: one media playlist, or a master naming the picture's and the sound's.
  std::string input_name() const { return tracks.size() > 1 ? kMasterName : kPlaylistName; }

  void stop() {
    std::lock_guard lock(mutex);
    if (stopped) return;
    stopped = true;
    closing = true;
    // What arrived in order from the start is kept; a segment that could not be had before the
    // stop is a gap like any other.
    for (Track& t : tracks) t.cut = t.segment_count;
    for (std::size_t i = 0; i < items.size(); ++i) {
      Track& t = tracks[items[i].track];
      if (items[i].segment == kNone || t.cut != t.segment_count) continue;
      if (states[i] == ItemState::Waiting || states[i] == ItemState::Fetching) t.cut = items[i].segment;
    }
    // A stop ends the file where ffmpeg has got to: the segments it has not asked for yet are
    // answered empty even when they are here, so it ends within moments, not after remuxing
    // the whole replay.
    for (Track& t : tracks) t.cut = std::min(t.cut, t.asked_until);
    changed.notify_all();
  }

  void close() {
    std::lock_guard lock(mutex);
    closing = true;
    changed.notify_all();
  }

  // A track's playlist as ffmpeg gets it when it asks for it. The keys and init sections already
  // here, and the segments already here in one run from the start, are read straight from their
  // files where ffmpeg can address them: nothing passes through the server twice. The rest goes
  // through the server, whose answers wait for the download. Only the leading run, because a
  // stop keeps what arrived in order from the start: every segment the server answers empty
  // after a stop must come after the ones ffmpeg reads by itself.
  //
  // Made once, at the first request, outside the lock (a long replay's playlist is megabytes),
  // and kept: what it names by file stays on disk, and a later stop only cuts after that run.
  std::shared_ptr<const std::string> playlist_for_ffmpeg(std::size_t track) {
    Track& t = tracks[track];
    std::vector<bool> here(items.size(), false);
    {
      std::lock_guard lock(mutex);
      if (t.ffmpeg_playlist) return t.ffmpeg_playlist;
      bool in_run = !stopped;
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].track != track) continue;
        const bool done = states[i] == ItemState::Done;
        // A declared gap is answered empty by the server at once: it does not end the run.
        in_run = in_run && (done || states[i] == ItemState::Gap);
        here[i] = !stopped && done && (items[i].segment == kNone || in_run);
        // ffmpeg reads the leading run from its files, unseen by the server: it has got that far.
        if (in_run && items[i].segment != kNone) t.asked_until = std::max(t.asked_until, items[i].segment + 1);
      }
    }
    auto text = std::make_shared<const std::string>(local_playlist(*t.playlist, [&](const std::string& local) {
      const std::string name = t.prefix + local;
      const auto it = by_name.find(name);
      const bool on_disk = it != by_name.end() && here[it->second] && readable_as_file(name);
      const auto file = on_disk ? local_file_address(path_of(items[it->second])) : std::nullopt;
      return file ? *file : local_base + name;
    }));
    std::lock_guard lock(mutex);
    if (!t.ffmpeg_playlist) t.ffmpeg_playlist = std::move(text);
    return t.ffmpeg_playlist;
  }

  std::string master_for_ffmpeg() const {
    return local_master_playlist(local_base + tracks[0].playlist_name(), local_base + tracks[1].playlist_name(), bandwidth);
  }
};

enum class Fetched { Whole, Failed, TooLarge };

// A key the playlist gives itself, into its file as if fetched.
Fetched write_given(Download& d, const Item& item) {
  const std::string path = d.path_of(item);
  const std::string temp = path + ".part";
  platform::File file;
  const bool written = file.open(temp, platform::File::Mode::Truncate) && file.append(item.bytes->data(), item.bytes->size());
  file.close();
  if (written && platform::rename_replacing(temp, path)) return Fetched::Whole;
  platform::remove_file(temp);
  return Fetched::Failed;
}

// One try at one item into its file; Whole when the file is whole under its name.
Fetched fetch_item(platform::DownloadSession& session, Download& d, const Item& item) {
  if (item.bytes) return write_given(d, item);
  const std::uint64_t limit = size_limit(item.kind);
  if (item.range && item.range->length > limit) return Fetched::TooLarge;
  const std::string path = d.path_of(item);
  const std::string temp = path + ".part";
  platform::File file;
  if (!file.open(temp, platform::File::Mode::Truncate)) return Fetched::Failed;
  std::string headers = kHeaders;
  std::uint64_t expected = 0;
  bool know_length = false;
  if (item.range) {
    headers += "\r\nRange: bytes=" + std::to_string(item.range->offset) + "-" +
               std::to_string(item.range->offset + item.range->length - 1);
    expected = item.range->length;
    know_length = true;
  }
  std::uint64_t written = 0;
  bool bad = false, too_large = false;
  platform::DownloadSession::Callbacks callbacks;
  callbacks.on_reply = [&](const platform::DownloadReply& reply) {
    if (item.range) {
      const std::string want = "bytes " + std::to_string(item.range->offset) + "-" +
                               std::to_string(item.range->offset + item.range->length - 1) + "/";
      bad = reply.status != 206 || reply.content_range.rfind(want, 0) != 0;
    } else {
      bad = reply.status != 200;
      if (reply.content_length) {
        expected = *reply.content_length;
        know_length = true;
        too_large = !bad && expected > limit;
        bad = bad || too_large;
      }
    }
    return !bad;
  };
  callbacks.on_data = [&](const char* data, std::size_t n) {
    if (written + n > limit) too_large = true;
    if (too_large || (know_length && written + n > expected) || !file.append(data, n)) {
      bad = true;
      return false;
    }
    written += n;
    d.bytes += n;
    return true;
  };
  callbacks.cancelled = [&] {
    std::lock_guard lock(d.mutex);
    return d.closing;
  };
  const platform::FetchOutcome outcome = session.fetch(*item.url, headers, callbacks);
  file.close();
  const bool whole = !bad && outcome == platform::FetchOutcome::Complete && (!know_length || written == expected);
  if (!whole || !platform::rename_replacing(temp, path)) {
    d.bytes -= written;
    platform::remove_file(temp);
    return too_large ? Fetched::TooLarge : Fetched::Failed;
  }
  return Fetched::Whole;
}

// One item to its end: tried up to three times, unless refused for its size or the download is
// closing. A failure of memory or any other exception fails the item, never the program.
Fetched fetch_with_retries(platform::DownloadSession& session, Download& d, std::size_t i) {
  Fetched result = Fetched::Failed;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    if (attempt > 0) {
      std::unique_lock lock(d.mutex);
      if (d.changed.wait_for(lock, kBackOff[attempt - 1], [&] { return d.closing; })) break;
    }
    try {
      result = fetch_item(session, d, d.items[i]);
    } catch (const std::exception&) {
      result = Fetched::Failed;
    }
    if (result != Fetched::Failed) break;
  }
  return result;
}

void run_worker(Download& d) {
  platform::DownloadSession session;  // one connection, reused from item to item
  for (;;) {
    std::size_t i;
    {
      std::lock_guard lock(d.mutex);
      while (d.next < d.items.size() && d.states[d.next] != ItemState::Waiting) ++d.next;  // declared gaps
      if (d.closing || d.next >= d.items.size()) return;
      i = d.next++;
      d.states[i] = ItemState::Fetching;
    }
    const Fetched result = fetch_with_retries(session, d, i);
    std::lock_guard lock(d.mutex);
    d.states[i] = result == Fetched::Whole ? ItemState::Done : ItemState::Failed;
    d.too_large[i] = result == Fetched::TooLarge;
    if (result == Fetched::Whole && d.items[i].segment != kNone) {
      ++d.done_segments;
      ++d.tracks[d.items[i].track].done_segments;
    }
    d.changed.notify_all();
  }
}

// What ffmpeg gets for one of its requests; waits until the item has settled.
platform::LocalReply answer(Download& d, const std::string& path) {
  platform::LocalReply reply;
  const std::string name = path.empty() ? path : path.substr(1);
  for (std::size_t t = 0; t < d.tracks.size(); ++t) {
    if (name != d.tracks[t].playlist_name()) continue;
    reply.content_type = "application/vnd.apple.mpegurl";
    reply.body = *d.playlist_for_ffmpeg(t);
    return reply;
  }
  if (d.tracks.size() > 1 && name == kMasterName) {
    reply.content_type = "application/vnd.apple.mpegurl";
    reply.body = d.master_for_ffmpeg();
    return reply;
  }
  const auto it = d.by_name.find(name);
  if (it == d.by_name.end()) return {404, "text/plain", "not found", ""};
  const std::size_t i = it->second;
  const Item& item = d.items[i];
  Track& track = d.tracks[item.track];
  std::unique_lock lock(d.mutex);
  if (item.segment != kNone && !d.stopped) track.asked_until = std::max(track.asked_until, item.segment + 1);
  d.changed.wait(lock, [&] {
    return d.states[i] == ItemState::Done || d.states[i] == ItemState::Failed || d.states[i] == ItemState::Gap ||
           d.closing;
  });
  // After a stop, ffmpeg runs through the rest as empty segments and ends by itself; a declared
  // gap is empty all along.
  if (d.stopped && item.segment != kNone && item.segment >= track.cut) return reply;
  if (d.states[i] == ItemState::Gap) return reply;
  if (d.states[i] != ItemState::Done) return {404, "text/plain", "not found", ""};
  reply.content_type = item.segment == kNone ? "application/octet-stream" : "video/mp2t";
  reply.file_path = d.path_of(item);
  return reply;
}

// The same, for the server's threads: an answer that cannot be made (no memory for it) is an
// error to ffmpeg, never an exception on the server's thread.
platform::LocalReply answer_or_error(Download& d, const std::string& path) {
  try {
    return answer(d, path);
  } catch (const std::exception&) {
    return {503, "text/plain", "unavailable", ""};
  }
}

// The items of every track: keys and init sections first, then the segments of all tracks in
// playing order, so the sound arrives beside the picture it goes with.
void build_items(Download& d) {
  std::size_t total = 0;
  for (const Track& t : d.tracks) total += t.playlist->keys.size() + t.playlist->maps.size() + t.playlist->segments.size();
  d.items.reserve(total);
  for (std::size_t t = 0; t < d.tracks.size(); ++t) {
    const HlsPlaylist& p = *d.tracks[t].playlist;
    const std::string& prefix = d.tracks[t].prefix;
    for (std::size_t k = 0; k < p.keys.size(); ++k) {
      const std::string* bytes = p.keys[k].bytes ? &*p.keys[k].bytes : nullptr;
      d.items.push_back({&p.keys[k].uri, std::nullopt, prefix + local_key_name(k), kNone, ItemKind::Key, t, bytes});
    }
    for (std::size_t m = 0; m < p.maps.size(); ++m)
      d.items.push_back({&p.maps[m].uri, p.maps[m].range, prefix + local_map_name(p, m), kNone, ItemKind::InitSection, t});
  }
  std::vector<std::size_t> next(d.tracks.size(), 0);
  for (;;) {
    // The track whose next segment starts first.
    std::size_t pick = kNone;
    for (std::size_t t = 0; t < d.tracks.size(); ++t) {
      const auto& segments = d.tracks[t].playlist->segments;
      if (next[t] < segments.size() &&
          (pick == kNone || segments[next[t]].start < d.tracks[pick].playlist->segments[next[pick]].start))
        pick = t;
    }
    if (pick == kNone) break;
    const HlsPlaylist& p = *d.tracks[pick].playlist;
    const std::size_t s = next[pick]++;
    d.items.push_back({&p.segments[s].uri, p.segments[s].range, d.tracks[pick].prefix + local_segment_name(p, s), s,
                       ItemKind::Segment, pick});
  }
  for (std::size_t i = 0; i < d.items.size(); ++i) d.by_name[d.items[i].name] = i;
  d.states.assign(d.items.size(), ItemState::Waiting);
  d.too_large.assign(d.items.size(), false);
  for (Track& t : d.tracks) t.segment_count = t.playlist->segments.size();
  d.fetched_total = 0;
  for (std::size_t i = 0; i < d.items.size(); ++i) {
    if (d.items[i].segment == kNone) continue;
    if (d.tracks[d.items[i].track].playlist->segments[d.items[i].segment].gap) d.states[i] = ItemState::Gap;
    else ++d.fetched_total;
  }
}

// Writes the progress line and the status bar's percentage once a second until `finished`.
class ProgressTicker {
 public:
  ProgressTicker(Download& d, app::WindowModel& window) : d_(d), window_(window) {
    thread_ = std::thread([this] { run(); });
  }
  ~ProgressTicker() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    changed_.notify_all();
    thread_.join();
    show_if_possible();  // the last state, whatever the second
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    while (!changed_.wait_for(lock, 1s, [this] { return finished_; })) {
      lock.unlock();
      show_if_possible();
      lock.lock();
    }
  }
  // A second without memory for the line skips that second's line.
  void show_if_possible() {
    try {
      show();
    } catch (const std::exception&) {
    }
  }
  void show() {
    ReplayProgress p;
    {
      std::lock_guard lock(d_.mutex);
      p.done = d_.done_segments;
    }
    p.total = d_.fetched_total;
    p.bytes = d_.bytes.load();
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - last_time_).count();
    if (elapsed > 0.2) {
      const double rate = static_cast<double>(p.bytes > last_bytes_ ? p.bytes - last_bytes_ : 0) / elapsed;
      // Smoothed over a few seconds, so the figure does not jump with every segment.
      speed_ = shown_once_ ? 0.6 * speed_ + 0.4 * rate : rate;
      last_time_ = now;
      last_bytes_ = p.bytes;
      shown_once_ = true;
    }
    p.bytes_per_second = speed_;
    if (p.done > 0 && speed_ > 1)
      p.seconds_left = static_cast<double>(p.bytes) / static_cast<double>(p.done) *
                       static_cast<double>(p.total - p.done) / speed_;
    replace_display_line(window_, kReplayProgressPrefix, replay_progress_text(p));
    window_.set_status_part(1, replay_percent_text(p.done, p.total));
  }

  Download& d_;
  app::WindowModel& window_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool finished_ = false;
  std::thread thread_;
  Clock::time_point last_time_ = Clock::now();
  std::uint64_t last_bytes_ = 0;
  double speed_ = 0;
  bool shown_once_ = false;
};

void remove_segment_folder(const Download& d) {
  for (const Item& item : d.items) {
    platform::remove_file(d.path_of(item));
    platform::remove_file(d.path_of(item) + ".part");
  }
  platform::remove_empty_directory(d.folder);
}

// A key or init section that could not be had: every segment after it is lost with it.
std::string missing_part_text(const Item& item, bool too_large) {
  const std::string address = app::shown_address(*item.url);
  if (item.kind == ItemKind::Key)
    return too_large ? "回放密钥大于 1 KiB，已拒绝：" + address : "回放密钥无法下载：" + address;
  if (item.kind == ItemKind::InitSection)
    return too_large ? "回放初始化分段大于 16 MiB，已拒绝：" + address : "回放初始化分段无法下载：" + address;
  return "回放分段大于 1 GiB，已拒绝：" + address;
}

// The lines naming the segments a track's playlist declares absent up to `kept_until`, one for
// each run of them.
void report_declared_gaps(const Track& track, std::size_t kept_until, const LineCallback& line) {
  const std::vector<HlsSegment>& segments = track.playlist->segments;
  for (std::size_t i = 0; i < kept_until; ++i) {
    if (!segments[i].gap) continue;
    std::size_t last = i;
    while (last + 1 < kept_until && segments[last + 1].gap) ++last;
    line(declared_gap_text(segments[i].start, segments[last].start + segments[last].duration, i + 1, last + 1));
    i = last;
  }
}

// The closing lines: each missing key or init section, each part refused for its size, the gaps
// the playlist declares, each segment that could not be had with its time range, and after a
// stop how much was kept. False when not one segment of the picture arrived without a stop: the
// download failed, and its lines say so.
bool report_end(const Download& d, const LineCallback& line) {
  for (std::size_t i = 0; i < d.items.size(); ++i) {
    const bool missing_part = d.items[i].segment == kNone && d.states[i] == ItemState::Failed;
    if (missing_part || d.too_large[i]) line(missing_part_text(d.items[i], d.too_large[i]));
  }
  const auto kept_until = [&](const Track& t) { return d.stopped ? t.cut : t.segment_count; };
  for (const Track& t : d.tracks) report_declared_gaps(t, kept_until(t), line);
  if (!d.stopped && d.tracks[0].done_segments == 0) {
    line(kNothingReceived);
    return false;
  }
  std::size_t gaps = 0;
  for (std::size_t i = 0; i < d.items.size(); ++i) {
    const Item& item = d.items[i];
    const Track& t = d.tracks[item.track];
    if (item.segment == kNone || item.segment >= kept_until(t) || d.states[i] == ItemState::Done ||
        d.states[i] == ItemState::Gap)
      continue;
    const HlsSegment& s = t.playlist->segments[item.segment];
    line((item.track > 0 ? "音轨" : "") + gap_text(s.start, s.start + s.duration, item.segment + 1));
    ++gaps;
  }
  const Track& picture = d.tracks[0];
  const HlsPlaylist& playlist = *picture.playlist;
  if (d.stopped) {
    const std::size_t kept = kept_until(picture);
    const double kept_seconds = kept == 0 ? 0 : playlist.segments[kept - 1].start + playlist.segments[kept - 1].duration;
    line("回放下载已停止：保存了开头的 " + std::to_string(kept) + "/" + std::to_string(picture.segment_count) +
         " 段，时长 " + clock_text(kept_seconds) + "（全长 " + clock_text(playlist.total_duration()) + "）");
  } else if (gaps > 0) {
    line("回放已保存，缺少 " + std::to_string(gaps) + " 段（见上）");
  }
  return true;
}

// How ffmpeg reads our playlist: from our loopback server, or from our own files for the parts it
// names by file (only media extensions ffmpeg takes by default; keys and any other name come
// through the server), and may decrypt them. Nothing else: every line of the playlist is ours.
const std::vector<std::string>& local_input_options() {
  static const std::vector<std::string> options = {"-protocol_whitelist", "file,http,tcp,crypto"};
  return options;
}

// ffmpeg remuxes into the file alone: the preview gets its copy from a feed of its own, so the
// file is never held back by the copy to the preview port.
ToolCommand remux_command(const HlsReplayRequest& request, const std::string& local_address) {
  // A file name that starts with "-" would read as an option; the file: prefix keeps it a file.
  const std::string& target = request.target;
  const std::string output = !target.empty() && target[0] == '-' ? "file:" + target : target;
  ToolCommand command;
  command.program = request.ffmpeg;
  // The program shows its own progress line: ffmpeg's per-segment "Opening" lines and statistics
  // would push it out of the box, so only its warnings and errors are shown.
  command.args = {"-hide_banner", "-loglevel", "warning"};
  command.args.insert(command.args.end(), local_input_options().begin(), local_input_options().end());
  command.args.insert(command.args.end(), {"-i", local_address, "-c", "copy"});
  command.args.insert(command.args.end(), crash_safe_mp4_options().begin(), crash_safe_mp4_options().end());
  command.args.insert(command.args.end(), {"-y", output});
  return command;
}

// The preview's copy of the replay ("边下边播" listens on the replay's port). Its own ffmpeg reads
// the local playlist at the replay's own pace, so the user watches the replay from its start at
// normal speed while it downloads, rather than the whole replay rushing past at download speed;
// and the file's ffmpeg never waits on the copy. The feed ends with the download.
class PreviewFeed {
 public:
  PreviewFeed(const HlsReplayRequest& request, const std::string& local_address) {
    if (request.preview_port == 0) return;
    platform::ProcessOptions options;
    options.program = request.ffmpeg;
    options.args = {"-hide_banner", "-nostdin", "-loglevel", "quiet", "-re"};
    options.args.insert(options.args.end(), local_input_options().begin(), local_input_options().end());
    options.args.insert(options.args.end(), {"-i", local_address, "-c", "copy", "-f", "mpegts",
                                             "udp://127.0.0.1:" + std::to_string(request.preview_port)});
    options.streams = platform::Streams::kNone;
    options.when_we_end = platform::WhenWeEnd::kKill;
    started_ = process_.start(options);
  }
  ~PreviewFeed() { end(); }
  PreviewFeed(const PreviewFeed&) = delete;
  PreviewFeed& operator=(const PreviewFeed&) = delete;

  void end() {
    if (!started_) return;
    started_ = false;
    process_.terminate();
    process_.wait(-1);
  }

 private:
  platform::Process process_;
  bool started_ = false;
};

}  // namespace

std::string segment_folder_of(const std::string& target) {
  const std::string stem = target.size() > 4 && target.compare(target.size() - 4, 4, ".mp4") == 0
                               ? target.substr(0, target.size() - 4)
                               : target;
  return stem + ".segments";
}

namespace {

// The line that says why a playlist is refused; "" when it is not.
std::string refusal_text(const HlsPlaylist& playlist, const std::string& address) {
  switch (playlist.refusal) {
    case HlsPlaylist::Refusal::None: return {};
    case HlsPlaylist::Refusal::TooLarge: return "回放列表过大";
    case HlsPlaylist::Refusal::UnsupportedAddress:
      return "回放列表含有不支持的地址：" + app::shown_address(playlist.refused_address);
    case HlsPlaylist::Refusal::BadAttributes: return "回放列表无法读取（标签属性不合规范）：" + address;
    case HlsPlaylist::Refusal::NoAddress: return "回放列表没有可下载的地址";
    case HlsPlaylist::Refusal::KeyTooLarge:
      return "回放密钥大于 1 KiB，已拒绝：" + app::shown_address(playlist.refused_address);
    case HlsPlaylist::Refusal::KeyUnreadable: return "回放密钥无法解码：" + app::shown_address(playlist.refused_address);
  }
  return {};
}

enum class Reading { Download, NotForUs, Refused };

// What a media playlist fetched from `address` allows: a download when it is whole and has
// segments, the plain way when it is still live, else the line that says why not.
Reading media_reading(PlaylistFetch& fetched, const HlsPlaylist& playlist, const std::string& address, std::string& why_not) {
  if (why_not = refusal_text(playlist, address); !why_not.empty()) return Reading::Refused;
  if (fetched.result == PlaylistFetch::Ok && playlist.kind == HlsPlaylist::Kind::Media) {
    // Still live: only ffmpeg knows how to follow a growing playlist.
    if (!playlist.ended) return Reading::NotForUs;
    if (playlist.segments.empty()) fetched.why = "列表里没有视频分段";
  } else if (fetched.why.empty()) {
    fetched.why = "不是可用的播放列表";
  }
  if (fetched.why.empty()) return Reading::Download;
  why_not = "回放列表无法读取（" + fetched.why + "）：" + address;
  return Reading::Refused;
}

// A media playlist a master names; `what` names it in the lines ("所选清晰度", "所选音轨").
Reading read_named_playlist(const std::string& address, const std::string& what, HlsPlaylist& playlist, std::string& why_not) {
  PlaylistFetch fetched = fetch_playlist(address);
  playlist = fetched.result == PlaylistFetch::Ok ? parse_playlist(fetched.body, address) : HlsPlaylist{};
  if (fetched.result == PlaylistFetch::NotHls) fetched.why = what + "的地址不是播放列表";
  else if (playlist.kind == HlsPlaylist::Kind::Master) fetched.why = what + "又是一个总列表";
  return media_reading(fetched, playlist, address, why_not);
}

// The media playlists of the replay at `address`: the picture's (the master's best variant), and
// the sound's when that variant takes it from a rendition; or the line that says why there are
// none. Nothing a playlist names is fetched before it is read whole and found sound.
Reading read_replay_playlists(const std::string& address, HlsPlaylist& picture, std::optional<HlsPlaylist>& sound,
                              std::uint64_t& bandwidth, std::string& why_not) {
  PlaylistFetch fetched = fetch_playlist(address);
  if (fetched.result == PlaylistFetch::NotHls) return Reading::NotForUs;
  if (fetched.result == PlaylistFetch::Ok) picture = parse_playlist(fetched.body, address);
  if (fetched.result != PlaylistFetch::Ok || picture.kind != HlsPlaylist::Kind::Master || picture.refusal != HlsPlaylist::Refusal::None)
    return media_reading(fetched, picture, address, why_not);
  const HlsPlaylist master = std::move(picture);
  const HlsVariant variant = *master.best_variant();  // a master has a variant
  bandwidth = variant.bandwidth;
  const Reading reading = read_named_playlist(variant.uri, "所选清晰度", picture, why_not);
  const std::optional<HlsRendition> rendition = master.audio_of(variant);
  // A rendition that names the variant's own playlist has its sound there already.
  if (reading != Reading::Download || !rendition || rendition->uri == variant.uri) return reading;
  sound.emplace();
  return read_named_playlist(rendition->uri, "所选音轨", *sound, why_not);
}

// The workers, closed and joined on every way out of the download, an exception's too.
struct Workers {
  explicit Workers(Download& download) : d(download) {}
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  ~Workers() { join(); }
  void join() {
    d.close();
    for (std::thread& w : threads)
      if (w.joinable()) w.join();
  }
  Download& d;
  std::vector<std::thread> threads;
};

}  // namespace

HlsReplayOutcome run_hls_replay(const HlsReplayRequest& request, ToolJob& job, app::WindowModel& window,
                                const LineCallback& line) {
  if (request.address.rfind("http://", 0) != 0 && request.address.rfind("https://", 0) != 0)
    return HlsReplayOutcome::NotForUs;
  HlsPlaylist picture;
  std::optional<HlsPlaylist> sound;
  auto d = std::make_shared<Download>();
  try {
    std::string why_not;
    const Reading reading = read_replay_playlists(request.address, picture, sound, d->bandwidth, why_not);
    if (reading == Reading::NotForUs) return HlsReplayOutcome::NotForUs;
    if (reading == Reading::Refused) {
      line(why_not);
      return HlsReplayOutcome::Finished;
    }
    d->folder = segment_folder_of(request.target);
    d->tracks.push_back({&picture, ""});
    if (sound) d->tracks.push_back({&*sound, "a-"});
    build_items(*d);
  } catch (const std::bad_alloc&) {
    line("内存不足，回放列表无法读取");
    return HlsReplayOutcome::Finished;
  }
  if (!platform::make_directories(d->folder)) {
    line("无法建立分段文件夹：" + d->folder);
    return HlsReplayOutcome::Finished;
  }
  platform::LoopbackServer server;
  if (!server.start([d](const std::string& path) { return answer_or_error(*d, path); })) {
    line("无法启动本机转发，改用 ffmpeg 直接下载");
    platform::remove_empty_directory(d->folder);
    return HlsReplayOutcome::NotForUs;
  }
  const std::string local_base = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
  d->local_base = local_base;

  Workers workers(*d);
  const std::size_t count = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(request.connections, 1)), 1, d->items.size());
  workers.threads.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    try {
      workers.threads.emplace_back([d] { run_worker(*d); });
    } catch (const std::system_error&) {
      break;  // fewer connections; at least none is fine too, the answers then say "not found"
    }
  }
  if (workers.threads.empty()) d->close();

  job.set_stop_handler([d] { d->stop(); });
  if (job.stop_requested()) d->stop();
  {
    ProgressTicker ticker(*d, window);
    PreviewFeed preview(request, local_base + d->input_name());
    run_tool_unfinished(job, remux_command(request, local_base + d->input_name()), line);
    d->close();  // the file's ffmpeg has gone: nothing waits for the rest
    preview.end();
    workers.join();
  }
  job.set_stop_handler(nullptr);
  server.stop();

  if (!report_end(*d, line)) {
    // Whatever ffmpeg made of no segments is no replay.
    platform::remove_file(request.target);
    remove_segment_folder(*d);
    return HlsReplayOutcome::Finished;
  }
  const std::optional<int> code = job.process().wait(0);
  if (code && *code == 0 && platform::file_exists(request.target)) {
    line(kToolDoneLine);
    remove_segment_folder(*d);
  } else {
    line("分段保留在：" + d->folder);
  }
  return HlsReplayOutcome::Finished;
}

}  // namespace qz::record
