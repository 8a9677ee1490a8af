// Reaching the scheduler service for one action of the alert dialog: each action connects
// afresh (the bus starts the service when it is registered) and lets go at its end. A failed
// attempt registers the scheduler's components again and starts its program, and the second
// attempt finds it serving. Nothing here blocks: replies and the server's start are watched.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/process.h"
#include "taskmgr/taskstruct.h"

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

// One action's connection, asynchronous: every call returns at once and its answer comes to the
// given function from the event loop, so a window that uses it never waits on the scheduler.
// The answers come only while the object lives; destroying it abandons what is still out and
// lets go of the server.
class CSchedulerConnection : public QObject {
 public:
  // How long the second attempt waits for a server it started to take its name on the bus.
  static constexpr int kServerStartMs = 10000;
  // How long one call may wait for its reply.
  static constexpr int kCallTimeoutMs = 25000;

  using Done = std::function<void(taskmgr::HRESULT hr)>;
  template <typename T>
  using DoneWith = std::function<void(taskmgr::HRESULT hr, const T& value)>;

  // traceAttempts: a failed attempt writes the trace line "CoCreate of TaskMgr returned %lX"
  // (an action that writes its own line asks not to).
  explicit CSchedulerConnection(bool traceAttempts = true, QDBusConnection bus = QDBusConnection::sessionBus(),
                                QObject* parent = nullptr);
  ~CSchedulerConnection() override;

  // Connects, in up to two attempts; the first failed one registers the scheduler's components
  // again and starts its program, and the second waits until it serves. With no session bus at
  // all nothing is registered or started.
  void Connect(Done done);
  // The last attempt's status; the calls below may be made only once it succeeded.
  taskmgr::HRESULT Result() const { return m_result; }

  void CreateNewTask(const taskmgr::TASK_STRUCT& task, DoneWith<std::uint32_t> done);
  void GetNumTasks(DoneWith<std::int32_t> done);
  void GetTaskAt(std::int32_t index, DoneWith<taskmgr::TASK_STRUCT> done);
  void GetTask(std::uint32_t taskID, DoneWith<taskmgr::TASK_STRUCT> done);
  void DeleteTask(std::uint32_t taskID, Done done);

 private:
  using Reply = std::function<void(const QDBusMessage& reply)>;
  // Sends one call; `done` gets its reply (an error reply when there is no bus).
  void Call(const char* method, const QList<QVariant>& arguments, Reply done);
  template <typename T>
  void CallFor(const char* method, const QList<QVariant>& arguments, DoneWith<T> done);
  void Attempt(int attempt, Done done);
  void Lock(Done done);
  // Runs `then` once the server started as `server` serves, has ended, or kServerStartMs pass.
  void WaitForServer(pid_t server, std::function<void()> then);

  QDBusConnection m_bus;
  bool m_traceAttempts;
  bool m_locked = false;
  taskmgr::HRESULT m_result = taskmgr::E_FAIL;
};

}  // namespace varnow
