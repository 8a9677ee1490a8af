// The real server on a private session bus started here, with its data, configuration and
// store folders in a temporary folder; gdbus serves as a client nobody here wrote.
#include "orvsched/taskmgrserver.h"
#include "taskmgr/taskmgrbus.h"
#include "taskmgr/taskmgrclient.h"
#include "taskmgr/testbus.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDateTime>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

#include <unistd.h>
#include <functional>

namespace {

using namespace taskmgr;
using orvsched::kMaxDescriptionBytes;

using test::WaitFor;

// One daemon for the whole program: every test leaves it without a server running.
class PrivateBus : public ::testing::Environment {
 public:
  void SetUp() override {
    m_bus = std::make_unique<test::CPrivateBus>();
    ASSERT_FALSE(m_bus->Address().isEmpty());
  }
  void TearDown() override { m_bus.reset(); }
  QString Path(const QString& name) const { return m_bus->Path(name); }
  QString Address() const { return m_bus->Address(); }
  const QProcessEnvironment& Env() const { return m_bus->Env(); }

 private:
  std::unique_ptr<test::CPrivateBus> m_bus;
};

PrivateBus* g_bus = nullptr;

QString ServerPath() { return qEnvironmentVariable("VARNOW_BIN_DIR") + "/orvsched"; }

struct ProgramRun {
  int exitCode = -1;
  QString output;
};

ProgramRun RunProgram(const QString& program, const QStringList& arguments, int timeoutMs = 20000) {
  QProcess process;
  process.setProcessEnvironment(g_bus->Env());
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    return {};
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput())};
}

ProgramRun Gdbus(const QString& method, const QStringList& arguments = {}) {
  return RunProgram("gdbus", QStringList{"call", "--session", "--dest", kServiceName, "--object-path", kObjectPath,
                                         "--method", QString(kInterfaceName) + "." + method} +
                                 arguments);
}

QString GdbusBytes(const TASK_TRIGGER& trigger) {
  QStringList bytes;
  for (std::uint8_t b : ToBytes(trigger)) bytes << QString("byte %1").arg(b);
  return "[" + bytes.join(", ") + "]";
}

TASK_TRIGGER OnceAt(const QDateTime& when) {
  TASK_TRIGGER t;
  t.cbTriggerSize = sizeof(TASK_TRIGGER);
  t.TriggerType = TASK_TIME_TRIGGER_ONCE;
  t.wBeginYear = std::uint16_t(when.date().year());
  t.wBeginMonth = std::uint16_t(when.date().month());
  t.wBeginDay = std::uint16_t(when.date().day());
  t.wStartHour = std::uint16_t(when.time().hour());
  t.wStartMinute = std::uint16_t(when.time().minute());
  return t;
}

TASK_STRUCT NewTask(const TASK_TRIGGER& trigger, const QString& cmdLine) {
  TASK_STRUCT task;
  task.taskType = atEXECUTE;
  task.description = QStringLiteral("Alert on /home/ann/Documents");
  task.cmdLine = cmdLine;
  task.taskTrigger = trigger;
  task.taskOwner = toVARNOW;
  return task;
}

class Server : public ::testing::Test {
 protected:
  void SetUp() override {
    m_bus = QDBusConnection::connectToBus(g_bus->Address(), "test");
    ASSERT_TRUE(m_bus.isConnected());
    ASSERT_TRUE(ServerGone()) << "a server from an earlier test is still running";
  }
  void TearDown() override {
    if (!ServerGone()) {  // leave no tasks and no server for the next test
      COrvTaskMgrClient client(m_bus);
      client.CreateInstance();
      TASK_STRUCT task;
      while (client.GetTaskAt(0, &task) == S_OK) client.DeleteTask(task.taskID);
    }
    QDBusConnection::disconnectFromBus("test");
  }
  // A failed query counts as running, so that "gone" is never concluded from an error.
  bool ServerRunning() {
    const QDBusReply<bool> reply = m_bus.interface()->isServiceRegistered(kServiceName);
    return !reply.isValid() || reply.value();
  }
  bool ServerGone() { return WaitFor([&] { return !ServerRunning(); }, 15000); }
  uint ServerPid() { return m_bus.interface()->servicePid(kServiceName); }
  QString AutostartEntry() const { return g_bus->Path("config/autostart/orvsched.desktop"); }

  QDBusConnection m_bus{QString()};
};

TEST_F(Server, RegistrationLetsTheFirstCallStartTheServer) {
  const ProgramRun reg = RunProgram(ServerPath(), {"/RegServer"});
  EXPECT_EQ(reg.exitCode, 0);
  EXPECT_TRUE(reg.output.contains("ORVSCHED successfully registered"));
  QFile service(g_bus->Path("data/dbus-1/services/com.zentrel.OrvSched.service"));
  ASSERT_TRUE(service.open(QIODevice::ReadOnly));
  EXPECT_TRUE(service.readAll().contains("Exec='" + QFile::encodeName(ServerPath()) + "'"));
  EXPECT_TRUE(QFile::exists(g_bus->Path("data/dbus-1/interfaces/com.zentrel.IOrvTaskMgr.xml")));

  EXPECT_FALSE(ServerRunning());
  const ProgramRun count = Gdbus("GetNumTasks");
  EXPECT_EQ(count.exitCode, 0) << count.output.toStdString();
  EXPECT_EQ(count.output.trimmed(), "(0, 0)");
  // A caller that never took a lock has let go once answered: an empty server ends.
  EXPECT_TRUE(ServerGone());
}

TEST_F(Server, ForeignClientCreatesTaskAndTheListAgrees) {
  const TASK_TRIGGER trigger = OnceAt(QDateTime(QDate(2099, 1, 2), QTime(3, 4)));
  const ProgramRun created = Gdbus("CreateNewTask", {QString("(2, 'Alert on /srv', '/bin/true /DIR=/srv', %1, byte 1, 12345, 2)")
                                                  .arg(GdbusBytes(trigger))});
  const QRegularExpressionMatch id = QRegularExpression(R"(^\(0, uint32 (\d+)\)$)").match(created.output.trimmed());
  ASSERT_TRUE(id.hasMatch()) << created.output.toStdString();
  const std::uint32_t taskID = id.captured(1).toUInt();
  EXPECT_NE(taskID, 12345u);
  EXPECT_EQ(Gdbus("GetNumTasks").output.trimmed(), "(0, 1)");
  EXPECT_TRUE(QFile::exists(AutostartEntry()));

  COrvTaskMgrClient client(m_bus);
  ASSERT_EQ(client.CreateInstance(), S_OK);
  TASK_STRUCT task;
  ASSERT_EQ(client.GetTask(taskID, &task), S_OK);
  EXPECT_EQ(task.taskType, atEXECUTE);
  EXPECT_EQ(task.description, "Alert on /srv");
  EXPECT_EQ(task.cmdLine, "/bin/true /DIR=/srv");
  EXPECT_EQ(ToBytes(task.taskTrigger), ToBytes(trigger));
  EXPECT_EQ(task.bRunMinimized, 1);
  EXPECT_EQ(task.taskID, taskID);
  EXPECT_EQ(task.taskOwner, toVARNOW);
  std::int32_t count = -1;
  ASSERT_EQ(client.GetNumTasks(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(client.GetTaskAt(-1, &task), E_FAIL);
  EXPECT_EQ(client.GetTaskAt(count, &task), E_FAIL);
  EXPECT_EQ(client.GetTask(taskID + 1000, &task), E_FAIL);
  EXPECT_EQ(client.DeleteTask(taskID + 1000), E_FAIL);

  ASSERT_EQ(client.DeleteTask(taskID), S_OK);
  EXPECT_FALSE(QFile::exists(AutostartEntry()));
  EXPECT_TRUE(ServerRunning());  // the client still holds it
  ASSERT_EQ(client.Release(), S_OK);
  EXPECT_TRUE(ServerGone());
}

TEST_F(Server, SecondServerEndsAtOnce) {
  COrvTaskMgrClient client(m_bus);
  ASSERT_EQ(client.CreateInstance(), S_OK);
  const uint firstPid = ServerPid();
  ASSERT_NE(firstPid, 0u);
  const ProgramRun second = RunProgram(ServerPath(), {}, 10000);
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(ServerPid(), firstPid);
  ASSERT_EQ(client.Release(), S_OK);
  EXPECT_TRUE(ServerGone());
}

TEST_F(Server, DueTaskStartsItsCommandLine) {
  QDir(g_bus->Path("out")).mkpath("with space");
  const QString marker = g_bus->Path("out/with space/ran");
  // Triggers have whole minutes: the next minute when it is close, else the current one
  // (already begun, so due at once).
  QDateTime due = QDateTime::currentDateTime();
  due.setTime(QTime(due.time().hour(), due.time().minute()));
  if (QDateTime::currentDateTime().secsTo(due.addSecs(60)) <= 5) due = due.addSecs(60);

  COrvTaskMgrClient client(m_bus);
  ASSERT_EQ(client.CreateInstance(), S_OK);
  std::uint32_t taskID = 0;
  ASSERT_EQ(client.CreateNewTask(NewTask(OnceAt(due), "/usr/bin/touch \"" + marker + "\""), &taskID), S_OK);
  EXPECT_TRUE(WaitFor([&] { return QFile::exists(marker); }, 20000));
  EXPECT_GE(QDateTime::currentDateTime(), due);
  // A one-time task goes once it has run.
  std::int32_t count = -1;
  EXPECT_TRUE(WaitFor([&] { return client.GetNumTasks(&count) == S_OK && count == 0; }, 5000));
  EXPECT_FALSE(QFile::exists(AutostartEntry()));
  ASSERT_EQ(client.Release(), S_OK);
  EXPECT_TRUE(ServerGone());
}

TEST_F(Server, DailyTaskWithoutIntervalIsRefused) {
  COrvTaskMgrClient client(m_bus);
  ASSERT_EQ(client.CreateInstance(), S_OK);
  TASK_TRIGGER trigger = OnceAt(QDateTime::currentDateTime());
  trigger.TriggerType = TASK_TIME_TRIGGER_DAILY;
  trigger.Type.Daily.DaysInterval = 0;
  std::uint32_t taskID = 0;
  EXPECT_EQ(client.CreateNewTask(NewTask(trigger, "/bin/true"), &taskID), E_INVALIDARG);
  std::int32_t count = -1;
  ASSERT_EQ(client.GetNumTasks(&count), S_OK);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(client.Release(), S_OK);
  EXPECT_TRUE(ServerGone());
}

TEST_F(Server, ClientKilledWhileHoldingALockDoesNotKeepTheServer) {
  QProcess holder;
  holder.setProcessEnvironment(g_bus->Env());
  holder.start(QCoreApplication::applicationFilePath(), {"--hold-lock", g_bus->Address()});
  ASSERT_TRUE(holder.waitForStarted());
  ASSERT_TRUE(WaitFor([&] { return holder.waitForReadyRead(100) || holder.canReadLine(); }, 20000));
  ASSERT_EQ(holder.readLine().trimmed(), "locked");
  EXPECT_TRUE(ServerRunning());
  ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
  holder.waitForFinished();
  EXPECT_TRUE(ServerGone());
}

TEST_F(Server, IdleServerUsesNoCpu) {
  COrvTaskMgrClient client(m_bus);
  ASSERT_EQ(client.CreateInstance(), S_OK);
  std::uint32_t taskID = 0;
  ASSERT_EQ(client.CreateNewTask(NewTask(OnceAt(QDateTime(QDate(2099, 1, 1), QTime(0, 0))), "/bin/true"), &taskID),
            S_OK);
  ASSERT_EQ(client.Release(), S_OK);
  QThread::msleep(500);
  ASSERT_TRUE(ServerRunning());  // kept by its task
  const uint pid = ServerPid();
  auto cpuTicks = [pid] {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return -1LL;
    // Fields after the command name, which sits in parentheses: utime and stime are 14 and 15.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();
  };
  const long long before = cpuTicks();
  QThread::sleep(3);
  const long long after = cpuTicks();
  ASSERT_GE(before, 0);
  EXPECT_LE(after - before, 5) << "ticks of CPU time in 3 idle seconds";

  ASSERT_EQ(client.CreateInstance(), S_OK);
  ASSERT_EQ(client.DeleteTask(taskID), S_OK);
  ASSERT_EQ(client.Release(), S_OK);
  EXPECT_TRUE(ServerGone());
}

TEST_F(Server, TriggerOfTheWrongLengthIsRefused) {
  QString shortTrigger = GdbusBytes(OnceAt(QDateTime(QDate(2099, 1, 1), QTime(0, 0))));
  shortTrigger.replace(", byte 0]", "]");  // 47 bytes
  const ProgramRun created = Gdbus("CreateNewTask", {QString("(2, 'short', '/bin/true', %1, byte 0, 0, 2)").arg(shortTrigger)});
  EXPECT_TRUE(created.output.trimmed().startsWith(QString("(%1,").arg(E_INVALIDARG))) << created.output.toStdString();
  EXPECT_TRUE(ServerGone());
}

TEST_F(Server, StartupSwitchServesOnlyWhenThereAreTasks) {
  const ProgramRun empty = RunProgram(ServerPath(), {"-Startup"}, 10000);
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_FALSE(ServerRunning());

  // Leave a task in the store, then end that server the hard way.
  const ProgramRun created = Gdbus("CreateNewTask", {QString("(2, 'later', '/bin/true', %1, byte 0, 0, 2)")
                                                         .arg(GdbusBytes(OnceAt(QDateTime(QDate(2099, 1, 1), QTime(0, 0)))))});
  ASSERT_TRUE(created.output.startsWith("(0, uint32 ")) << created.output.toStdString();
  ::kill(static_cast<pid_t>(ServerPid()), SIGTERM);
  ASSERT_TRUE(ServerGone());

  QProcess startup;
  startup.setProcessEnvironment(g_bus->Env());
  startup.start(ServerPath(), {"-Startup"});
  ASSERT_TRUE(WaitFor([&] { return ServerRunning(); }, 10000));
  EXPECT_EQ(ServerPid(), static_cast<uint>(startup.processId()));
  COrvTaskMgrClient client(m_bus);
  ASSERT_EQ(client.CreateInstance(), S_OK);
  TASK_STRUCT task;
  ASSERT_EQ(client.GetTaskAt(0, &task), S_OK);
  ASSERT_EQ(client.DeleteTask(task.taskID), S_OK);
  ASSERT_EQ(client.Release(), S_OK);
  EXPECT_TRUE(startup.waitForFinished(15000));
  EXPECT_EQ(startup.exitCode(), 0);
}

TEST_F(Server, UnregisterRemovesActivationAndAutostart) {
  const QString service = g_bus->Path("data/dbus-1/services/com.zentrel.OrvSched.service");
  QFile(AutostartEntry()).open(QIODevice::WriteOnly);
  const ProgramRun unreg = RunProgram(ServerPath(), {"-UnregServer"});
  EXPECT_EQ(unreg.exitCode, 0);
  EXPECT_TRUE(unreg.output.contains("ORVSCHED successfully unregistered"));
  EXPECT_FALSE(QFile::exists(service));
  EXPECT_FALSE(QFile::exists(AutostartEntry()));
  EXPECT_EQ(RunProgram(ServerPath(), {"-RegServer"}).exitCode, 0);
  EXPECT_TRUE(QFile::exists(service));
}

TEST_F(Server, RegistrationThatCannotWriteSaysSoAndFails) {
  const QString notAFolder = g_bus->Path("out/not-a-folder");
  QFile(notAFolder).open(QIODevice::WriteOnly);
  QProcess reg;
  QProcessEnvironment env = g_bus->Env();
  env.insert("XDG_DATA_HOME", notAFolder);
  reg.setProcessEnvironment(env);
  reg.start(ServerPath(), {"-RegServer"});
  ASSERT_TRUE(reg.waitForFinished(20000));
  EXPECT_NE(reg.exitCode(), 0);
  EXPECT_FALSE(reg.readAllStandardOutput().contains("successfully"));
  EXPECT_TRUE(reg.readAllStandardError().contains("could not be registered"));
}

TEST_F(Server, ServerDoesNotHoldTheStartersOutput) {
  // A shell's command substitution reads until every writer has closed its end.
  const ProgramRun shell =
      RunProgram("sh", {"-c", "x=$(\"$0\" -Silent & echo started); echo \"$x\"", ServerPath()}, 10000);
  EXPECT_EQ(shell.output.trimmed(), "started");
  ASSERT_TRUE(WaitFor([&] { return ServerRunning(); }, 10000));
  COrvTaskMgrClient client(m_bus);
  ASSERT_EQ(client.CreateInstance(), S_OK);
  ASSERT_EQ(client.Release(), S_OK);
  EXPECT_TRUE(ServerGone());
}

TEST_F(Server, ServerEndsWithItsBus) {
  auto session = std::make_unique<test::CPrivateBus>();
  ASSERT_FALSE(session->Address().isEmpty());
  QProcess server;
  server.setProcessEnvironment(session->Env());
  server.start(ServerPath(), {});
  ASSERT_TRUE(server.waitForStarted());
  const auto stopServer = qScopeGuard([&] {
    server.kill();
    server.waitForFinished();
  });
  {
    QDBusConnection bus = QDBusConnection::connectToBus(session->Address(), "session");
    ASSERT_TRUE(WaitFor([&] { return bus.interface()->isServiceRegistered(kServiceName).value(); }, 10000));
    COrvTaskMgrClient client(bus);
    ASSERT_EQ(client.CreateInstance(), S_OK);
    std::uint32_t taskID = 0;  // a task would keep the server for as long as it has a bus
    ASSERT_EQ(client.CreateNewTask(NewTask(OnceAt(QDateTime(QDate(2099, 1, 1), QTime(0, 0))), "/bin/true"), &taskID),
              S_OK);
    ASSERT_EQ(client.Release(), S_OK);
  }
  QDBusConnection::disconnectFromBus("session");
  session.reset();  // the session ends: its bus daemon goes
  EXPECT_TRUE(server.waitForFinished(15000));
}

TEST_F(Server, TaskThatCouldNeverRunIsRefusedWithoutAnIdentifier) {
  const QString later = GdbusBytes(OnceAt(QDateTime(QDate(2099, 1, 1), QTime(0, 0))));
  auto create = [&](int type, const QString& cmdLine) {
    return Gdbus("CreateNewTask", {QString("(%1, 'task', %2, %3, byte 0, 0, 2)").arg(type).arg(cmdLine, later)})
        .output.trimmed();
  };
  const QString plainFile = g_bus->Path("out/plain.txt");
  QFile(plainFile).open(QIODevice::WriteOnly);
  const QString refused = QString("(%1, uint32 0)").arg(E_INVALIDARG);
  EXPECT_EQ(create(2, "'/no/such/program --now'"), refused);
  EXPECT_EQ(create(2, "'no-such-program-on-the-path'"), refused);
  EXPECT_EQ(create(2, "'" + g_bus->Path("out") + " x'"), refused);  // a folder
  EXPECT_EQ(create(2, "'" + plainFile + "'"), refused);             // not executable
  EXPECT_EQ(create(2, "''"), refused);
  EXPECT_EQ(create(2, "'\"\" '"), refused);  // only an empty argument
  EXPECT_EQ(Gdbus("GetNumTasks").output.trimmed(), "(0, 0)");

  // A program on the path is found as the start finds it; a message-box task starts nothing.
  const QString onThePath = create(2, "'true --flag'");
  EXPECT_TRUE(onThePath.startsWith("(0, uint32 ")) << onThePath.toStdString();
  EXPECT_TRUE(create(1, "''").startsWith("(0, uint32 "));

  // A store that cannot be written: nothing is created, and no identifier is handed out.
  QFile::remove(g_bus->Path("store/ORVSCHED.DAT"));
  ASSERT_TRUE(QDir().mkpath(g_bus->Path("store/ORVSCHED.DAT")));
  const auto restore = qScopeGuard([] { QDir().rmdir(g_bus->Path("store/ORVSCHED.DAT")); });
  EXPECT_EQ(create(2, "'/bin/true'"), QString("(%1, uint32 0)").arg(E_FAIL));
  EXPECT_EQ(Gdbus("GetNumTasks").output.trimmed(), "(0, 2)");
}

TEST_F(Server, TextsLongerThanACommandLineAreRefused) {
  const TASK_TRIGGER later = OnceAt(QDateTime(QDate(2099, 1, 1), QTime(0, 0)));
  const long argMax = ::sysconf(_SC_ARG_MAX);
  ASSERT_GT(argMax, 100000);
  COrvTaskMgrClient client(m_bus);
  ASSERT_EQ(client.CreateInstance(), S_OK);
  std::uint32_t taskID = 0;
  EXPECT_EQ(client.CreateNewTask(NewTask(later, "/bin/true " + QString(argMax, 'x')), &taskID), E_INVALIDARG);
  TASK_STRUCT wordy = NewTask(later, "/bin/true");
  wordy.description = QString(kMaxDescriptionBytes + 1, 'd');
  EXPECT_EQ(client.CreateNewTask(wordy, &taskID), E_INVALIDARG);
  wordy.description = QString(kMaxDescriptionBytes / 2, QChar(0xe9));  // two bytes each in the store
  wordy.description += "e";
  EXPECT_EQ(client.CreateNewTask(wordy, &taskID), E_INVALIDARG);
  std::int32_t count = -1;
  ASSERT_EQ(client.GetNumTasks(&count), S_OK);
  EXPECT_EQ(count, 0);

  // Long, but within what a program can be started with: kept and given back whole.
  TASK_STRUCT longest = NewTask(later, "/bin/true " + QString(100000, 'x'));
  longest.description = QString(kMaxDescriptionBytes, 'd');
  ASSERT_EQ(client.CreateNewTask(longest, &taskID), S_OK);
  TASK_STRUCT back;
  ASSERT_EQ(client.GetTask(taskID, &back), S_OK);
  EXPECT_EQ(back.cmdLine, longest.cmdLine);
  EXPECT_EQ(back.description, longest.description);
  ASSERT_EQ(client.DeleteTask(taskID), S_OK);
  ASSERT_EQ(client.Release(), S_OK);
  EXPECT_TRUE(ServerGone());
}

TEST_F(Server, CallsWhileAnIdleServerEndsAreAnsweredOrStartANewOne) {
  ASSERT_EQ(RunProgram(ServerPath(), {"-RegServer"}).exitCode, 0);
  // Callers that hold no lock: each answer lets an empty server end, while the next calls are
  // on their way to it.
  std::vector<QDBusPendingCall> calls;
  QElapsedTimer sending;
  sending.start();
  int servers = 0;
  uint lastPid = 0;
  while (sending.elapsed() < 4000) {
    calls.push_back(m_bus.asyncCall(QDBusMessage::createMethodCall(kServiceName, kObjectPath, kInterfaceName, "GetNumTasks")));
    if (const uint pid = m_bus.interface()->servicePid(kServiceName); pid && pid != lastPid) {
      ++servers;
      lastPid = pid;
    }
    QThread::msleep(3);
  }
  for (QDBusPendingCall& call : calls) {
    call.waitForFinished();
    ASSERT_FALSE(call.isError()) << call.error().name().toStdString() << ": " << call.error().message().toStdString();
  }
  EXPECT_GT(servers, 1);  // the race was run: servers ended and new ones were started
  EXPECT_TRUE(ServerGone());
}

// The session ends while the server is sending long answers that nobody will read any more.
TEST_F(Server, ServerEndsWithItsBusWhileAnswering) {
  auto session = std::make_unique<test::CPrivateBus>();
  ASSERT_FALSE(session->Address().isEmpty());
  QProcess server;
  server.setProcessEnvironment(session->Env());
  server.start(ServerPath(), {});
  ASSERT_TRUE(server.waitForStarted());
  const auto stopServer = qScopeGuard([&] {
    server.kill();
    server.waitForFinished();
  });
  {
    QDBusConnection bus = QDBusConnection::connectToBus(session->Address(), "answering");
    ASSERT_TRUE(WaitFor([&] { return bus.interface()->isServiceRegistered(kServiceName).value(); }, 10000));
    COrvTaskMgrClient client(bus);
    ASSERT_EQ(client.CreateInstance(), S_OK);
    std::uint32_t taskID = 0;
    const QString longest = "/bin/true " + QString(::sysconf(_SC_ARG_MAX) - 100, 'x');
    ASSERT_EQ(client.CreateNewTask(NewTask(OnceAt(QDateTime(QDate(2099, 1, 1), QTime(0, 0))), longest), &taskID), S_OK);
    for (int i = 0; i < 40; ++i)
      bus.asyncCall(QDBusMessage::createMethodCall(kServiceName, kObjectPath, kInterfaceName, "GetTask") << taskID);
    QThread::msleep(20);
  }
  QDBusConnection::disconnectFromBus("answering");
  session.reset();
  EXPECT_TRUE(server.waitForFinished(15000));
}

// Helper process for the test above: takes a lock and waits to be killed.
int HoldLock(const QString& address) {
  QDBusConnection bus = QDBusConnection::connectToBus(address, "holder");
  COrvTaskMgrClient client(bus);
  if (client.CreateInstance() != S_OK) return 1;
  std::printf("locked\n");
  std::fflush(stdout);
  for (;;) QThread::sleep(1);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  RegisterTaskMgrTypes();
  if (argc == 3 && QByteArray(argv[1]) == "--hold-lock") return HoldLock(QString::fromLocal8Bit(argv[2]));
  ::testing::InitGoogleTest(&argc, argv);
  g_bus = new PrivateBus;
  ::testing::AddGlobalTestEnvironment(g_bus);
  return RUN_ALL_TESTS();
}
