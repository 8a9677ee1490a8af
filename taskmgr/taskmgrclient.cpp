#include "taskmgr/taskmgrclient.h"

#include "taskmgr/taskmgrbus.h"

#include <QDBusArgument>
#include <QThread>

namespace taskmgr {
namespace {

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

}  // namespace

COrvTaskMgrClient::COrvTaskMgrClient(QDBusConnection connection, int timeoutMs)
    : m_connection(std::move(connection)), m_timeoutMs(timeoutMs) {
  RegisterTaskMgrTypes();
}

COrvTaskMgrClient::~COrvTaskMgrClient() {
  if (m_locked) Release();
}

HRESULT COrvTaskMgrClient::Call(const char* method, const QList<QVariant>& arguments, QDBusMessage* reply) {
  if (!m_connection.isConnected()) return REGDB_E_CLASSNOTREG;
  QDBusMessage call = QDBusMessage::createMethodCall(kServiceName, kObjectPath, kInterfaceName, method);
  call.setArguments(arguments);
  *reply = m_connection.call(call, QDBus::Block, m_timeoutMs);
  m_lastError = reply->type() == QDBusMessage::ReplyMessage ? QDBusError::NoError : QDBusError(*reply).type();
  if (m_lastError != QDBusError::NoError) return StatusFromBusError(QDBusError(*reply));
  const QList<QVariant> values = reply->arguments();
  if (values.isEmpty() || values.first().metaType() != QMetaType::fromType<int>()) return E_FAIL;
  return values.first().toInt();
}

HRESULT COrvTaskMgrClient::CreateInstance() {
  if (m_locked) return S_OK;
  QDBusMessage reply;
  HRESULT hr = Call("Lock", {}, &reply);
  // A server that is just ending refuses new locks (or, from an older server, has withdrawn
  // its object while it still held the name); once it has let go, the next call activates a
  // fresh one.
  const bool ending = m_lastError == QDBusError::NoError && hr == CO_E_SERVER_EXEC_FAILURE;
  if (ending || m_lastError == QDBusError::UnknownObject || m_lastError == QDBusError::UnknownMethod) {
    QThread::msleep(200);
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
