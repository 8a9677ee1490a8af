// The tracker's command line: its tokens, the two passes that read them, and the fields of the
// main window object that they fill.
//
// A command line reaches the parser as one text, split into tokens by the platform's process
// quoting rules (blanks separate tokens; "..." groups blanks into a token; three quotes in a row
// stand for one literal quote). The program's argv is first joined into such a text with every
// element that needs it quoted, so each argv element stays exactly one token, and a command line
// stored by the scheduler as one text reads the same way. Switch names match in any letter case
// and only at the start of a token; values keep their bytes and their case.
#pragma once

#include "platform/usage.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "varnow/settings/Settings.h"

namespace varnow {

// The run flags of the application object, each 0 or 1, and what the parse found wrong.
struct CRunFlags {
  int automated = 0;
  int scan = 0;
  int print = 0;
  int save = 0;
  int saveSubdirs = 0;
  int alertSize = 0;
  int alertPercent = 0;
  int freeAlert = 0;
  int fullAlert = 0;  // /FULLALERT=
  int growth = 0;     // /GROWTH
  std::string directory;  // the /DIR= value as given; empty without one
  int scanGiven = 0;   // /SCAN itself (the growth alerts set scan too)
  int dirGiven = 0;    // /DIR= with a directory
  int metrics = 0;     // /METRICS=
  int exportTree = 0;  // /EXPORT=
  int importTree = 0;  // /IMPORT=
  int treemap = 0;    // /TREEMAP=
  int largest = 0;    // /LARGEST
  // What cannot be right (an unknown switch, a number with trailing characters, a negative
  // threshold, an unknown print destination, a print file that is a FIFO or a folder): the
  // program refuses the run and says why.
  std::vector<std::string> errors;
  // What the run goes on without (a trace file that cannot be created).
  std::vector<std::string> warnings;
};

// Fields of the main window object that only the command line sets.
struct CCommandLineFields {
  std::string notifyCommand;
  std::int32_t percentThreshold = 0;
  std::int64_t sizeThreshold = 0;  // bytes
  std::int64_t freeMinimum = 0;    // bytes
  std::int32_t fullAlertDays = 0;  // /FULLALERT=: alert when the disk fills sooner
  std::int32_t growthLines = 20;   // /GROWTH=: lines of each list
  std::string metricsFile;         // /METRICS=: the Prometheus text file, or "-"
  std::int32_t metricsDepth = 3;   // /METRICSDEPTH=: levels below the directory
  std::string exportFile;          // /EXPORT=: the ncdu export the scan writes, or "-"
  std::string importFile;          // /IMPORT=: the ncdu export taken as the scan, or "-"
  std::string treemapFile;         // /TREEMAP=: the picture to write (.png or .svg)
  std::int32_t treemapWidth = 1200;  // /TREEMAPSIZE=WIDTHxHEIGHT
  std::int32_t treemapHeight = 800;
  std::int32_t largestLines = 20;  // /LARGEST=: files listed
  int automatedRun = 0;            // 1 only during the scan of an automated run
};

// What the second pass sets on the main window object: the scan directory, the command-line
// fields and the settings that the switches override (in memory only).
class ICommandLineOwner {
 public:
  virtual ~ICommandLineOwner() = default;
  virtual CCommandLineFields& CommandLineFields() = 0;
  // Sets the scan session's directory and the window's directory text.
  virtual void SetScanDirectory(const std::string& directory) = 0;
  virtual void SetPrintDestination(PrintDestination destination) = 0;
  virtual void SetPrintFilePath(const std::string& path) = 0;
  virtual void SetAutoSave(int autoSave) = 0;
};

// The splitter every stored command line goes through (see platform/process.h).
using platform::CCommandToken;
using platform::JoinCommandLine;
using platform::SplitCommandLine;

// The number that a switch value's leading decimal digits make (after blanks and one sign), 0
// without any digits; saturated to 32 bits.
std::int32_t LeadingInt32(std::string_view text);

// Reads the command line (the part after the program name). Every token must be a switch of
// the tracker's switch table; one that is not is an error, as is a number with trailing
// characters. Size thresholds take an optional unit suffix K, M, G or T (binary), K without. With owner == nullptr this is the
// first pass: it only opens the trace log (/DEBUG=) and notes /SAVE and /SCAN. With the owner
// it is the second pass: every other switch, and the decision whether the run is automated.
// Always returns 1.
int ParseCommandLine(const std::string& commandLine, CRunFlags& flags, ICommandLineOwner* owner);

// After the second pass: an unattended run that scans or measures free space needs its /DIR=
// to be an existing directory; one that is not is an error.
void CheckUnattendedDirectory(CRunFlags& flags);

// The text of --help: every switch of the table with one line of meaning, then when a run is
// unattended and the exit statuses.
std::string UsageText();

// The switch table's rows as usage items: the one source of --help and the manual page.
std::vector<platform::CUsageItem> SwitchUsage();

}  // namespace varnow
