// The varnow program end to end: automated runs on temporary trees, without a display.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <set>

#include "platform/registry.h"
#include "varnow/report/FormatSize.h"
#include "varnow/report/PrintFile.h"
#include "varnow/store/DataFile.h"
#include "varnow/settings/Settings.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"

extern char** environ;

namespace varnow {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

struct CRun {
  int status = -1;
  std::string out;
  std::string err;
};

class VarnowProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* binary = std::getenv("VARNOW_BIN_DIR");
    ASSERT_NE(binary, nullptr);
    m_program = std::string(binary) + "/varnow";
    // The run must find no display, whatever the test runner has.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    m_data = m_home.MakeFolder("scan data");
    ASSERT_TRUE(WriteProfileString(kSettingsSection, "DataDirectory", m_data));
    // These tests count exact file lengths; the default (space on disk) has tests of its own.
    ASSERT_TRUE(WriteProfileInt(kSettingsSection, "PreferredClusterSetting", 4));
  }

  CRun Run(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{m_program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunCommand(command);
  }
  // Runs a command (found on PATH unless it is a path) with the same output files.
  CRun RunCommand(std::vector<std::string> command) {
    const std::string outPath = m_home.Root() + "/stdout", errPath = m_home.Root() + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& argument : command) argv.push_back(argument.data());
    argv.push_back(nullptr);
    CRun run;
    pid_t pid = 0;
    if (posix_spawnp(&pid, command[0].c_str(), &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = test::ReadWholeFile(outPath);
    run.err = test::ReadWholeFile(errPath);
    return run;
  }

  CDirData Load(const std::string& directory) {
    test::CFolderOwner owner(m_data);
    CDataFile file(owner.DataDirectory());
    CDirData record;
    record.m_currentScanDir = directory;
    file.Read(record);
    return record;
  }

  test::CTestHome m_home;
  std::string m_program;
  std::string m_data;
};

std::array<std::int64_t, 6> Sizes(const CDirData& record, std::string_view name) {
  const CDirInfo* entry = record.FindEntry(name);
  return entry ? entry->sizes : std::array<std::int64_t, 6>{-9, -9, -9, -9, -9, -9};
}

TEST_F(VarnowProgramTest, PrintsItsVersion) {
  CRun run = Run({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Varnow Version 2.0 (Build 74)\n");
}

TEST_F(VarnowProgramTest, ScanSaveAndCompareWithTheSavedScan) {
  // A root with a blank and UTF-8 in its name, given as one argument.
  const std::string root = m_home.MakeFolder("scan root Ünï");
  m_home.MakeFolder("scan root Ünï/A");
  m_home.MakeFolder("scan root Ünï/B/C");
  m_home.MakeFolder("scan root Ünï/with blank");
  test::WriteWholeFile(root + "A/a.bin", std::string(5000, 'a'));
  test::WriteWholeFile(root + "B/C/c.txt", std::string(10, 'c'));
  test::WriteWholeFile(root + "top.txt", std::string(7, 't'));

  CRun first = Run({"/DIR=" + root, "/SCAN", "/SAVE"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(std::filesystem::exists(m_data + "VNDATA.DB"));
  CDirData saved = Load(root);
  EXPECT_EQ(Sizes(saved, "A"), (std::array<std::int64_t, 6>{5000, -1, -1, -1, -1, -1}));
  EXPECT_EQ(Sizes(saved, "B"), (std::array<std::int64_t, 6>{10, -1, -1, -1, -1, -1}));
  EXPECT_EQ(Sizes(saved, "with blank")[0], 0);
  EXPECT_EQ(Sizes(saved, kTotalUsed)[0], 5017);
  EXPECT_NE(saved.m_times[0], 0);

  test::WriteWholeFile(root + "A/more.bin", std::string(3000, 'm'));
  CRun second = Run({"/dir=" + root, "/scan", "/save"});
  ASSERT_EQ(second.status, 0) << second.err;
  CDirData compared = Load(root);
  EXPECT_EQ(Sizes(compared, "A"), (std::array<std::int64_t, 6>{8000, 5000, -1, -1, -1, -1}));
  EXPECT_EQ(Sizes(compared, kTotalUsed)[1], 5017);
  EXPECT_EQ(compared.m_times[1], saved.m_times[0]);

  // An automated run writes no window setting back beyond the defaults it read.
  EXPECT_EQ(GetProfileInt(kSettingsSection, "FirstRun", -1), 1);
  EXPECT_EQ(GetProfileInt(kSettingsSection, "AutoSave", -1), 1);
}

TEST_F(VarnowProgramTest, ScanWithoutSaveLeavesNoDataFile) {
  const std::string root = m_home.MakeFolder("tree");
  CRun run = Run({"/DIR=" + root, "/SCAN"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(std::filesystem::exists(m_data + "VNDATA.DB"));
}

TEST_F(VarnowProgramTest, AMissingDirectoryToScanIsRefusedNotReportedEmpty) {
  const std::string missing = m_home.Root() + "/does not exist";
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"/DIR=" + missing, "/SCAN", "/SAVE", "/PRINT=FILE=-"},
                                             {"/DIR=" + missing, "/ALERTPERCENT=10"},
                                             {"/DIR=" + missing, "/FREEALERT=1G"}}) {
    CRun run = Run(arguments);
    EXPECT_EQ(run.status, 2) << arguments[1];
    EXPECT_THAT(run.err, HasSubstr("varnow: /DIR=" + missing + ": no such directory\nUsage: varnow")) << run.err;
    EXPECT_EQ(run.out, "") << arguments[1];
    EXPECT_FALSE(std::filesystem::exists(m_data + "VNDATA.DB")) << arguments[1];
  }
  const std::string file = m_home.Root() + "/a file";
  test::WriteWholeFile(file, "x");
  EXPECT_THAT(Run({"/DIR=" + file, "/SCAN"}).err, HasSubstr("/DIR=" + file + ": not a directory"));

  // The last saved scan of a directory that has gone can still be reported on.
  const std::string gone = m_home.MakeFolder("gone");
  ASSERT_EQ(Run({"/DIR=" + gone, "/SCAN", "/SAVE"}).status, 0);
  std::filesystem::remove(gone);
  CRun report = Run({"/DIR=" + gone, "/PRINT=FILE=-"});
  EXPECT_EQ(report.status, 0) << report.err;
  EXPECT_THAT(report.out, HasSubstr("Sub-directories of " + gone));
}

// From cron a typing error must not pass silently: it is named, the usage follows on standard
// error, the status is 2, and nothing is scanned or saved.
TEST_F(VarnowProgramTest, UnknownSwitchesAndMalformedNumbersAreRefusedWithTheUsage) {
  const std::string root = m_home.MakeFolder("tree");
  const std::pair<std::string, std::vector<std::string>> refused[] = {
      {"/SCNA", {"/DIR=" + root, "/SCNA", "/SAVE"}},
      {"--dir=" + root, {"--dir=" + root, "/SCAN", "/SAVE"}},
      {"-d", {"/DIR=" + root, "/SCAN", "/SAVE", "-d"}},
      {"/ALERTPERCENT=10GB", {"/DIR=" + root, "/SAVE", "/ALERTPERCENT=10GB"}},
      {"/ALERTPERCENT=abc", {"/DIR=" + root, "/SAVE", "/ALERTPERCENT=abc"}},
      {"/FREEALERT=", {"/DIR=" + root, "/SCAN", "/SAVE", "/FREEALERT="}}};
  for (const auto& [named, arguments] : refused) {
    CRun run = Run(arguments);
    EXPECT_EQ(run.status, 2) << named;
    EXPECT_THAT(run.err, HasSubstr("varnow: " + named + ": ")) << run.err;
    EXPECT_THAT(run.err, HasSubstr("Usage: varnow")) << named;
    EXPECT_FALSE(std::filesystem::exists(m_data + "VNDATA.DB")) << named;
  }
  // Sizes take a unit: 1T free is more than any test disk has.
  CRun suffixed = Run({"/DIR=" + root, "/FREEALERT=1000T"});
  EXPECT_EQ(suffixed.status, 3) << suffixed.err;
  EXPECT_THAT(suffixed.err, HasSubstr("has dropped below 1,073,741,824,000 K"));
}

TEST_F(VarnowProgramTest, HelpListsEverySwitch) {
  CRun run = Run({"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* name : {"/DIR=", "/SCAN", "/SAVE", "/SAVESUBDIRS", "/DEBUG=", "/ALERTPERCENT=", "/ALERTSIZE=",
                           "/FREEALERT=", "/FULLALERT=", "/GROWTH", "/PRINT=LPT1", "/PRINT=FILE=", "/NOTIFY=",
                           "--version", "Exit status"})
    EXPECT_THAT(run.out, HasSubstr(name)) << name;
}

TEST_F(VarnowProgramTest, AGrowthAlertWithoutASavedScanSaysSoAndDoesNotFire) {
  const std::string root = m_home.MakeFolder("tree");
  test::WriteWholeFile(root + "f", std::string(5000, 'f'));
  CRun first = Run({"/DIR=" + root, "/ALERTSIZE=0", "/SAVE"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_THAT(first.err, HasSubstr("varnow: no saved scan of " + root + " to compare with; save one with /SAVE\n"));
  EXPECT_THAT(first.err, Not(HasSubstr("Alert")));
  // Once saved, growth since then fires.
  test::WriteWholeFile(root + "g", std::string(5000, 'g'));
  CRun second = Run({"/DIR=" + root, "/ALERTSIZE=0"});
  EXPECT_EQ(second.status, 3) << second.err;
  EXPECT_THAT(second.err, HasSubstr("varnow: Varnow Alert: The disk space taken up by " + root));
}

TEST_F(VarnowProgramTest, ReportsGoToCharacterDevices) {
  const std::string root = m_home.MakeFolder("tree");
  CRun run = Run({"/DIR=" + root, "/SCAN", "/PRINT=FILE=/dev/null"});
  EXPECT_EQ(run.status, 0) << run.err;
  run = Run({"/DIR=" + root, "/SCAN", "/PRINT=FILE=/dev/stdout"});  // a file here: the rich-text report
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(root));
}

// The default counts the space files hold on disk, as du does: a sparse image counts nothing,
// a written file its blocks; "ignore" counts their lengths. The report says which.
TEST_F(VarnowProgramTest, TheDefaultCountsSpaceOnDiskAndTheReportSaysSo) {
  const std::string root = m_home.MakeFolder("tree");
  m_home.MakeFolder("tree/vm");
  const std::string image = root + "vm/disk.img";
  test::WriteWholeFile(image, "");
  ASSERT_EQ(::truncate(image.c_str(), 100LL << 30), 0);
  test::WriteWholeFile(root + "vm/notes", std::string(5000, 'n'));
  struct stat notes {};
  ASSERT_EQ(::stat((root + "vm/notes").c_str(), &notes), 0);
  ASSERT_TRUE(WriteProfileInt(kSettingsSection, "PreferredUnits", 1));

  ASSERT_TRUE(platform::Registry::DeleteValue(platform::Hive::CurrentUser, SettingsKey(kSettingsSection),
                                              "PreferredClusterSetting"));
  CRun onDisk = Run({"/DIR=" + root, "/SCAN", "/PRINT=FILE=-"});
  ASSERT_EQ(onDisk.status, 0) << onDisk.err;
  EXPECT_THAT(onDisk.out, HasSubstr("Sizes: on disk"));
  EXPECT_THAT(onDisk.out, HasSubstr("Total Size: " + FormatSize(notes.st_blocks * 512, true, SizeUnit::kBytes)));
  EXPECT_EQ(GetProfileInt(kSettingsSection, "PreferredClusterSetting", -1), 1);  // the default, written back

  ASSERT_TRUE(WriteProfileInt(kSettingsSection, "PreferredClusterSetting", 4));
  CRun apparent = Run({"/DIR=" + root, "/SCAN", "/PRINT=FILE=-"});
  ASSERT_EQ(apparent.status, 0) << apparent.err;
  EXPECT_THAT(apparent.out, HasSubstr("Sizes: apparent"));
  EXPECT_THAT(apparent.out, HasSubstr("Total Size: " + FormatSize((100LL << 30) + 5000, true, SizeUnit::kBytes)));
}

TEST_F(VarnowProgramTest, AFileGivenAsTheDirectory) {
  const std::string file = m_home.Root() + "/plain.txt";
  test::WriteWholeFile(file, "text");
  CRun run = Run({"/DIR=" + file, "/SCAN", "/SAVE"});
  EXPECT_EQ(run.status, 2);  // refused before anything runs
  EXPECT_THAT(run.err, HasSubstr("/DIR=" + file + ": not a directory"));
  EXPECT_THAT(run.err, Not(HasSubstr("Sanitizer")));
  EXPECT_FALSE(std::filesystem::exists(m_data + "VNDATA.DB"));
  EXPECT_EQ(test::ReadWholeFile(file), "text");
}

TEST_F(VarnowProgramTest, WithoutDisplayAndNothingToAutomate) {
  const std::string root = m_home.MakeFolder("tree");
  CRun run = Run({"/DIR=" + root, "/SAVE"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.err, HasSubstr("varnow /DIR=<directory> /SCAN /SAVE"));
  EXPECT_FALSE(std::filesystem::exists(m_data + "VNDATA.DB"));
}

TEST_F(VarnowProgramTest, DamagedSettingsFileStillRuns) {
  const std::string root = m_home.MakeFolder("tree");
  test::WriteWholeFile(m_home.Root() + "/config/zentrel/registry/HKEY_CURRENT_USER.reg",
                       std::string("REGEDIT4\n[HKEY_CURRENT_USER\\Soft\x00\xff\n\"x\"=dword:", 40));
  CRun run = Run({"/DIR=" + root, "/SCAN"});
  EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(VarnowProgramTest, TraceFileThatCannotBeCreatedLeavesTheLogOff) {
  const std::string root = m_home.MakeFolder("tree");
  CRun run = Run({"/DEBUG=" + m_home.Root() + "/no such folder/trace.txt", "/DIR=" + root, "/SCAN", "/SAVE"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("trace file cannot be created"));  // a warning only
  EXPECT_TRUE(std::filesystem::exists(m_data + "VNDATA.DB"));
}

TEST_F(VarnowProgramTest, ValuesThatCannotBeRightAreRefusedBeforeAnyScan) {
  const std::string root = m_home.MakeFolder("tree");
  const std::string fifo = m_home.Root() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> refused = {
      {"/DIR=" + root, "/ALERTSIZE=-1", "/SAVE"},
      {"/DIR=" + root, "/ALERTPERCENT=-5", "/SAVE"},
      {"/DIR=" + root, "/FREEALERT=-1", "/SAVE"},
      {"/DIR=" + root, "/SCAN", "/SAVE", "/PRINT=LPT2"},
      {"/DIR=" + root, "/SCAN", "/SAVE", "/PRINT=FILE=" + fifo},  // would block for ever
      {"/DIR=" + root, "/SCAN", "/SAVE", "/PRINT=FILE=" + root},
      {"/DIR=" + root, "/SCAN", "/SAVE", "/PRINT=FILE="}};
  for (const std::vector<std::string>& arguments : refused) {
    CRun run = Run(arguments);
    EXPECT_EQ(run.status, 2) << arguments[1] << " " << arguments.back();
    EXPECT_THAT(run.err, HasSubstr("varnow: /")) << arguments.back();
    EXPECT_FALSE(std::filesystem::exists(m_data + "VNDATA.DB")) << arguments.back();
  }
  CRun fine = Run({"/DIR=" + root, "/ALERTSIZE=0", "/PRINT=FILE=-"});
  EXPECT_NE(fine.status, 2) << fine.err;
}

TEST_F(VarnowProgramTest, DamagedDataFileIsKeptAsideAndReplaced) {
  const std::string root = m_home.MakeFolder("tree");
  test::WriteWholeFile(m_data + "VNDATA.DB", "not a compound file, just some text\n");
  CRun run = Run({"/DIR=" + root, "/SCAN", "/SAVE"});
  EXPECT_EQ(run.status, 4);
  EXPECT_THAT(run.err, HasSubstr("was damaged. It has been kept as " + m_data + "VNDATA.DB.damaged-"));
  std::vector<std::string> kept;
  for (const auto& entry : std::filesystem::directory_iterator(m_data))
    if (entry.path().filename().string().rfind("VNDATA.DB.damaged-", 0) == 0) kept.push_back(entry.path());
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(test::ReadWholeFile(kept[0]), "not a compound file, just some text\n");
  EXPECT_NE(Load(root).m_times[0], 0);  // this run's scan is in the new file
  run = Run({"/DIR=" + root, "/SCAN", "/SAVE"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(Load(root).m_times[1], 0);
}

TEST_F(VarnowProgramTest, UnreadableDataFileFiresNoGrowthAlertAndEndsWithStatus4) {
  const std::string root = m_home.MakeFolder("tree");
  test::WriteWholeFile(root + "f", std::string(5000, 'f'));
  std::filesystem::create_directory(m_data + "VNDATA.DB");  // nothing can read or write it
  CRun run = Run({"/DIR=" + root, "/ALERTSIZE=1", "/SAVE"});
  EXPECT_EQ(run.status, 4);
  EXPECT_THAT(run.err, HasSubstr("VNDATA.DB can not be read"));
  EXPECT_THAT(run.err, Not(HasSubstr("Varnow Alert")));
}

// A tree whose records take some hundred kilobytes in the data file.
std::string ManyDirectories(test::CTestHome& home) {
  const std::string root = home.MakeFolder("many");
  for (int i = 0; i < 400; ++i) std::filesystem::create_directories(root + "directory number " + std::to_string(i) + "/sub");
  return root;
}

TEST_F(VarnowProgramTest, AFileSizeLimitEndsTheRunWithAMessageAndStatus4) {
  const std::string root = ManyDirectories(m_home);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limit = saved;
  limit.rlim_cur = 16 * 1024;  // the child inherits it; this process writes nothing meanwhile
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  CRun run = Run({"/DIR=" + root, "/SCAN", "/SAVESUBDIRS"});
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(run.status, 4) << "killed by signal " << run.status - 128;
  EXPECT_THAT(run.err, HasSubstr("can not be saved because of a disk error"));
}

// A data folder on a file system of 96 KB, in a mount namespace of the test's own.
TEST_F(VarnowProgramTest, AFullDiskIsToldOnceWithWhatTheSaveNeededAndStatus4) {
  const std::string root = ManyDirectories(m_home);
  CRun probe = RunCommand({"unshare", "-rm", "sh", "-c", "mount -t tmpfs -o size=96k tmpfs \"$0\"", m_data});
  if (probe.status != 0) GTEST_SKIP() << "no private mounts here: " << probe.err;
  CRun run = RunCommand({"unshare", "-rm", "sh", "-c", "mount -t tmpfs -o size=96k tmpfs \"$0\" && exec \"$@\"",
                         m_data, m_program, "/DIR=" + root, "/SCAN", "/SAVESUBDIRS"});
  EXPECT_EQ(run.status, 4);
  const std::size_t told = run.err.find("is full");
  ASSERT_NE(told, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("is full", told + 1), std::string::npos) << "told more than once:\n" << run.err;
  EXPECT_THAT(run.err, HasSubstr("Saving needed "));
  EXPECT_THAT(run.err, HasSubstr("The disk " + m_data.substr(0, m_data.size() - 1)));
  EXPECT_THAT(run.err, Not(HasSubstr("Disk Write Error")));
}

TEST_F(VarnowProgramTest, GrowthListsWhereATreeScannedTwiceGrew) {
  const std::string root = m_home.MakeFolder("growing tree");
  m_home.MakeFolder("growing tree/deep/er/est");
  m_home.MakeFolder("growing tree/other");
  test::WriteWholeFile(root + "other/o", std::string(8192, 'o'));
  CRun once = Run({"/DIR=" + root, "/SCAN", "/SAVESUBDIRS", "/GROWTH"});
  ASSERT_EQ(once.status, 0) << once.err;
  EXPECT_THAT(once.out, HasSubstr("Only one scan of " + root + " is saved"));

  test::WriteWholeFile(root + "deep/er/est/five", std::string(5 << 20, 'f'));
  test::WriteWholeFile(root + "other/one", std::string(1 << 20, 'o'));
  CRun grown = Run({"/DIR=" + root, "/SCAN", "/SAVESUBDIRS", "/GROWTH=5", "/PRINT=FILE=-"});
  ASSERT_EQ(grown.status, 0) << grown.err;
  // The deep directory first, then the other one; deep/ and deep/er/ are explained by it.
  const std::size_t deep = grown.out.find("\n+5,120 K              +5,120 K     0 K  5,120 K");
  const std::size_t other = grown.out.find("\n+1,024 K  +12800.0%   +1,024 K     8 K  1,032 K");
  ASSERT_NE(deep, std::string::npos) << grown.out << grown.err;
  ASSERT_NE(other, std::string::npos) << grown.out;
  EXPECT_LT(deep, other);
  EXPECT_THAT(grown.out, HasSubstr("  deep/er/est/\r\n"));
  EXPECT_THAT(grown.out, Not(HasSubstr("  deep/\r\n")));
  EXPECT_THAT(grown.out, Not(HasSubstr("  deep/er/\r\n")));
  EXPECT_THAT(grown.out, HasSubstr("\r\nNot enough history yet\r\n"));

  ASSERT_TRUE(WriteProfileInt(kSettingsSection, "CommaDelimited", 1));
  const std::string file = m_home.Root() + "/growth.csv";
  CRun comma = Run({"/DIR=" + root, "/GROWTH=1", "/PRINT=FILE=" + file});
  ASSERT_EQ(comma.status, 0) << comma.err;
  EXPECT_THAT(test::ReadWholeFile(file), HasSubstr("\r\nGrew,.,6144,"));
}

TEST_F(VarnowProgramTest, TreemapPictureOfTheSavedTreeAndTheLargestFilesOfTheRun) {
  const std::string root = std::filesystem::canonical(m_home.MakeFolder("pictured")).string() + "/";
  test::WriteWholeFile(root + "grew/a", std::string(1 << 20, 'a'));
  test::WriteWholeFile(root + "same/b", std::string(3 << 20, 'b'));
  test::WriteWholeFile(root + "c", std::string(4096, 'c'));
  ASSERT_EQ(Run({"/DIR=" + root, "/SCAN", "/SAVESUBDIRS"}).status, 0);
  test::WriteWholeFile(root + "grew/more", std::string(2 << 20, 'm'));
  ASSERT_EQ(Run({"/DIR=" + root, "/SCAN", "/SAVESUBDIRS"}).status, 0);

  // Without a display: the picture is drawn all the same, at the size asked for.
  const std::string png = m_home.Root() + "/growth.png";
  CRun picture = Run({"/DIR=" + root, "/TREEMAP=" + png, "/TREEMAPSIZE=640x400"});
  ASSERT_EQ(picture.status, 0) << picture.err;
  const std::string bytes = test::ReadWholeFile(png);
  ASSERT_GT(bytes.size(), 24u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
  // The PNG header's width and height, big-endian.
  auto word = [&](std::size_t at) {
    return (static_cast<unsigned char>(bytes[at]) << 24) | (static_cast<unsigned char>(bytes[at + 1]) << 16) |
           (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
  };
  EXPECT_EQ(word(16), 640);
  EXPECT_EQ(word(20), 400);
  const std::string svg = m_home.Root() + "/growth.svg";
  ASSERT_EQ(Run({"/DIR=" + root, "/TREEMAP=" + svg}).status, 0);
  EXPECT_THAT(test::ReadWholeFile(svg), HasSubstr("<svg"));

  // A picture that cannot be written: said on standard error, as a report file that cannot be
  // written is, with the same exit status.
  const std::string nowhere = m_home.Root() + "/no such folder/";
  CRun report = Run({"/DIR=" + root, "/PRINT=FILE=" + nowhere + "report.txt"});
  CRun failed = Run({"/DIR=" + root, "/TREEMAP=" + nowhere + "map.png"});
  EXPECT_THAT(failed.err, HasSubstr("map.png"));
  EXPECT_THAT(failed.err, HasSubstr("treemap could not be written"));
  EXPECT_EQ(failed.status, report.status);
  EXPECT_FALSE(std::filesystem::exists(nowhere));
  EXPECT_EQ(Run({"/DIR=" + root, "/TREEMAP=" + m_home.Root() + "/map.gif"}).status, 2);

  // The largest files of this run's scan, largest first, where /PRINT= says.
  CRun largest = Run({"/DIR=" + root, "/LARGEST=2", "/PRINT=FILE=-"});
  ASSERT_EQ(largest.status, 0) << largest.err;
  EXPECT_THAT(largest.out, HasSubstr("The 2 largest files below " + root));
  const std::size_t b = largest.out.find("  same/b\r\n");
  const std::size_t more = largest.out.find("  grew/more\r\n");
  ASSERT_NE(b, std::string::npos) << largest.out;
  ASSERT_NE(more, std::string::npos) << largest.out;
  EXPECT_LT(b, more);
  EXPECT_THAT(largest.out, Not(HasSubstr("grew/a")));
  ASSERT_TRUE(WriteProfileInt(kSettingsSection, "CommaDelimited", 1));
  CRun comma = Run({"/DIR=" + root, "/LARGEST=1"});
  EXPECT_THAT(comma.out, HasSubstr("Size,Modified,File\r\n"));
  EXPECT_THAT(comma.out, HasSubstr(",same/b\r\n"));
}

TEST_F(VarnowProgramTest, FullAlertFiresOnAFallingFreeSpaceHistoryAndRunsTheNotifyProgram) {
  const std::string dir = std::filesystem::canonical(m_home.MakeFolder("filling")).string() + "/";
  const std::string received = m_home.Root() + "/received";
  const std::string notify = m_home.Root() + "/notify";
  test::WriteWholeFile(notify, "#!/bin/sh\nprintf '%s\\n' \"$@\" >'" + received + ".tmp'\nmv '" + received + ".tmp' '" +
                                   received + "'\n");
  ::chmod(notify.c_str(), 0755);
  // Free space at three daily scans up to yesterday: 1 GB a day less, 2 GB left.
  auto writeHistory = [&](const std::string& directory, std::int64_t newest, std::int64_t step) {
    const std::int32_t yesterday = static_cast<std::int32_t>(std::time(nullptr)) - 86400;
    CDirData record;
    record.m_currentScanDir = directory;
    record.m_times = {yesterday, yesterday - 86400, yesterday - 2 * 86400, 0, 0, 0};
    record.m_entries.push_back({std::string(kTotalFree), {newest, newest + step, newest + 2 * step, -1, -1, -1}});
    record.m_entries.push_back({std::string(kTotalUsed), {1, 1, 1, -1, -1, -1}});
    test::CFolderOwner owner(m_data);
    CDataFile file(owner.DataDirectory());
    std::vector<CDirData> records{record};
    file.Write(records, [](const CDirData&, std::int32_t status) { ADD_FAILURE() << status; });
  };
  writeHistory(dir, 2LL << 30, 1LL << 30);
  CRun run = Run({"/DIR=" + dir, "/FULLALERT=7", "/NOTIFY=" + notify, "$DIR$", "$SIZE$", "$MSG$"});
  EXPECT_EQ(run.status, 3) << run.err;
  for (int i = 0; i < 300 && !std::filesystem::exists(received); ++i) usleep(100000);
  const std::string got = test::ReadWholeFile(received);
  EXPECT_THAT(got, HasSubstr(dir + "\n2,097,152 K\nAt the current rate the disk holding " + dir + " fills around "));
  EXPECT_THAT(got, HasSubstr(", less than 7 days from now."));

  m_home.MakeFolder("safe");
  const std::string safe = std::filesystem::canonical(m_home.Root() + "/safe").string() + "/";
  writeHistory(safe, 2LL << 30, -(1LL << 30));  // rising: the disk is not filling
  CRun calm = Run({"/DIR=" + safe, "/FULLALERT=7", "/NOTIFY=" + notify, "$DIR$"});
  EXPECT_EQ(calm.status, 0) << calm.err;
}

// The trace lines of the given units.
std::vector<std::string> TraceLines(const std::string& text, const std::set<std::string>& units) {
  std::vector<std::string> lines;
  for (const std::string& line : test::TraceLines(text)) {
    const std::string unit = line.substr(0, line.find(':'));
    if (line.rfind("? ", 0) == 0 || units.count(unit)) lines.push_back(line);
  }
  return lines;
}

TEST_F(VarnowProgramTest, TraceOfAnAutomatedStartUp) {
  const std::string root = m_home.MakeFolder("tree");
  const std::string trace = m_home.Root() + "/trace.txt";
  CRun run = Run({"/DEBUG=" + trace, "/scan", "/DIR=" + root});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string commandLine = "/DEBUG=" + trace + " /scan /DIR=" + root;  // nothing to quote
  using Lines = std::vector<::testing::Matcher<const std::string&>>;
  // The status fields are worked out, without a window, whenever the scan directory is set.
  const Lines stats{"VarnowDlg: CVarnowDlg::UpdateStats Begin", ::testing::StartsWith("VarnowDlg: ScanRoot = /"),
                    "VarnowDlg: CVarnowDlg::UpdateStats End"};
  Lines expected{"CommandLine: Automated /SCAN", "VarnowDlg: CVarnowDlg Constructor", "Settings: CurrentUnits=2",
                 "Settings: Cluster=4", "Settings: Sort=2", "Settings: FirstRun=1", "Settings: AutoSave=1",
                 "Settings: SubDirSave=1", "Settings: CommaDelimited=0", "Settings: EnhancedPrinting=1",
                 "Settings: PrintPath=DIRSIZE.TXT", "Settings: PrintDestination=1", "Settings: ScanOnClick=0",
                 "Settings: PrintColumns=3", "Settings: NeverAskClusterSize=1", "Settings: UserDefaultClusterSize=16",
                 "Settings: DataDir=" + m_data, "CommandLine: Command Line: " + commandLine,
                 "CommandLine: Automated /SCAN", "CommandLine: Automated /DIR=" + root};
  expected.insert(expected.end(), stats.begin(), stats.end());
  for (const char* line : {"Varnow: Version: 2.0 Bld 74\n", "AutomatedRun: Automated", "VarnowDlg: CVarnowDlg::OnScan Begin"})
    expected.push_back(line);
  expected.insert(expected.end(), stats.begin(), stats.end());
  for (const char* line : {"VarnowDlg: CVarnowDlg::OnScan End", "VarnowDlg: CVarnowDlg Destructor"}) expected.push_back(line);
  EXPECT_THAT(
      TraceLines(test::ReadWholeFile(trace), {"CommandLine", "VarnowDlg", "Settings", "Varnow", "AutomatedRun"}),
      ::testing::ElementsAreArray(expected));
}

// Automated printing: the report of the scanned record, always with three size columns.
class VarnowPrintTest : public VarnowProgramTest {
 protected:
  void SetUp() override {
    VarnowProgramTest::SetUp();
    m_root = m_home.MakeFolder("print tree");
    m_home.MakeFolder("print tree/small");
    m_home.MakeFolder("print tree/big one");
    test::WriteWholeFile(m_root + "small/a", std::string(100, 'a'));
    test::WriteWholeFile(m_root + "big one/b", std::string(300000, 'b'));
    // Settings a user may have chosen for the window; the unattended report ignores the columns.
    ASSERT_TRUE(WriteProfileInt(kSettingsSection, "PrintColumns", 1));
    ASSERT_TRUE(WriteProfileInt(kSettingsSection, "EnhancedPrinting", 0));
    // A saved scan before the one printed, so that the report has a history to show.
    ASSERT_EQ(Run({"/DIR=" + m_root, "/SCAN", "/SAVE"}).status, 0);
    test::WriteWholeFile(m_root + "small/more", std::string(5000, 'm'));
  }

  // The plain report of the saved record with the given number of columns.
  std::string ExpectedReport(int columns) {
    const std::string file = m_home.Root() + "/expected.txt";
    const CReportOptions options{SizeUnit::kK, SortMethod::kByName, setting::kHomePage.defaultValue, false, false, columns, false};
    CDirData record = Load(m_root);
    record.m_total = Sizes(record, kTotalUsed)[0];  // the total of the scan just made
    EXPECT_TRUE(CreatePrintFile(file, record, m_root, options, nullptr));
    return test::ReadWholeFile(file);
  }

  // A run whose PATH is only the given folder (print programs are looked for there) and whose
  // temporary folder is private.
  CRun RunPrinting(const std::vector<std::string>& arguments, const std::string& path) {
    std::filesystem::create_directories(m_tmp);
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", path.c_str(), 1);
    ::setenv("TMPDIR", m_tmp.c_str(), 1);
    CRun run = Run(arguments);
    ::setenv("PATH", savedPath.c_str(), 1);
    ::unsetenv("TMPDIR");
    return run;
  }

  // No "VNP..." file is left in the temporary folder (Qt may put its runtime folder there).
  bool NoPrintFileLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(m_tmp))
      if (entry.path().filename().string().rfind("VNP", 0) == 0) return false;
    return true;
  }

  std::string m_root;
  std::string m_bin = m_home.MakeFolder("bin");
  std::string m_tmp = m_home.Root() + "/tmp";
};

TEST_F(VarnowPrintTest, ReportFileHasThreeColumns) {
  const std::string report = m_home.Root() + "/report.txt";
  CRun run = Run({"/DIR=" + m_root, "/SCAN", "/SAVE", "/PRINT=FILE=" + report});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string written = test::ReadWholeFile(report);
  EXPECT_THAT(written, HasSubstr("Sub-directories of " + m_root + "\r\n"));
  EXPECT_THAT(written, HasSubstr("big one"));
  EXPECT_EQ(written, ExpectedReport(3));
  EXPECT_NE(written, ExpectedReport(1));
  // The path given on the command line is not kept as the window's setting.
  EXPECT_EQ(GetProfileString(kSettingsSection, "PrintFilePath", "?"), "DIRSIZE.TXT");
}

TEST_F(VarnowPrintTest, ReportOnStandardOutputAfterAnAlert) {
  // A free-space minimum no disk can meet: the alert fires, and the report still follows.
  CRun run = Run({"/DIR=" + m_root, "/SCAN", "/SAVE", "/FREEALERT=9000000000000000", "/print=file=-"});
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_THAT(run.err, HasSubstr("Varnow Alert: Free disk space on " + m_root));
  EXPECT_EQ(run.out, ExpectedReport(3));
  EXPECT_FALSE(std::filesystem::exists("-"));
}

TEST_F(VarnowPrintTest, PrinterGetsATemporaryFileThroughLp) {
  // The fake lp records its arguments, one a line, and a copy of the file it was given.
  const std::string record = m_home.Root() + "/lp";
  test::WriteWholeFile(m_bin + "lp", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record + ".args'\n"
                                     "for last in \"$@\"; do :; done\n/bin/cp \"$last\" '" + record + ".file'\n");
  ::chmod((m_bin + "lp").c_str(), 0755);
  CRun run = RunPrinting({"/DIR=" + m_root, "/SCAN", "/SAVE", "/PRINT=LPT1"}, m_bin);
  ASSERT_EQ(run.status, 0) << run.err;

  const std::string args = test::ReadWholeFile(record + ".args");
  EXPECT_THAT(args, ::testing::StartsWith("-t\nVarnow Print\n" + m_tmp + "/VNP"));
  EXPECT_EQ(test::ReadWholeFile(record + ".file"), ExpectedReport(3));
  EXPECT_TRUE(NoPrintFileLeft());
}

TEST_F(VarnowPrintTest, MissingPrintProgramIsReportedAndTheFileStillDeleted) {
  CRun run = RunPrinting({"/DIR=" + m_root, "/SCAN", "/PRINT=LPT1"}, m_bin);  // no lp there
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.err, HasSubstr("Print Failure: The print program lp was not found; it was looked for on PATH ("));
  EXPECT_TRUE(NoPrintFileLeft());
}

TEST_F(VarnowPrintTest, EnhancedPrintingThroughZizeruvWithoutADisplay) {
  ASSERT_TRUE(WriteProfileInt(kSettingsSection, "EnhancedPrinting", 1));
  const std::string pdf = m_home.Root() + "/report.pdf";
  ::setenv("ZIZERUV_OUTPUT", pdf.c_str(), 1);
  CRun run = RunPrinting({"/DIR=" + m_root, "/SCAN", "/PRINT=LPT1"},
                         std::string(std::getenv("VARNOW_BIN_DIR")));
  ::unsetenv("ZIZERUV_OUTPUT");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(test::ReadWholeFile(pdf).rfind("%PDF", 0), 0u);
  EXPECT_TRUE(NoPrintFileLeft());
  const std::string text = m_home.Root() + "/report.txt";
  ASSERT_EQ(std::system(("pdftotext '" + pdf + "' '" + text + "'").c_str()), 0);
  EXPECT_THAT(test::ReadWholeFile(text), HasSubstr("big one"));
}

}  // namespace
}  // namespace varnow
