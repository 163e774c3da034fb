// Any bytes as a request event, a POST body and a key path: nothing may crash, hang or read out
// of bounds, and what comes back must hold together.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "capture/json_document.h"
#include "capture/request_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  using namespace qz::capture;

  const RequestOutcome outcome = examine_request(input, "live.platform.test/dashboard");
  if (!outcome.live_address.empty() && blank_only(outcome.live_address)) std::abort();

  // The first line is a key path, the rest a document.
  const std::size_t newline = input.find('\n');
  const std::string_view path = input.substr(0, newline);
  const std::string_view text = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  JsonDocument document;
  document.load(text);
  document.get_text(path);
  document.get_text("//params.request.postData");
  document.get_text("//mutipleKvList[1].fields.src");

  // The skip-ahead search agrees with a plain one, for a needle cut from the input itself.
  if (size > 2) {
    const std::size_t cut = data[0] % 40 + 1;
    const std::string_view needle = input.substr(1, std::min(cut, size - 1));
    const std::string_view haystack = input.substr(1 + needle.size() / 2);
    if (RequestExaminer::Search(std::string(needle)).found_in(haystack) !=
        (haystack.find(needle) != std::string_view::npos))
      std::abort();
  }

  const std::string cdn = "https://replay.cdn.test";
  const std::string playlist = first_replay_playlist(input, cdn);
  if (!playlist.empty() && (playlist.rfind(cdn, 0) != 0 || playlist.size() <= cdn.size() + 5)) std::abort();
  // Whatever the page wrote, an address it yields is on the CDN itself.
  if (!playlist.empty() && !on_replay_cdn(playlist, cdn)) std::abort();
  statistics_address(input);
  return 0;
}
