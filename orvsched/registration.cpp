#include "orvsched/registration.h"

#include "platform/desktop.h"
#include "platform/process.h"
#include "platform/xdgdirs.h"

#include "taskmgr/taskmgrbus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace orvsched {
namespace {

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

QByteArray ActivationExec(const QString& serverPath) { return ShellQuoted(serverPath).toUtf8(); }

QByteArray AutostartExec(const QString& serverPath) {
  return QByteArray::fromStdString(platform::DesktopExecValue({QFile::encodeName(serverPath).toStdString(), "STARTUP"}));
}

// Whether the file has an Exec line other than this one: it starts another copy's server.
bool StartsOther(const QString& path, const QByteArray& exec) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : file.read(1 << 20).split('\n'))
    if (line.startsWith("Exec=")) return line != QByteArrayLiteral("Exec=") + exec;
  return false;
}

}  // namespace

QString DataDirectory() {
  const QString overridden = qEnvironmentVariable("ORVSCHED_DATA_DIR");
  if (!overridden.isEmpty()) return overridden;
  // Never the program's own folder: a build tree or a package removes it, the tasks must stay.
  const QString folder = taskmgr::UserDataFolder() + QLatin1String("/orvsched");
  QDir().mkpath(folder);
  return folder;
}

QString TaskStorePath() { return DataDirectory() + QLatin1String("/ORVSCHED.DAT"); }

QString ActivationFilePath() { return taskmgr::ActivationFilePath(); }

QString InterfaceFilePath() { return taskmgr::InterfaceFilePath(); }

QString AutostartFilePath() {
  return QFile::decodeName(platform::ConfigHome().c_str()) + QLatin1String("/autostart/orvsched.desktop");
}

bool RegisterServer(const QString& serverPath) {
  const QByteArray service = QByteArrayLiteral("[D-BUS Service]\nName=") + taskmgr::kServiceName +
                             QByteArrayLiteral("\nExec=") + ActivationExec(serverPath) + '\n';
  const bool activation = WriteFileAtomically(ActivationFilePath(), service);
  const bool description = taskmgr::InstallInterfaceDescription();
  return activation && description;
}

bool UnregisterServer(const QString& serverPath) {
  if (!serverPath.isEmpty()) {
    const bool activation = StartsOther(ActivationFilePath(), ActivationExec(serverPath)) ||
                            RemoveIfPresent(ActivationFilePath());
    const bool autostart = StartsOther(AutostartFilePath(), AutostartExec(serverPath)) ||
                           RemoveIfPresent(AutostartFilePath());
    return activation && autostart;
  }
  const bool activation = RemoveIfPresent(ActivationFilePath());
  const bool autostart = RemoveIfPresent(AutostartFilePath());
  return activation && autostart;
}

bool SystemActivationStarts(const QString& serverPath) {
  const QString name = QLatin1String("dbus-1/services/") + QLatin1String(taskmgr::kServiceName) + QLatin1String(".service");
  const QString own = ActivationFilePath();
  for (const QString& path : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, name)) {
    if (QFileInfo(path).absoluteFilePath() == QFileInfo(own).absoluteFilePath()) continue;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& line : file.readAll().split('\n')) {
      const QByteArray exec = line.trimmed();
      if (exec == "Exec=" + QFile::encodeName(serverPath) || exec == "Exec=" + ShellQuoted(serverPath).toUtf8())
        return true;
    }
  }
  return false;
}

bool CAutostartEntry::Register() {
  const QByteArray exec = AutostartExec(m_serverPath);
  const QByteArray entry = QByteArrayLiteral(
                               "[Desktop Entry]\n"
                               "Type=Application\n"
                               "Name=OrvSched\n"
                               "Comment=Runs the scheduled tasks of Varnow\n"
                               "Exec=") +
                           exec +
                           QByteArrayLiteral(
                               "\n"
                               "NoDisplay=true\n"
                               "Terminal=false\n");
  return WriteFileAtomically(AutostartFilePath(), entry);
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
