#include "orvsched/taskmgrserver.h"

#include "orvsched/launcher.h"
#include "orvsched/nextrun.h"

#include <QDBusMessage>
#include <QMetaObject>

#include <unistd.h>

#include <algorithm>

namespace orvsched {

using namespace taskmgr;

namespace {
constexpr int kBusCheckMs = 2000;
}  // namespace

COrvTaskMgrServer::COrvTaskMgrServer(TaskList& list, QDBusConnection bus, std::function<void()> shutdown)
    : m_list(list), m_bus(std::move(bus)), m_shutdown(std::move(shutdown)) {
  m_watcher.setConnection(m_bus);
  m_watcher.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
  connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &COrvTaskMgrServer::OnClientGone);
  // The library delivers the loss of the connection as this local signal.
  m_bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"), QStringLiteral("org.freedesktop.DBus.Local"),
                QStringLiteral("Disconnected"), this, SLOT(OnBusLost()));
  if (m_bus.isConnected()) {
    connect(&m_busCheck, &QTimer::timeout, this, [this] {
      if (!m_bus.isConnected()) OnBusLost();
    });
    m_busCheck.start(kBusCheckMs);
  }
}

bool COrvTaskMgrServer::Publish() {
  return m_bus.registerObject(QLatin1String(kObjectPath), this, QDBusConnection::ExportAllSlots);
}

QString COrvTaskMgrServer::Caller() const { return calledFromDBus() ? message().service() : QString(); }

void COrvTaskMgrServer::AfterCall() {
  // A caller without a lock has already let go when the reply reaches it.
  if (!m_clientLocks.contains(Caller()))
    QMetaObject::invokeMethod(this, &COrvTaskMgrServer::CheckIdle, Qt::QueuedConnection);
}

int COrvTaskMgrServer::CreateNewTask(const TASK_STRUCT& newTask, uint& taskID) {
  AfterCall();
  taskID = 0;
  if (m_ended) return CO_E_SERVER_EXEC_FAILURE;
  const HRESULT refused = CheckNewTask(newTask);
  if (refused != S_OK) return refused;
  const ScheduledTask task = m_list.MakeTask(newTask);
  if (!m_list.Add(task)) return E_FAIL;
  taskID = task.taskID;
  return S_OK;
}

HRESULT COrvTaskMgrServer::CheckNewTask(const TASK_STRUCT& newTask) {
  // A trigger the scheduler cannot step through would never run (or would stall it).
  if (!IsUsableTrigger(newTask.taskTrigger)) return E_INVALIDARG;
  // Nothing longer than a program can be started with: the store and every answer carry the
  // texts whole, and an answer too long for the bus cannot be sent at all.
  static const long argMax = std::max(::sysconf(_SC_ARG_MAX), 4096L);
  if (newTask.cmdLine.size() > argMax || newTask.cmdLine.toUtf8().size() > argMax) return E_INVALIDARG;
  if (newTask.description.size() > kMaxDescriptionBytes ||
      newTask.description.toUtf8().size() > kMaxDescriptionBytes)
    return E_INVALIDARG;
  // A program that is not there now would fail at every run without anyone seeing it.
  if (newTask.taskType == atEXECUTE && !NamesStartableProgram(newTask.cmdLine.toStdString())) return E_INVALIDARG;
  return S_OK;
}

int COrvTaskMgrServer::GetNumTasks(int& count) {
  AfterCall();
  count = m_list.Count();
  return S_OK;
}

int COrvTaskMgrServer::GetTaskAt(int index, TASK_STRUCT& task) {
  AfterCall();
  ScheduledTask found;
  if (!m_list.GetAt(index, &found)) return E_FAIL;
  task = StructFromTask(found);
  return S_OK;
}

int COrvTaskMgrServer::GetTask(uint taskID, TASK_STRUCT& task) {
  AfterCall();
  ScheduledTask found;
  if (!m_list.GetById(taskID, &found)) return E_FAIL;
  task = StructFromTask(found);
  return S_OK;
}

int COrvTaskMgrServer::DeleteTask(uint taskID) {
  AfterCall();
  return m_list.Remove(taskID) ? S_OK : E_FAIL;
}

int COrvTaskMgrServer::Lock() {
  if (m_ended) return CO_E_SERVER_EXEC_FAILURE;
  const QString client = Caller();
  if (m_clientLocks[client]++ == 0 && !client.isEmpty()) m_watcher.addWatchedService(client);
  ++m_serverLocks;
  return S_OK;
}

int COrvTaskMgrServer::Unlock() {
  const QString client = Caller();
  const auto it = m_clientLocks.find(client);
  if (it == m_clientLocks.end()) return E_FAIL;  // only a holder can give a lock back
  if (--it.value() == 0) {
    m_clientLocks.erase(it);
    m_watcher.removeWatchedService(client);
  }
  // Ending the server here would lose this reply: decide once the call is answered.
  QMetaObject::invokeMethod(this, &COrvTaskMgrServer::ReleaseLock, Qt::QueuedConnection);
  return S_OK;
}

void COrvTaskMgrServer::OnClientGone(const QString& client) {
  const int held = m_clientLocks.take(client);
  m_watcher.removeWatchedService(client);
  for (int i = 0; i < held; ++i) ReleaseLock();
}

void COrvTaskMgrServer::OnBusLost() {
  if (m_ended) return;
  m_ended = true;
  m_shutdown();
}

void COrvTaskMgrServer::ReleaseLock() {
  if (m_ended) return;
  --m_serverLocks;
  if (m_serverLocks == 1 && m_selfLock && m_list.Count() == 0) {
    m_selfLock = false;
    --m_serverLocks;
  }
  if (m_serverLocks == 0) {
    m_ended = true;
    m_shutdown();
  }
}

void COrvTaskMgrServer::CheckIdle() {
  if (!m_ended && m_serverLocks == 1 && m_selfLock && m_list.Count() == 0) {
    m_selfLock = false;
    m_serverLocks = 0;
    m_ended = true;
    m_shutdown();
  }
}

}  // namespace orvsched
