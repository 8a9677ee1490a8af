// The client side of the task-manager interface, for programs that create and list scheduler
// tasks. CreateInstance starts the server through bus activation when needed and holds a lock
// on it (the server stays while a client holds one); Release gives the lock back, as does the
// destructor and, on the server's side, the client leaving the bus.
#pragma once

#include "taskmgr/taskstruct.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace taskmgr {

class COrvTaskMgrClient {
 public:
  explicit COrvTaskMgrClient(QDBusConnection connection = QDBusConnection::sessionBus(), int timeoutMs = 25000);
  ~COrvTaskMgrClient();
  COrvTaskMgrClient(const COrvTaskMgrClient&) = delete;
  COrvTaskMgrClient& operator=(const COrvTaskMgrClient&) = delete;

  HRESULT CreateInstance();
  HRESULT Release();
  bool HoldsInstance() const { return m_locked; }

  HRESULT CreateNewTask(const TASK_STRUCT& newTask, std::uint32_t* taskID);
  HRESULT GetNumTasks(std::int32_t* count);
  HRESULT GetTaskAt(std::int32_t index, TASK_STRUCT* task);
  HRESULT GetTask(std::uint32_t taskID, TASK_STRUCT* task);
  HRESULT DeleteTask(std::uint32_t taskID);

 private:
  // Sends one call; on success the reply's status code is returned and `reply` holds it.
  HRESULT Call(const char* method, const QList<QVariant>& arguments, QDBusMessage* reply);

  QDBusConnection m_connection;
  int m_timeoutMs;
  QDBusError::ErrorType m_lastError = QDBusError::NoError;
  bool m_locked = false;
};

}  // namespace taskmgr
