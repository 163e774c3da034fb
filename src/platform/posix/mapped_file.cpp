#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qz::platform {

MappedFile::~MappedFile() { close(); }

std::uint64_t MappedFile::granularity() {
  static const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  return page;
}

bool MappedFile::create(const std::string& path, std::uint64_t size) {
  close();
  if (size == 0 || size > static_cast<std::uint64_t>(INT64_MAX)) return false;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // The space is taken now: a write into a mapped page the disk cannot hold would kill the
  // process with SIGBUS instead of failing the download.
  int r = posix_fallocate(fd, 0, static_cast<off_t>(size));
  if (r == EOPNOTSUPP || r == EINVAL) r = ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
  if (r != 0) {
    ::close(fd);
    return false;
  }
  file_ = fd;
  size_ = size;
  return true;
}

bool MappedFile::write_at(std::uint64_t offset, const char* data, std::size_t n) {
  if (file_ < 0 || offset > size_ || n > size_ - offset) return false;
  if (n == 0) return true;
  const std::uint64_t start = offset - offset % granularity();
  const std::size_t length = static_cast<std::size_t>(offset + n - start);
  void* view = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(file_),
                      static_cast<off_t>(start));
  if (view == MAP_FAILED) return false;
  std::memcpy(static_cast<char*>(view) + (offset - start), data, n);
  ::munmap(view, length);
  return true;
}

void MappedFile::close() {
  if (file_ >= 0) ::close(static_cast<int>(file_));
  file_ = -1;
  size_ = 0;
}

bool MappedFile::is_open() const { return file_ >= 0; }

}  // namespace qz::platform
