#include "varnow/scan/SignalPair.h"

namespace varnow {

void CSignalPair::Set(int which) {
  {
    std::lock_guard lock(m_mutex);
    m_signalled[which != 0] = true;
  }
  m_cv.notify_all();
}

CSignalPair::Result CSignalPair::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(m_mutex);
  if (!m_cv.wait_until(lock, deadline, [this] { return m_signalled[0] || m_signalled[1]; }))
    return kTimeout;
  int which = m_signalled[0] ? 0 : 1;  // the first in order wins, like a wait on a handle list
  m_signalled[which] = false;
  return which == 0 ? kFirst : kSecond;
}

}  // namespace varnow
