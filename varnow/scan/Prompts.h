// How the tracker asks and tells its user: the questions of a scan, its progress display, message
// boxes and the alert box. A run chooses one implementation at its start: windows (Qt dialogs) when
// a display is there, otherwise standard error with every question taking its default answer, so
// that an unattended run never waits for a click. Keeps the engine free of widgets.
#pragma once

#include <memory>
#include <string>

namespace varnow {

// A scan's progress display with its Cancel button (modeless, exists only during a scan).
class CScanProgress {
 public:
  virtual ~CScanProgress() = default;
  virtual void SetRange(int lower, int upper) = 0;
  virtual void StepIt() = 0;                                   // pumps events, then steps
  virtual void ShowCounters(long directories, long files) = 0;
  virtual bool CheckCancel() = 0;                              // pumps events, true on Cancel
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
