// The window's side of the update check: the automatic check, whose messages become boxes owned
// by the main window, and the About box's manual check with its answer in words. Everything here
// runs on the GUI thread; only ShowUpdateMessage may be called from any thread.
//
// In the main window (once per interactive start, after the title is set):
//   m_updateCheck = std::make_unique<CWindowUpdateCheck>(this);
//   m_updateCheck->Start();
// In the About box's "Check For Update" handler:
//   ShowManualUpdateCheck(this, own);
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "varnow/update/UpdateCheck.h"

class QWidget;

namespace varnow {

class CWindowUpdateCheck : public QObject, public IUpdateOwner {
 public:
  // window owns the message boxes; it may go before this object.
  explicit CWindowUpdateCheck(QWidget* window);
  // Stops a check still running and waits for its thread before anything else goes.
  ~CWindowUpdateCheck() override;

  // Starts the automatic check on its worker thread (it fetches only when due). Once per
  // object: later calls do nothing.
  void Start(CUpdateCheckOptions options = {});
  // Waits for the automatic check to end; its result (Interrupted when it never started).
  UpdateCheckResult Wait();

  // Any thread: the message is queued to the GUI thread and shown there in a "Varnow Message"
  // box once the boxes before it are closed, so the check never waits for the user.
  void ShowUpdateMessage(const std::string& text) override;

 private:
  void ShowPendingMessages();

  QPointer<QWidget> m_window;
  std::deque<QString> m_pending;
  bool m_showing = false;
  std::unique_ptr<CUpdateCheckThread> m_check;
};

// A "Varnow Message" box: information icon, OK only, text shown as plain text (never markup).
void ShowUpdateMessageBox(QWidget* parent, const QString& text);

// The About box's "Check For Update": the manual check on its worker thread while the box stays
// responsive. When the check has ended, the page's newest new message and then the "Update
// Status" box with the text for the status come up, owned by the box. The object is a child of
// the box: closing the box stops a check still running, and no box comes up after.
class CAboutUpdateCheck : public QObject {
 public:
  CAboutUpdateCheck(QWidget* about, const CProgramVersion& own, CUpdateCheckOptions options = {});
  bool Running() const { return !m_result.has_value(); }
  // What the check found, once its boxes have been closed.
  const std::optional<CManualCheckResult>& Result() const { return m_result; }

 private:
  void OnCheckEnded();

  QPointer<QWidget> m_about;
  std::optional<CManualCheckResult> m_result;
  CManualUpdateCheck m_check;  // last: goes first, so the worker has ended before the rest
};

// The button's handler: starts a check for the box and returns at once; while one runs, a
// further click only returns it.
CAboutUpdateCheck* ShowManualUpdateCheck(QWidget* about, const CProgramVersion& own,
                                         CUpdateCheckOptions options = {});

}  // namespace varnow
