#include "platform/fs.h"

namespace qz::platform {

std::string join_path(std::string_view a, std::string_view b) {
  std::string out(a);
  if (!out.empty() && out.back() != kSep && out.back() != '/') out += kSep;
  out += b;
  return out;
}

bool is_absolute_path(std::string_view path) {
#ifdef _WIN32
  const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  const bool share = path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && path[1] == path[0];
  return drive || share;
#else
  return !path.empty() && path[0] == '/';
#endif
}

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

File::~File() { close(); }

bool File::is_open() const { return handle_ != -1; }

bool write_file_atomically(const std::string& path, std::string_view bytes) {
  // Beside the target, so the rename never crosses file systems.
  const std::string temporary = path + ".tmp";
  prepare_replacement(path);
  File file;
  bool written = file.open(temporary, File::Mode::Truncate) &&
                 file.write_at(0, bytes.data(), bytes.size()) && file.flush();
  file.close();
  written = written && rename_replacing(temporary, path);
  if (!written) remove_file(temporary);
  return written;
}

}  // namespace qz::platform
