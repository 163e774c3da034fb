#include "platform/mapped_file.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/wide.h"

namespace qz::platform {

MappedFile::~MappedFile() { close(); }

std::uint64_t MappedFile::granularity() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwAllocationGranularity;
}

bool MappedFile::create(const std::string& path, std::uint64_t size) {
  close();
  if (size == 0) return false;
  HANDLE file = CreateFileW(to_wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // The mapping of exactly `size` bytes also gives the file that length.
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                                      static_cast<DWORD>(size & 0xFFFFFFFFu), nullptr);
  if (!mapping) {
    CloseHandle(file);
    return false;
  }
  file_ = reinterpret_cast<std::intptr_t>(file);
  mapping_ = reinterpret_cast<std::intptr_t>(mapping);
  size_ = size;
  return true;
}

bool MappedFile::write_at(std::uint64_t offset, const char* data, std::size_t n) {
  if (!mapping_ || offset > size_ || n > size_ - offset) return false;
  if (n == 0) return true;
  const std::uint64_t start = offset - offset % granularity();
  const std::size_t length = static_cast<std::size_t>(offset + n - start);
  void* view = MapViewOfFile(reinterpret_cast<HANDLE>(mapping_), FILE_MAP_WRITE, static_cast<DWORD>(start >> 32),
                             static_cast<DWORD>(start & 0xFFFFFFFFu), length);
  if (!view) return false;
  std::memcpy(static_cast<char*>(view) + (offset - start), data, n);
  UnmapViewOfFile(view);
  return true;
}

void MappedFile::close() {
  if (mapping_) CloseHandle(reinterpret_cast<HANDLE>(mapping_));
  if (file_ != -1) CloseHandle(reinterpret_cast<HANDLE>(file_));
  mapping_ = 0;
  file_ = -1;
  size_ = 0;
}

bool MappedFile::is_open() const { return file_ != -1; }

}  // namespace qz::platform
