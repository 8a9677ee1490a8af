#include "taskmgr/taskmgrclient.h"

#include "taskmgr/taskmgrbus.h"

#include <QDBusArgument>
#include <QThread>

namespace taskmgr {

QDBusMessage TaskMgrCall(const char* method, const QList<QVariant>& arguments) {
  QDBusMessage call = QDBusMessage::createMethodCall(kServiceName, kObjectPath, kInterfaceName, method);
  call.setArguments(arguments);
  return call;
}

HRESULT ReplyStatus(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ReplyMessage) return StatusFromBusError(QDBusError(reply));
  const QList<QVariant> values = reply.arguments();
  if (values.isEmpty() || values.first().metaType() != QMetaType::fromType<int>()) return E_FAIL;
  return values.first().toInt();
}

bool LockWorthRetrying(const QDBusMessage& reply) {
  if (reply.type() == QDBusMessage::ReplyMessage) return ReplyStatus(reply) == CO_E_SERVER_EXEC_FAILURE;
  const QDBusError::ErrorType error = QDBusError(reply).type();
  return error == QDBusError::UnknownObject || error == QDBusError::UnknownMethod;
}

COrvTaskMgrClient::COrvTaskMgrClient(QDBusConnection connection, int timeoutMs)
    : m_connection(std::move(connection)), m_timeoutMs(timeoutMs) {
  RegisterTaskMgrTypes();
}

COrvTaskMgrClient::~COrvTaskMgrClient() {
  if (m_locked) Release();
}

HRESULT COrvTaskMgrClient::Call(const char* method, const QList<QVariant>& arguments, QDBusMessage* reply) {
  if (!m_connection.isConnected()) return REGDB_E_CLASSNOTREG;
  *reply = m_connection.call(TaskMgrCall(method, arguments), QDBus::Block, m_timeoutMs);
  return ReplyStatus(*reply);
}

HRESULT COrvTaskMgrClient::CreateInstance() {
  if (m_locked) return S_OK;
  QDBusMessage reply;
  HRESULT hr = Call("Lock", {}, &reply);
  if (LockWorthRetrying(reply)) {
    QThread::msleep(kLockRetryMs);
    hr = Call("Lock", {}, &reply);
  }
  m_locked = Succeeded(hr);
  return hr;
}

HRESULT COrvTaskMgrClient::Release() {
  if (!m_locked) return S_OK;
  m_locked = false;
  QDBusMessage reply;
  return Call("Unlock", {}, &reply);
}

HRESULT COrvTaskMgrClient::CreateNewTask(const TASK_STRUCT& newTask, std::uint32_t* taskID) {
  QDBusMessage reply;
  HRESULT hr = Call("CreateNewTask", {QVariant::fromValue(newTask)}, &reply);
  if (Succeeded(hr) && taskID && !ReplyValue(reply, 1, taskID)) hr = E_FAIL;
  return hr;
}

HRESULT COrvTaskMgrClient::GetNumTasks(std::int32_t* count) {
  QDBusMessage reply;
  HRESULT hr = Call("GetNumTasks", {}, &reply);
  if (Succeeded(hr) && count && !ReplyValue(reply, 1, count)) hr = E_FAIL;
  return hr;
}

HRESULT COrvTaskMgrClient::GetTaskAt(std::int32_t index, TASK_STRUCT* task) {
  QDBusMessage reply;
  HRESULT hr = Call("GetTaskAt", {index}, &reply);
  if (Succeeded(hr) && task && !ReplyValue(reply, 1, task)) hr = E_FAIL;
  return hr;
}

HRESULT COrvTaskMgrClient::GetTask(std::uint32_t taskID, TASK_STRUCT* task) {
  QDBusMessage reply;
  HRESULT hr = Call("GetTask", {taskID}, &reply);
  if (Succeeded(hr) && task && !ReplyValue(reply, 1, task)) hr = E_FAIL;
  return hr;
}

HRESULT COrvTaskMgrClient::DeleteTask(std::uint32_t taskID) {
  QDBusMessage reply;
  return Call("DeleteTask", {taskID}, &reply);
}

}  // namespace taskmgr
