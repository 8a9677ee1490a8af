// The scheduling thread: each pass finds the task due next, sleeps until then (at most 46
// days, woken early when a task is added or the server stops) and runs it, then keeps it with
// its new last run time or deletes it. Passes work on copies; the list lock is held while the
// list is scanned and while a task is run and written back, never while waiting.
#pragma once

#include "orvsched/clock.h"
#include "orvsched/launcher.h"
#include "orvsched/nextrun.h"
#include "orvsched/tasklist.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <thread>

namespace orvsched {

inline constexpr std::int64_t kLongWaitMs = 46LL * 86400 * 1000;

class CScheduler {
 public:
  CScheduler(TaskList& list, CClock& clock, CTaskLauncher& launcher);
  ~CScheduler();
  CScheduler(const CScheduler&) = delete;
  CScheduler& operator=(const CScheduler&) = delete;

  // A server that has lost its session must not start tasks beside the next session's server:
  // while inSession answers false, due tasks are neither run nor written back.
  void SetSessionCheck(std::function<bool()> inSession) { m_inSession = std::move(inSession); }
  void Start();
  // Asks the thread to end, wakes it and waits for it; a second call does nothing.
  void Stop();
  bool IsRunning() const { return m_thread.joinable(); }

  struct PassResult {
    std::optional<std::uint32_t> chosen;  // the task the pass waited for
    std::int64_t waitMs = 0;
    bool woken = false;                   // the wait ended early: nothing was run
    std::optional<std::uint32_t> ran;     // the task that was started (or passed over when disabled)
  };
  // One scheduling pass; the thread repeats it. Tests call it directly with their own clock.
  PassResult RunPass();

 private:
  enum class Fate { kKeep, kDelete };
  struct Choice {
    std::optional<ScheduledTask> task;
    OleTime best;
  };
  Choice ChooseNext(const OleTime& now);
  RunContext ContextFor(const ScheduledTask& task, const OleTime& now) const;
  static std::int64_t WaitFor(const OleTime& best, const OleTime& now, bool* longWait);
  void RunChosen(std::uint32_t taskID, const OleTime& best);
  Fate RunTask(ScheduledTask& task, const OleTime& now);
  void CollectStartupTasks();

  TaskList& m_list;
  CClock& m_clock;
  CTaskLauncher& m_launcher;
  std::thread m_thread;
  std::function<bool()> m_inSession;
  bool m_firstPass = true;
  // Start-up and log-on tasks present when the server started that have not yet had their run.
  std::set<std::uint32_t> m_startupPending;
  // Tasks reached but not started (disabled), with the time: they are not offered again at once.
  std::map<std::uint32_t, OleTime> m_passedOver;
};

}  // namespace orvsched
