#include "orvsched/scheduler.h"

#include "orvsched/nextrun.h"
#include "platform/tracelog.h"

#include <syslog.h>

#include <chrono>

namespace orvsched {

using namespace taskmgr;

namespace {

constexpr std::chrono::milliseconds kSettleAfterChange{250};

bool IsStartupTrigger(const TASK_TRIGGER& t) {
  return t.TriggerType == TASK_EVENT_TRIGGER_AT_SYSTEMSTART || t.TriggerType == TASK_EVENT_TRIGGER_AT_LOGON;
}

bool EndDatePassed(const TASK_TRIGGER& t, const OleTime& now) {
  if (!(t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE)) return false;
  const OleTime end = MakeOleTime(t.wEndYear, t.wEndMonth, t.wEndDay);
  return !end.valid || end.seconds < now.seconds;  // an end date that is no date has passed
}

}  // namespace

CScheduler::CScheduler(TaskList& list, CClock& clock, CTaskLauncher& launcher)
    : m_list(list), m_clock(clock), m_launcher(launcher) {}

CScheduler::~CScheduler() { Stop(); }

void CScheduler::Start() {
  m_list.ThreadStateFlag() = kThreadRunning;
  m_thread = std::thread([this] {
    try {
      while (m_list.ThreadStateFlag() != kStopRequested) {
        // A client that creates many tasks wakes the thread once for each: a short pause lets
        // the burst pass before the next pass looks at the whole list again.
        if (RunPass().woken) std::this_thread::sleep_for(kSettleAfterChange);
      }
    } catch (...) {
      // A pass that fails ends the thread; the interface keeps serving.
    }
  });
}

void CScheduler::Stop() {
  if (!m_thread.joinable()) return;
  m_list.ThreadStateFlag() = kStopRequested;
  m_list.WakeEvent().Signal();
  m_thread.join();
}

CScheduler::PassResult CScheduler::RunPass() {
  PassResult result;
  if (m_firstPass) CollectStartupTasks();
  const Choice choice = ChooseNext(m_clock.Now());
  bool longWait = false;
  result.waitMs = WaitFor(choice.best, m_clock.Now(), &longWait);
  if (choice.task) result.chosen = choice.task->taskID;
  result.woken = m_clock.Wait(m_list.WakeEvent(), result.waitMs);
  m_list.WakeEvent().Reset();
  if (!result.woken && !longWait && choice.task) {
    RunChosen(choice.task->taskID, choice.best);
    result.ran = choice.task->taskID;
  }
  m_firstPass = false;
  return result;
}

void CScheduler::CollectStartupTasks() {
  std::lock_guard lock(m_list.Mutex());
  const std::uint16_t session = m_list.SessionNumber();
  for (const ScheduledTask& task : m_list.Snapshot())
    if (IsStartupTrigger(task.trigger) && task.trigger.Reserved1 != session) m_startupPending.insert(task.taskID);
}

RunContext CScheduler::ContextFor(const ScheduledTask& task, const OleTime& now) const {
  RunContext context;
  context.now = now;
  context.sessionNumber = m_list.SessionNumber();
  const auto passed = m_passedOver.find(task.taskID);
  if (passed != m_passedOver.end()) context.lastPassedOver = passed->second;
  context.startupRound = m_startupPending.count(task.taskID) > 0;
  return context;
}

CScheduler::Choice CScheduler::ChooseNext(const OleTime& now) {
  Choice choice;
  choice.best = MakeOleTime(9999, 1, 1, 1, 1, 1);
  const ScheduledTask* chosen = nullptr;
  std::lock_guard lock(m_list.Mutex());
  m_list.VisitTasks([&](const ScheduledTask& task) {
    const std::optional<OleTime> next = NextRunTime(task, ContextFor(task, now));
    if (next && next->seconds < choice.best.seconds) {  // strictly: ties go to the earlier task
      choice.best = *next;
      chosen = &task;
    }
  });
  if (chosen) choice.task = *chosen;  // copied while the lock still holds the list as it was
  return choice;
}

std::int64_t CScheduler::WaitFor(const OleTime& best, const OleTime& now, bool* longWait) {
  const std::int64_t span = best.seconds > now.seconds ? best.seconds - now.seconds : 1;
  *longWait = span / kSecondsPerDay > 46;
  if (*longWait) return kLongWaitMs;
  if (now.seconds > best.seconds) return 1;
  return span * 1000;
}

void CScheduler::RunChosen(std::uint32_t taskID, const OleTime& best) {
  std::lock_guard lock(m_list.Mutex());
  const OleTime now = m_clock.Now();
  // The clock was set back while waiting: wait again for the time rather than run early.
  if (now.seconds < best.seconds) return;
  ScheduledTask task;
  // Deleted while the thread waited: neither run nor written back.
  if (!m_list.GetById(taskID, &task)) return;
  if (m_inSession && !m_inSession()) {
    m_list.ThreadStateFlag() = kStopRequested;  // the task stays due: passing again would spin
    return;
  }
  if (RunTask(task, now) == Fate::kDelete) {
    m_list.Remove(taskID);
    m_passedOver.erase(taskID);
  } else {
    m_list.Replace(task);
  }
}

CScheduler::Fate CScheduler::RunTask(ScheduledTask& task, const OleTime& now) {
  const TASK_TRIGGER& t = task.trigger;
  bool acts = !(t.rgFlags & TASK_TRIGGER_FLAG_DISABLED) && t.TriggerType != TASK_EVENT_TRIGGER_ON_IDLE;
  if (IsStartupTrigger(t)) {
    const bool pending = m_startupPending.erase(task.taskID) > 0;  // one chance per session
    acts = acts && pending;
  }
  // A message-box task shows nothing: the service has no user interface.
  if (acts && task.taskType == atEXECUTE && !m_launcher.Start(task.cmdLine, task.bRunMinimized != 0)) {
    // Not a run: the task keeps its last run, and this occurrence is not offered again at once.
    VN_TRACE("Task %u: %s could not be started", task.taskID, task.cmdLine.c_str());
    ::syslog(LOG_WARNING, "task %u: %s could not be started", task.taskID, task.cmdLine.c_str());
    acts = false;
  }
  if (acts) {
    task.lastRun = {ToOleDate(now), 0};
    task.trigger.Reserved1 = m_list.SessionNumber();
  } else {
    m_passedOver[task.taskID] = now;
  }
  if (t.TriggerType == TASK_TIME_TRIGGER_ONCE || EndDatePassed(t, now)) return Fate::kDelete;
  return Fate::kKeep;
}

}  // namespace orvsched
