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

CScaledClock::CScaledClock(double rate)
    : m_rate(rate), m_start(platform::LocalTimeNow()), m_realStart(std::chrono::steady_clock::now()) {}

OleTime CScaledClock::Now() {
  const std::chrono::duration<double> real = std::chrono::steady_clock::now() - m_realStart;
  return AddSeconds(m_start, static_cast<std::int64_t>(real.count() * m_rate));
}

bool CScaledClock::Wait(CWakeEvent& event, std::int64_t ms) {
  const auto real = static_cast<std::int64_t>(static_cast<double>(ms) / m_rate) + 1;
  return event.WaitUntil(std::chrono::system_clock::now() + std::chrono::milliseconds(real));
}

}  // namespace orvsched
