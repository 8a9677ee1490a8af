// One print of the current directory record: the report written to the user's file, or to a
// temporary file that a print program prints and that is deleted afterwards. Plain reports go
// to `lp`, enhanced ones to `zizeruv` (looked for beside this program first, then on PATH).
// Needs no display: the print options dialog and the unattended run both use it.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "varnow/report/PrintFile.h"
#include "varnow/scan/DirData.h"
#include "varnow/settings/Settings.h"

namespace varnow {

// The five print settings as the main window keeps them.
struct CPrintSettings {
  PrintDestination printDestination = PrintDestination::kPrinter;
  std::string printFilePath = "DIRSIZE.TXT";
  int commaDelimited = 0;
  int enhancedPrinting = 1;
  int printColumns = 3;
};

// What a report is made of, as the main window has it at the moment of printing.
struct CReportSource {
  const CDirData* record = nullptr;
  std::string scanDir;
  SizeUnit units = SizeUnit::kK;
  SortMethod sortMethod = SortMethod::kByName;
  std::string homePage;
  bool onDisk = true;  // sizes are space on disk, not apparent lengths
};

// What printing needs of the main window.
class IPrintOwner {
 public:
  virtual ~IPrintOwner() = default;
  virtual CPrintSettings PrintSettings() const = 0;
  virtual void SetPrintSettings(const CPrintSettings& settings) = 0;
  virtual CReportSource ReportSource() = 0;
};

// The title the plain-text print job carries.
inline constexpr const char* kPrintTitle = "Varnow Print";

// A print program's command: its name, its path ("" when not found) and its arguments.
struct CPrintCommand {
  std::string name;
  std::string program;
  std::vector<std::string> args;
  std::string searched;      // where it was looked for, as a message names it
  std::string Text() const;  // as shown in messages, arguments with blanks quoted
};

CPrintCommand PlainPrintCommand(const std::string& file);
CPrintCommand EnhancedPrintCommand(const std::string& file);

// Writes a report other than the directory report (the growth report) into a file, as
// CreatePrintFile does; such reports are plain or comma-delimited text.
using ReportWriter =
    std::function<bool(const std::string& file, const CReportOptions& options, const MessageSink* messages)>;

class CPrintJob {
 public:
  // Takes the comma-delimited flag, file path and enhanced flag from the owner's settings;
  // three columns, no destination chosen yet.
  explicit CPrintJob(IPrintOwner& owner);

  // Writes the report and, for the printer, prints and deletes it. The file path "-" is
  // standard output, which always gets plain text (or comma-delimited) rather than rich text.
  // messages shows failures (the dialog's message boxes); without it they are only traced.
  // True when the report was written and, for the printer, handed to the print program
  // without an error.
  bool Print(const MessageSink* messages);

  // The file to write: a new temporary "VNP..." file for the printer, else the file path.
  std::string GetPrintFile();

  // The choices the dialog shows and edits.
  bool m_commaDelimited = false;
  std::string m_filePath;
  std::optional<PrintDestination> m_destination;  // none chosen when empty
  int m_columns = 3;
  bool m_enhanced = true;
  bool m_cancelled = false;
  // Set: what is printed instead of the directory report.
  ReportWriter m_writer;

  // How long the print program is waited for before its file is deleted anyway.
  std::chrono::milliseconds m_waitLimit{10000};

 private:
  bool RunPrintProgram(const std::string& file, bool enhanced, const MessageSink* messages);

  IPrintOwner& m_owner;
};

// The unattended print of an automated run: the owner's settings, always three size columns,
// no window. Failures go to the trace log and to standard error. writer: what is printed
// instead of the directory report.
bool PrintAutomated(IPrintOwner& owner, const ReportWriter& writer = {});

}  // namespace varnow
