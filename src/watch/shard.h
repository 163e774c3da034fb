#pragma once
// Several copies of the program, on several machines, can share one room list: copy K of N
// watches the rooms whose identity hashes to K modulo N. The hash must come out the same on every
// platform, in every build and after every restart, or a room would move between copies (watched
// twice, or by none); so it is FNV-1a over the identity's UTF-8 bytes, never std::hash.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qz::watch {

struct Shard {
  int index = 0;  // K, from 0
  int count = 1;  // N; 1: this copy watches every room
};

// 64-bit FNV-1a of the bytes.
std::uint64_t stable_hash(std::string_view bytes);

// "K/N" with 0 <= K < N (blanks around the numbers allowed); an empty text is the whole list.
// Nothing for anything else, with `error` saying why.
std::optional<Shard> parse_shard(std::string_view text, std::string& error);

// True when the room of this identity belongs to `shard`.
bool in_shard(std::string_view identity, const Shard& shard);

}  // namespace qz::watch
