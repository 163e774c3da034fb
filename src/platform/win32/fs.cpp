#include "platform/fs.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace qz::platform {
namespace {

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

bool file_exists(const std::string& path) {
  return !path.empty() && GetFileAttributesW(to_wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_directory(const std::string& path) {
  const DWORD a = GetFileAttributesW(to_wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool make_directory(const std::string& path) {
  return CreateDirectoryW(to_wide(path).c_str(), nullptr) || is_directory(path);
}

bool make_directories(const std::string& path) {
  std::string prefix;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    const bool at_sep = i == path.size() || path[i] == '\\' || path[i] == '/';
    // "C:" and the "\\server\share" head are not folders to create.
    if (at_sep && !prefix.empty() && prefix.back() != ':' && prefix.find_first_not_of("\\/") != std::string::npos &&
        !is_directory(prefix))
      CreateDirectoryW(to_wide(prefix).c_str(), nullptr);
    if (i < path.size()) prefix += path[i];
  }
  return is_directory(path);
}

bool remove_empty_directory(const std::string& path) { return RemoveDirectoryW(to_wide(path).c_str()) != 0; }

bool remove_file(const std::string& path) {
  const std::wstring w = to_wide(path);
  SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(w.c_str()) != 0;
}

bool rename_replacing(const std::string& from, const std::string& to) {
  return MoveFileExW(to_wide(from).c_str(), to_wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
}

std::optional<std::string> read_file(const std::string& path) {
  HANDLE h = CreateFileW(to_wide(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string out;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
  CloseHandle(h);
  return out;
}

void prepare_replacement(const std::string& path) {
  // A hidden file cannot be opened with CREATE_ALWAYS and normal attributes, nor a read-only one
  // replaced: clear both first.
  const std::wstring w = to_wide(path);
  const DWORD a = GetFileAttributesW(w.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY)))
    SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
}

bool write_file(const std::string& path, std::string_view bytes) {
  prepare_replacement(path);
  File f;
  return f.open(path, File::Mode::Truncate) && f.write_at(0, bytes.data(), bytes.size());
}

bool set_hidden(const std::string& path) {
  return SetFileAttributesW(to_wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
}

std::optional<std::uint64_t> file_size(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data {};
  if (!GetFileAttributesExW(to_wide(path).c_str(), GetFileExInfoStandard, &data))
    return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool File::open(const std::string& path, Mode mode) {
  close();
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case Mode::ReadWriteExisting: disposition = OPEN_EXISTING; break;
    case Mode::ReadWriteCreate: disposition = OPEN_ALWAYS; break;
    case Mode::CreateNewExclusive: disposition = CREATE_NEW; break;
    case Mode::Truncate: disposition = CREATE_ALWAYS; break;
  }
  HANDLE h = CreateFileW(to_wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

void File::close() {
  if (handle_ != -1) CloseHandle(as_handle(handle_));
  handle_ = -1;
}

std::optional<std::uint64_t> File::size() const {
  LARGE_INTEGER size {};
  if (handle_ == -1 || !GetFileSizeEx(as_handle(handle_), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool File::read_at(std::uint64_t offset, char* data, std::size_t size) const {
  while (size > 0) {
    OVERLAPPED at {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!ReadFile(as_handle(handle_), data, chunk, &n, &at) || n == 0) return false;
    data += n;
    size -= n;
    offset += n;
  }
  return true;
}

bool File::write_at(std::uint64_t offset, const char* data, std::size_t size) {
  while (size > 0) {
    OVERLAPPED at {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!WriteFile(as_handle(handle_), data, chunk, &n, &at) || n == 0) return false;
    data += n;
    size -= n;
    offset += n;
  }
  return true;
}

bool File::flush() { return handle_ != -1 && FlushFileBuffers(as_handle(handle_)) != 0; }

bool File::append(const char* data, std::size_t size) {
  const auto end = this->size();
  return end && write_at(*end, data, size);
}

}  // namespace qz::platform
