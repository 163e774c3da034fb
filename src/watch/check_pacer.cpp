#include "watch/check_pacer.h"

#include <algorithm>

namespace qz::watch {

CheckPacer::CheckPacer(PacingRules rules, std::function<double()> random)
    : rules_(std::move(rules)), random_(std::move(random)) {
  rules_.tabs = std::max(rules_.tabs, 1);
}

Ms watch_round(std::size_t rooms, Ms every, Ms gap) {
  return std::max(every, gap * static_cast<Ms::rep>(rooms));
}

Ms CheckPacer::round() const { return watch_round(rooms_.size(), rules_.every, rules_.gap); }

Ms CheckPacer::jittered_round() {
  const double factor = 1.0 + rules_.jitter * (2.0 * random_() - 1.0);
  return Ms(static_cast<Ms::rep>(static_cast<double>(round().count()) * factor));
}

Ms CheckPacer::backoff(int failures) const {
  Ms delay = round();
  for (int i = 0; i < failures && delay < rules_.longest_backoff; ++i) delay *= 2;
  return std::max(round(), std::min(delay, rules_.longest_backoff));
}

void CheckPacer::set_rooms(const std::vector<std::string>& rooms, Ms now) {
  std::map<std::string, RoomState> kept;
  std::vector<std::string> added;
  for (const std::string& room : rooms) {
    if (kept.contains(room)) continue;
    if (auto old = rooms_.find(room); old != rooms_.end()) kept.insert(*old);
    else {
      kept.emplace(room, RoomState{});
      added.push_back(room);
    }
  }
  rooms_ = std::move(kept);
  // The new rooms share one round evenly, in the order given: the first at once.
  const Ms step = added.empty() ? Ms(0) : round() / static_cast<Ms::rep>(added.size());
  for (std::size_t i = 0; i < added.size(); ++i) rooms_[added[i]].due = now + step * static_cast<Ms::rep>(i);
}

std::optional<std::string> CheckPacer::next_check(Ms now) {
  if (paused(now) || open_.size() >= static_cast<std::size_t>(rules_.tabs)) return std::nullopt;
  if (last_load_ && now < *last_load_ + rules_.gap) return std::nullopt;
  // Rooms not yet checked first (each within its first round), then the one due longest.
  auto pick = rooms_.end();
  for (auto it = rooms_.begin(); it != rooms_.end(); ++it) {
    const RoomState& state = it->second;
    if (!state.due || *state.due > now || open_.contains(it->first)) continue;
    if (pick == rooms_.end() ||
        std::pair(state.checked, *state.due) < std::pair(pick->second.checked, *pick->second.due))
      pick = it;
  }
  if (pick == rooms_.end()) return std::nullopt;
  RoomState& state = pick->second;
  state.due.reset();
  state.checked = true;
  state.check_started = now;
  open_.insert(pick->first);
  last_load_ = now;
  return pick->first;
}

void CheckPacer::check_done(const std::string& room, CheckOutcome outcome, Ms now) {
  if (open_.erase(room) == 0) return;
  note_result(outcome == CheckOutcome::kFailed, now);
  const auto it = rooms_.find(room);
  if (it == rooms_.end()) return;
  RoomState& state = it->second;
  switch (outcome) {
    case CheckOutcome::kLive:
      state.failures = 0;
      state.follow_ups.clear();
      break;  // held until recording_ended()
    case CheckOutcome::kNotLive:
      state.failures = 0;
      if (!state.follow_ups.empty()) {
        state.due = std::max(now, state.follow_ups.front());
        state.follow_ups.erase(state.follow_ups.begin());
      } else {
        state.due = state.check_started + jittered_round();
      }
      break;
    case CheckOutcome::kFailed:
      ++state.failures;
      state.follow_ups.clear();
      state.due = now + backoff(state.failures);
      break;
  }
}

void CheckPacer::recording_ended(const std::string& room, bool by_itself, Ms now) {
  const auto it = rooms_.find(room);
  if (it == rooms_.end() || open_.contains(room)) return;
  RoomState& state = it->second;
  state.follow_ups.clear();
  if (by_itself && !rules_.after_recording.empty()) {
    for (const Ms after : rules_.after_recording) state.follow_ups.push_back(now + after);
    state.due = state.follow_ups.front();
    state.follow_ups.erase(state.follow_ups.begin());
  } else {
    state.due = now + jittered_round();
  }
}

void CheckPacer::note_result(bool failed, Ms now) {
  recent_.emplace_back(now, failed);
  while (!recent_.empty() && recent_.front().first + rules_.failure_window < now) recent_.pop_front();
  const auto failures = static_cast<std::size_t>(std::count_if(recent_.begin(), recent_.end(),
                                                               [](const auto& r) { return r.second; }));
  if (recent_.size() >= rules_.pause_min_checks &&
      static_cast<double>(failures) >= rules_.pause_share * static_cast<double>(recent_.size())) {
    paused_until_ = now + rules_.pause;
    recent_.clear();  // the pause answers these failures; the next ones are counted afresh
  }
}

std::optional<Ms> CheckPacer::wake_at() const {
  if (open_.size() >= static_cast<std::size_t>(rules_.tabs)) return std::nullopt;
  std::optional<Ms> earliest;
  for (const auto& [room, state] : rooms_)
    if (state.due && !open_.contains(room) && (!earliest || *state.due < *earliest)) earliest = state.due;
  if (!earliest) return std::nullopt;
  Ms at = std::max(*earliest, paused_until_);
  if (last_load_) at = std::max(at, *last_load_ + rules_.gap);
  return at;
}

std::optional<Ms> CheckPacer::due(const std::string& room) const {
  const auto it = rooms_.find(room);
  return it == rooms_.end() ? std::nullopt : it->second.due;
}

int CheckPacer::failures(const std::string& room) const {
  const auto it = rooms_.find(room);
  return it == rooms_.end() ? 0 : it->second.failures;
}

std::string pace_line(std::size_t rooms, Ms round) {
  const auto seconds = (round.count() + 999) / 1000;
  return "共 " + std::to_string(rooms) + " 个直播间，每个约每 " + std::to_string(seconds) + " 秒检查一次";
}

}  // namespace qz::watch
