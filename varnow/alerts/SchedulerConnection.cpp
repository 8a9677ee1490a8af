#include "varnow/alerts/SchedulerConnection.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/tracelog.h"
#include "taskmgr/taskmgrbus.h"

namespace varnow {
namespace {
constexpr char kSchedulerProgram[] = "orvsched";
}  // namespace

std::string StatusText(taskmgr::HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
  return text;
}

std::string FindSchedulerProgram(const std::string& folder) {
  if (!folder.empty()) {
    const std::string beside = folder + (folder.back() == '/' ? "" : "/") + kSchedulerProgram;
    if (::access(beside.c_str(), X_OK) == 0) return beside;
  }
  return QStandardPaths::findExecutable(QLatin1String(kSchedulerProgram)).toStdString();
}

std::string MissingSchedulerText(const std::string& folder) {
  if (!FindSchedulerProgram(folder).empty()) return {};
  const char* path = std::getenv("PATH");
  return std::string("The scheduler program ") + kSchedulerProgram + " was not found; it was looked for in " +
         (folder.empty() ? std::string() : folder + ", then ") + "on PATH (" + (path ? path : "") + ").";
}

pid_t RegisterSchedulerComponents(const std::string& folder) {
  try {
    taskmgr::InstallInterfaceDescription();  // a failure shows in the next attempt
    const std::string program = FindSchedulerProgram(folder);
    if (program.empty()) return 0;
    return platform::StartQuietly({program, "-regserver", "-regsvr"});
  } catch (...) {
    VN_TRACE("** Exception in RegisterSchedulerComponents\n");
  }
  return 0;
}

CSchedulerConnection::CSchedulerConnection(bool traceAttempts, QDBusConnection bus)
    : m_bus(bus), m_client(std::move(bus)) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    m_result = m_client.CreateInstance();
    if (taskmgr::Succeeded(m_result)) return;
    if (traceAttempts)
      VN_TRACE("CoCreate of TaskMgr returned %lX\n", static_cast<unsigned long>(static_cast<std::uint32_t>(m_result)));
    // Without a session bus nobody could reach a server, and one started all the same would run
    // the stored tasks beside any other.
    if (!m_bus.isConnected()) continue;
    const pid_t server = RegisterSchedulerComponents();
    if (attempt == 0)
      WaitForServer(server);
    else if (server != 0)
      platform::ReapLater(server);
  }
}

void CSchedulerConnection::WaitForServer(pid_t server) {
  if (server == 0) return;
  QDBusConnectionInterface* daemon = m_bus.isConnected() ? m_bus.interface() : nullptr;
  QElapsedTimer waited;
  waited.start();
  while (daemon && waited.elapsed() < kServerStartMs) {
    if (daemon->isServiceRegistered(QLatin1String(taskmgr::kServiceName)).value()) break;
    if (platform::WaitForExit(server, std::chrono::milliseconds(0))) return;  // it ended: the second attempt will tell
    QThread::msleep(50);
  }
  platform::ReapLater(server);
}

}  // namespace varnow
