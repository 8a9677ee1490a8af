// The server's one list of tasks, kept in insertion order and saved to the task store after
// every change (a new task is appended to the file this process wrote). Every operation holds the list lock, which is re-entrant so that Add and
// Remove can save while holding it. Tasks are handed out only as copies.
#pragma once

#include "orvsched/clock.h"
#include "orvsched/scheduledtask.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
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
  // far with session number and counter 0, and the start-up entry as it is. A damaged store is
  // first kept beside itself (DamagedCopy() names the copy), since the next save replaces it.
  void Load();
  const QString& DamagedCopy() const { return m_damagedCopy; }

  int Count() const;
  // Appends a copy and saves; on success keeps the start-up entry and wakes the scheduler.
  // A failed save leaves the list as it was and reports failure.
  bool Add(const ScheduledTask& task);
  // Removes the first task with that identifier and saves, then drops the start-up entry when
  // the list has become empty. A failed save keeps the task. Does not wake the scheduler.
  bool Remove(std::uint32_t taskID);
  bool GetAt(int index, ScheduledTask* out) const;
  bool GetById(std::uint32_t taskID, ScheduledTask* out) const;
  // Writes a task back over the one with the same identifier and saves, so that a restarted
  // server knows when it last ran; false when it is gone or the save failed (the list keeps
  // the new copy either way).
  bool Replace(const ScheduledTask& task);
  bool Save();

  // A new task from a caller's record, with the next identifier (the caller's is ignored).
  ScheduledTask MakeTask(const TASK_STRUCT& record);
  std::vector<ScheduledTask> Snapshot() const;
  // Calls visit for each task in list order, under the lock, without copying them.
  template <class Visit>
  void VisitTasks(Visit visit) const {
    std::lock_guard lock(m_lock);
    for (const ScheduledTask& task : m_tasks) visit(task);
  }

  std::uint16_t SessionNumber() const;
  std::uint32_t IdCounter() const;
  const QString& StorePath() const { return m_storePath; }

  std::recursive_mutex& Mutex() const { return m_lock; }
  CWakeEvent& WakeEvent() { return m_wakeEvent; }
  std::atomic<int>& ThreadStateFlag() { return m_threadState; }

 private:
  void KeepDamagedStore();
  // Saves the list after task was appended to it.
  bool SaveAdded(const ScheduledTask& task);
  std::uint32_t NextTaskID();
  bool HasTask(std::uint32_t taskID) const;

  const QString m_storePath;
  QString m_damagedCopy;
  IStartupEntry& m_startupEntry;
  mutable std::recursive_mutex m_lock;
  std::vector<ScheduledTask> m_tasks;
  std::uint16_t m_sessionNumber = 0;
  std::uint32_t m_idCounter = 0;
  // The counter may reach identifiers that listed tasks already have (after a damaged store).
  bool m_idsMayRepeat = false;
  // The length of the store as this process last wrote it whole or in part; unknown after a
  // failed write or before the first, when the next change saves it whole.
  std::optional<qint64> m_storedLength;
  CWakeEvent m_wakeEvent;
  std::atomic<int> m_threadState{kThreadCreated};
};

}  // namespace orvsched
