// For tests: a session bus daemon of their own, started with data, configuration and home
// folders in a temporary folder, so that activation files and clients never reach the user's.
#pragma once

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <functional>

namespace taskmgr::test {

inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    if (condition()) return true;
    QThread::msleep(50);
  }
  return condition();
}

class CPrivateBus {
 public:
  // Starts the daemon; Address() is empty when that failed.
  CPrivateBus() {
    if (!m_root.isValid()) return;
    for (const char* folder : {"data", "config", "store", "out"}) QDir(m_root.path()).mkpath(folder);
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert("HOME", m_root.path());
    m_env.insert("XDG_DATA_HOME", Path("data"));
    m_env.insert("XDG_CONFIG_HOME", Path("config"));
    m_env.insert("ORVSCHED_DATA_DIR", Path("store"));
    m_env.remove("DBUS_SESSION_BUS_ADDRESS");
    m_daemon.setProcessEnvironment(m_env);
    m_daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!m_daemon.waitForStarted(10000)) return;
    WaitFor([&] { return m_daemon.canReadLine() || m_daemon.waitForReadyRead(100); }, 10000);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    m_env.insert("DBUS_SESSION_BUS_ADDRESS", m_address);
  }
  ~CPrivateBus() {
    m_daemon.terminate();
    m_daemon.waitForFinished(5000);
  }
  QString Path(const QString& name) const { return m_root.filePath(name); }
  const QString& Address() const { return m_address; }
  // The environment for programs on this bus (XDG folders, store folder and bus address).
  const QProcessEnvironment& Env() const { return m_env; }

 private:
  QTemporaryDir m_root;
  QProcess m_daemon;
  QString m_address;
  QProcessEnvironment m_env;
};

}  // namespace taskmgr::test
