#include "orvsched/registration.h"

#include "taskmgr/taskmgrbus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvsched {
namespace {

TEST(ServerCommandLine, OnlyASwitchAtTheVeryEndCounts) {
  struct Case {
    const char* line;
    ServerSwitch expected;
  } cases[] = {
      {"/RegServer", ServerSwitch::kRegServer},
      {"-regserver", ServerSwitch::kRegServer},
      {"-UNREGSERVER", ServerSwitch::kUnregServer},
      {"-Startup", ServerSwitch::kStartup},
      {"-Silent", ServerSwitch::kSilent},
      {"-regserver -regsvr", ServerSwitch::kNone},  // what a client sends to start a server
      {"-RegServer -Silent", ServerSwitch::kSilent},
      {"STARTUP", ServerSwitch::kNone},           // the autostart entry: serve normally
      {"-RegServer now", ServerSwitch::kNone},
      {"--RegServer", ServerSwitch::kRegServer},  // the second dash starts the matching token
      {"", ServerSwitch::kNone},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseServerCommandLine(QString::fromLatin1(c.line)), c.expected) << c.line;
}

TEST(ServerCommandLine, InstallerLinesAskForRegistrationWithoutSelectingASwitch) {
  struct Case {
    const char* line;
    ServerSwitch expected;
  } cases[] = {
      {"-silent -regserver -regsvr", ServerSwitch::kRegServer},
      {"-regserver -regsvr", ServerSwitch::kRegServer},
      {"-silent -unregserver -unregsvr", ServerSwitch::kUnregServer},
      {"-unregserver -regserver", ServerSwitch::kUnregServer},  // taking away never also registers
      {"STARTUP", ServerSwitch::kNone},
      {"/tmp/regserver", ServerSwitch::kNone},  // a path is no switch
      {"-regservers", ServerSwitch::kNone},
  };
  for (const Case& c : cases) EXPECT_EQ(RequestedRegistration(QString::fromLatin1(c.line)), c.expected) << c.line;
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_home.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath("data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
  }
  static QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  QTemporaryDir m_home;
};

// The server's files follow the base-folder rule of every program here: an empty or relative
// XDG_DATA_HOME or XDG_CONFIG_HOME falls back under the home folder, as the tracker's data does.
TEST_F(Registration, FoldersFallBackUnderHomeByTheOneRule) {
  const QByteArray home = qgetenv("HOME");
  const QByteArray storeFolder = qgetenv("ORVSCHED_DATA_DIR");
  qputenv("HOME", QFile::encodeName(m_home.path()));
  qunsetenv("ORVSCHED_DATA_DIR");
  for (const char* value : {"", "relative/data"}) {
    qputenv("XDG_DATA_HOME", value);
    qputenv("XDG_CONFIG_HOME", value);
    const QString share = m_home.path() + "/.local/share";
    EXPECT_EQ(ActivationFilePath(), share + "/dbus-1/services/com.zentrel.OrvSched.service") << value;
    EXPECT_EQ(InterfaceFilePath(), share + "/dbus-1/interfaces/com.zentrel.IOrvTaskMgr.xml") << value;
    EXPECT_EQ(DataDirectory(), share + "/orvsched") << value;
    EXPECT_EQ(AutostartFilePath(), m_home.path() + "/.config/autostart/orvsched.desktop") << value;
  }
  qputenv("HOME", home);
  if (!storeFolder.isEmpty()) qputenv("ORVSCHED_DATA_DIR", storeFolder);
}

// A packaged server is started by the package's activation file; only another copy needs its own.
TEST_F(Registration, APackagesActivationFileServesOnlyTheServerItNames) {
  const QString system = m_home.filePath("usr/share");
  ASSERT_TRUE(QDir().mkpath(system + "/dbus-1/services"));
  QFile file(system + "/dbus-1/services/com.zentrel.OrvSched.service");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[D-BUS Service]\nName=com.zentrel.OrvSched\nExec=/usr/bin/orvsched\n");
  file.close();
  qputenv("XDG_DATA_DIRS", QFile::encodeName(system));
  EXPECT_TRUE(SystemActivationStarts(QStringLiteral("/usr/bin/orvsched")));
  EXPECT_FALSE(SystemActivationStarts(QStringLiteral("/opt/varnow/orvsched")));
  // The user's own file is no package's.
  qputenv("XDG_DATA_DIRS", QFile::encodeName(m_home.filePath("none")));
  ASSERT_TRUE(RegisterServer(QStringLiteral("/opt/varnow/orvsched")));
  EXPECT_FALSE(SystemActivationStarts(QStringLiteral("/opt/varnow/orvsched")));
  qunsetenv("XDG_DATA_DIRS");
}

TEST_F(Registration, WritesActivationFileAndInterfaceAndUnregisterRemovesThem) {
  ASSERT_TRUE(ActivationFilePath().startsWith(m_home.path()));
  ASSERT_TRUE(RegisterServer(QStringLiteral("/opt/my tools/it's/orvsched")));
  EXPECT_EQ(Read(ActivationFilePath()),
            "[D-BUS Service]\nName=com.zentrel.OrvSched\nExec='/opt/my tools/it'\\''s/orvsched'\n");
  EXPECT_EQ(Read(InterfaceFilePath()), QByteArray(taskmgr::InterfaceXml()));
  CAutostartEntry entry(QStringLiteral("/opt/my tools/100%/orvsched"));
  ASSERT_TRUE(entry.Register());
  EXPECT_TRUE(Read(AutostartFilePath()).contains("\nExec=\"/opt/my tools/100%%/orvsched\" STARTUP\n"));

  ASSERT_TRUE(UnregisterServer());
  EXPECT_FALSE(QFile::exists(ActivationFilePath()));
  EXPECT_FALSE(QFile::exists(AutostartFilePath()));
  EXPECT_TRUE(QFile::exists(InterfaceFilePath()));
  EXPECT_TRUE(UnregisterServer());  // nothing left to remove is not a failure
}

// Two copies installed: unregistering one leaves the registration that starts the other.
TEST_F(Registration, UnregisteringOneCopyLeavesTheOthersRegistration) {
  const QString mine = QStringLiteral("/home/ann/Varnow/orvsched");
  const QString other = QStringLiteral("/home/ann/Other copy/orvsched");
  ASSERT_TRUE(RegisterServer(other));
  ASSERT_TRUE(CAutostartEntry(other).Register());
  EXPECT_TRUE(UnregisterServer(mine));
  EXPECT_TRUE(QFile::exists(ActivationFilePath()));
  EXPECT_TRUE(QFile::exists(AutostartFilePath()));

  ASSERT_TRUE(RegisterServer(mine));
  ASSERT_TRUE(CAutostartEntry(mine).Register());
  EXPECT_TRUE(UnregisterServer(mine));
  EXPECT_FALSE(QFile::exists(ActivationFilePath()));
  EXPECT_FALSE(QFile::exists(AutostartFilePath()));
}

TEST_F(Registration, TaskStoreLivesInTheUserDataFolderUnlessOverridden) {
  // The test program's folder is writable, yet the store never goes beside the program.
  qunsetenv("ORVSCHED_DATA_DIR");
  EXPECT_EQ(TaskStorePath(), m_home.filePath("data/orvsched/ORVSCHED.DAT"));
  EXPECT_TRUE(QFileInfo(m_home.filePath("data/orvsched")).isDir());

  qputenv("ORVSCHED_DATA_DIR", QFile::encodeName(m_home.path()));
  EXPECT_EQ(TaskStorePath(), m_home.filePath("ORVSCHED.DAT"));
  qunsetenv("ORVSCHED_DATA_DIR");
}

}  // namespace
}  // namespace orvsched
