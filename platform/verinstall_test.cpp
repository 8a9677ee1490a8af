#include "platform/verinstall.h"

#include "platform/testtempfolder.h"
#include "platform/versionrecord.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using platform::VerInstallFile;

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ::chmod(path.c_str(), mode);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// File contents that carry a version record with the given build number.
std::string Versioned(const std::string& text, std::uint16_t build) {
  const auto record = platform::MakeVersionRecord(2, 0, 0, build, "Test");
  return text + std::string(reinterpret_cast<const char*>(record.data()), record.size()) + text;
}

// Runs `body` in a child process (without root's right to ignore permissions) and returns its
// exit status, so limits and identities set there do not reach the test program.
int RunInChild(const std::function<int()>& body, bool dropRoot) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (dropRoot && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

bool OnlyFileIs(const std::string& folder, const std::string& name) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename() != name) return false;
    ++count;
  }
  return count == 1;
}

class VerInstallFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::chmod(m_root.Path().c_str(), 0755);
    fs::create_directory(m_src);
    fs::create_directory(m_dest);
    ::chmod(m_dest.c_str(), 0755);
  }
  std::uint32_t Install(unsigned flags = 0) { return VerInstallFile(flags, "new.bin", "prog", m_src, m_dest); }

  platform::test::CTempFolder m_root{"verinstall"};
  std::string m_src = m_root.Path() + "/src";
  std::string m_dest = m_root.Path() + "/dest";
};

TEST_F(VerInstallFileTest, VersionRecordsDecideWhetherAnExistingFileIsReplaced) {
  WriteFile(m_src + "/new.bin", Versioned("new", 74), 0750);
  WriteFile(m_dest + "/prog", Versioned("old", 73));
  EXPECT_EQ(Install(), 0u);  // newer over older
  EXPECT_EQ(ReadFile(m_dest + "/prog"), Versioned("new", 74));
  struct stat info {};
  ASSERT_EQ(::stat((m_dest + "/prog").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0750u) << "the source's permission bits";

  WriteFile(m_dest + "/prog", Versioned("same", 74));
  EXPECT_EQ(Install(), 0u);  // equal versions: replaced, so a repeated install simply repeats
  EXPECT_EQ(ReadFile(m_dest + "/prog"), Versioned("new", 74));

  WriteFile(m_dest + "/prog", Versioned("newer", 75));
  EXPECT_EQ(Install(), platform::VIF_SRCOLD);
  EXPECT_EQ(ReadFile(m_dest + "/prog"), Versioned("newer", 75));
  EXPECT_EQ(Install(platform::VIFF_FORCEINSTALL), 0u);
  EXPECT_EQ(ReadFile(m_dest + "/prog"), Versioned("new", 74));

  WriteFile(m_dest + "/prog", "no record at all");  // counts as version 0
  EXPECT_EQ(Install(), 0u);
  WriteFile(m_src + "/new.bin", "unversioned");
  WriteFile(m_dest + "/prog", Versioned("versioned", 1));
  EXPECT_EQ(Install(), platform::VIF_SRCOLD);
  EXPECT_TRUE(OnlyFileIs(m_dest, "prog")) << "no temporary file is left behind";
}

TEST_F(VerInstallFileTest, MissingSourceAndUnsuitableDestinationsInstallNothing) {
  EXPECT_EQ(Install(), platform::VIF_CANNOTREADSRC);
  EXPECT_FALSE(fs::exists(m_dest + "/prog"));

  WriteFile(m_src + "/new.bin", "new");
  fs::create_directory(m_dest + "/prog");
  EXPECT_EQ(Install(platform::VIFF_FORCEINSTALL), platform::VIF_DIFFTYPE);
  fs::remove(m_dest + "/prog");

  WriteFile(m_dest + "/prog", "read-only", 0444);
  EXPECT_EQ(Install(), platform::VIF_WRITEPROT);
  EXPECT_EQ(ReadFile(m_dest + "/prog"), "read-only");
  EXPECT_EQ(Install(platform::VIFF_FORCEINSTALL), 0u);
  EXPECT_EQ(ReadFile(m_dest + "/prog"), "new");

  EXPECT_EQ(VerInstallFile(0, "new.bin", "prog", m_src, m_root.Path() + "/no such folder"),
            platform::VIF_CANNOTCREATE);
}

TEST_F(VerInstallFileTest, ReadOnlyDestinationFolderIsAnAccessViolation) {
  WriteFile(m_src + "/new.bin", "new");
  WriteFile(m_dest + "/prog", "old");
  ::chmod(m_dest.c_str(), 0555);
  const int status = RunInChild([this] { return Install() == platform::VIF_ACCESSVIOLATION ? 0 : 1; }, true);
  ::chmod(m_dest.c_str(), 0755);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(m_dest + "/prog"), "old");
  EXPECT_TRUE(OnlyFileIs(m_dest, "prog"));
}

TEST_F(VerInstallFileTest, RunningProgramIsReplacedAndKeepsRunning) {
  fs::copy_file("/bin/sleep", m_dest + "/prog");
  ::chmod((m_dest + "/prog").c_str(), 0755);
  const std::string prog = m_dest + "/prog";
  const pid_t running = ::fork();
  if (running == 0) {
    ::execl(prog.c_str(), prog.c_str(), "0.5", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Opening a running program's file for writing fails with ETXTBSY; wait until it runs.
  for (int i = 0; i < 500; ++i) {
    const int fd = ::open(prog.c_str(), O_WRONLY);
    if (fd < 0 && errno == ETXTBSY) break;
    if (fd >= 0) ::close(fd);
    ::usleep(2000);
  }
  WriteFile(m_src + "/new.bin", "#!/bin/sh\nexit 7\n", 0755);
  EXPECT_EQ(Install(), 0u);
  int status = 0;
  ASSERT_EQ(::waitpid(running, &status, 0), running);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the running program ends normally";
  EXPECT_EQ(ReadFile(prog), "#!/bin/sh\nexit 7\n");
}

TEST_F(VerInstallFileTest, FileSizeLimitIsOutOfSpaceAndKeepsTheOldFile) {
  WriteFile(m_src + "/new.bin", std::string(256 * 1024, 'x'));
  WriteFile(m_dest + "/prog", "old");
  const int status = RunInChild(
      [this] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16 * 1024, 16 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return Install() == platform::VIF_OUTOFSPACE ? 0 : 1;
      },
      false);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(m_dest + "/prog"), "old");
  EXPECT_TRUE(OnlyFileIs(m_dest, "prog"));
}

}  // namespace
