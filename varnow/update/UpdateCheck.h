// The update check: fetch the maker's settings page, let its lines update the settings and show
// its messages, and tell from the latest published version whether an update is available.
//
// How the main window uses it (see also UpdateBoxes.h for the widget side):
//   - title: "Varnow %d.%d" + UpdateTitleSuffix(GetUpdateStatus(own)), set before this start's
//     check runs, so it tells what the previous check found;
//   - once per interactive start: CWindowUpdateCheck::Start() (automatic check on a worker
//     thread, at most every DaysBetweenChecks days);
//   - the About box's "Check For Update" button: ShowManualUpdateCheck(aboutBox, own), which
//     returns at once and shows its answer when the check has ended.
// Automated runs never check: nothing on their path reaches this module.
#pragma once

#include <QThread>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/oledate.h"
#include "varnow/update/UpdateOwner.h"

namespace varnow {

// The program's own version (GetProgramVersion).
struct CProgramVersion {
  unsigned short major = 0;
  unsigned short minor = 0;
  unsigned short build = 0;
};

// GetUpdateStatus results.
enum UpdateStatus : int {
  kNoUpdate = 0,
  kUpdateAvailable = 1,       // a newer major or minor version
  kMinorUpdateAvailable = 2,  // the same version with a higher build
  kUpdateUnknown = 3,         // the last check failed: all three latest numbers are 0
};

// Compares LatestMajor, LatestMinor, LatestBuild (each defaulting to, and written back as, the
// own number) with own, as unsigned 16-bit numbers. An older published version is status 0.
int GetUpdateStatus(const CProgramVersion& own);

// " - < Update Available >" for status 1, " - < Minor Update Available >" for 2, else empty.
std::string UpdateTitleSuffix(int status);

// The "Update Status" box's text for a status.
std::string UpdateStatusText(int status);

// The longest a check may take, from its start to the end of the body.
inline constexpr std::chrono::milliseconds kUpdateCheckTimeLimit{15000};

struct CUpdateCheckOptions {
  // A manual check runs whatever the date, and afterwards clears the time of the last check so
  // that the next start of the window checks again.
  bool manual = false;
  // The local wall clock (tests put their own in its place).
  std::function<platform::OleTime()> now = platform::LocalTimeNow;
  // Running out of it counts as a failed check.
  std::chrono::milliseconds timeLimit = kUpdateCheckTimeLimit;
};

enum class UpdateCheckResult {
  NotDue,       // the last check is recent enough: nothing fetched
  Completed,    // status 200 and the whole page read: time of the check stored
  EndedQuietly, // no usable address, no connection, or an answer other than 200: nothing stored
  Failed,       // broken off while reading, a bound exceeded, or out of time: LatestMajor,
                // LatestMinor and LatestBuild are 0 (status 3)
  Interrupted,  // the check's thread was asked to stop (CUpdateCheckThread going away)
};

// The check itself. It blocks the calling thread, waiting for the network in an event loop of
// its own, so the window runs it on a worker (CUpdateCheckThread). POSTs to the HomePage folder
// + PageName with the agent "Varnow", directly (no proxy), and hands each line of a 200 answer
// to ProcessInternetLineSetting. Traces "** Exception in DownloadInternetSettings\n" on failure.
UpdateCheckResult DownloadInternetSettings(IUpdateOwner& owner, const CUpdateCheckOptions& options = {});

// The address checked: HomePage up to its last "/" (an address without a path counts as its
// root folder), then "/" and PageName. Empty when that is no http or https address.
std::string SettingsPageAddress(const std::string& homePage, const std::string& pageName);

// One check on a worker thread of its own, started at construction: the automatic check of the
// window (CWindowUpdateCheck) and the manual one (CManualUpdateCheck). Messages reach owner on
// that thread, and so does the call of ended, the last thing the thread does.
class CUpdateCheckThread {
 public:
  explicit CUpdateCheckThread(IUpdateOwner& owner, CUpdateCheckOptions options = {},
                              std::function<void()> ended = {});
  // A check still running is stopped (it stores nothing) and its thread waited for, so owner
  // is no longer used once this returns.
  ~CUpdateCheckThread();
  CUpdateCheckThread(const CUpdateCheckThread&) = delete;
  CUpdateCheckThread& operator=(const CUpdateCheckThread&) = delete;

  // Waits for the check to end; its result.
  UpdateCheckResult Wait();

 private:
  std::unique_ptr<QThread> m_thread;
  UpdateCheckResult m_result = UpdateCheckResult::Interrupted;
};

struct CManualCheckResult {
  int status = kUpdateUnknown;        // GetUpdateStatus after the check
  std::string text;                   // UpdateStatusText(status)
  std::vector<std::string> messages;  // the page's newest new message, if any, to be shown
  UpdateCheckResult check = UpdateCheckResult::Interrupted;
};

// The manual check: runs at once whatever the date, on a worker thread, and clears the time of
// the last check. Its message is kept for the caller rather than shown. ended is called on the
// worker thread once Result() is ready; an object going away stops a check still running.
class CManualUpdateCheck : private IUpdateOwner {
 public:
  CManualUpdateCheck(const CProgramVersion& own, CUpdateCheckOptions options = {}, std::function<void()> ended = {});
  ~CManualUpdateCheck() override;
  CManualUpdateCheck(const CManualUpdateCheck&) = delete;
  CManualUpdateCheck& operator=(const CManualUpdateCheck&) = delete;

  // Waits for the check to end (at most options.timeLimit, 15 s by default); what it found.
  CManualCheckResult Result();

 private:
  void ShowUpdateMessage(const std::string& text) override;

  CProgramVersion m_own;
  CManualCheckResult m_result;  // written by the worker before ended
  std::unique_ptr<CUpdateCheckThread> m_thread;
};

}  // namespace varnow
