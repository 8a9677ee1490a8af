#include "orvsched/tasklist.h"

#include "orvsched/taskstore.h"
#include "platform/atomicfile.h"
#include "platform/tracelog.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace orvsched {

TaskList::TaskList(QString storePath, IStartupEntry& startupEntry)
    : m_storePath(std::move(storePath)), m_startupEntry(startupEntry) {}

void TaskList::Load() {
  std::lock_guard lock(m_lock);
  TaskStoreContents contents = ReadTaskStoreFile(m_storePath);
  for (ScheduledTask& task : contents.tasks) m_tasks.push_back(std::move(task));
  m_idsMayRepeat = true;
  if (!contents.complete) {
    KeepDamagedStore();
    m_sessionNumber = 0;
    m_idCounter = 0;
    return;
  }
  m_sessionNumber = static_cast<std::uint16_t>(contents.sessionNumber + 1);
  // Each record read takes an identifier before the stored one replaces it.
  m_idCounter = contents.idCounter + static_cast<std::uint32_t>(m_tasks.size());
  m_idsMayRepeat = std::any_of(m_tasks.begin(), m_tasks.end(), [&](const auto& t) { return t.taskID > m_idCounter; });
  if (m_tasks.empty())
    m_startupEntry.Unregister();
  else
    m_startupEntry.Register();
}

void TaskList::KeepDamagedStore() {
  if (!QFileInfo::exists(m_storePath)) return;
  const std::string store = QFile::encodeName(m_storePath).toStdString();
  const std::optional<std::string> copy = platform::KeepDamagedCopy(store);
  if (copy) {
    m_damagedCopy = QFile::decodeName(QByteArray::fromStdString(*copy));
    VN_TRACE("Task store %s is damaged: %zu tasks read, the file is kept as %s", store.c_str(), m_tasks.size(),
             copy->c_str());
  } else {
    VN_TRACE("Task store %s is damaged and could not be kept aside", store.c_str());
  }
}

int TaskList::Count() const {
  std::lock_guard lock(m_lock);
  return static_cast<int>(m_tasks.size());
}

bool TaskList::Add(const ScheduledTask& task) {
  std::lock_guard lock(m_lock);
  m_tasks.push_back(task);
  if (!SaveAdded(task)) {
    m_tasks.pop_back();  // as before the call: a client that retries adds no duplicate
    return false;
  }
  m_startupEntry.Register();
  int state = m_threadState.load();
  while (state != kStopRequested && !m_threadState.compare_exchange_weak(state, kListChanged)) {
  }  // never overwrite a stop request
  m_wakeEvent.Signal();
  return true;
}

bool TaskList::Remove(std::uint32_t taskID) {
  std::lock_guard lock(m_lock);
  const auto it = std::find_if(m_tasks.begin(), m_tasks.end(), [&](const auto& t) { return t.taskID == taskID; });
  if (it == m_tasks.end()) return false;
  const ScheduledTask removed = *it;
  const auto at = m_tasks.erase(it);
  if (!Save()) {
    m_tasks.insert(at, removed);  // the list stays what the store holds
    return false;
  }
  if (m_tasks.empty()) m_startupEntry.Unregister();
  return true;
}

bool TaskList::GetAt(int index, ScheduledTask* out) const {
  std::lock_guard lock(m_lock);
  if (index < 0 || index >= static_cast<int>(m_tasks.size())) return false;
  *out = m_tasks[index];
  return true;
}

bool TaskList::GetById(std::uint32_t taskID, ScheduledTask* out) const {
  std::lock_guard lock(m_lock);
  for (const ScheduledTask& task : m_tasks) {
    if (task.taskID == taskID) {
      *out = task;
      return true;
    }
  }
  return false;
}

bool TaskList::Replace(const ScheduledTask& task) {
  std::lock_guard lock(m_lock);
  for (ScheduledTask& stored : m_tasks) {
    if (stored.taskID == task.taskID) {
      stored = task;
      return Save();
    }
  }
  return false;
}

bool TaskList::Save() {
  std::lock_guard lock(m_lock);
  const QByteArray bytes = SerializeTaskStore(m_sessionNumber, m_idCounter, m_tasks);
  m_storedLength.reset();
  if (!WriteTaskStoreFile(m_storePath, bytes)) return false;
  m_storedLength = bytes.size();
  return true;
}

bool TaskList::SaveAdded(const ScheduledTask& task) {
  // Rewriting the whole store for each new task would make creating many tasks quadratic.
  if (m_storedLength) {
    m_storedLength = AppendToTaskStoreFile(m_storePath, *m_storedLength, m_sessionNumber, m_idCounter,
                                           m_tasks.size(), task);
    if (m_storedLength) return true;
  }
  return Save();
}

ScheduledTask TaskList::MakeTask(const TASK_STRUCT& record) {
  std::lock_guard lock(m_lock);
  return TaskFromStruct(record, NextTaskID());
}

std::vector<ScheduledTask> TaskList::Snapshot() const {
  std::lock_guard lock(m_lock);
  return m_tasks;
}

std::uint16_t TaskList::SessionNumber() const {
  std::lock_guard lock(m_lock);
  return m_sessionNumber;
}

std::uint32_t TaskList::IdCounter() const {
  std::lock_guard lock(m_lock);
  return m_idCounter;
}

std::uint32_t TaskList::NextTaskID() {
  // The counter only grows, but after a damaged store it restarts at 0 while tasks with
  // higher identifiers are still listed: skip those so identifiers stay unique (and never 0).
  do {
    ++m_idCounter;
  } while (m_idCounter == 0 || (m_idsMayRepeat && HasTask(m_idCounter)));
  return m_idCounter;
}

bool TaskList::HasTask(std::uint32_t taskID) const {
  return std::any_of(m_tasks.begin(), m_tasks.end(), [&](const auto& t) { return t.taskID == taskID; });
}

}  // namespace orvsched
