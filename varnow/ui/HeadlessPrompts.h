// The prompts of a run without windows: every message goes to standard error and the trace log,
// every question takes its default answer, and there is no progress display. Needs no display
// and no widgets; the questions' texts live here for the dialogs to share.
#pragma once

#include <string>

#include "varnow/scan/Prompts.h"

namespace varnow {

inline constexpr char kMissingDirectoryCaption[] = "Directory Doesn't Exist!";
inline constexpr char kMissingDirectoryText[] =
    "The directory you are trying to scan doesn't appear to exist.  Do you want to try and scan it anyway?  "
    "Note: A directory that does not exist scans as empty, and a save keeps it so.";
inline constexpr char kAlertCaption[] = "Varnow Alert";

// The size taken for a volume whose allocation unit could not be read, until the user picks one.
inline constexpr int kDefaultClusterSize = 16384;

// True when a display is named: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set.
bool DisplayAvailable();

// Writes what a message box or question would show, for runs without windows.
void ReportWithoutWindow(const std::string& caption, const std::string& text);

// True when the user asked never to be asked about directories that do not exist (scan them).
bool NeverAskMissingDirectory();

// Stores the default cluster size as the root's override, as the question's OK would.
void StoreDefaultClusterSize(const std::string& root);

class CHeadlessPrompts : public IPrompts {
 public:
  bool AskScanMissingDirectory() override;
  void AskClusterSize(const std::string& root) override;
  std::unique_ptr<CScanProgress> CreateScanProgress() override { return nullptr; }
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void ShowAlert(const CAlertNotice& alert) override;
};

}  // namespace varnow
