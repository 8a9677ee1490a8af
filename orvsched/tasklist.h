// The server's one list of tasks, kept in insertion order and saved to the task store after
// every change. Every operation holds the list lock, which is re-entrant so that Add and
// Remove can save while holding it. Tasks are handed out only as copies.
#pragma once

#include "orvsched/clock.h"
#include "orvsched/scheduledtask.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace orvsched {

// The entry that starts the server when the user logs on; it is kept while the list has tasks.
class IStartupEntry {
 public:
  virtual ~IStartupEntry() = default;
  virtual bool Register() = 0;
  virtual bool Unregister() = 0;
};

enum ThreadState : int { kThreadCreated = 0, kThreadRunning = 1, kListChanged = 2, kStopRequested = 3 };

class TaskList {
 public:
  TaskList(QString storePath, IStartupEntry& startupEntry);

  // Reads the store once at start. A missing, cut or damaged store leaves the tasks read so
  // far with session number and counter 0, and the start-up entry as it is.
  void Load();

  int Count() const;
  // Appends a copy and saves; on success keeps the start-up entry and wakes the scheduler.
  // A failed save leaves the task in memory and reports failure.
  bool Add(const ScheduledTask& task);
  // Removes the first task with that identifier, dropping the start-up entry when the list
  // becomes empty, and saves. Does not wake the scheduler.
  bool Remove(std::uint32_t taskID);
  bool GetAt(int index, ScheduledTask* out) const;
  bool GetById(std::uint32_t taskID, ScheduledTask* out) const;
  // Writes a task back over the one with the same identifier; false when it is gone.
  bool Replace(const ScheduledTask& task);
  bool Save();

  // A new task from a caller's record, with the next identifier (the caller's is ignored).
  ScheduledTask MakeTask(const TASK_STRUCT& record);
  std::vector<ScheduledTask> Snapshot() const;

  std::uint16_t SessionNumber() const;
  std::uint32_t IdCounter() const;
  const QString& StorePath() const { return m_storePath; }

  std::recursive_mutex& Mutex() const { return m_lock; }
  CWakeEvent& WakeEvent() { return m_wakeEvent; }
  std::atomic<int>& ThreadStateFlag() { return m_threadState; }

 private:
  std::uint32_t NextTaskID();
  bool HasTask(std::uint32_t taskID) const;

  const QString m_storePath;
  IStartupEntry& m_startupEntry;
  mutable std::recursive_mutex m_lock;
  std::vector<ScheduledTask> m_tasks;
  std::uint16_t m_sessionNumber = 0;
  std::uint32_t m_idCounter = 0;
  CWakeEvent m_wakeEvent;
  std::atomic<int> m_threadState{kThreadCreated};
};

}  // namespace orvsched
