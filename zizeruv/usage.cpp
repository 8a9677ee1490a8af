#include "zizeruv/usage.h"

namespace zizeruv {

const platform::CUsage& PrintUsage() {
  static const platform::CUsage usage{
      .program = "zizeruv",
      .summary = "print a disk space report (RTF or plain text) on the default printer",
      .synopsis = {"zizeruv /p FILE", "zizeruv --version", "zizeruv --help"},
      .description = {"zizeruv lays out a report that the disk space tracker wrote, as rich text "
                      "(RTF) or plain text, and prints it on the default printer. The tracker "
                      "starts it for its enhanced printing; it needs no display."},
      .options = {{"/p FILE", "print FILE (also written -p or /P)"},
                  {"--version", "print the program's version and end"},
                  {"--help", "print this text and end"}},
      .exitStatus = {{"0", "printed"},
                     {"1", "the command line is not one of the forms above"},
                     {"2", "the file could not be read"},
                     {"3", "no default printer is set up"},
                     {"4", "printing failed"}},
      .environment = {{"ZIZERUV_OUTPUT", "a PDF file to write instead of printing"}},
      .examples = {"ZIZERUV_OUTPUT=report.pdf zizeruv /p report.rtf"},
      .seeAlso = {"varnow(1)", "lp(1)"},
  };
  return usage;
}

}  // namespace zizeruv
