// Reaching the scheduler service for one action of the alert dialog: each action connects
// afresh (the bus starts the service when it is registered) and lets go at its end. A failed
// attempt registers the scheduler's components again and starts its program, and the second
// attempt finds it serving.
#pragma once

#include <QDBusConnection>

#include <sys/types.h>

#include <string>

#include "platform/process.h"
#include "taskmgr/taskmgrclient.h"

namespace varnow {

// A status code as the messages and trace lines show it: "80040154".
std::string StatusText(taskmgr::HRESULT hr);

// Installs the task manager's interface description and starts "orvsched -regserver -regsvr"
// (which registers the service, then serves) from `folder`, else from PATH, without waiting for
// it. Returns the started process's id, 0 when no program could be started; the caller collects
// its exit.
pid_t RegisterSchedulerComponents(const std::string& folder = platform::ProgramFolder());

// The path of the scheduler program: beside the tracker (in `folder`) first, then on PATH;
// empty when neither has one.
std::string FindSchedulerProgram(const std::string& folder = platform::ProgramFolder());
// "" when the scheduler program can be found; otherwise a sentence that names it and where it
// was looked for, for the messages that tell why the scheduler could not be reached.
std::string MissingSchedulerText(const std::string& folder = platform::ProgramFolder());

class CSchedulerConnection {
 public:
  // How long the second attempt waits for a server it started to take its name on the bus.
  static constexpr int kServerStartMs = 10000;

  // Connects, in up to two attempts. traceAttempts: a failed attempt writes the trace line
  // "CoCreate of TaskMgr returned %lX" (an action that writes its own line asks not to). With
  // no session bus at all nothing is registered or started.
  explicit CSchedulerConnection(bool traceAttempts = true, QDBusConnection bus = QDBusConnection::sessionBus());
  CSchedulerConnection(const CSchedulerConnection&) = delete;
  CSchedulerConnection& operator=(const CSchedulerConnection&) = delete;

  // The last attempt's status; the task manager may be used only when it succeeded.
  taskmgr::HRESULT Result() const { return m_result; }
  taskmgr::COrvTaskMgrClient& TaskMgr() { return m_client; }

 private:
  // Waits until the server started by `server` serves, ends, or kServerStartMs pass.
  void WaitForServer(pid_t server);

  QDBusConnection m_bus;
  taskmgr::COrvTaskMgrClient m_client;
  taskmgr::HRESULT m_result = taskmgr::E_FAIL;
};

}  // namespace varnow
