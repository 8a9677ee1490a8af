// Where the server keeps its files and how it makes itself known to the desktop: the task
// store's folder, the bus activation file with the interface description, the log-on
// autostart entry, and the server's command-line switches.
#pragma once

#include "orvsched/tasklist.h"

#include <QString>

namespace orvsched {

// ORVSCHED_DATA_DIR when set; else $XDG_DATA_HOME/orvsched (created), wherever the server runs
// from.
QString DataDirectory();
QString TaskStorePath();  // DataDirectory()/ORVSCHED.DAT

QString ActivationFilePath();  // $XDG_DATA_HOME/dbus-1/services/com.zentrel.OrvSched.service
QString InterfaceFilePath();   // $XDG_DATA_HOME/dbus-1/interfaces/com.zentrel.IOrvTaskMgr.xml
QString AutostartFilePath();   // $XDG_CONFIG_HOME/autostart/orvsched.desktop

// Writes the activation file (starting `serverPath`) and installs the interface description.
bool RegisterServer(const QString& serverPath);
// Removes the activation file and the autostart entry; the interface description stays. With a
// server path, a file that starts another server stays: another copy's registration.
bool UnregisterServer(const QString& serverPath = QString());
// Whether an activation file outside $XDG_DATA_HOME (a package's, in $XDG_DATA_DIRS) already
// starts `serverPath`: that server needs no file of its own, which would outlive the package.
bool SystemActivationStarts(const QString& serverPath);

// The autostart entry runs the server with the word STARTUP (no switch sign), so a server
// started at log-on simply serves.
class CAutostartEntry : public IStartupEntry {
 public:
  explicit CAutostartEntry(QString serverPath) : m_serverPath(std::move(serverPath)) {}
  bool Register() override;
  bool Unregister() override;

 private:
  QString m_serverPath;
};

enum class ServerSwitch { kNone, kRegServer, kUnregServer, kStartup, kSilent };

// Every "-" or "/" starts a token that runs to the end of the command line; a token equal to a
// switch name (in any case) selects it. So only a switch at the very end is seen:
// "-regserver -regsvr" selects nothing and the server serves.
ServerSwitch ParseServerCommandLine(const QString& commandLine);

// What a line that selects no switch above still asks for: kRegServer or kUnregServer when one
// of its blank-separated words is "-" or "/" and that switch's name (in any case), else kNone.
// Installers start the server with "-silent -regserver -regsvr" to register it and with
// "-silent -unregserver -unregsvr" to unregister it; the first also serves, as before.
ServerSwitch RequestedRegistration(const QString& commandLine);

}  // namespace orvsched
