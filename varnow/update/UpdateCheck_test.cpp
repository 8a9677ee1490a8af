// The update check against a settings page served from 127.0.0.1.
#include "varnow/update/UpdateCheck.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

#include <sys/stat.h>

#include <bit>
#include <cstdint>

#include "platform/registry.h"
#include "platform/tracelog.h"
#include "varnow/settings/Settings.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/update/InternetSettings.h"
#include "varnow/update/TestServer.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using platform::MakeOleTime;
using platform::OleTime;

constexpr CProgramVersion kOwn{2, 0, 74};
const OleTime kNow = MakeOleTime(2026, 12, 7, 12, 0, 0);

class CRecordedMessages : public IUpdateOwner {
 public:
  void ShowUpdateMessage(const std::string& text) override { m_messages.push_back(text); }
  std::vector<std::string> m_messages;
};

std::optional<platform::RegValue> Stored(const std::string& name) {
  return platform::Registry::GetValue(platform::Hive::CurrentUser, SettingsKey(kSettingsSection), name);
}

class UpdateCheckTest : public ::testing::Test {
 protected:
  UpdateCheckTest() { WriteProfileString(kSettingsSection, "HomePage", m_server.HomePage()); }

  UpdateCheckResult Check(OleTime now = kNow) {
    CUpdateCheckOptions options;
    options.now = [now] { return now; };
    options.timeLimit = m_timeLimit;
    return DownloadInternetSettings(m_owner, options);
  }
  UpdateCheckResult CheckManually() {
    CUpdateCheckOptions options;
    options.manual = true;
    options.timeLimit = m_timeLimit;
    return DownloadInternetSettings(m_owner, options);
  }

  void SetLastCheck(const OleTime& time) {
    const auto bits = std::bit_cast<std::uint64_t>(platform::ToOleDate(time));
    WriteProfileInt(kSettingsSection, "LastUpdateCheck0", static_cast<int>(bits & 0xFFFFFFFFu));
    WriteProfileInt(kSettingsSection, "LastUpdateCheck1", static_cast<int>(bits >> 32));
  }
  // Both halves as stored; nullopt while either is missing.
  std::optional<std::uint64_t> LastCheckBits() {
    const auto low = Stored("LastUpdateCheck0"), high = Stored("LastUpdateCheck1");
    if (!low || !high) return std::nullopt;
    return (std::uint64_t(high->dword) << 32) | low->dword;
  }
  OleTime LastCheck() { return platform::FromOleDate(std::bit_cast<double>(LastCheckBits().value_or(0))); }
  void SetVersion(int major, int minor, int build) {
    WriteProfileInt(kSettingsSection, "LatestMajor", major);
    WriteProfileInt(kSettingsSection, "LatestMinor", minor);
    WriteProfileInt(kSettingsSection, "LatestBuild", build);
  }

  test::CTestHome m_home;
  test::CTestServer m_server;
  CRecordedMessages m_owner;
  std::chrono::milliseconds m_timeLimit = kUpdateCheckTimeLimit;
};

TEST_F(UpdateCheckTest, DueOnFirstStartThenAfterTheDaysToTheSecond) {
  m_server.Answer(200, "REG:LatestBuild-75\n");
  EXPECT_EQ(Check(), UpdateCheckResult::Completed);
  EXPECT_EQ(LastCheck(), kNow);
  EXPECT_EQ(Stored("LatestBuild")->dword, 75u);

  EXPECT_EQ(Check(), UpdateCheckResult::NotDue);
  SetLastCheck(platform::AddSeconds(kNow, -30 * platform::kSecondsPerDay));
  EXPECT_EQ(Check(), UpdateCheckResult::NotDue);
  EXPECT_EQ(m_server.Requests().size(), 1u);
  EXPECT_EQ(Check(platform::AddSeconds(kNow, 1)), UpdateCheckResult::Completed);
  EXPECT_EQ(LastCheck(), platform::AddSeconds(kNow, 1));

  // The page may shorten the interval; a time that reads as no date counts as never checked.
  WriteProfileInt(kSettingsSection, "DaysBetweenChecks", 2);
  SetLastCheck(platform::AddSeconds(kNow, -2 * platform::kSecondsPerDay - 1));
  EXPECT_EQ(Check(), UpdateCheckResult::Completed);
  WriteProfileInt(kSettingsSection, "LastUpdateCheck1", -1);  // a NaN
  EXPECT_EQ(Check(), UpdateCheckResult::Completed);
  EXPECT_EQ(m_server.Requests().size(), 4u);
}

TEST_F(UpdateCheckTest, RequestIsAPostWithTheAgentToThePortOfTheAddress) {
  m_server.Answer(200, "");
  ASSERT_EQ(CheckManually(), UpdateCheckResult::Completed);
  ASSERT_EQ(m_server.Requests().size(), 1u);
  const std::string request = m_server.Requests()[0];
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /varnow/settings.htm HTTP/1.1");
  EXPECT_THAT(request, HasSubstr("\r\nUser-Agent: Varnow\r\n"));

  // A page name set by the page is where the next check goes.
  m_server.Answer(200, "REG:PageName-next.txt\n");
  ASSERT_EQ(CheckManually(), UpdateCheckResult::Completed);
  ASSERT_EQ(CheckManually(), UpdateCheckResult::Completed);
  EXPECT_THAT(m_server.Requests().back(), HasSubstr("POST /varnow/next.txt "));
}

TEST_F(UpdateCheckTest, ManualCheckIgnoresTheDateAndClearsTheTime) {
  m_server.Answer(200, "");
  SetLastCheck(kNow);
  EXPECT_EQ(CheckManually(), UpdateCheckResult::Completed);
  EXPECT_EQ(LastCheckBits(), 0u);
  EXPECT_EQ(Check(), UpdateCheckResult::Completed);  // so the next start checks again
}

TEST_F(UpdateCheckTest, RegLinesWriteIntegersOrTexts) {
  m_server.Answer(200,
                  "<html><body><pre>\n"
                  "REG:LatestBuild-75\n"
                  "REG:LatestMinor-075\n"
                  "REG:latestMAJOR-3\n"
                  "REG:DaysBetweenChecks--1\n"
                  "REG:HomePage-" + m_server.HomePage() + "index.htm\n"
                  "REG:PageName-x-y.htm\n"
                  "reg:LatestBuild-1\n"
                  "</pre></body></html>");
  ASSERT_EQ(Check(), UpdateCheckResult::Completed);
  EXPECT_EQ(Stored("LatestBuild")->type, platform::RegType::Dword);
  EXPECT_EQ(Stored("LatestBuild")->dword, 75u);
  EXPECT_EQ(Stored("LatestMinor")->type, platform::RegType::String);
  EXPECT_EQ(Stored("LatestMinor")->text, "075");
  EXPECT_EQ(GetProfileInt(kSettingsSection, "LatestMajor", 0), 3);
  EXPECT_EQ(GetProfileInt(kSettingsSection, "DaysBetweenChecks", 30), -1);
  EXPECT_EQ(GetProfileString(kSettingsSection, "HomePage", ""), m_server.HomePage() + "index.htm");
  EXPECT_EQ(GetProfileString(kSettingsSection, "PageName", ""), "x-y.htm");
  // The stored names keep their own spelling.
  const auto values = platform::Registry::EnumValues(platform::Hive::CurrentUser, SettingsKey(kSettingsSection));
  ASSERT_TRUE(values);
  for (const auto& [name, value] : *values) EXPECT_NE(name, "latestMAJOR");
}

TEST_F(UpdateCheckTest, PageCannotSetOtherValues) {
  WriteProfileString(kSettingsSection, "PrintFilePath", "DIRSIZE.TXT");
  m_server.Answer(200,
                  "REG:DataDirectory-/tmp/elsewhere/\n"
                  "REG:PrintFilePath-/home/ann/.bashrc\n"
                  "REG:NotifyCommand-rm\n"
                  "REG:HighestMsgNum-0\n"
                  "REG:HomePage-file:///etc/passwd\n"
                  "REG:HomePage-javascript:alert(1)\n");
  WriteProfileInt(kSettingsSection, "HighestMsgNum", 9);
  const std::string trace = m_home.Root() + "/trace.txt";
  ASSERT_TRUE(platform::TraceLog::Open(trace));
  ASSERT_EQ(Check(), UpdateCheckResult::Completed);
  platform::TraceLog::Close();
  EXPECT_THAT(test::TraceLines(test::ReadWholeFile(trace)),
              ElementsAre("InternetSettings: Settings page may not set DataDirectory; ignored",
                          "InternetSettings: Settings page may not set PrintFilePath; ignored",
                          "InternetSettings: Settings page may not set NotifyCommand; ignored",
                          "InternetSettings: Settings page may not set HighestMsgNum; ignored",
                          "InternetSettings: Settings page's HomePage is no web address; ignored",
                          "InternetSettings: Settings page's HomePage is no web address; ignored"));
  EXPECT_FALSE(Stored("DataDirectory"));
  EXPECT_EQ(Stored("PrintFilePath")->text, "DIRSIZE.TXT");
  EXPECT_FALSE(Stored("NotifyCommand"));
  EXPECT_EQ(Stored("HighestMsgNum")->dword, 9u);
  EXPECT_EQ(Stored("HomePage")->text, m_server.HomePage());
}

TEST_F(UpdateCheckTest, OnlyTheNewestMessageIsShownAndOnlyOnce) {
  WriteProfileInt(kSettingsSection, "HighestMsgNum", 5);
  m_server.Answer(200,
                  "MSG07 Seven <b>as typed</b>\n"
                  "MSG03 Three, already seen\n"
                  "MSG12 Twelve\n"
                  "MSG12345 not message 12\n"
                  "MSG99999 not message 99 either\n"
                  "MSG12 Twelve again\n"
                  "MSGx1 not numbered\n");
  ASSERT_EQ(CheckManually(), UpdateCheckResult::Completed);
  EXPECT_THAT(m_owner.m_messages, ElementsAre("Twelve"));
  EXPECT_EQ(Stored("HighestMsgNum")->dword, 12u);
  ASSERT_EQ(CheckManually(), UpdateCheckResult::Completed);
  EXPECT_EQ(m_owner.m_messages.size(), 1u);
  m_server.Answer(200, "MSG04 Four\n");
  ASSERT_EQ(CheckManually(), UpdateCheckResult::Completed);
  EXPECT_EQ(m_owner.m_messages.size(), 1u);
}

// A page of many lines for one value: the check writes the value once, the last one, however
// long the settings file is.
TEST_F(UpdateCheckTest, ManyLinesWriteEachValueOnceTheLastOneWinning) {
  for (int i = 0; i < 2000; ++i)
    WriteProfileString("Padding" + std::to_string(i / 100), "Value" + std::to_string(i), std::string(40, 'p'));
  std::string page;
  for (int i = 0; i < 20000; ++i) page += "REG:LatestBuild-" + std::to_string(100 + i % 2) + "\nMSG" + std::to_string(10 + i % 80) + " Box\n";
  page += "REG:LatestBuild-77\nREG:PageName-last.htm\n";
  m_server.Answer(200, page);
  const std::string hive = platform::Registry::HiveFile(platform::Hive::CurrentUser);
  auto written = [] {
    const std::string io = test::ReadWholeFile("/proc/self/io");
    const std::size_t at = io.find("wchar: ");
    return at == std::string::npos ? 0LL : std::atoll(io.c_str() + at + 7);
  };
  // Not its inode: a file rewritten by rename an even number of times may get the first one back.
  const std::string hiveBefore = test::ReadWholeFile(hive);
  const long long writtenBefore = written();
  ASSERT_EQ(CheckManually(), UpdateCheckResult::Completed);
  EXPECT_EQ(Stored("LatestBuild")->dword, 77u);
  EXPECT_EQ(GetProfileString(kSettingsSection, "PageName", ""), "last.htm");
  EXPECT_THAT(m_owner.m_messages, ElementsAre("Box"));
  EXPECT_NE(test::ReadWholeFile(hive), hiveBefore);
  // A few rewrites of the settings file (about 100 KB each), not one per line.
  const long long hiveSize = static_cast<long long>(test::ReadWholeFile(hive).size());
  EXPECT_LT(written() - writtenBefore, 20 * hiveSize);
}

TEST_F(UpdateCheckTest, RedirectToAnotherHostIsNotFollowed) {
  test::CTestServer elsewhere;
  elsewhere.Answer(200, "REG:LatestBuild-99\n");
  std::string other = elsewhere.HomePage();
  other.replace(other.find("127.0.0.1"), 9, "localhost");
  m_server.Answer(302, "", "Location: " + other + "settings.htm\r\n");
  SetVersion(2, 0, 74);
  EXPECT_EQ(CheckManually(), UpdateCheckResult::EndedQuietly);
  EXPECT_TRUE(elsewhere.Requests().empty());
  EXPECT_EQ(Stored("LatestBuild")->dword, 74u);
}

TEST_F(UpdateCheckTest, LinesEndAtLineFeedsWhateverCarriageReturnsSurroundThem) {
  const std::string longText(10000, 'x');
  m_server.Answer(200, "REG:LatestMajor-4\r\nREG:Latest\rMinor-5\n\r\nMSG01 " + longText +
                           "\r\n\r\rREG:LatestBuild-6");  // the last line has no line feed
  ASSERT_EQ(Check(), UpdateCheckResult::Completed);
  EXPECT_EQ(GetProfileInt(kSettingsSection, "LatestMajor", 0), 4);
  EXPECT_EQ(GetProfileInt(kSettingsSection, "LatestMinor", 0), 5);
  EXPECT_EQ(GetProfileInt(kSettingsSection, "LatestBuild", 0), 6);
  EXPECT_THAT(m_owner.m_messages, ElementsAre(longText));
}

TEST_F(UpdateCheckTest, AnswerOtherThan200ChangesNothing) {
  SetVersion(2, 0, 74);
  SetLastCheck(MakeOleTime(2026, 1, 1));
  const auto before = LastCheckBits();
  m_server.Answer(404, "REG:LatestBuild-99\nMSG01 Hello\n");
  EXPECT_EQ(Check(), UpdateCheckResult::EndedQuietly);
  EXPECT_EQ(LastCheckBits(), before);
  EXPECT_EQ(Stored("LatestBuild")->dword, 74u);
  EXPECT_TRUE(m_owner.m_messages.empty());
}

TEST_F(UpdateCheckTest, RefusedConnectionIsQuiet) {
  SetVersion(2, 1, 0);
  WriteProfileString(kSettingsSection, "HomePage", "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/");
  EXPECT_EQ(Check(), UpdateCheckResult::EndedQuietly);
  EXPECT_FALSE(LastCheckBits().value_or(0));
  EXPECT_EQ(GetUpdateStatus(kOwn), kUpdateAvailable);
}

TEST_F(UpdateCheckTest, HostileServerIsCutOffAndTheStatusBecomesUnknown) {
  // One endless line, an endless run of short lines, and silence: each ends as a failed check.
  // The bounds must end the first two, not the clock.
  m_timeLimit = std::chrono::minutes(1);
  m_server.SendEndlessBody("0123456789abcdef");
  SetVersion(2, 0, 74);
  EXPECT_EQ(CheckManually(), UpdateCheckResult::Failed);
  EXPECT_EQ(GetUpdateStatus(kOwn), kUpdateUnknown);

  m_server.SendEndlessBody("<p>more</p>\n");
  SetVersion(2, 0, 74);
  EXPECT_EQ(CheckManually(), UpdateCheckResult::Failed);
  EXPECT_EQ(GetUpdateStatus(kOwn), kUpdateUnknown);

  m_timeLimit = std::chrono::milliseconds(300);
  m_server.NeverAnswer();
  SetVersion(2, 0, 74);
  EXPECT_EQ(Check(), UpdateCheckResult::Failed);
  EXPECT_EQ(GetUpdateStatus(kOwn), kUpdateUnknown);
  EXPECT_FALSE(LastCheckBits().value_or(0));
}

TEST_F(UpdateCheckTest, UnattendedRunNeverChecks) {
  m_server.Answer(200, "REG:LatestBuild-99\n");
  const std::string folder = m_home.MakeFolder("scanned");
  WriteProfileString(kSettingsSection, "DataDirectory", m_home.MakeFolder("data"));
  QProcess run;  // with the test's home
  run.start(QString::fromStdString(std::string(std::getenv("VARNOW_BIN_DIR")) + "/varnow"),
            {QString::fromStdString("/DIR=" + folder), "/SCAN", "/SAVE"});
  ASSERT_TRUE(run.waitForFinished(60000));
  EXPECT_EQ(run.exitCode(), 0);
  EXPECT_TRUE(m_server.Requests().empty());
  EXPECT_FALSE(Stored("LatestBuild"));
}

TEST_F(UpdateCheckTest, ThreadGoingAwayStopsACheckThatWaits) {
  m_server.NeverAnswer();
  SetVersion(2, 0, 74);
  {
    CUpdateCheckOptions options;
    options.timeLimit = std::chrono::minutes(5);
    CUpdateCheckThread check(m_owner, options);
    for (int i = 0; i < 500 && m_server.Requests().empty(); ++i) QThread::msleep(10);
    ASSERT_EQ(m_server.Requests().size(), 1u);
  }
  // Stopped, not failed: the published version is kept.
  EXPECT_EQ(GetUpdateStatus(kOwn), kNoUpdate);
}

TEST(UpdateStatus, ComparesThePublishedVersionWithTheOwn) {
  test::CTestHome home;
  EXPECT_EQ(GetUpdateStatus(kOwn), kNoUpdate);  // nothing published yet: the own version
  EXPECT_EQ(GetProfileInt(kSettingsSection, "LatestBuild", 0), 74);
  struct Case {
    int major, minor, build, status;
  };
  for (const Case c : {Case{2, 0, 74, kNoUpdate}, Case{2, 0, 75, kMinorUpdateAvailable}, Case{2, 1, 0, kUpdateAvailable},
                       Case{3, 0, 0, kUpdateAvailable}, Case{1, 9, 99, kNoUpdate}, Case{2, 0, 73, kNoUpdate},
                       Case{1, 5, 0, kNoUpdate}, Case{0, 0, 0, kUpdateUnknown}, Case{2, 0, -1, kMinorUpdateAvailable}}) {
    WriteProfileInt(kSettingsSection, "LatestMajor", c.major);
    WriteProfileInt(kSettingsSection, "LatestMinor", c.minor);
    WriteProfileInt(kSettingsSection, "LatestBuild", c.build);
    EXPECT_EQ(GetUpdateStatus(kOwn), c.status) << c.major << "." << c.minor << "." << c.build;
  }
  EXPECT_EQ(UpdateTitleSuffix(kUpdateAvailable), " - < Update Available >");
  EXPECT_EQ(UpdateTitleSuffix(kMinorUpdateAvailable), " - < Minor Update Available >");
  EXPECT_EQ(UpdateTitleSuffix(kNoUpdate), "");
  EXPECT_EQ(UpdateTitleSuffix(kUpdateUnknown), "");
}

TEST(SettingsPageAddress, IsTheHomePageFolderAndThePageName) {
  EXPECT_EQ(SettingsPageAddress("https://varnow.zentrel.example/", "settings.htm"),
            "https://varnow.zentrel.example/settings.htm");
  EXPECT_EQ(SettingsPageAddress("http://host:8080/a/index.htm", "settings.htm"), "http://host:8080/a/settings.htm");
  EXPECT_EQ(SettingsPageAddress("https://host", "settings.htm"), "https://host/settings.htm");
  EXPECT_EQ(SettingsPageAddress("ftp://host/", "settings.htm"), "");
  EXPECT_EQ(SettingsPageAddress("no address", "settings.htm"), "");
}

TEST(InternetLineReader, BoundsTheLineAndTheBody) {
  CInternetLineReader reader;
  std::string line;
  EXPECT_TRUE(reader.Append(std::string(kMaxInternetLineLength, 'a') + "\r"));
  EXPECT_FALSE(reader.ReadInternetLine(line));
  EXPECT_TRUE(reader.Append("\n"));
  ASSERT_TRUE(reader.ReadInternetLine(line));
  EXPECT_EQ(line.size(), kMaxInternetLineLength);
  EXPECT_FALSE(reader.Append(std::string(kMaxInternetLineLength + 1, 'b')));

  CInternetLineReader body;
  const std::string lines(1024, '\n');
  for (std::size_t i = 0; i < kMaxInternetBodyLength / lines.size(); ++i) ASSERT_TRUE(body.Append(lines));
  EXPECT_FALSE(body.Append("\n"));
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
