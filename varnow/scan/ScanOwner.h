// What the scan session needs of the window that owns it: its settings, its questions and its
// progress display. The main window implements this with Qt dialogs; an automated run without a
// display and the tests implement it without any. Keeps the scan engine free of widgets.
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

class IScanOwner {
 public:
  virtual ~IScanOwner() = default;

  // Settings the session reads (the owner's in-memory copies).
  virtual int PreferredClusterSetting() const = 0;
  virtual std::string DataDirectory() const = 0;  // always ends in "/"
  virtual int AutoSave() const = 0;
  virtual int SubDirSave() const = 0;

  // The "directory doesn't exist" question; true means scan anyway.
  virtual bool AskScanMissingDirectory() = 0;
  // The cluster size question for a root whose size could not be read; returns when closed.
  virtual void AskClusterSize(const std::string& root) = 0;
  // A progress display for an interactive scan; nullptr when there is none.
  virtual std::unique_ptr<CScanProgress> CreateScanProgress() = 0;
  // A message box with the exclamation icon and an OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // The current scan directory changed or was set again: refresh statistics and grid.
  virtual void RefreshView() = 0;
};

}  // namespace varnow
