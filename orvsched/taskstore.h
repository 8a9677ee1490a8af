// The task store file ORVSCHED.DAT: session number, identifier counter and the tasks in list
// order, little-endian, no signature. Reading is bounded by the file's own length, so a cut or
// damaged file yields the tasks read so far and never a large allocation.
#pragma once

#include "orvsched/scheduledtask.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvsched {

struct TaskStoreContents {
  std::uint16_t sessionNumber = 0;
  std::uint32_t idCounter = 0;
  std::vector<ScheduledTask> tasks;
  bool complete = false;  // false: the bytes ended early or held a length that cannot be
};

QByteArray SerializeTaskStore(std::uint16_t sessionNumber, std::uint32_t idCounter,
                              const std::vector<ScheduledTask>& tasks);
TaskStoreContents ParseTaskStore(const QByteArray& bytes);

// Replaces the file atomically: readers see the old file or the new one, never a part.
bool WriteTaskStoreFile(const QString& path, const QByteArray& bytes);
// Adds one task to a store file of storedLength bytes that holds the other count - 1 tasks:
// the task's record goes after them and reaches the disk before the header that counts it, so
// a crash in between leaves the file as it was (its reader stops at the old count). The file's
// new length; nullopt when the file is not as expected or the write fails, and the caller then
// saves the file whole.
std::optional<qint64> AppendToTaskStoreFile(const QString& path, qint64 storedLength, std::uint16_t sessionNumber,
                                            std::uint32_t idCounter, std::size_t count, const ScheduledTask& task);
// Not complete, with no tasks, when the file is missing or unreadable.
TaskStoreContents ReadTaskStoreFile(const QString& path);

}  // namespace orvsched
