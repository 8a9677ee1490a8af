#include "taskmgr/taskmgrbus.h"
#include "taskmgr/interfacexml.h"

#include <QDBusMetaType>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cstring>

#include "platform/xdgdirs.h"

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

const char* InterfaceXml() { return kInterfaceXmlText; }

QString UserDataFolder() { return QFile::decodeName(platform::DataHome().c_str()); }

QString InterfaceFilePath() {
  return UserDataFolder() + QLatin1String("/dbus-1/interfaces/") + QLatin1String(kInterfaceName) + QLatin1String(".xml");
}

QString ActivationFilePath() {
  return UserDataFolder() + QLatin1String("/dbus-1/services/") + QLatin1String(kServiceName) + QLatin1String(".service");
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
