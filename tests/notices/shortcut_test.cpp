#include "app/desktop_shortcut.h"

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/shortcut.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#else
#include <sys/stat.h>
#endif

namespace qz::app {
namespace {

TEST(ShortcutRules, NameFromTextOrPath) {
  struct Case {
    const char* name;
    char sep;
    const char* base;
  } cases[] = {
      {"琼枝直播下载", '\\', "琼枝直播下载"},
      {"C:\\x\\y\\demo.exe", '\\', "demo"},
      {"C:\\x\\y\\demo.tar.gz", '\\', "demo.tar"},
      {"C:\\x\\y\\demo", '\\', "demo"},
      {"C:\\x\\y\\", '\\', ""},
      {"name.exe", '\\', "name.exe"},  // no separator: taken as it is
      {"/opt/qz/demo.bin", '/', "demo"},
      {"/opt/q.z/demo", '/', "demo"},  // a dot in a folder is no extension
  };
  for (const Case& c : cases) EXPECT_EQ(shortcut_base_name(c.name, c.sep), c.base) << c.name;
}

TEST(ShortcutRules, LnkExtensionIsAddedOnlyWhenMissingInAnyCase) {
  struct Case {
    const char* base;
    const char* file;
  } cases[] = {
      {"琼枝直播下载", "琼枝直播下载.lnk"},
      {"demo.LNK", "demo.LNK"},
      {"demo.Lnk", "demo.Lnk"},
      {"a.lnk.old", "a.lnk.old"},  // "holds", not "ends with"
      {"", ".lnk"},
  };
  for (const Case& c : cases) EXPECT_EQ(shortcut_file_name(c.base, ".lnk"), c.file) << c.base;
}

TEST(ShortcutRules, WorkingFolderAndIcon) {
  struct Case {
    const char* target;
    char sep;
    const char* icon_given;
    const char* folder;
    const char* icon;
  } cases[] = {
      {"D:\\tools\\app.exe", '\\', "", "D:\\tools\\", "D:\\tools\\app.exe,0"},
      {"D:\\tools\\app", '\\', "", "D:\\tools\\", "SHELL32.dll,4"},
      {"D:\\tools.v2\\app", '\\', "", "D:\\tools.v2\\", "SHELL32.dll,4"},
      {"D:\\tools\\app.exe", '\\', "E:\\i.ico,3", "D:\\tools\\", "E:\\i.ico,3"},
      {"app.exe", '\\', "", "", "app.exe,0"},
      {"/opt/qz/qiongzhi", '/', "", "/opt/qz/", "SHELL32.dll,4"},
  };
  for (const Case& c : cases) {
    ShortcutRequest r;
    r.target = c.target;
    r.icon_location = c.icon_given;
    EXPECT_EQ(shortcut_working_folder(c.target, c.sep), c.folder) << c.target;
    EXPECT_EQ(shortcut_icon_location(r, c.sep), c.icon) << c.target;
  }
  ShortcutRequest r;
  EXPECT_EQ(launcher_icon(r), "application-x-executable");
  r.icon_location = "/opt/qz/icon.png,0";
  EXPECT_EQ(launcher_icon(r), "/opt/qz/icon.png");
  r.icon_location = "/opt/qz,1/icon.png";
  EXPECT_EQ(launcher_icon(r), "/opt/qz,1/icon.png");
}

struct ShortcutFileFixture : ::testing::Test {
  test::TempFolder desktop{"桌 面"};
  test::TempFolder programs{"工具 目录"};
  std::string target() const { return test::u8(programs / "app.exe"); }
  std::filesystem::path shortcut_path() const {
    return desktop / (std::string("琼枝直播下载") + platform::kShortcutExtension);
  }
  void SetUp() override { test::write_bytes(programs / "app.exe", "program"); }
};

#ifdef _WIN32
struct LinkFields {
  std::wstring path, working_folder, arguments, description, icon;
  int icon_index = -1;
};

LinkFields read_link(const std::filesystem::path& link) {
  LinkFields f;
  CoInitialize(nullptr);
  IShellLinkW* shell_link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&shell_link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      if (SUCCEEDED(file->Load(link.wstring().c_str(), STGM_READ))) {
        wchar_t buffer[MAX_PATH * 2] = {};
        // The item list keeps the target in UTF-16 (Wine's plain path field is in the ANSI code
        // page, which loses Chinese folder names in a prefix without one).
        PIDLIST_ABSOLUTE items = nullptr;
        if (SUCCEEDED(shell_link->GetIDList(&items)) && items) {
          if (SHGetPathFromIDListW(items, buffer)) f.path = buffer;
          CoTaskMemFree(items);
        }
        if (SUCCEEDED(shell_link->GetWorkingDirectory(buffer, MAX_PATH * 2))) f.working_folder = buffer;
        if (SUCCEEDED(shell_link->GetArguments(buffer, MAX_PATH * 2))) f.arguments = buffer;
        if (SUCCEEDED(shell_link->GetDescription(buffer, MAX_PATH * 2))) f.description = buffer;
        if (SUCCEEDED(shell_link->GetIconLocation(buffer, MAX_PATH * 2, &f.icon_index))) f.icon = buffer;
      }
      file->Release();
    }
    shell_link->Release();
  }
  CoUninitialize();
  return f;
}
#endif

TEST_F(ShortcutFileFixture, WritesTheShortcutWithItsFields) {
  ShortcutRequest r;
  r.name = "琼枝直播下载";
  r.target = target();
  r.arguments = "--room 42";
  r.description = "录制 直播";
  ASSERT_TRUE(create_shortcut_in(desktop.str(), r));
  ASSERT_TRUE(std::filesystem::exists(shortcut_path()));
#ifdef _WIN32
  const LinkFields f = read_link(shortcut_path());
  EXPECT_EQ(f.path, (programs / "app.exe").wstring());
  EXPECT_EQ(f.working_folder, programs.path().wstring() + L"\\");
  EXPECT_EQ(f.arguments, L"--room 42");
  EXPECT_EQ(f.description, test::from_u8("录制 直播").wstring());
  EXPECT_EQ(f.icon, (programs / "app.exe").wstring());
  EXPECT_EQ(f.icon_index, 0);
#else
  const std::string entry = test::read_bytes(shortcut_path());
  EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
  for (const std::string& line : std::vector<std::string>{"Type=Application", "Name=琼枝直播下载", "Exec=\"" + target() + "\" --room 42",
        "Path=" + programs.str() + "/", "Icon=application-x-executable", "Comment=录制 直播"})
    EXPECT_NE(entry.find("\n" + line + "\n"), std::string::npos) << line << "\n" << entry;
  struct stat st {};
  ASSERT_EQ(::stat(shortcut_path().c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
#endif
}

TEST_F(ShortcutFileFixture, AnOldShortcutIsReplacedAndANameWithTheExtensionKeepsIt) {
  test::write_bytes(shortcut_path(), "old junk");
  ShortcutRequest r;
  r.name = std::string("琼枝直播下载") + platform::kShortcutExtension;
  r.target = target();
  ASSERT_TRUE(create_shortcut_in(desktop.str(), r));
  const std::string bytes = test::read_bytes(shortcut_path());
  EXPECT_NE(bytes, "old junk");
#ifdef _WIN32
  EXPECT_EQ(bytes.substr(0, 4), std::string("L\0\0\0", 4));  // a shell link header
#else
  EXPECT_NE(bytes.find("\nName=琼枝直播下载\n"), std::string::npos);
#endif
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(desktop.path()), {}), 1);
}

TEST_F(ShortcutFileFixture, ATargetWithoutFolderMakesNothingButTheOldShortcutIsGone) {
  test::write_bytes(shortcut_path(), "old");
  ShortcutRequest r;
  r.name = "琼枝直播下载";
  r.target = "app.exe";
  EXPECT_FALSE(create_shortcut_in(desktop.str(), r));
  EXPECT_FALSE(std::filesystem::exists(shortcut_path()));
}

#ifndef _WIN32
TEST_F(ShortcutFileFixture, LauncherQuotesWhatTheDesktopWouldReadAsSyntax) {
  test::write_bytes(programs / "a$b%c.bin", "x");
  ShortcutRequest r;
  r.name = "demo";
  r.target = test::u8(programs / "a$b%c.bin");
  r.description = "two\nlines";
  ASSERT_TRUE(create_shortcut_in(desktop.str(), r));
  const std::string entry = test::read_bytes(desktop / "demo.desktop");
  EXPECT_NE(entry.find("Exec=\"" + programs.str() + "/a\\\\$b%%c.bin\"\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("Comment=two\\nlines\n"), std::string::npos) << entry;
}
#endif

}  // namespace
}  // namespace qz::app
