// The browser pipe's framing: messages end with a zero byte, arrive in any pieces, and one over
// the cap is skipped without ending the stream.
#include "platform/message_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qz::platform {
namespace {

struct Seen {
  std::vector<std::string> messages;
  std::vector<std::string> oversized;  // "<head>|<bytes>"
};

Seen feed(const std::vector<std::string>& pieces, std::size_t max_message) {
  Seen seen;
  MessageHandlers handlers;
  handlers.on_message = [&](std::string m) { seen.messages.push_back(std::move(m)); };
  handlers.on_oversized = [&](const std::string& head, std::size_t bytes) {
    seen.oversized.push_back(head + "|" + std::to_string(bytes));
  };
  handlers.max_message = max_message;
  ZeroFramedMessages framing(handlers);
  for (const std::string& piece : pieces) framing.feed(piece.data(), piece.size());
  return seen;
}

TEST(ZeroFramedMessages, CutsTheStreamAtZeroBytesWhateverThePieces) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"one piece, two messages", {"{\"id\":1}\0{\"id\":2}\0"s}, {"{\"id\":1}", "{\"id\":2}"}},
      {"a message over three pieces", {"{\"i", "d\":", "1}\0"s}, {"{\"id\":1}"}},
      {"the zero byte alone", {"abc", "\0"s, "def\0"s}, {"abc", "def"}},
      {"an unfinished message is held back", {"abc\0de"s}, {"abc"}},
      {"an empty message", {"\0x\0"s}, {"", "x"}},
  };
  for (const Case& c : cases) EXPECT_EQ(feed(c.pieces, 100).messages, c.messages) << c.name;
}

TEST(ZeroFramedMessages, AMessageOverTheCapIsSkippedAndTheNextStillComes) {
  using namespace std::string_literals;
  const std::string big(300, 'x');
  // Over the cap within one piece, and only once its later pieces have come.
  const Seen at_once = feed({"ok\0"s + big + "\0after\0"s}, 100);
  EXPECT_EQ(at_once.messages, (std::vector<std::string>{"ok", "after"}));
  EXPECT_EQ(at_once.oversized, (std::vector<std::string>{std::string(256, 'x') + "|300"}));
  const Seen in_pieces = feed({"head-", big.substr(0, 95), big.substr(95), "\0after\0"s}, 100);
  EXPECT_EQ(in_pieces.messages, (std::vector<std::string>{"after"}));
  EXPECT_EQ(in_pieces.oversized, (std::vector<std::string>{"head-" + big.substr(0, 251) + "|305"}));
}

}  // namespace
}  // namespace qz::platform
