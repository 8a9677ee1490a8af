// The alert checks of an automated run: growth of the scanned directory's total since the last
// saved scan (by a size or by a percentage) and free space below a minimum. A check that fires
// tells the user by running the notification command, or by the "Varnow Alert" message box when
// there is no command or it could not be started.
//
// The checks only read the scan: they change no record and no setting. The one thing they change
// is the notification command, which after a notification holds the command as it was run.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "varnow/report/FormatSize.h"

namespace varnow {

class CDirData;
class IPrompts;
struct CRunFlags;

// Everything the checks read, filled by the automated run from the main window's fields and
// the scan session.
struct CAlertRun {
  const CDirData* dd = nullptr;     // the record of the scan just made
  std::string scanDir;              // the scan directory (GetScanDir)
  SizeUnit displayUnit = SizeUnit::kSmart;  // of PreferredUnits
  std::int32_t alertPercent = 0;    // /ALERTPERCENT=
  std::int64_t alertSize = 0;       // /ALERTSIZE= in bytes
  std::int64_t freeAlert = 0;       // /FREEALERT= in bytes
  std::int32_t fullAlertDays = 0;   // /FULLALERT=
  std::time_t now = 0;              // what the disk-full date is measured from; 0: the clock
  std::string notifyCommand;        // /NOTIFY=; empty: the message box
  // Free bytes of the drive holding a directory; false when they can't be read.
  std::function<bool(const std::string& dir, std::uint64_t& freeBytes)> getFreeSpace;
  IPrompts* prompts = nullptr;      // its alert box takes the message when nothing else does
};

// Each returns true when its alert fired (the automated run then ends with exit status 3).
bool AlertSizeCheck(CAlertRun& run);
bool AlertPercentCheck(CAlertRun& run);
bool FreeAlertCheck(CAlertRun& run);
// Fires when the free-space history of the record projects a full disk in fewer days than
// fullAlertDays.
bool FullAlertCheck(CAlertRun& run);

// The checks the run flags ask for, in their fixed order (size, percent, free space, disk
// full); true when
// any of them fired.
bool RunAlertChecks(const CRunFlags& flags, CAlertRun& run);

// Splits `command` into arguments (the command line's quoting rules), substitutes $SIZE$, $DIR$ and $MSG$ (any case) inside each
// argument and starts the program detached, without a shell. `command` becomes the substituted
// command line. Returns whether the program was started.
bool RunNotifyCommand(std::string& command, const std::string& dir, const std::string& size,
                      const std::string& message);

// `text` with every occurrence of `placeholder` (ASCII letters in any case) replaced by `value`.
// Inserted values are never searched again, so this ends even when a value holds the placeholder.
std::string ReplaceAll(std::string_view text, std::string_view placeholder, std::string_view value);

}  // namespace varnow
