#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "support/temp_folder.h"

namespace qz::platform {
namespace {

std::string pattern(std::size_t n, char seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}

TEST(MappedFile, WritesLandAtTheirOffsetsAcrossViewBoundaries) {
  test::TempFolder folder;
  const std::string path = test::u8(folder / "m.bin");
  const std::uint64_t g = MappedFile::granularity();
  const std::uint64_t size = 3 * g + 30000;
  MappedFile file;
  ASSERT_TRUE(file.create(path, size));
  EXPECT_EQ(file_size(path), size);
  struct Case {
    std::uint64_t offset;
    std::size_t n;
  } cases[] = {  // apart from each other, each crossing a view boundary but the first and last
      {0, 1}, {g - 3, 10}, {2 * g - 5, 20480}, {2 * g + 20575, static_cast<std::size_t>(g)}, {size - 7, 7}};
  char seed = 1;
  for (const Case& c : cases) EXPECT_TRUE(file.write_at(c.offset, pattern(c.n, seed++).data(), c.n)) << c.offset;
  EXPECT_FALSE(file.write_at(size - 6, "1234567", 7));  // one byte past the end
  EXPECT_FALSE(file.write_at(size + 1, "x", 1));
  file.close();

  const std::string bytes = test::read_bytes(folder / "m.bin");
  ASSERT_EQ(bytes.size(), size);
  seed = 1;
  for (const Case& c : cases) EXPECT_TRUE(bytes.substr(c.offset, c.n) == pattern(c.n, seed++)) << c.offset;
  EXPECT_EQ(bytes[1], '\0');  // untouched bytes stay zero
}

TEST(MappedFile, EmptyAndUnwritableTargetsFail) {
  test::TempFolder folder;
  MappedFile file;
  EXPECT_FALSE(file.create(test::u8(folder / "zero.bin"), 0));
  EXPECT_FALSE(file.create(test::u8(folder / "no such folder" / "x.bin"), 10));
  EXPECT_FALSE(file.write_at(0, "x", 1));
}

TEST(MappedFile, OffsetsPastFourGibibytes) {
  test::TempFolder folder;
  const std::string path = test::u8(folder / "big.bin");
  const std::uint64_t size = (std::uint64_t{1} << 32) + 256 * 1024;
  MappedFile file;
  if (!file.create(path, size)) GTEST_SKIP() << "no room for a file of 4 GiB here";
  const std::uint64_t offset = (std::uint64_t{1} << 32) + 12345;
  const std::string data = pattern(30000, 'a');
  ASSERT_TRUE(file.write_at(offset, data.data(), data.size()));
  file.close();
  File reader;
  ASSERT_TRUE(reader.open(path, File::Mode::ReadWriteExisting));
  std::string back(data.size(), '\0');
  ASSERT_TRUE(reader.read_at(offset, back.data(), back.size()));
  EXPECT_TRUE(back == data);
  reader.close();
  remove_file(path);
}

}  // namespace
}  // namespace qz::platform
