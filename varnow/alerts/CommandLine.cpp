#include "varnow/alerts/CommandLine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string_view>

#include "platform/asciicase.h"
#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/scan/LargestFiles.h"

namespace varnow {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// True when the token starts with the switch name in any letter case; value = the rest.
bool MatchSwitch(const std::string& token, std::string_view name, std::string& value) {
  if (!platform::StartsWithIgnoringCase(token, name)) return false;
  value = token.substr(name.size());
  return true;
}

// The number that the text's leading decimal digits make (after blanks and a sign), 0 without
// any; saturates instead of overflowing.
std::int64_t LeadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (__builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, digit, &value))
      return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
  }
  // Accumulated as a negative number so that the minimum itself is representable.
  if (negative) return value;
  return value == std::numeric_limits<std::int64_t>::min() ? std::numeric_limits<std::int64_t>::max() : -value;
}

bool AnyAlert(const CRunFlags& flags) {
  return flags.alertSize || flags.alertPercent || flags.freeAlert || flags.fullAlert;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A whole number written out in full: an optional sign, then digits and nothing else
// ("/ALERTPERCENT=10GB" is a typing error, not 10). False when it is not one or overflows.
bool WholeNumber(std::string_view text, std::int64_t& number) {
  std::string_view digits = text;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (!AllDigits(digits) || digits.size() > 19) return false;
  number = LeadingInteger(text);
  return number != std::numeric_limits<std::int64_t>::max() && number != std::numeric_limits<std::int64_t>::min();
}

// A size threshold in bytes: a whole number of K, or of the unit its suffix names (K, M, G or
// T, binary: 1M = 1024K). False when it is no such size or does not fit.
bool SizeInBytes(std::string_view text, std::int64_t& bytes) {
  static constexpr std::string_view kUnits = "KMGT";
  int shift = 10;
  if (!text.empty()) {
    const std::size_t unit = kUnits.find(platform::AsciiUpper(text.back()));
    if (unit != std::string_view::npos) {
      shift = 10 * static_cast<int>(unit + 1);
      text.remove_suffix(1);
    }
  }
  std::int64_t count = 0;
  return WholeNumber(text, count) && !__builtin_mul_overflow(count, std::int64_t{1} << shift, &bytes);
}

// A count that must be written out in digits and be at least 1 (no leading-digits reading:
// "/GROWTH=1O" is a typing error, not 1). 0 when it is not such a count.
std::int32_t PositiveCount(std::string_view text) {
  if (text.size() > 9 || !AllDigits(text)) return 0;
  return static_cast<std::int32_t>(LeadingInteger(text));
}

// The state of one pass over the tokens.
struct CParse {
  const std::string& commandLine;
  const CCommandToken& token;
  CRunFlags& flags;
  ICommandLineOwner* owner;  // nullptr in the first pass
  bool& directoryGiven;
  bool stop = false;         // /NOTIFY= took the rest of the line
};

void HandleDirectory(CParse& p, const std::string& value) {
  VN_TRACE("Automated /DIR=%s", value.c_str());
  // An empty value names no directory; taking it would scan whatever "" resolves to.
  if (value.empty()) return;
  p.owner->SetScanDirectory(value);
  p.flags.directory = value;
  p.flags.dirGiven = 1;
  p.directoryGiven = true;
}

void HandleSaveSubdirs(CParse& p, const std::string&) {
  p.flags.saveSubdirs = 1;
  p.flags.save = 1;  // saving the subdirectories saves the directory too
  VN_TRACE("Automated /SAVESUBDIRS");
  VN_TRACE("Automated /SAVE");
}

void HandleNotify(CParse& p, const std::string& value) {
  if (!AnyAlert(p.flags)) {
    VN_TRACE("/NOTIFY was passed on command-line before any of the three alert types was found");
    return;
  }
  // The command runs to the end of the line, blanks and quoting included.
  std::string command = value + p.commandLine.substr(p.token.end);
  VN_TRACE("Automated /NOTIFY=%s", command.c_str());
  p.owner->CommandLineFields().notifyCommand = std::move(command);
  p.stop = true;
}

// A threshold must be a whole number; below zero it would fire on every run.
bool CheckThreshold(CParse& p, bool valid, std::int64_t number, const std::string& example) {
  const std::string given = p.token.text;
  if (!valid) {
    p.flags.errors.push_back(given + ": not a whole number in range; write digits only (" + example + ")");
    return false;
  }
  if (number < 0) {
    p.flags.errors.push_back(given + ": a threshold cannot be negative");
    return false;
  }
  return true;
}

void HandleAlertPercent(CParse& p, const std::string& value) {
  VN_TRACE("Automated /ALERT%%=%s", value.c_str());
  p.flags.alertPercent = 1;
  p.flags.scan = 1;
  std::int64_t percent = 0;
  const bool valid = WholeNumber(value, percent) && percent <= std::numeric_limits<std::int32_t>::max();
  if (CheckThreshold(p, valid, percent, "/ALERTPERCENT=10"))
    p.owner->CommandLineFields().percentThreshold = static_cast<std::int32_t>(percent);
}

void HandleAlertSize(CParse& p, const std::string& value) {
  VN_TRACE("Automated /ALERTSIZE=%s", value.c_str());
  p.flags.alertSize = 1;
  p.flags.scan = 1;
  std::int64_t bytes = 0;
  const bool valid = SizeInBytes(value, bytes);
  if (CheckThreshold(p, valid, bytes, "/ALERTSIZE=1048576 or /ALERTSIZE=1G"))
    p.owner->CommandLineFields().sizeThreshold = bytes;
}

void HandleFreeAlert(CParse& p, const std::string& value) {
  VN_TRACE("Automated /FREEALERT=%s", value.c_str());
  p.flags.freeAlert = 1;
  std::int64_t bytes = 0;
  const bool valid = SizeInBytes(value, bytes);
  if (CheckThreshold(p, valid, bytes, "/FREEALERT=10485760 or /FREEALERT=10G"))
    p.owner->CommandLineFields().freeMinimum = bytes;
}

// /FULLALERT=days: the days must be given, and be 1 or more.
void HandleFullAlert(CParse& p, const std::string& value) {
  p.flags.fullAlert = 1;
  const std::int32_t days = PositiveCount(value);
  if (days == 0) {
    p.flags.errors.push_back(p.token.text + ": give the number of days, 1 or more (/FULLALERT=30)");
    return;
  }
  p.owner->CommandLineFields().fullAlertDays = days;
  VN_TRACE("Automated /FULLALERT=%d", days);
}

// /GROWTH or /GROWTH=N: N lines in each list of the growth report.
void HandleGrowth(CParse& p, const std::string& value) {
  p.flags.growth = 1;
  if (p.token.text.size() == std::string_view("/GROWTH").size()) return;  // the default count
  const std::int32_t lines = PositiveCount(value);
  if (lines == 0) {
    p.flags.errors.push_back(p.token.text + ": give the number of directories to list, 1 or more (/GROWTH=20)");
    return;
  }
  p.owner->CommandLineFields().growthLines = lines;
}

void HandleDebug(CParse& p, const std::string& value) {
  if (!platform::TraceLog::Open(value))
    p.flags.warnings.push_back("/DEBUG=" + value + ": the trace file cannot be created; the run goes on without it");
}

void HandleSave(CParse& p, const std::string&) {
  p.flags.save = 1;
  VN_TRACE("Automated /SAVE");
}

void HandleScan(CParse& p, const std::string&) {
  p.flags.scan = 1;
  p.flags.scanGiven = 1;
  VN_TRACE("Automated /SCAN");
}

// True when info is the file of one of our own open descriptors (/dev/stdout on a pipe).
bool IsOwnDescriptor(const struct stat& info, int fd) {
  struct stat own {};
  return ::fstat(fd, &own) == 0 && own.st_dev == info.st_dev && own.st_ino == info.st_ino;
}

// /TREEMAP=file: a picture whose extension says PNG or SVG, in a place a file can be written.
void HandleTreemap(CParse& p, const std::string& file) {
  p.flags.treemap = 1;
  if (!platform::EndsWithIgnoringCase(file, ".png") && !platform::EndsWithIgnoringCase(file, ".svg")) {
    p.flags.errors.push_back("/TREEMAP=" + file + ": name the picture file with .png or .svg (/TREEMAP=growth.png)");
    return;
  }
  struct stat info {};
  if (::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    p.flags.errors.push_back("/TREEMAP=" + file + ": the picture can only be written to a regular file");
    return;
  }
  p.owner->CommandLineFields().treemapFile = file;
  VN_TRACE("Automated /TREEMAP=%s", file.c_str());
}

// /TREEMAPSIZE=WIDTHxHEIGHT in pixels; a picture larger than kMaxTreemapSide a side would take
// gigabytes of memory.
void HandleTreemapSize(CParse& p, const std::string& value) {
  constexpr std::int32_t kMaxTreemapSide = 16000;
  const std::size_t x = value.find_first_of("xX");
  const std::int32_t width = x == std::string::npos ? 0 : PositiveCount(std::string_view(value).substr(0, x));
  const std::int32_t height = x == std::string::npos ? 0 : PositiveCount(std::string_view(value).substr(x + 1));
  if (width < 16 || height < 16 || width > kMaxTreemapSide || height > kMaxTreemapSide) {
    p.flags.errors.push_back("/TREEMAPSIZE=" + value + ": give the picture's width and height in pixels, 16 to " +
                             std::to_string(kMaxTreemapSide) + " each (/TREEMAPSIZE=1200x800)");
    return;
  }
  p.owner->CommandLineFields().treemapWidth = width;
  p.owner->CommandLineFields().treemapHeight = height;
}

// /LARGEST or /LARGEST=N: the N largest files of this run's scan (which the switch asks for).
void HandleLargest(CParse& p, const std::string& value) {
  p.flags.largest = 1;
  p.flags.scan = 1;
  if (p.token.text.size() == std::string_view("/LARGEST").size()) return;  // the default count
  const std::int32_t lines = PositiveCount(value);
  if (lines == 0 || lines > static_cast<std::int32_t>(kLargestFilesKept)) {
    p.flags.errors.push_back(p.token.text + ": give the number of files to list, 1 to " +
                             std::to_string(kLargestFilesKept) + " (/LARGEST=20)");
    return;
  }
  p.owner->CommandLineFields().largestLines = lines;
}

// The print file must be one a report can be written to and the run end: "-" (standard
// output), a regular file, a character device (/dev/null, /dev/stdout on a terminal), our own
// standard output or error whatever they are, or a name that does not exist yet. Another FIFO
// would block for ever.
bool UsableOutputFile(const std::string& path) {
  if (path == "-") return true;
  struct stat info {};
  if (path.empty()) return false;
  if (::stat(path.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode) || S_ISCHR(info.st_mode) || IsOwnDescriptor(info, STDOUT_FILENO) ||
         IsOwnDescriptor(info, STDERR_FILENO);
}

void HandlePrint(CParse& p, const std::string& value) {
  p.flags.print = 1;
  std::string path;
  if (platform::EqualsIgnoringCase(value, "LPT1")) {
    p.owner->SetPrintDestination(PrintDestination::kPrinter);
  } else if (MatchSwitch(value, "FILE=", path)) {
    if (!UsableOutputFile(path))
      p.flags.errors.push_back("/PRINT=FILE=" + path +
                               ": the report can only go to a regular file, a device such as /dev/null, or - "
                               "(standard output)");
    p.owner->SetPrintDestination(PrintDestination::kFile);
    p.owner->SetPrintFilePath(path);
    VN_TRACE("Automated /FILE=%s", path.c_str());
  } else {
    p.flags.print = 0;
    p.flags.errors.push_back("/PRINT=" + value + ": use /PRINT=LPT1 or /PRINT=FILE=path");
    VN_TRACE("Automated /FILE to printer");
  }
}

// A file the run writes (/METRICS=, /EXPORT=) or reads (/IMPORT=); "-" is standard output or
// input. A file to read is opened when the run reads it.
void HandleFileSwitch(CParse& p, const char* name, const std::string& value, bool output, int& flag,
                      std::string& field) {
  flag = 1;
  field = value;
  VN_TRACE("Automated %s%s", name, value.c_str());
  if (value.empty() || (output && !UsableOutputFile(value)))
    p.flags.errors.push_back(std::string(name) + value + ": give a regular file or - (standard " +
                             (output ? "output)" : "input)"));
}

void HandleMetrics(CParse& p, const std::string& value) {
  HandleFileSwitch(p, "/METRICS=", value, true, p.flags.metrics, p.owner->CommandLineFields().metricsFile);
}

void HandleExport(CParse& p, const std::string& value) {
  HandleFileSwitch(p, "/EXPORT=", value, true, p.flags.exportTree, p.owner->CommandLineFields().exportFile);
}

void HandleImport(CParse& p, const std::string& value) {
  HandleFileSwitch(p, "/IMPORT=", value, false, p.flags.importTree, p.owner->CommandLineFields().importFile);
}

void HandleMetricsDepth(CParse& p, const std::string& value) {
  const bool digits = !value.empty() && value.size() <= 9 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) p.owner->CommandLineFields().metricsDepth = static_cast<std::int32_t>(LeadingInteger(value));
  else p.flags.errors.push_back("/METRICSDEPTH=" + value + ": give the number of levels, 0 or more (/METRICSDEPTH=3)");
}

// What the exchange switches cannot be combined with.
void CheckExchangeSwitches(CRunFlags& flags) {
  if (flags.exportTree && !flags.scanGiven) flags.errors.push_back("/EXPORT= writes the tree a scan walks: add /SCAN");
  if (flags.importTree && flags.scanGiven) flags.errors.push_back("/IMPORT= takes the place of /SCAN: give only one of them");
  if (flags.importTree && flags.exportTree) flags.errors.push_back("/IMPORT= and /EXPORT= cannot be combined");
}

// How a switch takes its value: "/SCAN" none, "/DIR=x" one after "=", "/GROWTH" or "/GROWTH=n".
enum class CValue { None, Required, Optional };
enum class CPass { First, Second, Both };

struct CSwitch {
  std::string_view name;  // without "="
  CValue value;
  CPass pass;
  void (*handle)(CParse&, const std::string& value);
  std::string_view usage;    // as --help writes it
  std::string_view meaning;  // one line of --help
};

// Every switch of the tracker, in the order --help lists them and a token is handled. A new
// switch is one more row here (and its handler).
constexpr CSwitch kSwitches[] = {
    {"/DIR", CValue::Required, CPass::Second, HandleDirectory, "/DIR=directory",
     "the directory to scan, check or report on (quote it when it has blanks)"},
    {"/SCAN", CValue::None, CPass::Both, HandleScan, "/SCAN", "scan the directory"},
    {"/SAVE", CValue::None, CPass::Both, HandleSave, "/SAVE", "save the scan, so that later scans compare with it"},
    {"/SAVESUBDIRS", CValue::None, CPass::Second, HandleSaveSubdirs, "/SAVESUBDIRS",
     "save the record of every subdirectory too (implies /SAVE)"},
    {"/DEBUG", CValue::Required, CPass::First, HandleDebug, "/DEBUG=tracefile", "write a trace log of the run"},
    {"/ALERTPERCENT", CValue::Required, CPass::Second, HandleAlertPercent, "/ALERTPERCENT=n",
     "alert when the directory grew by more than n % since the last saved scan"},
    {"/ALERTSIZE", CValue::Required, CPass::Second, HandleAlertSize, "/ALERTSIZE=size",
     "alert when it grew by more than size since then (in K, or with K, M, G or T)"},
    {"/FREEALERT", CValue::Required, CPass::Second, HandleFreeAlert, "/FREEALERT=size",
     "alert when its disk has less than size free (in K, or with K, M, G or T)"},
    {"/FULLALERT", CValue::Optional, CPass::Second, HandleFullAlert, "/FULLALERT=days",
     "alert when, at the rate its free space falls, its disk fills within days"},
    {"/GROWTH", CValue::Optional, CPass::Second, HandleGrowth, "/GROWTH[=n]",
     "list the n directories (default 20) that grew most, instead of the report"},
    {"/PRINT", CValue::Required, CPass::Second, HandlePrint, "/PRINT=LPT1 | /PRINT=FILE=path",
     "print the report, or write it to a file (- is standard output)"},
    {"/NOTIFY", CValue::Required, CPass::Second, HandleNotify, "/NOTIFY=command ...",
     "the command to run when an alert fires: the rest of the line, after the alert switches"},
    {"/METRICSDEPTH", CValue::Required, CPass::Second, HandleMetricsDepth, "/METRICSDEPTH=n",
     "how many levels of saved subdirectories /METRICS= lists (default 3)"},
    {"/METRICS", CValue::Required, CPass::Second, HandleMetrics, "/METRICS=file",
     "write the saved figures for Prometheus, atomically (- is standard output)"},
    {"/EXPORT", CValue::Required, CPass::Second, HandleExport, "/EXPORT=file.json",
     "with /SCAN: write the scanned tree in ncdu's JSON export format (- is standard output)"},
    {"/IMPORT", CValue::Required, CPass::Second, HandleImport, "/IMPORT=file.json",
     "take an ncdu export as a scan of the directory, made at its time (- is standard input)"},
    {"/TREEMAPSIZE", CValue::Required, CPass::Second, HandleTreemapSize, "/TREEMAPSIZE=WxH",
     "the /TREEMAP= picture's width and height in pixels (default 1200x800)"},
    {"/TREEMAP", CValue::Required, CPass::Second, HandleTreemap, "/TREEMAP=file",
     "draw the saved tree coloured by what changed, as PNG or SVG by the file's extension"},
    {"/LARGEST", CValue::Optional, CPass::Second, HandleLargest, "/LARGEST[=n]",
     "scan and list the n largest files (default 20, at most 100), instead of the report"},
};

// The switch the token names, and its value; nullptr when it names none. The name matches in
// any letter case and must stand alone or be followed by "=" (for a switch that takes a value).
const CSwitch* FindSwitch(const std::string& token, std::string& value) {
  for (const CSwitch& entry : kSwitches) {
    std::string rest;
    if (!MatchSwitch(token, entry.name, rest)) continue;
    const bool bare = rest.empty();
    const bool withValue = !rest.empty() && rest[0] == '=';
    if ((entry.value == CValue::None && bare) || (entry.value == CValue::Required && withValue) ||
        (entry.value == CValue::Optional && (bare || withValue))) {
      value = withValue ? rest.substr(1) : std::string();
      return &entry;
    }
  }
  return nullptr;
}

// False ends the parse (after /NOTIFY=, which takes the rest of the line).
bool HandleToken(const std::string& commandLine, const CCommandToken& token, CRunFlags& flags,
                 ICommandLineOwner* owner, bool& directoryGiven) {
  std::string value;
  const CSwitch* entry = FindSwitch(token.text, value);
  if (!entry) {
    // Told once, by the pass that handles every switch.
    if (owner) flags.errors.push_back(token.text + ": unknown switch");
    return true;
  }
  const bool runs = entry->pass == CPass::Both || (entry->pass == CPass::First) == (owner == nullptr);
  if (!runs) return true;
  CParse parse{commandLine, token, flags, owner, directoryGiven};
  entry->handle(parse, value);
  return !parse.stop;
}

}  // namespace

std::vector<platform::CUsageItem> SwitchUsage() {
  std::vector<platform::CUsageItem> items;
  for (const CSwitch& entry : kSwitches) items.push_back({std::string(entry.usage), std::string(entry.meaning)});
  return items;
}

std::string UsageText() {
  std::string text =
      "Usage: varnow [switch ...]\n"
      "       varnow --version | --help\n"
      "Switches (names in any letter case, values as typed):\n";
  for (const CSwitch& entry : kSwitches) {
    std::string line = "  " + std::string(entry.usage);
    line.resize(std::max<std::size_t>(line.size() + 2, 34), ' ');
    text += line + std::string(entry.meaning) + "\n";
  }
  text +=
      "With /DIR= and one of /SCAN, /PRINT= or an alert switch, or with /FREEALERT=, /FULLALERT= or\n"
      "/GROWTH alone (these take the current directory), the tracker runs unattended and ends\n"
      "without opening its window. Sizes without a unit are in K (1024 bytes); 1M = 1024K.\n"
      "Exit status: 2 when the command line cannot be right (an unknown switch, a value that is no\n"
      "number or out of range, a directory to scan that does not exist; nothing is done); for an\n"
      "unattended run 4 when the data file could not be read or written, 5 when a /METRICS= or\n"
      "/EXPORT= file could not be written, 3 when an alert fired, otherwise 0. --help tells more.\n";
  return text;
}

void CheckUnattendedDirectory(CRunFlags& flags) {
  // A run that only reads saved records (the report, the growth list, the disk-full
  // projection) can report on a directory that is gone; a scan or a free-space check cannot.
  if (!flags.automated || flags.directory.empty() || !(flags.scan || flags.freeAlert)) return;
  struct stat info {};
  if (::stat(flags.directory.c_str(), &info) != 0)
    flags.errors.push_back("/DIR=" + flags.directory + ": no such directory");
  else if (!S_ISDIR(info.st_mode))
    flags.errors.push_back("/DIR=" + flags.directory + ": not a directory");
}

std::int32_t LeadingInt32(std::string_view text) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(LeadingInteger(text), std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

int ParseCommandLine(const std::string& commandLine, CRunFlags& flags, ICommandLineOwner* owner) {
  const bool read = platform::Guarded("ParseCommandLine", [&] {
    if (commandLine.empty()) return true;
    if (owner) VN_TRACE("Command Line: %s", commandLine.c_str());
    bool directoryGiven = false;
    for (const CCommandToken& token : SplitCommandLine(commandLine)) {
      if (!HandleToken(commandLine, token, flags, owner, directoryGiven)) break;
    }
    if (owner) CheckExchangeSwitches(flags);
    // Both would take the report's place in one file.
    if (owner && flags.growth && flags.largest)
      flags.errors.push_back("/GROWTH and /LARGEST: ask for one of the two lists in a run");
    // The growth report, the metrics, the picture of the saved tree and the disk-full alert read
    // saved records: like the free-space alert they need no directory (the current one is taken)
    // and no scan; an import names its directory itself; the largest files come with a scan of
    // their own.
    if (owner && ((directoryGiven && (flags.print || flags.scan)) || flags.freeAlert || flags.fullAlert ||
                  flags.growth || flags.metrics || flags.exportTree || flags.importTree || flags.treemap ||
                  flags.largest)) {
      flags.automated = 1;
      owner->SetAutoSave(flags.save);
    }
    return true;
  }, false);
  // A command line read only in part is refused, never run as far as it was read.
  if (!read) flags.errors.push_back("the command line could not be read");
  return 1;
}

}  // namespace varnow
