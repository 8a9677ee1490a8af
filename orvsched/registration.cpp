#include "orvsched/registration.h"

#include "taskmgr/taskmgrbus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace orvsched {
namespace {

QString DataHome() { return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation); }

bool WriteFileAtomically(const QString& path, const QByteArray& bytes) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(bytes);
  return file.commit();
}

bool RemoveIfPresent(const QString& path) { return !QFileInfo::exists(path) || QFile::remove(path); }

// The bus daemon reads Exec with shell-like quoting.
QString ShellQuoted(const QString& text) {
  QString quoted = text;
  quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
  return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// A desktop entry's Exec: double quotes with \ " ` $ escaped, then the string-level escape
// of backslashes, and %% for a literal percent sign.
QString DesktopExecQuoted(const QString& text) {
  QString quoted;
  for (const QChar c : text) {
    if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
      quoted += QLatin1Char('\\');
    quoted += c;
  }
  quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
  quoted.replace(QLatin1Char('%'), QLatin1String("%%"));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QString DataDirectory() {
  const QString overridden = qEnvironmentVariable("ORVSCHED_DATA_DIR");
  if (!overridden.isEmpty()) return overridden;
  // Never the program's own folder: a build tree or a package removes it, the tasks must stay.
  const QString folder = DataHome() + QLatin1String("/orvsched");
  QDir().mkpath(folder);
  return folder;
}

QString TaskStorePath() { return DataDirectory() + QLatin1String("/ORVSCHED.DAT"); }

QString ActivationFilePath() {
  return DataHome() + QLatin1String("/dbus-1/services/") + QLatin1String(taskmgr::kServiceName) +
         QLatin1String(".service");
}

QString InterfaceFilePath() { return taskmgr::InterfaceFilePath(); }

QString AutostartFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QLatin1String("/autostart/orvsched.desktop");
}

bool RegisterServer(const QString& serverPath) {
  const QString service = QLatin1String("[D-BUS Service]\nName=") + QLatin1String(taskmgr::kServiceName) +
                          QLatin1String("\nExec=") + ShellQuoted(serverPath) + QLatin1Char('\n');
  const bool activation = WriteFileAtomically(ActivationFilePath(), service.toUtf8());
  const bool description = taskmgr::InstallInterfaceDescription();
  return activation && description;
}

bool UnregisterServer() {
  const bool activation = RemoveIfPresent(ActivationFilePath());
  const bool autostart = RemoveIfPresent(AutostartFilePath());
  return activation && autostart;
}

bool CAutostartEntry::Register() {
  const QString entry = QLatin1String(
                            "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=OrvSched\n"
                            "Comment=Runs the scheduled tasks of Varnow\n"
                            "Exec=") +
                        DesktopExecQuoted(m_serverPath) +
                        QLatin1String(
                            " STARTUP\n"
                            "NoDisplay=true\n"
                            "Terminal=false\n");
  return WriteFileAtomically(AutostartFilePath(), entry.toUtf8());
}

bool CAutostartEntry::Unregister() { return RemoveIfPresent(AutostartFilePath()); }

ServerSwitch ParseServerCommandLine(const QString& commandLine) {
  static const struct {
    const char* name;
    ServerSwitch value;
  } kSwitches[] = {{"UnregServer", ServerSwitch::kUnregServer},
                   {"RegServer", ServerSwitch::kRegServer},
                   {"Startup", ServerSwitch::kStartup},
                   {"Silent", ServerSwitch::kSilent}};
  ServerSwitch found = ServerSwitch::kNone;
  for (qsizetype i = 0; i < commandLine.size(); ++i) {
    if (commandLine[i] != QLatin1Char('-') && commandLine[i] != QLatin1Char('/')) continue;
    const QStringView token = QStringView(commandLine).mid(i + 1);
    for (const auto& s : kSwitches)
      if (token.compare(QLatin1String(s.name), Qt::CaseInsensitive) == 0) found = s.value;
  }
  return found;
}

ServerSwitch RequestedRegistration(const QString& commandLine) {
  ServerSwitch found = ServerSwitch::kNone;
  for (const QString& word : commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (!word.startsWith(QLatin1Char('-')) && !word.startsWith(QLatin1Char('/'))) continue;
    const QStringView name = QStringView(word).mid(1);
    if (name.compare(QLatin1String("UnregServer"), Qt::CaseInsensitive) == 0) return ServerSwitch::kUnregServer;
    if (name.compare(QLatin1String("RegServer"), Qt::CaseInsensitive) == 0) found = ServerSwitch::kRegServer;
  }
  return found;
}

}  // namespace orvsched
