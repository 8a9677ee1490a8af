// Alerts as desktop notifications (org.freedesktop.Notifications on the session bus), and the
// guard that keeps one alert from stacking message boxes when there is no notification server.
//
// A repeated alert (the same directory and kind) replaces its earlier notification: the
// server's id for it is kept in $XDG_RUNTIME_DIR/varnow/. The run that shows a notification ends
// at once; a small detached copy of the tracker (`varnow --await-notification ...`) waits for
// the notification's "Show" action and then opens the tracker on the directory.
#pragma once

#include <QString>

#include "varnow/scan/Prompts.h"

namespace varnow {

inline constexpr char kAwaitNotificationSwitch[] = "--await-notification";

// The file that keeps the notification id of an alert, and the lock of its box;
// empty when there is no runtime folder.
QString NotificationIdFile(const CAlertNotice& alert);
QString AlertBoxLockFile(const CAlertNotice& alert);

// Shows the alert as a notification when a server owns the name on the session bus, and starts
// the waiter for its action. False when there is no server or it refused the call: the caller
// shows the box. `tracker` is the program that "Show" starts.
bool ShowDesktopNotification(const CAlertNotice& alert, const QString& tracker);

// The waiter: `varnow --await-notification ID DIR [IDFILE]`. Ends when the notification is
// closed, when the server goes away, or after "Show" has started the tracker on DIR. A waiter
// that finds another one watching the same alert ends at once. Returns the exit status.
int AwaitNotificationAction(int argc, char** argv);

// Holds the lock of one alert's box while it exists: a second run of the same alert finds it
// taken and shows no second box.
class CAlertBoxGuard {
 public:
  explicit CAlertBoxGuard(const CAlertNotice& alert);
  ~CAlertBoxGuard();
  CAlertBoxGuard(const CAlertBoxGuard&) = delete;
  CAlertBoxGuard& operator=(const CAlertBoxGuard&) = delete;
  // False only when another process holds the box of this alert.
  bool Acquired() const { return m_acquired; }

 private:
  int m_fd = -1;
  bool m_acquired = true;
};

}  // namespace varnow
