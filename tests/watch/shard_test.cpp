#include "watch/shard.h"

#include <gtest/gtest.h>

#include <string>

namespace qz::watch {
namespace {

// The values a copy on any platform, of any build, computes: a change here moves rooms between
// copies that share a list, so these are pinned rather than computed.
TEST(Shard, TheHashIsFnv1a64AndNeverChanges) {
  struct Case {
    std::string bytes;
    std::uint64_t hash;
  } cases[] = {
      {"", 0xcbf29ce484222325ULL},
      {"a", 0xaf63dc4c8601ec8cULL},
      {"foobar", 0x85944171f73967e8ULL},
      {"live.example.com/room?room=r1", 0x225157a9061b4e36ULL},
      {"127.0.0.1:8080/room?room=r1", 0xe2558f0d74e8e446ULL},
      {"example.com/live/小店🌸", 0xe39e6b1dfefba459ULL},
  };
  for (const Case& c : cases) EXPECT_EQ(stable_hash(c.bytes), c.hash) << c.bytes;
  EXPECT_TRUE(in_shard("live.example.com/room?room=r1", {2, 3}));
  EXPECT_TRUE(in_shard("127.0.0.1:8080/room?room=r1", {5, 7}));
  EXPECT_TRUE(in_shard("example.com/live/小店🌸", {1, 3}));
}

TEST(Shard, EveryRoomIsWatchedByExactlyOneCopy) {
  for (int count = 1; count <= 7; ++count) {
    std::vector<int> per_copy(static_cast<std::size_t>(count));
    for (int room = 0; room < 300; ++room) {
      const std::string identity = "live.example.com/room?room=r" + std::to_string(room);
      int copies = 0;
      for (int index = 0; index < count; ++index) {
        if (!in_shard(identity, {index, count})) continue;
        ++copies;
        ++per_copy[static_cast<std::size_t>(index)];
      }
      EXPECT_EQ(copies, 1) << identity << " in " << count << " copies";
    }
    for (const int rooms : per_copy) EXPECT_GT(rooms, 300 / count / 2) << count << " copies share unevenly";
  }
}

TEST(Shard, TheSettingIsReadOrRefusedWithAReason) {
  struct Case {
    const char* text;
    std::optional<std::pair<int, int>> shard;
  } cases[] = {
      {"", std::pair(0, 1)},   {"0/3", std::pair(0, 3)}, {" 2 / 3 ", std::pair(2, 3)}, {"0/1", std::pair(0, 1)},
      {"3/3", std::nullopt},   {"-1/3", std::nullopt},   {"1/0", std::nullopt},        {"a/b", std::nullopt},
      {"1", std::nullopt},     {"1/3/4", std::nullopt},  {"1/3x", std::nullopt},       {"/3", std::nullopt},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto shard = parse_shard(c.text, error);
    ASSERT_EQ(shard.has_value(), c.shard.has_value()) << c.text;
    if (shard) {
      EXPECT_EQ(shard->index, c.shard->first) << c.text;
      EXPECT_EQ(shard->count, c.shard->second) << c.text;
    } else {
      EXPECT_NE(error.find("分片"), std::string::npos) << c.text;
    }
  }
}

}  // namespace
}  // namespace qz::watch
