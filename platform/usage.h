// A program's usage: what its --help prints and what its manual page says, kept in one table so
// that the two cannot tell different things. Each program fills a CUsage once; the build renders
// the same table as a manual page.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct CUsageItem {
  std::string term;  // a switch, an exit status, a variable or a file
  std::string text;  // what it means: one paragraph, wrapped by the renderer
};

struct CUsage {
  std::string program;                   // the command's name
  std::string summary;                   // one line, lower case, no final stop: the NAME line
  std::vector<std::string> synopsis;     // each a form of the command line, written as typed
  std::vector<std::string> description;  // paragraphs
  std::vector<CUsageItem> options;
  std::vector<CUsageItem> exitStatus;
  std::vector<CUsageItem> environment;   // manual page only
  std::vector<CUsageItem> files;         // manual page only
  std::vector<std::string> examples;     // command lines, each shown as typed
  std::vector<std::string> seeAlso;      // "orvsched(1)"; manual page only
};

// What --help prints: the synopsis, the description, the switches, the exit statuses and the
// examples, wrapped to fit 80 columns.
std::string HelpText(const CUsage& usage);

// The manual page (section 1) in roff: `date` as YYYY-MM-DD, `source` such as "Varnow 2.0.0.74".
std::string ManPage(const CUsage& usage, const std::string& date, const std::string& source);

}  // namespace platform
