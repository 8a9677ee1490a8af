#include "orvsched/scheduledtask.h"

namespace orvsched {

ScheduledTask TaskFromStruct(const TASK_STRUCT& record, std::uint32_t taskID) {
  ScheduledTask task;
  task.taskType = record.taskType;
  // Text that UTF-8 cannot carry (a lone surrogate) becomes U+FFFD rather than being dropped.
  task.cmdLine = record.cmdLine.toStdString();
  task.trigger = record.taskTrigger;
  task.description = record.description.toStdString();
  task.taskOwner = record.taskOwner;
  task.bRunMinimized = static_cast<std::uint8_t>(record.bRunMinimized);
  task.taskID = taskID;
  return task;
}

TASK_STRUCT StructFromTask(const ScheduledTask& task) {
  TASK_STRUCT record;
  record.taskType = task.taskType;
  record.description = QString::fromStdString(task.description);
  record.cmdLine = QString::fromStdString(task.cmdLine);
  record.taskTrigger = task.trigger;
  record.bRunMinimized = static_cast<std::int8_t>(task.bRunMinimized);
  record.taskID = task.taskID;
  record.taskOwner = task.taskOwner;
  return record;
}

}  // namespace orvsched
