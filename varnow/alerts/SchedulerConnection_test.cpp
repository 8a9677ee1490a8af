// Registering the scheduler again when it cannot be reached, against stand-in programs and
// against the real server on a private session bus.
#include "varnow/alerts/SchedulerConnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/tracelog.h"
#include "taskmgr/taskmgrbus.h"
#include "taskmgr/testbus.h"
#include "varnow/testsupport/TestHome.h"

namespace varnow {
namespace {

using taskmgr::test::WaitFor;

bool WaitForEvents(const std::function<bool()>& done, int timeoutMs = 30000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  return done();
}

// Connects and runs the event loop until the connection has its answer.
taskmgr::HRESULT Connected(CSchedulerConnection& connection) {
  bool done = false;
  connection.Connect([&](taskmgr::HRESULT) { done = true; });
  EXPECT_TRUE(WaitForEvents([&] { return done; }));
  return connection.Result();
}

// A program named orvsched in `folder` that writes its arguments to `record`.
void WriteStandIn(const std::string& folder, const std::string& record) {
  const std::string path = folder + "orvsched";
  test::WriteWholeFile(path, "#!/bin/sh\necho \"$@\" >\"" + record + "\"\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

class Registering : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = std::getenv("PATH");
    setenv("PATH", (m_home.MakeFolder("on-path") + ":/usr/bin:/bin").c_str(), 1);
  }
  void TearDown() override { setenv("PATH", m_path.c_str(), 1); }
  bool Ran(const std::string& record) {
    return WaitFor([&] { return test::ReadWholeFile(record) == "-regserver -regsvr\n"; }, 5000);
  }
  test::CTestHome m_home;
  std::string m_path;
};

TEST_F(Registering, InstallsTheInterfaceAndStartsTheServerBesideTheTrackerFirst) {
  const std::string beside = m_home.MakeFolder("bin");
  WriteStandIn(beside, m_home.Root() + "/beside.txt");
  WriteStandIn(m_home.Root() + "/on-path/", m_home.Root() + "/on-path.txt");

  pid_t started = RegisterSchedulerComponents(beside);
  ASSERT_NE(started, 0);
  platform::ReapLater(started);
  EXPECT_TRUE(Ran(m_home.Root() + "/beside.txt"));
  EXPECT_FALSE(std::filesystem::exists(m_home.Root() + "/on-path.txt"));
  ASSERT_TRUE(taskmgr::InterfaceFilePath().startsWith(QString::fromStdString(m_home.Root())));
  EXPECT_EQ(test::ReadWholeFile(taskmgr::InterfaceFilePath().toStdString()), taskmgr::InterfaceXml());

  // Without one beside the tracker, the one on PATH.
  started = RegisterSchedulerComponents(m_home.MakeFolder("empty"));
  ASSERT_NE(started, 0);
  platform::ReapLater(started);
  EXPECT_TRUE(Ran(m_home.Root() + "/on-path.txt"));
}

TEST_F(Registering, AMissingSchedulerProgramIsNamedWithWhereItWasLookedFor) {
  const std::string beside = m_home.MakeFolder("bin");
  const std::string text = MissingSchedulerText(beside);
  EXPECT_EQ(text, "The scheduler program orvsched was not found; it was looked for in " + beside + ", then on PATH (" +
                      m_home.Root() + "/on-path/:/usr/bin:/bin).");
  EXPECT_EQ(RegisterSchedulerComponents(beside), 0);

  WriteStandIn(beside, m_home.Root() + "/beside.txt");
  EXPECT_EQ(FindSchedulerProgram(beside), beside + "orvsched");
  EXPECT_EQ(MissingSchedulerText(beside), "");
}

TEST_F(Registering, WithoutASessionBusNoServerIsStarted) {
  WriteStandIn(m_home.Root() + "/on-path/", m_home.Root() + "/on-path.txt");
  CSchedulerConnection connection(false, QDBusConnection(QString()));
  EXPECT_EQ(Connected(connection), taskmgr::REGDB_E_CLASSNOTREG);
  QThread::msleep(300);  // a program started would have written its record by now
  EXPECT_FALSE(std::filesystem::exists(m_home.Root() + "/on-path.txt"));
}

TEST_F(Registering, NoServerProgramAnywhereIsReportedAsNotStarted) {
  EXPECT_EQ(RegisterSchedulerComponents(m_home.MakeFolder("empty")), 0);
  // The interface description is installed all the same.
  EXPECT_TRUE(QFile::exists(taskmgr::InterfaceFilePath()));
}

// On a private bus whose daemon and programs share the test's home: nothing is registered
// there until a connection registers it.
class Connecting : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_bus.Address().isEmpty());
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "ORVSCHED_DATA_DIR", "PATH",
                             "DBUS_SESSION_BUS_ADDRESS"}) {
      m_before.emplace_back(name, qEnvironmentVariable(name));
      qputenv(name, m_bus.Env().value(name).toUtf8());
    }
    m_connection = QDBusConnection::connectToBus(m_bus.Address(), "alerts");
    ASSERT_TRUE(m_connection.isConnected());
  }
  void TearDown() override {
    QDBusConnection::disconnectFromBus("alerts");
    for (const auto& [name, value] : m_before) qputenv(name, value.toUtf8());
  }
  bool ServerGone() {
    return WaitFor([&] { return !m_connection.interface()->isServiceRegistered(taskmgr::kServiceName).value(); },
                   20000);
  }
  taskmgr::test::CPrivateBus m_bus;
  std::vector<std::pair<const char*, QString>> m_before;
  QDBusConnection m_connection{QString()};
};

TEST_F(Connecting, TheSecondAttemptReachesTheServerThatTheFirstRegistered) {
  const QString serverFolder = qEnvironmentVariable("VARNOW_BIN_DIR");
  qputenv("PATH", (serverFolder + ":/usr/bin:/bin").toUtf8());
  const std::string trace = m_bus.Path("trace.txt").toStdString();
  ASSERT_TRUE(platform::TraceLog::Open(trace));
  {
    CSchedulerConnection connection(true, m_connection);
    EXPECT_EQ(Connected(connection), taskmgr::S_OK);
    std::optional<std::pair<taskmgr::HRESULT, std::int32_t>> count;
    connection.GetNumTasks([&](taskmgr::HRESULT hr, std::int32_t tasks) { count.emplace(hr, tasks); });
    ASSERT_TRUE(WaitForEvents([&] { return count.has_value(); }));
    EXPECT_EQ(*count, std::pair(taskmgr::S_OK, 0));
  }
  platform::TraceLog::Close();
  EXPECT_EQ(test::TraceLines(test::ReadWholeFile(trace)),
            std::vector<std::string>{"SchedulerConnection: CoCreate of TaskMgr returned 80040154\n"});
  // The server registered itself, and ends once its only client has let go of an empty list.
  EXPECT_TRUE(QFile::exists(m_bus.Path("data") + "/dbus-1/services/com.zentrel.OrvSched.service"));
  EXPECT_TRUE(ServerGone());
}

TEST_F(Connecting, WithoutAServerProgramBothAttemptsFail) {
  qputenv("PATH", "/nonexistent");
  CSchedulerConnection connection(false, m_connection);
  EXPECT_EQ(Connected(connection), taskmgr::REGDB_E_CLASSNOTREG);
  EXPECT_EQ(StatusText(connection.Result()), "80040154");
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
