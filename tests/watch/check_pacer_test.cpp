#include "watch/check_pacer.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace qz::watch {
namespace {

using std::chrono::minutes;
using std::chrono::seconds;

std::vector<std::string> room_names(int count) {
  std::vector<std::string> rooms;
  for (int i = 0; i < count; ++i) rooms.push_back("room" + std::to_string(i));
  return rooms;
}

// No jitter: the middle of the range.
double middle() { return 0.5; }

// Runs watching on a made-up clock: every check takes `check_takes` and finds the room not live
// (or failed, for the rooms `fails` names). Keeps when each check started.
struct Simulation {
  CheckPacer pacer;
  Ms check_takes{1'000};
  std::function<bool(const std::string&)> fails = [](const std::string&) { return false; };
  std::map<std::string, std::vector<Ms>> starts;
  std::vector<Ms> all_starts;
  std::size_t most_open = 0;

  void run_until(Ms end) {
    std::multimap<Ms, std::string> open;  // when each running check ends
    Ms now{0};
    while (now <= end) {
      while (!open.empty() && open.begin()->first <= now) {
        const std::string room = open.begin()->second;
        open.erase(open.begin());
        pacer.check_done(room, fails(room) ? CheckOutcome::kFailed : CheckOutcome::kNotLive, now);
      }
      while (const auto room = pacer.next_check(now)) {
        starts[*room].push_back(now);
        all_starts.push_back(now);
        open.emplace(now + check_takes, *room);
        most_open = std::max(most_open, open.size());
      }
      // The watcher sleeps until the pacer's time or the next check's end, whichever is first.
      std::optional<Ms> next = pacer.wake_at();
      if (!open.empty() && (!next || open.begin()->first < *next)) next = open.begin()->first;
      if (!next) break;
      now = std::max(*next, now + Ms(1));
    }
  }
};

TEST(CheckPacer, TheRoundStretchesWithTheList) {
  struct Case {
    std::size_t rooms;
    int every_s, gap_s, round_s;
  } cases[] = {
      {0, 120, 3, 120}, {1, 120, 3, 120}, {40, 120, 3, 120}, {41, 120, 3, 123},
      {100, 120, 3, 300}, {1000, 120, 3, 3000}, {100, 600, 3, 600}, {100, 120, 0, 120},
  };
  for (const Case& c : cases)
    EXPECT_EQ(watch_round(c.rooms, seconds(c.every_s), seconds(c.gap_s)), seconds(c.round_s)) << c.rooms;
  EXPECT_EQ(pace_line(100, seconds(300)), "共 100 个直播间，每个约每 300 秒检查一次");
  EXPECT_EQ(pace_line(3, Ms(120'500)), "共 3 个直播间，每个约每 121 秒检查一次");
}

TEST(CheckPacer, EachRoomIsCheckedOncePerRoundNeverFasterThanTheGapAllows) {
  struct Case {
    int rooms;
    Ms check_takes;
    int round_s;
  } cases[] = {
      {1, seconds(1), 120}, {10, seconds(2), 120}, {40, seconds(5), 120}, {100, seconds(1), 300},
      {100, seconds(5), 300}, {150, seconds(1), 450},
  };
  for (const Case& c : cases) {
    std::mt19937 random(7);
    Simulation sim{CheckPacer({}, [&] { return std::uniform_real_distribution<double>(0, 1)(random); })};
    sim.check_takes = c.check_takes;
    sim.pacer.set_rooms(room_names(c.rooms), Ms(0));
    ASSERT_EQ(sim.pacer.round(), seconds(c.round_s));
    const Ms round = seconds(c.round_s);
    sim.run_until(round * 8);

    EXPECT_LE(sim.most_open, 2u) << c.rooms;
    for (std::size_t i = 1; i < sim.all_starts.size(); ++i)
      ASSERT_GE(sim.all_starts[i] - sim.all_starts[i - 1], seconds(3)) << c.rooms << " rooms, load " << i;
    for (const auto& [room, times] : sim.starts) {
      // Started: every room within the first round. Then once a round, give or take the jitter
      // (and, on a list that fills every gap, a few gaps of waiting for its turn).
      EXPECT_LT(times.front(), round) << room;
      ASSERT_GE(times.size(), 7u) << room;
      for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], round * 9 / 10) << c.rooms << " rooms, " << room << " check " << i;
        EXPECT_LE(times[i] - times[i - 1], round * 11 / 10 + seconds(30)) << c.rooms << " rooms, " << room << " check " << i;
      }
    }
    EXPECT_EQ(sim.starts.size(), static_cast<std::size_t>(c.rooms));
  }
}

TEST(CheckPacer, AfterAStartTheRoomsAreSpreadOverTheFirstRound) {
  CheckPacer pacer({}, middle);
  pacer.set_rooms(room_names(4), Ms(0));
  struct Case {
    const char* room;
    int due_s;
  } cases[] = {{"room0", 0}, {"room1", 30}, {"room2", 60}, {"room3", 90}};
  for (const Case& c : cases) EXPECT_EQ(pacer.due(c.room), seconds(c.due_s)) << c.room;
  EXPECT_EQ(pacer.next_check(Ms(0)), "room0");
  EXPECT_FALSE(pacer.next_check(Ms(0)));
  EXPECT_FALSE(pacer.next_check(seconds(29)));
  EXPECT_EQ(pacer.wake_at(), seconds(30));
  // A room added later joins at once, the gap still kept.
  pacer.set_rooms({"room0", "room1", "room2", "room3", "late"}, seconds(1));
  EXPECT_EQ(pacer.due("late"), seconds(1));
  EXPECT_EQ(pacer.wake_at(), seconds(3));
  EXPECT_EQ(pacer.next_check(seconds(3)), "late");
}

TEST(CheckPacer, AtMostTwoPagesAreOpenAtOnce) {
  PacingRules rules;
  rules.gap = Ms(0);
  CheckPacer pacer(rules, middle);
  pacer.set_rooms({"a"}, Ms(0));
  pacer.set_rooms({"a", "b", "c"}, Ms(0));  // b and c due at once too
  pacer.set_rooms({"a", "b", "c", "d"}, Ms(0));
  EXPECT_TRUE(pacer.next_check(Ms(0)));
  EXPECT_TRUE(pacer.next_check(Ms(0)));
  const auto third = pacer.next_check(Ms(0));
  EXPECT_FALSE(third) << *third;
  EXPECT_FALSE(pacer.wake_at());  // a check must end first
}

TEST(CheckPacer, AFailingRoomIsTriedLaterAndLater) {
  struct Case {
    int round_s;
    std::vector<int> delays_s;  // after the 1st, 2nd, ... failure in a row
  } cases[] = {
      {120, {240, 480, 900, 900, 900}},
      {300, {600, 900, 900}},    // 100 rooms at the defaults
      {1200, {1200, 1200}},      // never sooner than the round
  };
  for (const Case& c : cases) {
    PacingRules rules;
    rules.every = seconds(c.round_s);
    CheckPacer pacer(rules, middle);
    pacer.set_rooms({"failing"}, Ms(0));
    Ms now{0};
    for (std::size_t i = 0; i < c.delays_s.size(); ++i) {
      ASSERT_EQ(pacer.next_check(now), "failing") << c.round_s << " s round, failure " << i + 1;
      now += seconds(10);
      pacer.check_done("failing", CheckOutcome::kFailed, now);
      EXPECT_EQ(pacer.failures("failing"), static_cast<int>(i) + 1);
      EXPECT_EQ(pacer.due("failing"), now + seconds(c.delays_s[i])) << c.round_s << " s round, failure " << i + 1;
      now += seconds(c.delays_s[i]);
    }
    // One good check and the room is back to its round.
    ASSERT_EQ(pacer.next_check(now), "failing");
    pacer.check_done("failing", CheckOutcome::kNotLive, now + seconds(10));
    EXPECT_EQ(pacer.failures("failing"), 0);
    EXPECT_EQ(pacer.due("failing"), now + pacer.round());
  }
}

TEST(CheckPacer, MostChecksOfTheLastMinuteFailingPausesAllChecks) {
  struct Case {
    std::string outcomes;  // f failed, n not live, in order, 3 s apart
    bool pauses;
  } cases[] = {
      {"ffff", false},      // too few to judge
      {"fffff", true},
      {"nffff", true},      // 4 of 5: 80 %
      {"nnfff", false},     // 3 of 5
      {"nnffffff", false},  // 6 of 8
      {std::string(20, 'n') + std::string(20, 'f'), true},  // the minute forgets the older checks
  };
  for (const Case& c : cases) {
    const int rooms = static_cast<int>(c.outcomes.size());
    PacingRules rules;
    rules.every = seconds(3) * rooms;  // one room due per gap
    CheckPacer pacer(rules, middle);
    pacer.set_rooms(room_names(rooms), Ms(0));
    Ms now{0};
    std::optional<Ms> paused_at;
    for (const char outcome : c.outcomes) {
      const auto room = pacer.next_check(now);
      ASSERT_TRUE(room) << c.outcomes << " at " << now.count();
      pacer.check_done(*room, outcome == 'f' ? CheckOutcome::kFailed : CheckOutcome::kNotLive, now + Ms(500));
      if (pacer.paused(now + Ms(500))) {
        paused_at = now + Ms(500);
        break;
      }
      now += seconds(3);
    }
    EXPECT_EQ(paused_at.has_value(), c.pauses) << c.outcomes;
    if (!paused_at) continue;
    // Two minutes without a page load, even for a room due at once; then checks go on.
    pacer.set_rooms(room_names(rooms + 1), *paused_at);
    EXPECT_FALSE(pacer.next_check(*paused_at + minutes(2) - Ms(1))) << c.outcomes;
    EXPECT_EQ(pacer.wake_at(), *paused_at + minutes(2));
    EXPECT_TRUE(pacer.next_check(*paused_at + minutes(2))) << c.outcomes;
  }
}

TEST(CheckPacer, ALiveRoomIsNotCheckedUntilItsRecordingEnds) {
  CheckPacer pacer({}, middle);
  pacer.set_rooms({"live"}, Ms(0));
  ASSERT_EQ(pacer.next_check(Ms(0)), "live");
  pacer.check_done("live", CheckOutcome::kLive, seconds(5));
  EXPECT_FALSE(pacer.due("live"));
  EXPECT_FALSE(pacer.wake_at());
  EXPECT_FALSE(pacer.next_check(minutes(60)));

  // The stream ended by itself: checks after 30 s and 60 s, then the round again.
  const Ms ended = minutes(60);
  pacer.recording_ended("live", true, ended);
  struct Step {
    Ms check_at;
    Ms next_due;
  } steps[] = {
      {ended + seconds(30), ended + seconds(60)},
      {ended + seconds(60), ended + seconds(60) + seconds(120)},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(pacer.due("live"), step.check_at);
    ASSERT_EQ(pacer.next_check(step.check_at), "live");
    pacer.check_done("live", CheckOutcome::kNotLive, step.check_at + seconds(5));
    EXPECT_EQ(pacer.due("live"), step.next_due);
  }

  // Stopped by the user: no hurry, the round.
  ASSERT_EQ(pacer.next_check(ended + seconds(180)), "live");
  pacer.check_done("live", CheckOutcome::kLive, ended + seconds(185));
  pacer.recording_ended("live", false, minutes(90));
  EXPECT_EQ(pacer.due("live"), minutes(90) + seconds(120));
}

TEST(CheckPacer, ARoomRemovedWhileItsPageIsOpenIsForgotten) {
  CheckPacer pacer({}, middle);
  pacer.set_rooms({"gone", "kept"}, Ms(0));
  ASSERT_EQ(pacer.next_check(Ms(0)), "gone");
  pacer.set_rooms({"kept"}, seconds(1));
  pacer.check_done("gone", CheckOutcome::kFailed, seconds(2));
  EXPECT_FALSE(pacer.due("gone"));
  EXPECT_EQ(pacer.room_count(), 1u);
  pacer.check_done("never-started", CheckOutcome::kNotLive, seconds(2));  // ignored
  EXPECT_EQ(pacer.next_check(seconds(60)), "kept");
}

}  // namespace
}  // namespace qz::watch
