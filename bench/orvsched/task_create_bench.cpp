// Creates N daily tasks (default 10,000) through the task-manager interface on the session bus
// and prints the time each thousand took. Run it on a private bus with
// a registered server: create_bench.sh does both.
#include "taskmgr/taskmgrbus.h"
#include "taskmgr/taskmgrclient.h"

#include <QCoreApplication>
#include <QDate>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  taskmgr::RegisterTaskMgrTypes();
  taskmgr::COrvTaskMgrClient client;
  if (client.CreateInstance() != taskmgr::S_OK) {
    std::fprintf(stderr, "no task manager on the session bus\n");
    return 1;
  }
  taskmgr::TASK_STRUCT task;
  task.taskType = taskmgr::atEXECUTE;
  task.taskOwner = taskmgr::toVARNOW;
  task.taskTrigger.cbTriggerSize = sizeof(taskmgr::TASK_TRIGGER);
  task.taskTrigger.TriggerType = taskmgr::TASK_TIME_TRIGGER_DAILY;
  task.taskTrigger.Type.Daily.DaysInterval = 1;
  const QDate today = QDate::currentDate();
  task.taskTrigger.wBeginYear = static_cast<std::uint16_t>(today.year());
  task.taskTrigger.wBeginMonth = static_cast<std::uint16_t>(today.month());
  task.taskTrigger.wBeginDay = static_cast<std::uint16_t>(today.day());
  task.taskTrigger.wStartHour = 3;
  auto start = std::chrono::steady_clock::now();
  const auto first = start;
  for (int i = 1; i <= count; ++i) {
    task.description = QString("/srv/data/folder %1/ space usage change > 10%, check every day").arg(i);
    task.cmdLine = QString("/bin/true \"/DIR=/srv/data/folder %1/\" /ALERTPERCENT=10").arg(i);
    std::uint32_t id = 0;
    if (client.CreateNewTask(task, &id) != taskmgr::S_OK) {
      std::fprintf(stderr, "task %d was not created\n", i);
      return 1;
    }
    if (i % 1000 == 0) {
      const auto now = std::chrono::steady_clock::now();
      std::printf("tasks %5d-%5d: %.2f s\n", i - 999, i, std::chrono::duration<double>(now - start).count());
      std::fflush(stdout);
      start = now;
    }
  }
  std::printf("all %d: %.2f s\n", count,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count());
  // The tasks stay: the server ends with the private bus that create_bench.sh started.
  client.Release();
  return 0;
}
