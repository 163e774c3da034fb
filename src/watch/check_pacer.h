#pragma once
// When each watched room's page is loaded to see whether it is live. Pure: no threads, no clock;
// the watcher passes the time in and asks what to do now, so every rule can be tested in a
// table with made-up times.
//
// The rules, so that no platform takes the program for a robot:
// - each room is checked about every `every` (±`jitter`, so rooms drift apart rather than
//   bunching), but no two page loads start within `gap` of each other and at most `tabs` pages
//   are open at once. The gap wins: with N rooms a round takes at least N × gap, so each room is
//   checked every max(every, N × gap);
// - a failed check (an HTTP error, a page that never loads, a verification page) is tried again
//   later and later: twice the round, four times, ..., at most `longest_backoff` (but never sooner
//   than the round);
// - when at least `pause_share` of the checks of the last `failure_window` failed (and there were
//   at least `pause_min_checks` of them), all checks pause for `pause`;
// - a room found live is not checked until its recording ends; a recording that ended by itself
//   is followed by checks `after_recording` later (a streamer who restarts within minutes), then
//   the room returns to its round;
// - when watching starts, the rooms are spread over the first round, never all at once, and a
//   room not yet checked goes before one due again, so each is checked within its first round.
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qz::watch {

using Ms = std::chrono::milliseconds;  // time since any fixed start, on a clock that never jumps

struct PacingRules {
  Ms every{120'000};
  int tabs = 2;
  Ms gap{3'000};
  double jitter = 0.10;
  Ms longest_backoff{15 * 60'000};
  Ms pause{2 * 60'000};
  Ms failure_window{60'000};
  double pause_share = 0.8;
  std::size_t pause_min_checks = 5;
  std::vector<Ms> after_recording{Ms(30'000), Ms(60'000)};
};

enum class CheckOutcome { kNotLive, kLive, kFailed };

class CheckPacer {
 public:
  // `random` gives numbers in [0, 1) for the jitter.
  CheckPacer(PacingRules rules, std::function<double()> random);

  // The rooms to watch, by identity. Rooms new to the pacer are spread over one round from `now`;
  // rooms no longer given are forgotten (a check of one still open is ignored when it ends).
  void set_rooms(const std::vector<std::string>& rooms, Ms now);

  // The room whose page to load now, if any; it counts as open until check_done().
  std::optional<std::string> next_check(Ms now);
  void check_done(const std::string& room, CheckOutcome outcome, Ms now);

  // A room found live is held (never checked) until its recording ends. `by_itself`: the stream
  // ended and did not come back (rather than the user stopping it): then the follow-up checks.
  void recording_ended(const std::string& room, bool by_itself, Ms now);

  // When next_check() may next have something; nothing while every tab is busy (a check_done()
  // comes first) or no room is waiting.
  std::optional<Ms> wake_at() const;

  Ms round() const;  // max(every, N × gap) for the N rooms watched
  std::size_t room_count() const { return rooms_.size(); }
  bool paused(Ms now) const { return now < paused_until_; }
  // When the room is due next (nothing while it is checked or held live), and its failures in a row.
  std::optional<Ms> due(const std::string& room) const;
  int failures(const std::string& room) const;

 private:
  struct RoomState {
    std::optional<Ms> due;  // nothing: open or held live
    bool checked = false;   // at least once since watching started
    int failures = 0;       // in a row
    std::vector<Ms> follow_ups;  // still to come after a recording ended by itself
    Ms check_started{0};
  };

  Ms jittered_round();
  Ms backoff(int failures) const;
  void note_result(bool failed, Ms now);

  PacingRules rules_;
  std::function<double()> random_;
  std::map<std::string, RoomState> rooms_;
  std::set<std::string> open_;  // checks running, also of rooms forgotten meanwhile
  std::optional<Ms> last_load_;
  Ms paused_until_{0};
  std::deque<std::pair<Ms, bool>> recent_;  // (when, failed) of the checks of the last window
};

// How long one round of checks takes: max(every, rooms × gap).
Ms watch_round(std::size_t rooms, Ms every, Ms gap);

// "共 N 个直播间，每个约每 M 秒检查一次": said when watching starts and whenever the list changes,
// so a user who wants faster checks knows what to shorten.
std::string pace_line(std::size_t rooms, Ms round);

}  // namespace qz::watch
