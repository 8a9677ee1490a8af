// orvsched: keeps the list of timed tasks, runs them when due, and serves the list on the
// session bus as com.zentrel.OrvSched. Switches: -RegServer, -UnregServer, -Startup, -Silent.
#include "orvsched/clock.h"
#include "orvsched/launcher.h"
#include "orvsched/registration.h"
#include "orvsched/scheduler.h"
#include "orvsched/taskmgrserver.h"
#include "orvsched/usage.h"
#include "platform/process.h"
#include "platform/versionrecord.h"
#include "taskmgr/taskmgrbus.h"

#include <QCoreApplication>
#include <QFile>
#include <QDBusConnectionInterface>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

// The version record that the installer reads from this file.
[[gnu::used]] constexpr platform::CVersionRecordBytes kVersionRecord =
    platform::MakeVersionRecord(VARNOW_VERSION_MAJOR, VARNOW_VERSION_MINOR, VARNOW_VERSION_PATCH,
                                VARNOW_VERSION_BUILD, "orvsched");

namespace {

using namespace orvsched;

// A server started by hand that no client reaches ends after this, if it has no tasks.
constexpr int kIdleGraceMs = 30000;

bool OwnServiceName(QDBusConnection& bus) {
  QDBusConnectionInterface* daemon = bus.interface();
  if (!daemon) return false;
  const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = daemon->registerService(
      QLatin1String(taskmgr::kServiceName), QDBusConnectionInterface::DontQueueService,
      QDBusConnectionInterface::DontAllowReplacement);
  return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

// A server lives on after whoever started it: holding their output open would keep a pipe
// reader (a shell's `$(...)`, a log collector) waiting until the session ends.
void LetGoOfTheStartersTerminal() {
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return;
  std::fflush(stdout);
  std::fflush(stderr);
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(null, fd);
  ::close(null);
}

// ORVSCHED_TEST_TIME_SCALE=N, for tests of the whole system only (unset or not a number above 1:
// the wall clock): the schedule runs N times faster than the wall clock, from the time the
// server starts, so that a test sees a task that runs every minute run every few seconds.
std::unique_ptr<CClock> MakeClock() {
  bool number = false;
  const double rate = qEnvironmentVariable("ORVSCHED_TEST_TIME_SCALE").toDouble(&number);
  if (number && rate > 1) return std::make_unique<CScaledClock>(rate);
  return std::make_unique<CSystemClock>();
}

int Serve(bool startupMode) {
  const QString self = QFile::decodeName(platform::ProgramPath().c_str());
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    std::fprintf(stderr, "orvsched: no session bus; running tasks without serving the list\n");
  CAutostartEntry autostart(self);
  TaskList list(TaskStorePath(), autostart);
  const std::unique_ptr<CClock> clock = MakeClock();
  CProcessLauncher launcher;
  CScheduler scheduler(list, *clock, launcher);
  if (bus.isConnected()) scheduler.SetSessionCheck([&bus] { return bus.isConnected(); });

  COrvTaskMgrServer server(list, bus, [&] {
    scheduler.Stop();
    // The name goes first, so that the daemon starts a new server for every call from now on.
    // Calls it routed here before are queued ahead of its answer; the object stays until the
    // event loop has answered them, so none of them meets a missing object.
    if (bus.isConnected()) bus.interface()->unregisterService(QLatin1String(taskmgr::kServiceName));
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
          bus.unregisterObject(QLatin1String(taskmgr::kObjectPath));
          QCoreApplication::quit();
        },
        Qt::QueuedConnection);
  });
  // The object is there before the name: the daemon hands the new owner the calls that made it
  // start this server at once, and they must not meet a missing object. They are answered once
  // the event loop runs, after the list has been read.
  if (bus.isConnected()) {
    if (!server.Publish()) {
      std::fprintf(stderr, "orvsched: cannot export %s\n", taskmgr::kObjectPath);
      return 1;
    }
    if (!OwnServiceName(bus)) return 0;  // another server has the name: it serves, this one ends at once
  }
  list.Load();
  if (!list.DamagedCopy().isEmpty())
    std::fprintf(stderr, "orvsched: the task store %s is damaged; the tasks read from it are kept and the file is saved as %s\n",
                 qPrintable(list.StorePath()), qPrintable(list.DamagedCopy()));
  if (startupMode && list.Count() == 0) return 0;

  scheduler.Start();
  LetGoOfTheStartersTerminal();
  QTimer::singleShot(kIdleGraceMs, &server, &COrvTaskMgrServer::CheckIdle);
  return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("orvsched %d.%d.%d.%d\n", VARNOW_VERSION_MAJOR, VARNOW_VERSION_MINOR, VARNOW_VERSION_PATCH,
                VARNOW_VERSION_BUILD);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(platform::HelpText(ServerUsage()).c_str(), stdout);
    return 0;
  }
  QCoreApplication app(argc, argv);
  taskmgr::RegisterTaskMgrTypes();
  const QString commandLine =
      QString::fromStdString(platform::JoinCommandLine(std::vector<std::string>(argv + 1, argv + argc)));
  const ServerSwitch choice = ParseServerCommandLine(commandLine);
  const QString self = QFile::decodeName(platform::ProgramPath().c_str());
  switch (choice) {
    case ServerSwitch::kRegServer:
      if (!RegisterServer(self)) {
        std::fprintf(stderr, "ORVSCHED could not be registered: %s or %s cannot be written\n",
                     qPrintable(ActivationFilePath()), qPrintable(InterfaceFilePath()));
        return 1;
      }
      std::printf("ORVSCHED successfully registered\n");
      return 0;
    case ServerSwitch::kUnregServer:
      if (!UnregisterServer(self)) {
        std::fprintf(stderr, "ORVSCHED could not be unregistered: %s or %s cannot be removed\n",
                     qPrintable(ActivationFilePath()), qPrintable(AutostartFilePath()));
        return 1;
      }
      std::printf("ORVSCHED successfully unregistered\n");
      return 0;
    case ServerSwitch::kStartup:
      if (!SystemActivationStarts(self)) RegisterServer(self);
      return Serve(true);
    case ServerSwitch::kSilent:
    case ServerSwitch::kNone:
      // An installer's registration line: unregistering ends here; registering goes on to serve.
      if (RequestedRegistration(commandLine) == ServerSwitch::kUnregServer) return UnregisterServer(self) ? 0 : 1;
      if (RequestedRegistration(commandLine) == ServerSwitch::kRegServer) RegisterServer(self);
      return Serve(false);
  }
  return 0;
}
