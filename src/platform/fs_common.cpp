#include "platform/fs.h"

namespace qz::platform {

std::string join_path(std::string_view a, std::string_view b) {
  std::string out(a);
  if (!out.empty() && out.back() != kSep && out.back() != '/') out += kSep;
  out += b;
  return out;
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

}  // namespace qz::platform
