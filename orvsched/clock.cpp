#include "orvsched/clock.h"

namespace orvsched {

void CWakeEvent::Signal() {
  {
    std::lock_guard lock(m_mutex);
    m_signalled = true;
  }
  m_cv.notify_all();
}

void CWakeEvent::Reset() {
  std::lock_guard lock(m_mutex);
  m_signalled = false;
}

bool CWakeEvent::IsSignalled() const {
  std::lock_guard lock(m_mutex);
  return m_signalled;
}

bool CWakeEvent::WaitUntil(std::chrono::system_clock::time_point deadline) {
  std::unique_lock lock(m_mutex);
  return m_cv.wait_until(lock, deadline, [this] { return m_signalled; });
}

OleTime CSystemClock::Now() { return platform::LocalTimeNow(); }

bool CSystemClock::Wait(CWakeEvent& event, std::int64_t ms) {
  return event.WaitUntil(std::chrono::system_clock::now() + std::chrono::milliseconds(ms));
}

}  // namespace orvsched
