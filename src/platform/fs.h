#pragma once
// Files and folders. Paths are UTF-8 text with the native separator (kSep); on Windows they are
// widened to UTF-16 at the call so any user's folder works whatever the system code page.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qz::platform {

#ifdef _WIN32
inline constexpr char kSep = '\\';
#else
inline constexpr char kSep = '/';
#endif

// a + kSep + b, without doubling a separator that a already ends with.
std::string join_path(std::string_view a, std::string_view b);

// "C:\x", "\\server\x" on Windows; "/x" elsewhere.
bool is_absolute_path(std::string_view path);

bool file_exists(const std::string& path);   // anything at that path, folder included
bool is_directory(const std::string& path);
bool make_directory(const std::string& path);  // one level; true when it exists afterwards
bool make_directories(const std::string& path);  // with all missing parents
bool remove_file(const std::string& path);
bool remove_empty_directory(const std::string& path);  // false when not empty or missing
bool rename_replacing(const std::string& from, const std::string& to);
std::optional<std::string> read_file(const std::string& path);
bool write_file(const std::string& path, std::string_view bytes);  // create or truncate
// The whole file or nothing: the bytes go to a temporary file beside `path`, reach the disk, and
// only then replace `path`. When anything fails (a full disk, no rights) `path` keeps what it held
// and false is returned. For the small files the program keeps (settings, markers, scripts).
bool write_file_atomically(const std::string& path, std::string_view bytes);
bool set_hidden(const std::string& path);  // hidden attribute alone; nothing on Linux
std::optional<std::uint64_t> file_size(const std::string& path);

// Lets `path` be replaced by a rename (Windows: a hidden or read-only file refuses it otherwise).
void prepare_replacement(const std::string& path);

// A file opened for positioned reads and writes.
class File {
 public:
  enum class Mode {
    ReadWriteExisting,  // shared with everyone, fails when missing
    ReadWriteCreate,    // created when missing, kept otherwise
    CreateNewExclusive, // fails when the file exists
    Truncate,           // created or emptied
  };
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  ~File();

  bool open(const std::string& path, Mode mode);
  bool is_open() const;
  void close();
  std::optional<std::uint64_t> size() const;
  // Whole-buffer reads and writes at an offset; false on any shortfall.
  bool read_at(std::uint64_t offset, char* data, std::size_t size) const;
  bool write_at(std::uint64_t offset, const char* data, std::size_t size);
  bool append(const char* data, std::size_t size);
  // What was written reaches the disk before this returns.
  bool flush();

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace qz::platform
