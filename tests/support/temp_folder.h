#pragma once
// A fresh folder for one test, removed afterwards. Its path holds a blank and Chinese letters, so
// every test also shows that such program folders work.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace qz::test {

inline std::string u8(const std::filesystem::path& p) {
  const auto s = p.u8string();
  return std::string(s.begin(), s.end());
}

inline std::filesystem::path from_u8(const std::string& s) {
  return std::filesystem::path(std::u8string(s.begin(), s.end()));
}

class TempFolder {
 public:
  explicit TempFolder(const std::string& name = "程序 目录") {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            from_u8("qz-" + std::to_string(stamp) + "-" + std::to_string(counter++)) / from_u8(name);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_.parent_path(), ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return u8(path_); }
  std::filesystem::path operator/(const std::string& rel) const { return path_ / from_u8(rel); }

 private:
  std::filesystem::path path_;
};

inline std::string read_bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::filesystem::path& p, const std::string& bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace qz::test
