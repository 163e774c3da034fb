#include "notices/service_notices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "app/application.h"
#include "app/controls.h"
#include "app/logs.h"
#include "fixtures/maker_server/maker_server.h"
#include "notices/install.h"
#include "net/sha256.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "net/http_fetch.h"
#include "platform/text_codec.h"
#include "net/file_downloader.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#endif

namespace qz::notices {
namespace {

using namespace std::chrono_literals;
using app::MessageReply;
using Probe = test::MakerServer::Probe;

// Every text the update label showed, in order.
class LabelRecorder final : public app::WindowObserver {
 public:
  explicit LabelRecorder(app::WindowModel& window) : window_(window) { window.set_observer(this); }
  ~LabelRecorder() override { window_.set_observer(nullptr); }
  void control_changed(const app::ControlChange& change) override {
    if (change.what != app::ControlChange::What::Text || change.name != app::kUpdateLabel) return;
    std::lock_guard lock(mutex_);
    texts_.push_back(window_.text(app::kUpdateLabel));
  }
  std::vector<std::string> texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
  }

 private:
  app::WindowModel& window_;
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

std::string run_log_text(const std::filesystem::path& program_folder) {
  std::string text;
  if (!std::filesystem::exists(program_folder / "data")) return text;
  for (const auto& e : std::filesystem::directory_iterator(program_folder / "data"))
    if (test::u8(e.path().filename()).rfind("运行日志", 0) == 0)
      text += platform::gbk_to_utf8(test::read_bytes(e.path()));
  return text;
}

struct NoticesFixture : ::testing::Test {
  test::MakerServer server;
  test::TempFolder folder;
  app::WindowModel window;
  ui::HeadlessDesktop desktop;
  std::unique_ptr<app::Application> app;
  std::shared_ptr<ServiceNotices> notices;
  std::atomic<int> close_requests{0};

  void SetUp() override {
    std::filesystem::create_directories(folder / "data");  // where the run log goes
    app = std::make_unique<app::Application>(window, desktop, folder.str());
    app::Config& config = app->context().config;
    config.update_primary = server.primary();
    config.update_mirror1 = server.mirror1();
    config.update_mirror2 = server.mirror2();
    config.quote_url = server.quote_url();
    config.tool_host = server.tool_host();
    config.ca_file = server.ca_file();
    notices = install_service_notices(*app);
    notices->close_program = [this] { ++close_requests; };
  }
  void TearDown() override {
    wait_for_update();
    app.reset();  // joins the notice threads
  }
  void wait_for_update() {
    if (notices && notices->update_task() > 0)
      ASSERT_TRUE(net::FileDownloader{}.Wait(kUpdateUser, notices->update_task(), 30000));
  }
  std::string update_file_path(const std::string& name) const {
    return platform::join_path(folder.str(), name);
  }
  int update_file_requests(const std::string& name) { return server.http().request_count("/files/" + name); }
};

TEST_F(NoticesFixture, ProbeTakesTheFirstServerAnsweringExactlyOk) {
  struct Case {
    Probe primary, mirror1, mirror2;
    int base;  // 0 primary, 1 first mirror, 2 second mirror
    const char* message;
    int probes;
  } cases[] = {
      {Probe::Ok, Probe::Ok, Probe::Ok, 0, "华北多线服务器正常", 1},
      {Probe::OkWithLineBreak, Probe::Ok, Probe::Ok, 1, "广州服务器正常", 2},
      {Probe::NotFound, Probe::Wrong, Probe::Ok, 2, "上海服务器正常", 3},
      {Probe::ServerErrorSayingOk, Probe::NotFound, Probe::OkWithLineBreak, 0,
       "服务器异常，尝试使用多线服务器连接", 3},
  };
  const std::string bases[] = {server.primary(), server.mirror1(), server.mirror2()};
  for (const Case& c : cases) {
    server.set_probe(server.primary(), c.primary);
    server.set_probe(server.mirror1(), c.mirror1);
    server.set_probe(server.mirror2(), c.mirror2);
    const std::size_t before = server.http().requests().size();
    const ProbeResult result = notices->probe_servers();
    EXPECT_EQ(result.base, bases[c.base]) << c.message;
    EXPECT_EQ(result.message, c.message);
    const auto requests = server.http().requests();
    ASSERT_EQ(requests.size() - before, static_cast<std::size_t>(c.probes)) << c.message;
    const char* order[] = {"/primary/test.txt", "/mirror1/test.txt", "/mirror2/test.txt"};
    for (int i = 0; i < c.probes; ++i) EXPECT_EQ(requests[before + i].path, order[i]);
  }
}

TEST_F(NoticesFixture, VersionCheckOffersAnUpdateOnlyForAnotherReadableVersion) {
  struct Case {
    std::string index;
    int status;
    const char* result;
    bool offered;
  } cases[] = {
      {test::MakerServer::index_json("2.7", "无", "a.exe", server.file_url("a.exe")), 200, "1", false},
      {test::MakerServer::index_json("2.6", "回退", "a.exe", server.file_url("a.exe")), 200, "0", true},
      {test::MakerServer::index_json("2.8", "修复录制", "a.exe", server.file_url("a.exe")), 200, "0", true},
      {"", 404, "-1", false},                       // missing
      {"<html>not json</html>", 200, "-1", false},  // not JSON
      {"[\"2.8\"]", 200, "-1", false},              // JSON, but no object
      {test::MakerServer::index_json("", "x", "a.exe", server.file_url("a.exe")), 200, "-1", false},
  };
  int boxes = 0;
  for (const Case& c : cases) {
    server.set_index(server.primary(), c.index, c.status);
    desktop.script_replies({MessageReply::Cancel});
    const int probes_before = server.http().request_count("/primary/test.txt");
    const std::string log_before = run_log_text(folder.path());
    notices->run_version_thread();

    const std::string log = run_log_text(folder.path());
    EXPECT_NE(log.find(std::string("版本检查结果1是最新版：") + c.result), std::string::npos) << c.index;
    EXPECT_EQ(server.http().request_count("/primary/test.txt") - probes_before, c.offered ? 1 : 0)
        << c.index;
    if (c.offered) ++boxes;
    ASSERT_EQ(desktop.shown_boxes().size(), static_cast<std::size_t>(boxes)) << c.index;
    EXPECT_EQ(window.text(app::kNoticePart0), "版本v2.7");
  }
  const auto shown = desktop.shown_boxes();
  EXPECT_EQ(shown[0].text, "发现新版本：v2.6，更新内容：\r\n回退");
  EXPECT_EQ(shown[1].text, "发现新版本：v2.8，更新内容：\r\n修复录制");
  EXPECT_EQ(shown[1].caption, "发现新版本，是否更新");
  EXPECT_EQ(shown[1].buttons, app::MessageButtons::OkCancel);
  EXPECT_TRUE(shown[1].owned_by_window);
  // Cancel ended both flows: nothing was downloaded.
  EXPECT_EQ(update_file_requests("a.exe"), 0);
  EXPECT_EQ(notices->update_task(), 0);
  EXPECT_FALSE(window.visible(app::kOpenNewVersionButton));
  const std::string log = run_log_text(folder.path());
  for (const char* entry : {"显示版本号2.7", "启动升级程序检查", "升级文件获取到数据", "提醒用户升级"})
    EXPECT_NE(log.find(entry), std::string::npos) << entry;
}

TEST_F(NoticesFixture, AnIndexOnlyTheProbedServerCannotGiveOffersNothing) {
  // The primary offers 2.8, but the server the probe picks has no usable index.
  server.set_index(server.primary(), test::MakerServer::index_json("2.8", "x", "a.exe", server.file_url("a.exe")));
  server.set_probe(server.primary(), Probe::NotFound);
  server.set_index(server.mirror1(), "{}");
  notices->run_version_thread();
  EXPECT_TRUE(desktop.shown_boxes().empty());
  EXPECT_EQ(window.text(app::kNoticePart1), "广州服务器正常");
}

TEST_F(NoticesFixture, AnIndexNamingAFileOutsideTheProgramFolderIsRefused) {
  for (const std::string name : {"../evil.exe", "..\\evil.exe", "sub/evil.exe", ""}) {
    server.set_index(server.primary(), test::MakerServer::index_json("2.8", "x", name, server.file_url("a.exe")));
    notices->run_update_flow();
  }
  EXPECT_TRUE(desktop.shown_boxes().empty());
  EXPECT_EQ(update_file_requests("a.exe"), 0);
}

TEST(UpdateProgress, TextAndPercent) {
  struct Case {
    std::int64_t total, downloaded;
    const char* text;
  } cases[] = {
      {2048, 1024, "已下载：1kb/2kb\r\n进度：50%"},
      {3072, 1024, "已下载：1kb/3kb\r\n进度：33.33%"},
      {2048, 2048, "已下载：2kb/2kb\r\n进度：100%"},
      {1536, 512, "已下载：0.5kb/1.5kb\r\n进度：33.33%"},
      {3145728, 0, "已下载：0kb/3072kb\r\n进度：0%"},
  };
  for (const Case& c : cases) EXPECT_EQ(update_progress_text(c.total, c.downloaded), c.text);
}

TEST_F(NoticesFixture, AProgressFigureOfAHundredIsNotCompletion) {
  notices->on_update_progress(1, net::kDownloadProgress, 2048, 1024);
  EXPECT_EQ(window.text(app::kUpdateLabel), "已下载：1kb/2kb\r\n进度：50%");
  notices->on_update_progress(1, net::kDownloadProgress, 2048, 2048);
  EXPECT_EQ(window.text(app::kUpdateLabel), "已下载：2kb/2kb\r\n进度：100%");
  EXPECT_FALSE(window.visible(app::kOpenNewVersionButton));
  notices->on_update_progress(1, net::kDownloadFailed, 0, 0);
  EXPECT_EQ(window.text(app::kUpdateLabel), kUpdateFailedText);
  EXPECT_FALSE(window.visible(app::kOpenNewVersionButton));
}

TEST(NoticeDocuments, OnlyTopLevelTextValuesOfAnObjectAreRead) {
  EXPECT_FALSE(read_text_values("not json"));
  EXPECT_FALSE(read_text_values("[1,2]"));
  EXPECT_FALSE(read_text_values("\"text\""));
  const auto values = read_text_values(R"({"all":"公告","n":5,"o":{"all":"x"},"e":""})");
  ASSERT_TRUE(values);
  EXPECT_EQ(*values, (std::map<std::string, std::string>{{"all", "公告"}, {"e", ""}}));
}

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(net::sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(net::sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(net::sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(net::sha256_hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_F(NoticesFixture, QuoteAndAnnouncementLandInStatusPartTwo) {
  server.set_index(server.primary(), test::MakerServer::index_json("2.7", "", "a.exe", server.file_url("a.exe")));
  notices->run_announcement_thread();
  EXPECT_EQ(window.text(app::kNoticePart2), "今晚八点直播间上新");
  notices->run_version_thread();
  EXPECT_EQ(window.text(app::kNoticePart2), std::string("   ") + test::MakerServer::kQuote);
  ASSERT_EQ(server.http().request_count("/quote"), 1);
  for (const auto& r : server.http().requests())
    if (r.path == "/quote") EXPECT_EQ(r.query, "encode=text");

  // A quote service that fails leaves the three blanks.
  app->context().config.quote_url = server.http().base_url() + "/no-quote";
  notices->run_version_thread();
  EXPECT_EQ(window.text(app::kNoticePart2), "   ");
}

TEST_F(NoticesFixture, AdvertPictureIsOneOfTheSeventeen) {
  std::set<int> seen;
  for (int run = 0; run < 24; ++run) {
    notices->run_announcement_thread();
    const std::string picture = window.picture(app::kAdvertPicture);
    ASSERT_EQ(picture.size(), test::MakerServer::advert_gif(1).size());
    seen.insert(static_cast<unsigned char>(picture[13]));
  }
  std::set<std::string> asked_for;
  for (const auto& r : server.http().requests())
    if (r.path.rfind("/primary/tool/", 0) == 0) asked_for.insert(r.path);
  std::set<std::string> seventeen;
  for (int n = 1; n <= 17; ++n) seventeen.insert("/primary/tool/ad" + std::to_string(n) + ".gif");
  EXPECT_TRUE(std::includes(seventeen.begin(), seventeen.end(), asked_for.begin(), asked_for.end()));
  EXPECT_GE(seen.size(), 2u);
  EXPECT_GE(*seen.begin(), 1);
  EXPECT_LE(*seen.rbegin(), 17);
}

TEST_F(NoticesFixture, AdvertClickOpensHttpLinksAndShowsOthers) {
  struct Case {
    const char* link;
    bool opened;
    bool shown;
  } cases[] = {
      {"http://ok", true, false},
      {"https://ok/x", true, false},
      {"http://127.0.0.1:8080/ad/landing?from=app", true, false},
      {"https://[::1]:8443/ad", true, false},
      {"http\\..\\x.exe", false, true},  // a path the shell would run, not an address
      {"http:\\\\host\\x.exe", false, true},
      {"http://", false, true},  // no host
      {"http://:80/x", false, true},
      {"http://host\\..\\x.exe", false, true},
      {"http://a b/", false, true},
      {"httpx://host/", false, true},
      {"file:///c:/x", false, true},
      {"javascript:alert(1)", false, true},
      {"www.maker.invalid/ad", false, true},
      {"HTTP://upper.invalid", false, true},
      {"", false, false},
  };
  for (const Case& c : cases) {
    server.set_announcement("公告", c.link);
    notices->run_announcement_thread();
    const auto opened = desktop.opened_addresses().size();
    const auto shown = desktop.shown_boxes().size();
    desktop.run_on_ui([&] { window.click(app::kAdvertPicture); });
    ASSERT_EQ(desktop.opened_addresses().size(), opened + (c.opened ? 1 : 0)) << c.link;
    ASSERT_EQ(desktop.shown_boxes().size(), shown + (c.shown ? 1 : 0)) << c.link;
    if (c.opened) EXPECT_EQ(desktop.opened_addresses().back(), c.link);
    if (c.shown) {
      EXPECT_EQ(desktop.shown_boxes().back().text, c.link);
      EXPECT_EQ(desktop.shown_boxes().back().caption, "信息：");
    }
  }
}

TEST_F(NoticesFixture, OnlyAGifWithinTheCapIsShownAsTheAdvert) {
  std::string big_gif = test::MakerServer::advert_gif(3);
  big_gif.resize(kMaxAdvertBytes + 1, '\0');
  struct Case {
    const char* name;
    std::string bytes;
    bool shown;
  } cases[] = {
      {"gif89a", test::MakerServer::advert_gif(5), true},
      {"gif87a", "GIF87a" + test::MakerServer::advert_gif(5).substr(6), true},
      {"png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(40, 'x'), false},
      {"html", "<html>GIF89a</html>", false},
      {"empty", "", false},
      {"over the cap", big_gif, false},
  };
  for (const Case& c : cases) {
    for (int n = 1; n <= 17; ++n) server.http().serve_bytes("/primary/tool/ad" + std::to_string(n) + ".gif", c.bytes);
    window.set_picture(app::kAdvertPicture, "");
    notices->run_announcement_thread();
    EXPECT_EQ(window.picture(app::kAdvertPicture) == c.bytes && !c.bytes.empty(), c.shown) << c.name;
    if (!c.shown) EXPECT_EQ(window.picture(app::kAdvertPicture), "") << c.name;
  }
}

TEST(NoticeTexts, LongTextsAreCutBetweenCharacters) {
  struct Case {
    std::string text;
    std::size_t max;
    std::string cut;
  } cases[] = {
      {"今晚八点", 10, "今晚八点"},
      {"今晚八点", 2, "今晚"},
      {"ab今晚", 3, "ab今"},
      {"", 3, ""},
      {std::string(500, 'a'), kMaxNoticeChars, std::string(kMaxNoticeChars, 'a')},
  };
  for (const Case& c : cases) EXPECT_EQ(cut_notice_text(c.text, c.max), c.cut) << c.text;
}

// Answers far larger than a notice can be are refused with the failure text in the run log; the
// window keeps what it showed and the program runs on.
TEST_F(NoticesFixture, OversizedNoticeQuoteAndIndexAreRefused) {
  const std::string huge(kMaxNoticeBytes + 1, 'x');
  server.http().serve_bytes("/primary/gonggao.json", "{\"all\":\"" + huge + "\"}");
  server.http().route("/quote", [&huge](const test::HttpRequest&) { return test::HttpResponse{200, {}, huge}; });
  server.set_index(server.primary(), "{\"版本\":\"2.8\",\"x\":\"" + huge + "\"}");
  window.set_text(app::kNoticePart2, "之前的公告");
  notices->run_announcement_thread();
  EXPECT_EQ(window.text(app::kNoticePart2), "之前的公告");
  notices->run_version_thread();
  EXPECT_EQ(window.text(app::kNoticePart2), "   ");
  EXPECT_TRUE(desktop.shown_boxes().empty());
  const std::string log = run_log_text(folder.path());
  for (const std::string entry : {std::string("公告：") + net::kBodyTooLargeText,
                                  std::string("每日一句：") + net::kBodyTooLargeText,
                                  std::string("升级信息：") + net::kBodyTooLargeText, std::string("最新版：-1")})
    EXPECT_NE(log.find(entry), std::string::npos) << entry;

  // Long texts within the cap are cut for their one line.
  server.set_announcement(std::string(1000, 'a'), "");
  notices->run_announcement_thread();
  EXPECT_EQ(window.text(app::kNoticePart2), std::string(kMaxNoticeChars, 'a'));
}

TEST(DriveCAdvice, OnlyForAFolderOnUpperCaseC) {
  struct Case {
    const char* folder;
    bool advice;
  } cases[] = {{"C:\\tools\\qz", true}, {"c:\\tools\\qz", false}, {"D:\\tools\\qz", false},
               {"/home/user/qz", false}, {"", false}};
  for (const Case& c : cases) EXPECT_EQ(wants_drive_c_advice(c.folder), c.advice) << c.folder;
}

TEST_F(NoticesFixture, StartUpShowsVersionQuoteAnnouncementAndAdviceWhereDue) {
  server.set_index(server.primary(), test::MakerServer::index_json("2.7", "", "a.exe", server.file_url("a.exe")));
  app->subsystem("notices")->startup_work();
  app.reset();  // joins the version and announcement threads
  EXPECT_EQ(window.text(app::kNoticePart0), "版本v2.7");
  const std::string part2 = window.text(app::kNoticePart2);
  EXPECT_TRUE(part2 == "今晚八点直播间上新" || part2 == std::string("   ") + test::MakerServer::kQuote) << part2;
  EXPECT_FALSE(window.picture(app::kAdvertPicture).empty());
  // The test folder lies on drive C under Wine and under /tmp on Linux.
  EXPECT_EQ(window.text(app::kUpdateLabel), wants_drive_c_advice(folder.str()) ? kDriveCAdvice : "");
  EXPECT_TRUE(desktop.shown_boxes().empty());
}

// The update download with a desktop of the test's own on Linux; under Wine the prefix's desktop,
// whose shortcut the test removes.
struct UpdateFixture : NoticesFixture {
#ifndef _WIN32
  test::TempFolder home{"家 目录"};
  std::string old_home;
  std::optional<std::string> old_config;
#endif
  std::string new_program;  // bytes of the helper program that stands in for the new version
  static constexpr const char* kName = "琼枝直播下载_2.8.exe";  // the file name the index gives
  static constexpr const char* kServed = "qiongzhi_2.8.exe";     // the file on the server

  void SetUp() override {
#ifndef _WIN32
    std::filesystem::create_directories(home / "Desktop");
    old_home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (const char* config = std::getenv("XDG_CONFIG_HOME")) old_config = config;
    ::setenv("HOME", home.str().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home.str() + "/.config").c_str(), 1);
#endif
    NoticesFixture::SetUp();
    remove_shortcut();
    new_program = test::read_bytes(QZ_UPDATE_HELPER);
    ASSERT_FALSE(new_program.empty());
    // Trailing bytes do not hinder a program from starting; two blocks make both parts work.
    if (new_program.size() < 1048576 + 4096) new_program.resize(1048576 + 4096, '\x5a');
    server.serve_update_file(kServed, new_program);
  }
  void TearDown() override {
    NoticesFixture::TearDown();
    remove_shortcut();
#ifndef _WIN32
    ::setenv("HOME", old_home.c_str(), 1);
    if (old_config) ::setenv("XDG_CONFIG_HOME", old_config->c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
#endif
  }
  std::string shortcut_path() const {
    return platform::join_path(platform::desktop_folder(), std::string("琼枝直播下载") + platform_shortcut_extension());
  }
  static const char* platform_shortcut_extension() {
#ifdef _WIN32
    return ".lnk";
#else
    return ".desktop";
#endif
  }
  void remove_shortcut() const { platform::remove_file(shortcut_path()); }
  void offer(const std::string& file_name, const std::string& address, const std::string& sha256 = "") {
    server.set_index(server.primary(), test::MakerServer::index_json("2.8", "修复", file_name, address, sha256));
  }
};

TEST_F(UpdateFixture, OkDownloadsTheNewVersionShowsTheButtonAndPlacesTheShortcut) {
  LabelRecorder labels(window);
  offer(kName, server.file_url(kServed));
  desktop.script_replies({MessageReply::Ok});
  notices->run_update_flow();
  EXPECT_EQ(window.text(app::kOpenNewVersionButton), std::string("打开：") + kName);
  ASSERT_GT(notices->update_task(), 0);
  wait_for_update();

  const std::string target = update_file_path(kName);
  EXPECT_EQ(notices->update_target(), target);
  EXPECT_TRUE(test::read_bytes(test::from_u8(target)) == new_program);
  EXPECT_TRUE(window.visible(app::kOpenNewVersionButton));
  EXPECT_EQ(window.text(app::kUpdateLabel), "更新结束");
  const auto texts = labels.texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(), "开始更新");
  EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                          [](const std::string& t) { return t.ends_with("kb\r\n进度：100%"); }));
  // Two parts: the file's two blocks came over ranged requests.
  int ranged = 0;
  for (const auto& r : server.http().requests())
    if (r.path == std::string("/files/") + kServed && !r.header("Range").empty()) ++ranged;
  EXPECT_GE(ranged, 2);

  ASSERT_TRUE(platform::file_exists(shortcut_path()));
#ifdef _WIN32
  std::wstring link_target;
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      if (SUCCEEDED(file->Load(test::from_u8(shortcut_path()).wstring().c_str(), STGM_READ))) {
        PIDLIST_ABSOLUTE items = nullptr;
        wchar_t buffer[MAX_PATH * 2] = {};
        if (SUCCEEDED(link->GetIDList(&items)) && items) {
          if (SHGetPathFromIDListW(items, buffer)) link_target = buffer;
          CoTaskMemFree(items);
        }
      }
      file->Release();
    }
    link->Release();
  }
  CoUninitialize();
  EXPECT_EQ(link_target, test::from_u8(target).wstring());
#else
  EXPECT_NE(test::read_bytes(shortcut_path()).find("Exec=\"" + target + "\"\n"), std::string::npos);
#endif

  // The button starts the new version, and the program closes two seconds later.
  desktop.run_on_ui([&] { window.click(app::kOpenNewVersionButton); });
  EXPECT_TRUE(ui::HeadlessDesktop::wait_until(
      [&] { return std::filesystem::exists(folder / "started.txt"); }, 20s));
  EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return close_requests > 0; }, 10s));
}

// The update downloads on past the version thread: the advice and the quote never wait for it,
// and closing stops it.
TEST_F(UpdateFixture, TheQuoteDoesNotWaitForTheUpdateAndClosingStopsIt) {
  server.http().serve_file("/files/slow.exe", 4 * 1048576, test::pattern_bytes, {.bytes_per_second = 65536});
  offer("slow.exe", server.file_url("slow.exe"));
  desktop.script_replies({MessageReply::Ok});
  notices->run_version_thread();
  EXPECT_EQ(window.text(app::kNoticePart2), std::string("   ") + test::MakerServer::kQuote);
  ASSERT_GT(notices->update_task(), 0);
  EXPECT_FALSE(net::FileDownloader{}.Wait(kUpdateUser, notices->update_task(), 0)) << "the update ended already";
  app->subsystem("notices")->request_stop();
  EXPECT_TRUE(net::FileDownloader{}.Wait(kUpdateUser, notices->update_task(), 10000));
  EXPECT_FALSE(platform::file_exists(update_file_path("slow.exe")));
}

TEST_F(UpdateFixture, AFileBelowTwentyBytesIsReportedAndGetsNoShortcut) {
  offer("tiny.exe", server.file_url("tiny.exe"));
  notices->run_update_flow();
  wait_for_update();
  EXPECT_EQ(window.text(app::kUpdateLabel), kUpdateFailedText);
  EXPECT_TRUE(window.visible(app::kOpenNewVersionButton));
  EXPECT_FALSE(platform::file_exists(shortcut_path()));
}

TEST_F(UpdateFixture, TheAnnouncedDigestDecidesWhetherTheFileIsOffered) {
  struct Case {
    std::string sha256;
    bool offered;
  } cases[] = {
      {net::sha256_hex("something else"), false},
      {net::sha256_hex(new_program), true},
  };
  for (const Case& c : cases) {
    window.set_visible(app::kOpenNewVersionButton, false);
    offer(kName, server.file_url(kServed), c.sha256);
    notices->run_update_flow();
    wait_for_update();
    EXPECT_EQ(window.visible(app::kOpenNewVersionButton), c.offered) << c.sha256;
    EXPECT_EQ(platform::file_exists(update_file_path(kName)), c.offered);
    EXPECT_EQ(platform::file_exists(shortcut_path()), c.offered);
    EXPECT_EQ(window.text(app::kUpdateLabel), c.offered ? "更新结束" : kUpdateFailedText);
  }
}

// The digest is checked before the file takes its name: a file that does not match never lands,
// so an older file of that name in the program folder stays as it was.
TEST_F(UpdateFixture, AFileThatDoesNotMatchItsDigestNeverLandsInTheProgramFolder) {
  test::write_bytes(folder / kName, "the version the user already had");
  offer(kName, server.file_url(kServed), net::sha256_hex("something else"));
  notices->run_update_flow();
  wait_for_update();
  EXPECT_EQ(window.text(app::kUpdateLabel), kUpdateFailedText);
  EXPECT_EQ(test::read_bytes(folder / kName), "the version the user already had");
  EXPECT_FALSE(platform::file_exists(update_file_path(kName) + ".part"));
  EXPECT_FALSE(window.visible(app::kOpenNewVersionButton));
}

TEST_F(UpdateFixture, AnUpdateOnlyComesOverHttps) {
  // A download address on plain http: not fetched, not offered.
  offer(kName, server.plain_url() + "/files/" + kServed);
  notices->run_update_flow();
  EXPECT_TRUE(desktop.shown_boxes().empty());
  EXPECT_EQ(window.text(app::kUpdateLabel), kUpdateFailedText);
  EXPECT_EQ(update_file_requests(kServed), 0);
  EXPECT_EQ(notices->update_task(), 0);

  // An index that sends the program on to plain http is not followed: nothing is offered.
  const std::string plain_index = server.plain_url() + "/plain/zhibo_mvx/index.json";
  server.http().route("/plain/zhibo_mvx/index.json", [this](const test::HttpRequest&) {
    return test::HttpResponse{200, {}, test::MakerServer::index_json("2.8", "x", kName, server.file_url(kServed))};
  });
  server.http().route("/primary/zhibo_mvx/index.json", [plain_index](const test::HttpRequest&) {
    return test::HttpResponse{302, {{"Location", plain_index}}, ""};
  });
  notices->run_version_thread();
  EXPECT_NE(run_log_text(folder.path()).find("版本检查结果1是最新版：-1"), std::string::npos);
  EXPECT_EQ(server.http().request_count("/plain/zhibo_mvx/index.json"), 0);
  EXPECT_TRUE(desktop.shown_boxes().empty());

  // An update file that sends the download on to plain http is not followed either.
  server.set_index(server.primary(), test::MakerServer::index_json("2.8", "x", kName, server.file_url("moved.exe")));
  const std::string plain_file = server.plain_url() + "/files/" + kServed;
  server.http().route("/files/moved.exe", [plain_file](const test::HttpRequest&) {
    return test::HttpResponse{302, {{"Location", plain_file}}, ""};
  });
  desktop.script_replies({MessageReply::Ok});
  notices->run_update_flow();
  wait_for_update();
  EXPECT_EQ(update_file_requests(kServed), 0);
  EXPECT_FALSE(platform::file_exists(update_file_path(kName)));
  EXPECT_EQ(window.text(app::kUpdateLabel), kUpdateFailedText);
}

TEST_F(UpdateFixture, AnUpdateFileThatCannotArriveLeavesNothingToRun) {
  offer(kName, server.file_url("missing.exe"));
  notices->run_update_flow();
  wait_for_update();
  EXPECT_EQ(window.text(app::kUpdateLabel), kUpdateFailedText);
  EXPECT_FALSE(window.visible(app::kOpenNewVersionButton));
  EXPECT_FALSE(platform::file_exists(update_file_path(kName)));
  EXPECT_FALSE(platform::file_exists(shortcut_path()));
}

#ifndef _WIN32
// A real TLS server whose certificate no authority signed: openssl serving files of a folder.
class UntrustedTlsServer {
 public:
  explicit UntrustedTlsServer(const std::filesystem::path& root) {
    const auto openssl = platform::find_on_search_path("openssl");
    if (!openssl) return;
    const std::string key = test::u8(folder_ / "key.pem"), cert = test::u8(folder_ / "cert.pem");
    platform::Process make_cert;
    if (!make_cert.start({.program = *openssl,
                          .args = {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                                   "-days", "2", "-subj", "/CN=127.0.0.1"},
                          .streams = platform::Streams::kNone}) ||
        make_cert.wait(60000) != 0)
      return;
    if (!server_.start({.program = *openssl,
                        .args = {"s_server", "-accept", "0", "-cert", cert, "-key", key, "-WWW"},
                        .working_folder = test::u8(root)}))
      return;
    std::string output;
    char buffer[512];
    while (output.find('\n', output.find("ACCEPT")) == std::string::npos) {
      const std::size_t n = server_.read_output(buffer, sizeof buffer);
      if (n == 0) return;
      output.append(buffer, n);
    }
    const auto line = output.find("ACCEPT");
    const auto colon = output.rfind(':', output.find('\n', line));
    port_ = std::atoi(output.c_str() + colon + 1);
  }
  ~UntrustedTlsServer() {
    if (server_.started()) {
      server_.terminate();
      server_.wait(5000);
    }
  }
  int port() const { return port_; }
  std::string base() const { return "https://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  test::TempFolder folder_{"证书"};
  platform::Process server_;
  int port_ = 0;
};

TEST_F(UpdateFixture, IndexAndFileOfTheUpdateComeOnlyOverAVerifiedConnection) {
  test::TempFolder root{"站点"};
  UntrustedTlsServer tls(root.path());
  if (tls.port() == 0) GTEST_SKIP() << "no openssl to play an untrusted TLS server";
  test::write_bytes(root / "zhibo_mvx/index.json",
                    test::MakerServer::index_json("2.8", "x", kName, tls.base() + "new.exe"));
  test::write_bytes(root / "test.txt", "ok");
  test::write_bytes(root / "new.exe", new_program);

  // HttpFetch ignores the certificate and reads the index; the version check does not.
  net::HttpFetchRequest plain;
  plain.url = tls.base() + "zhibo_mvx/index.json";
  ASSERT_NE(net::HttpFetch(plain).body.find("2.8"), std::string::npos);
  app->context().config.update_primary = tls.base();
  notices->run_version_thread();
  EXPECT_NE(run_log_text(folder.path()).find("版本检查结果1是最新版：-1"), std::string::npos);
  EXPECT_TRUE(desktop.shown_boxes().empty());

  // An index from a trusted place that points the file at the untrusted server: nothing arrives.
  app->context().config.update_primary = server.primary();
  offer(kName, tls.base() + "new.exe");
  notices->run_update_flow();
  wait_for_update();
  EXPECT_EQ(window.text(app::kUpdateLabel), kUpdateFailedText);
  EXPECT_FALSE(platform::file_exists(update_file_path(kName)));
  EXPECT_FALSE(window.visible(app::kOpenNewVersionButton));
}
#endif

}  // namespace
}  // namespace qz::notices
