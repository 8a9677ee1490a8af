// The task-manager object on the session bus, and the server lock that decides when the
// server ends. The server holds one lock on itself while it serves; each client Lock adds one.
// The server ends when the count reaches zero, and releases its own lock once no client holds
// one and the list is empty. A client that leaves the bus (or is killed) gives up its locks;
// a client that calls without ever locking counts as locking for just that call. The server
// also ends when its bus connection is lost, since a server outside any session would run
// every task a second time beside the next session's server.
#pragma once

#include "orvsched/tasklist.h"
#include "taskmgr/taskmgrbus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>

namespace orvsched {

// The longest description a new task may have: a few lines of text naming a folder.
inline constexpr qsizetype kMaxDescriptionBytes = 8192;

class COrvTaskMgrServer : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.zentrel.IOrvTaskMgr")

 public:
  // `shutdown` is called once, from the event loop, when the last lock has gone.
  COrvTaskMgrServer(TaskList& list, QDBusConnection bus, std::function<void()> shutdown);

  // Exports the object; false when the path is taken.
  bool Publish();
  // Ends a server that nobody uses: no client lock and an empty list.
  void CheckIdle();

 public Q_SLOTS:
  int CreateNewTask(const taskmgr::TASK_STRUCT& newTask, uint& taskID);
  int GetNumTasks(int& count);
  int GetTaskAt(int index, taskmgr::TASK_STRUCT& task);
  int GetTask(uint taskID, taskmgr::TASK_STRUCT& task);
  int DeleteTask(uint taskID);
  int Lock();
  int Unlock();

 private Q_SLOTS:
  void OnClientGone(const QString& client);
  // The bus went away (the session ended): the next session's server takes over the tasks.
  void OnBusLost();

 private:
  void AfterCall();
  // S_OK, or why a new task is refused.
  taskmgr::HRESULT CheckNewTask(const taskmgr::TASK_STRUCT& newTask);
  void ReleaseLock();
  QString Caller() const;

  TaskList& m_list;
  QDBusConnection m_bus;
  std::function<void()> m_shutdown;
  int m_serverLocks = 1;  // the server's hold on itself
  bool m_selfLock = true;
  bool m_ended = false;
  QHash<QString, int> m_clientLocks;
  QDBusServiceWatcher m_watcher;
  // Looks at the connection now and then: the loss of the bus is not always announced (a
  // connection broken while a reply is being sent, say).
  QTimer m_busCheck;
};

}  // namespace orvsched
