// How the tracker asks and tells its user: the questions of a scan, its progress display, message
// boxes and the alert box. A run chooses one implementation at its start: windows (Qt dialogs) when
// a display is there, otherwise standard error with every question taking its default answer, so
// that an unattended run never waits for a click. Keeps the engine free of widgets.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace varnow {

// What a scan under way has met so far, written by the threads that read the tree and read by
// its progress display from the GUI thread; and the flag with which the display cancels it.
struct CScanCounters {
  std::atomic<long> directories{0};  // subdirectories met
  std::atomic<long> files{0};
  std::atomic<int> topSubdirectories{0};  // of the scan directory, once it has been listed
  std::atomic<int> topStarted{0};         // of those, how many the readers have entered ...
  std::atomic<int> topMerged{0};          // ... and how many the session has made records for
  std::atomic<bool> cancel{false};

  bool Cancelled() const { return cancel.load(std::memory_order_relaxed); }
};

// A scan's progress display with its Cancel button (modeless, exists only during a scan).
class CScanProgress {
 public:
  virtual ~CScanProgress() = default;
  // Runs walk on a thread of its own and returns when it has ended, showing counters while it
  // runs; Cancel sets counters.cancel. An exception of walk is thrown again here.
  virtual void Run(CScanCounters& counters, const std::function<void()>& walk) = 0;
};

// What fired, on which directory, and the message that tells it.
enum class EAlertKind { kSize, kPercent, kFreeSpace, kDiskFull };
struct CAlertNotice {
  std::string dir;
  EAlertKind kind = EAlertKind::kSize;
  std::string message;
};

class IPrompts {
 public:
  virtual ~IPrompts() = default;

  // The "directory doesn't exist" question; true means scan anyway.
  virtual bool AskScanMissingDirectory() = 0;
  // The cluster size question for a root whose size could not be read; the answer is stored as
  // the root's override. Returns when answered.
  virtual void AskClusterSize(const std::string& root) = 0;
  // A progress display for an interactive scan; nullptr when there is none.
  virtual std::unique_ptr<CScanProgress> CreateScanProgress() = 0;
  // A message box with the exclamation icon and an OK button. May be called from any thread:
  // from another thread it is shown later on the thread that owns the windows.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // An alert: the "Varnow Alert" box (brought to the front: nobody started this run from a
  // window), or what the desktop offers instead of it.
  virtual void ShowAlert(const CAlertNotice& alert) = 0;
};

}  // namespace varnow
