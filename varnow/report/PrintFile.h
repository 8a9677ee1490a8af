// Report files of one directory record: comma-delimited, plain text with blank-padded columns,
// or the enhanced rich-text document. Everything the report needs comes in as plain inputs, so
// it is written the same way from the print options dialog, an unattended run or a test.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "varnow/scan/DirData.h"
#include "varnow/settings/Settings.h"

namespace varnow {

// Shows a message box (text, caption) on the window that asked for the report.
using MessageSink = std::function<void(const std::string& text, const std::string& caption)>;

// The file name that means standard output.
inline constexpr const char* kStandardOutputName = "-";

struct CReportOptions {
  SizeUnit units = SizeUnit::kK;                // display unit of FormatSize
  SortMethod sortMethod = SortMethod::kByName;  // row order, as in the grid
  std::string homePage;      // named in the footer
  bool commaDelimited = false;  // decides the format alone when set
  bool enhanced = true;      // rich text when set, plain text when clear
  int columns = 3;           // size columns of the text formats, 1 to 6
  bool onDisk = true;        // the sizes are space on disk (else apparent lengths)
};

// How a report names the kind of its sizes: "on disk" or "apparent".
const char* SizeKindText(bool onDisk);

// kind 0: characters of the longest stored entry name ("KOB*" included); kind 1: the widest
// decorated size text of any entry and any heading date of a scan that took place.
int GetColumnWidth(const CDirData& record, int kind, SizeUnit units);

// Writes the report into fileName (created or emptied; "-" is standard output) and returns
// true when it was written. Failures are traced; with messages they are also shown.
// now dates the enhanced report's "Printed" line.
bool CreatePrintFile(const std::string& fileName, const CDirData& record, const std::string& scanDir,
                     const CReportOptions& options, const MessageSink* messages,
                     std::time_t now = std::time(nullptr));

// The end of a plain-text report: the line that tells when the disk fills, then the product
// and its home page.
std::string TextReportFooter(const CReportOptions& options, const std::string& projection);

// Writes text into fileName ("-" is standard output) in one piece; a failure is traced and,
// with messages, shown, as for a report.
bool WriteReportFile(const std::string& fileName, const std::string& text, const MessageSink* messages);

// The message that describes a failed file operation (errno) on fileName.
std::string DescribeFileError(int error, const std::string& fileName);

}  // namespace varnow
