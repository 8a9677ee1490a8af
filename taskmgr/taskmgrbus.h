// How the task-manager interface travels on the session bus: its names, its interface
// description, the (ussayyuu) marshalling of TASK_STRUCT and the mapping of transport
// failures to status codes.
#pragma once

#include "taskmgr/taskstruct.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QMetaType>

namespace taskmgr {

inline constexpr char kServiceName[] = "com.zentrel.OrvSched";
inline constexpr char kObjectPath[] = "/OrvTaskMgr";
inline constexpr char kInterfaceName[] = "com.zentrel.IOrvTaskMgr";
inline constexpr char kTaskStructSignature[] = "(ussayyuu)";

// The introspection document of the interface, as installed by the server's registration.
const char* InterfaceXml();

// Where the interface description is installed: $XDG_DATA_HOME/dbus-1/interfaces/
// com.zentrel.IOrvTaskMgr.xml. Installing it is the server's registration and also what a
// client does before it starts a server it could not reach.
QString InterfaceFilePath();
bool InstallInterfaceDescription();
// The session bus daemon's activation file of the server: $XDG_DATA_HOME/dbus-1/services/
// com.zentrel.OrvSched.service.
QString ActivationFilePath();
// The user's data folder (platform::DataHome) as a file name.
QString UserDataFolder();

// Makes TASK_STRUCT known to Qt's type system and to Qt D-Bus; call before any marshalling.
void RegisterTaskMgrTypes();

// Status code for a call that failed in transport (no reply from the interface itself).
HRESULT StatusFromBusError(const QDBusError& error);

}  // namespace taskmgr

Q_DECLARE_METATYPE(taskmgr::TASK_STRUCT)

QDBusArgument& operator<<(QDBusArgument& argument, const taskmgr::TASK_STRUCT& task);
const QDBusArgument& operator>>(const QDBusArgument& argument, taskmgr::TASK_STRUCT& task);
