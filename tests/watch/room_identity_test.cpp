#include "watch/room_identity.h"

#include <gtest/gtest.h>

#include "watch/room_list.h"

namespace qz::watch {
namespace {

TEST(RoomIdentity, LinksToOneRoomShareOneIdentity) {
  struct Case {
    const char* link;
    const char* identity;
  } cases[] = {
      {"https://live.example.com/room?room=r1", "live.example.com/room?room=r1"},
      {"http://live.example.com/room?room=r1", "live.example.com/room?room=r1"},      // scheme
      {"https://LIVE.Example.COM:443/room?room=r1", "live.example.com/room?room=r1"},  // host case, own port
      {"https://www.example.com/live/123/", "example.com/live/123"},                  // www., trailing slash
      {"https://m.example.com/live/123", "example.com/live/123"},                     // the phone site
      {"https://example.com/live/123?utm_source=wx&share_from=abc&timestamp=17000&from=timeline",
       "example.com/live/123"},                                                        // who shared it, when
      {"https://example.com/live/123#comments", "example.com/live/123"},
      {"https://example.com/room?b=2&a=1", "example.com/room?a=1&b=2"},                // parameter order
      {"https://example.com/room?room=r1&&ts=5&", "example.com/room?room=r1"},
      {"  http://127.0.0.1:8080/room?room=r1&pad=4\r\n", "127.0.0.1:8080/room?pad=4&room=r1"},
      {"https://v.example.com/AbC123/", "v.example.com/AbC123"},                       // short codes keep case
      {"https://v.example.com/abc123/", "v.example.com/abc123"},
      {"https://www/x", "www/x"},                                                      // a bare host stays
      {"", ""},
      {"not a link", ""},
      {"ftp://example.com/live/1", ""},
      {"https://", ""},
      {"https://exa mple.com/x", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(room_identity(c.link), c.identity) << c.link;
}

TEST(RoomIdentity, DifferentRoomsStayApart) {
  const char* links[] = {
      "https://example.com/room?room=r1", "https://example.com/room?room=r2", "https://example.com/room",
      "https://example.com:8443/room?room=r1", "https://v.example.com/AbC123", "https://v.example.com/abc123",
      "https://other.example.com/room?room=r1",
  };
  for (const char* a : links)
    for (const char* b : links)
      if (a != b) EXPECT_NE(room_identity(a), room_identity(b)) << a << " / " << b;
}

TEST(RoomIdentity, TheLinkIsTakenOutOfAPastedShareText) {
  struct Case {
    const char* text;
    const char* link;
  } cases[] = {
      {"【小店🌸的直播间】 https://v.example.com/AbC/ 复制此链接，打开看看", "https://v.example.com/AbC/"},
      {"看直播：https://v.example.com/AbC，快来", "https://v.example.com/AbC"},
      {"\"http://example.com/live/1\"", "http://example.com/live/1"},
      {"  https://example.com/x  ", "https://example.com/x"},
      {"no link here ", "no link here"},
  };
  for (const Case& c : cases) EXPECT_EQ(link_in_text(c.text), c.link) << c.text;
}

TEST(RoomIdentity, TheRoomPageALinkLedToFindsTheSameRoom) {
  const std::string share = "https://v.example.com/AbC123/";
  const std::string page = "https://live.example.com/room?room=r1&share_from=v";
  RoomList list;
  ASSERT_EQ(add_room(list, share, "2026-12-11 10:00:00").what, AddOutcome::What::kAdded);
  EXPECT_FALSE(list.find(page));  // nothing knows yet where the share link leads

  EXPECT_FALSE(learn_room_page(list, 0, page));
  EXPECT_EQ(list.rooms[0].page, "live.example.com/room?room=r1");
  EXPECT_EQ(list.find(page), 0u);
  EXPECT_EQ(list.find("http://live.example.com/room?room=r1"), 0u);
  const AddOutcome again = add_room(list, page, "2026-12-11 10:05:00");
  EXPECT_EQ(again.what, AddOutcome::What::kAlreadyListed);
  EXPECT_EQ(again.index, 0u);
  EXPECT_EQ(list.rooms.size(), 1u);
}

TEST(RoomIdentity, BothFormsListedBeforeACheckAreFoundToBeOneRoom) {
  RoomList list;
  add_room(list, "https://live.example.com/room?room=r1", "");
  add_room(list, "https://v.example.com/AbC123", "");
  add_room(list, "https://live.example.com/room?room=r2", "");
  ASSERT_EQ(list.rooms.size(), 3u);
  EXPECT_EQ(learn_room_page(list, 1, "https://live.example.com/room?room=r1"), 0u);
  // A link that leads to itself teaches nothing.
  EXPECT_FALSE(learn_room_page(list, 2, "http://live.example.com/room?room=r2"));
  EXPECT_TRUE(list.rooms[2].page.empty());
}

TEST(RoomIdentity, RoomsAreNamedByNumberOrLink) {
  RoomList list;
  add_room(list, "https://example.com/live/1", "");
  add_room(list, "https://example.com/live/2", "");
  struct Case {
    const char* which;
    std::optional<std::size_t> index;
  } cases[] = {
      {"1", 0}, {"2", 1}, {"0", std::nullopt}, {"3", std::nullopt}, {"99999999999999999999999", std::nullopt},
      {"http://www.example.com/live/2/", 1}, {"https://example.com/live/3", std::nullopt}, {"二", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(room_by_number_or_link(list, c.which), c.index) << c.which;
}

}  // namespace
}  // namespace qz::watch
