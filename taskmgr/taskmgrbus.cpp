#include "taskmgr/taskmgrbus.h"

#include <QDBusMetaType>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstring>

namespace taskmgr {

TriggerBytes ToBytes(const TASK_TRIGGER& trigger) {
  TriggerBytes bytes;
  std::memcpy(bytes.data(), &trigger, bytes.size());
  return bytes;
}

TASK_TRIGGER FromBytes(const TriggerBytes& bytes) {
  TASK_TRIGGER trigger;
  std::memcpy(&trigger, bytes.data(), bytes.size());
  return trigger;
}

const char* InterfaceXml() {
  return R"xml(<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<!-- TASK_STRUCT = (taskType u, description s, cmdLine s, taskTrigger ay [48 bytes],
     bRunMinimized y, taskID u, taskOwner u). Every method returns its status code first. -->
<node>
  <interface name="com.zentrel.IOrvTaskMgr">
    <method name="CreateNewTask">
      <arg name="newTask" type="(ussayyuu)" direction="in"/>
      <arg name="hr" type="i" direction="out"/>
      <arg name="taskID" type="u" direction="out"/>
    </method>
    <method name="GetNumTasks">
      <arg name="hr" type="i" direction="out"/>
      <arg name="count" type="i" direction="out"/>
    </method>
    <method name="GetTaskAt">
      <arg name="index" type="i" direction="in"/>
      <arg name="hr" type="i" direction="out"/>
      <arg name="task" type="(ussayyuu)" direction="out"/>
    </method>
    <method name="GetTask">
      <arg name="taskID" type="u" direction="in"/>
      <arg name="hr" type="i" direction="out"/>
      <arg name="task" type="(ussayyuu)" direction="out"/>
    </method>
    <method name="DeleteTask">
      <arg name="taskID" type="u" direction="in"/>
      <arg name="hr" type="i" direction="out"/>
    </method>
    <method name="Lock">
      <arg name="hr" type="i" direction="out"/>
    </method>
    <method name="Unlock">
      <arg name="hr" type="i" direction="out"/>
    </method>
  </interface>
</node>
)xml";
}

QString InterfaceFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QLatin1String("/dbus-1/interfaces/") + QLatin1String(kInterfaceName) + QLatin1String(".xml");
}

bool InstallInterfaceDescription() {
  const QString path = InterfaceFilePath();
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(InterfaceXml());
  return file.commit();
}

void RegisterTaskMgrTypes() {
  static const bool registered = [] {
    qDBusRegisterMetaType<TASK_STRUCT>();
    return true;
  }();
  (void)registered;
}

HRESULT StatusFromBusError(const QDBusError& error) {
  switch (error.type()) {
    case QDBusError::ServiceUnknown:
      return REGDB_E_CLASSNOTREG;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
      return CO_E_SERVER_EXEC_FAILURE;
    default:
      return E_FAIL;
  }
}

}  // namespace taskmgr

QDBusArgument& operator<<(QDBusArgument& argument, const taskmgr::TASK_STRUCT& task) {
  const taskmgr::TriggerBytes trigger = taskmgr::ToBytes(task.taskTrigger);
  argument.beginStructure();
  argument << task.taskType << task.description << task.cmdLine
           << QByteArray(reinterpret_cast<const char*>(trigger.data()), trigger.size())
           << static_cast<uchar>(task.bRunMinimized) << task.taskID << task.taskOwner;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, taskmgr::TASK_STRUCT& task) {
  QByteArray trigger;
  uchar runMinimized = 0;
  argument.beginStructure();
  argument >> task.taskType >> task.description >> task.cmdLine >> trigger >> runMinimized >> task.taskID >>
      task.taskOwner;
  argument.endStructure();
  // Bytes of another length are no trigger: an all-zero one (size 0) is refused as unusable.
  taskmgr::TriggerBytes bytes{};
  if (static_cast<std::size_t>(trigger.size()) == bytes.size())
    std::memcpy(bytes.data(), trigger.constData(), bytes.size());
  task.taskTrigger = taskmgr::FromBytes(bytes);
  task.bRunMinimized = static_cast<std::int8_t>(runMinimized);
  return argument;
}
