// The client side of the task-manager interface, for programs that create and list scheduler
// tasks. CreateInstance starts the server through bus activation when needed and holds a lock
// on it (the server stays while a client holds one); Release gives the lock back, as does the
// destructor and, on the server's side, the client leaving the bus.
#pragma once

#include "taskmgr/taskstruct.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>

namespace taskmgr {

// The pieces of one call, shared by this blocking client and the asynchronous one of the
// tracker's alert dialog.
QDBusMessage TaskMgrCall(const char* method, const QList<QVariant>& arguments);
// The status code a reply carries: the interface's own, or the transport failure's.
HRESULT ReplyStatus(const QDBusMessage& reply);
// A refused Lock that is worth asking once more, a moment later: the server is just ending
// (or, an older server, has withdrawn its object while it still held the name); once it has
// let go, the next call activates a fresh one.
bool LockWorthRetrying(const QDBusMessage& reply);
// How long to wait before that second Lock.
inline constexpr int kLockRetryMs = 200;

// Reads out value `index` of a reply into `out`; false when the reply has another shape.
template <typename T>
bool ReplyValue(const QDBusMessage& reply, int index, T* out) {
  const QList<QVariant> values = reply.arguments();
  if (index >= values.size()) return false;
  const QVariant& value = values.at(index);
  if (value.canConvert<QDBusArgument>()) {
    *out = qdbus_cast<T>(value.value<QDBusArgument>());
    return true;
  }
  if (!value.canConvert<T>()) return false;
  *out = value.value<T>();
  return true;
}

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
  bool m_locked = false;
};

}  // namespace taskmgr
