#pragma once
// A file of fixed size written through short-lived mapped views: each write maps a view that
// starts at the allocation granularity (64 KiB on Windows, the page size elsewhere) at or below
// its offset, copies, and unmaps, so the file is never held in memory whole. Offsets are 64-bit.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qz::platform {

class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // Creates or empties the file at `path`, sized to exactly `size` bytes (disk space reserved
  // where the system can), with a read-write mapping. False when size is 0 or anything fails.
  bool create(const std::string& path, std::uint64_t size);
  // Copies n bytes to `offset`; false when they would reach past the end or the view fails.
  // Safe from several threads for disjoint ranges.
  bool write_at(std::uint64_t offset, const char* data, std::size_t n);
  void close();
  bool is_open() const;
  std::uint64_t size() const { return size_; }

  static std::uint64_t granularity();

 private:
  std::intptr_t file_ = -1;
  std::intptr_t mapping_ = 0;  // Windows only
  std::uint64_t size_ = 0;
};

}  // namespace qz::platform
