// The unattended run that the command line asks for: scan, save, alert checks and report, on
// the main window object, without ever creating its window.
#pragma once

#include "varnow/alerts/AlertChecks.h"
#include "varnow/alerts/CommandLine.h"
#include "varnow/report/PrintJob.h"

namespace varnow {

// What the automated sequence drives: the main window object, without its window.
class IAutomatedRunOwner : public ICommandLineOwner {
 public:
  virtual void SetSubDirSave(int subDirSave) = 0;
  virtual void OnScan() = 0;
  virtual void OnSave() = 0;
  // What the alert checks read after the scan: the session's record, directory and free space,
  // the display unit, the thresholds and notification command, and where a box goes. Without a
  // record and a free-space query no check can fire.
  virtual CAlertRun AlertRun() { return {}; }
  // What the report printed at the end of the run is made of; nullptr: nothing can be printed.
  virtual IPrintOwner* PrintOwner() { return nullptr; }
  // Writes the growth report of the scan directory where the print settings say; false when
  // it could not be written.
  virtual bool PrintGrowthReport() { return false; }
  // The same for the largest files of the run's scan.
  virtual bool PrintLargestReport() { return false; }
  // Writes the picture of the scan directory's saved tree to the /TREEMAP= file; false (the
  // user has been told why) when it could not be written.
  virtual bool WriteTreemap() { return false; }
  // Writes what waits to be saved, then tells whether the data file could not be read or
  // written at some point of the run (the user has been told how).
  virtual bool DataFileFailed() { return false; }
  // The scan of OnScan, writing the tree to the /EXPORT= file as it goes; false when the
  // export could not be written (the user has been told why).
  virtual bool ExportScan() { return false; }
  // Takes the /IMPORT= file as the scan; false when it was refused (the user has been told
  // why): then nothing is saved.
  virtual bool ImportTree() { return false; }
  // Writes the /METRICS= file from the saved records; false when it could not be written.
  virtual bool WriteMetrics() { return false; }
};

// Exit statuses of a run: a command line with values that cannot be right (nothing is done),
// an automated run whose alert fired, and one whose data file could not be read or written
// (this one wins over an alert).
inline constexpr int kExitBadCommandLine = 2;
inline constexpr int kExitAlertFired = 3;
inline constexpr int kExitDataFileFailed = 4;
// A file the run was to write (/EXPORT=, /METRICS=) could not be written; wins over an alert.
inline constexpr int kExitOutputFailed = 5;

// Runs the automated sequence for the flags of the second pass. Settings the sequence changes
// (auto-save, save-subdirectories) change only the owner's in-memory copies. The growth checks
// are left out when the saved scans could not be read: there is nothing to compare with.
// With /GROWTH (or /LARGEST) that list takes the directory report's place: it goes where
// /PRINT= says, or to standard output without it. /TREEMAP= writes its picture before it.
// An import that is refused ends the run at once with kExitBadCommandLine, saving nothing.
// Returns the run's exit status: kExitDataFileFailed, kExitOutputFailed, kExitAlertFired or 0.
int RunAutomatedSequence(CRunFlags& flags, IAutomatedRunOwner& owner);

}  // namespace varnow
