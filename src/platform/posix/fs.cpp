#include "platform/fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace qz::platform {

bool file_exists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool make_directory(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 || is_directory(path);
}

bool make_directories(const std::string& path) {
  std::string prefix;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!prefix.empty() && !is_directory(prefix) && ::mkdir(prefix.c_str(), 0755) != 0 &&
          errno != EEXIST)
        return false;
    }
    if (i < path.size()) prefix += path[i];
  }
  return is_directory(path);
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool remove_empty_directory(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool rename_replacing(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<std::string> read_file(const std::string& path) {
  File f;
  if (!f.open(path, File::Mode::ReadWriteExisting)) {
    // A read-only file still reads.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
  }
  const auto size = f.size();
  if (!size) return std::nullopt;
  std::string out(static_cast<std::size_t>(*size), '\0');
  if (!out.empty() && !f.read_at(0, out.data(), out.size())) return std::nullopt;
  return out;
}

bool write_file(const std::string& path, std::string_view bytes) {
  File f;
  return f.open(path, File::Mode::Truncate) && f.write_at(0, bytes.data(), bytes.size());
}

bool set_hidden(const std::string&) { return true; }

void prepare_replacement(const std::string&) {}

std::optional<std::uint64_t> file_size(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool File::open(const std::string& path, Mode mode) {
  close();
  int flags = O_RDWR | O_CLOEXEC;
  switch (mode) {
    case Mode::ReadWriteExisting: break;
    case Mode::ReadWriteCreate: flags |= O_CREAT; break;
    case Mode::CreateNewExclusive: flags |= O_CREAT | O_EXCL; break;
    case Mode::Truncate: flags |= O_CREAT | O_TRUNC; break;
  }
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

void File::close() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

std::optional<std::uint64_t> File::size() const {
  struct stat st {};
  if (handle_ == -1 || ::fstat(static_cast<int>(handle_), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool File::read_at(std::uint64_t offset, char* data, std::size_t size) const {
  while (size > 0) {
    const ssize_t n = ::pread(static_cast<int>(handle_), data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool File::write_at(std::uint64_t offset, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::pwrite(static_cast<int>(handle_), data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool File::flush() { return handle_ != -1 && ::fsync(static_cast<int>(handle_)) == 0; }

bool File::append(const char* data, std::size_t size) {
  const auto end = this->size();
  return end && write_at(*end, data, size);
}

}  // namespace qz::platform
