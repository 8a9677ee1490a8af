#include "varnow/alerts/CommandLine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <limits>
#include <string_view>

#include "platform/tracelog.h"
#include "varnow/scan/LargestFiles.h"

namespace varnow {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// True when the token starts with the switch name in any letter case; value = the rest.
bool MatchSwitch(const std::string& token, std::string_view name, std::string& value) {
  if (token.size() < name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(token[i])) != static_cast<unsigned char>(name[i]))
      return false;
  }
  value = token.substr(name.size());
  return true;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
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

// A count of K (1024 bytes) in bytes, saturated.
std::int64_t KilobytesToBytes(std::int64_t kilobytes) {
  std::int64_t bytes = 0;
  if (__builtin_mul_overflow(kilobytes, 1024, &bytes))
    return kilobytes < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
  return bytes;
}

bool AnyAlert(const CRunFlags& flags) {
  return flags.alertSize || flags.alertPercent || flags.freeAlert || flags.fullAlert;
}

// A count that must be written out in digits and be at least 1 (no leading-digits reading:
// "/GROWTH=1O" is a typing error, not 1). 0 when it is not such a count.
std::int32_t PositiveCount(std::string_view text) {
  if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return 0;
  return static_cast<std::int32_t>(LeadingInteger(text));
}

// /GROWTH or /GROWTH=N: N lines in each list of the growth report.
void HandleGrowth(const std::string& value, CRunFlags& flags, ICommandLineOwner& owner) {
  flags.growth = 1;
  if (value.empty()) return;  // the default count
  const std::int32_t lines = value[0] == '=' ? PositiveCount(std::string_view(value).substr(1)) : 0;
  if (lines == 0) {
    flags.errors.push_back("/GROWTH" + value + ": give the number of directories to list, 1 or more (/GROWTH=20)");
    return;
  }
  owner.CommandLineFields().growthLines = lines;
}

// /FULLALERT=days: the days must be given, and be 1 or more.
void HandleFullAlert(const std::string& value, CRunFlags& flags, ICommandLineOwner& owner) {
  flags.fullAlert = 1;
  const std::int32_t days = value.size() > 1 && value[0] == '=' ? PositiveCount(std::string_view(value).substr(1)) : 0;
  if (days == 0) {
    flags.errors.push_back("/FULLALERT" + value + ": give the number of days, 1 or more (/FULLALERT=30)");
    return;
  }
  owner.CommandLineFields().fullAlertDays = days;
  VN_TRACE("Automated /FULLALERT=%d", days);
}

// /TREEMAP=file: a picture whose extension says PNG or SVG, in a place a file can be written.
void HandleTreemap(const std::string& value, CRunFlags& flags, ICommandLineOwner& owner) {
  flags.treemap = 1;
  const std::string file = value.empty() || value[0] != '=' ? std::string() : value.substr(1);
  std::string lower = file;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!lower.ends_with(".png") && !lower.ends_with(".svg")) {
    flags.errors.push_back("/TREEMAP" + value + ": name the picture file with .png or .svg (/TREEMAP=growth.png)");
    return;
  }
  struct stat info {};
  if (::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    flags.errors.push_back("/TREEMAP=" + file + ": the picture can only be written to a regular file");
    return;
  }
  owner.CommandLineFields().treemapFile = file;
  VN_TRACE("Automated /TREEMAP=%s", file.c_str());
}

// /TREEMAPSIZE=WIDTHxHEIGHT in pixels; a picture larger than kMaxTreemapSide a side would take
// gigabytes of memory.
void HandleTreemapSize(const std::string& value, CRunFlags& flags, ICommandLineOwner& owner) {
  constexpr std::int32_t kMaxTreemapSide = 16000;
  const std::size_t x = value.find_first_of("xX");
  const std::int32_t width = x == std::string::npos ? 0 : PositiveCount(std::string_view(value).substr(0, x));
  const std::int32_t height = x == std::string::npos ? 0 : PositiveCount(std::string_view(value).substr(x + 1));
  if (width < 16 || height < 16 || width > kMaxTreemapSide || height > kMaxTreemapSide) {
    flags.errors.push_back("/TREEMAPSIZE=" + value + ": give the picture's width and height in pixels, 16 to " +
                           std::to_string(kMaxTreemapSide) + " each (/TREEMAPSIZE=1200x800)");
    return;
  }
  owner.CommandLineFields().treemapWidth = width;
  owner.CommandLineFields().treemapHeight = height;
}

// /LARGEST or /LARGEST=N: the N largest files of this run's scan (which the switch asks for).
void HandleLargest(const std::string& value, CRunFlags& flags, ICommandLineOwner& owner) {
  flags.largest = 1;
  flags.scan = 1;
  if (value.empty()) return;
  const std::int32_t lines = value[0] == '=' ? PositiveCount(std::string_view(value).substr(1)) : 0;
  if (lines == 0 || lines > static_cast<std::int32_t>(kLargestFilesKept)) {
    flags.errors.push_back("/LARGEST" + value + ": give the number of files to list, 1 to " +
                           std::to_string(kLargestFilesKept) + " (/LARGEST=20)");
    return;
  }
  owner.CommandLineFields().largestLines = lines;
}

// The print file must be one a report can be written to and the run end: "-" (standard
// output), a regular file, or a name that does not exist yet. A FIFO would block for ever.
bool UsablePrintFile(const std::string& path) {
  if (path == "-") return true;
  struct stat info {};
  if (path.empty()) return false;
  if (::stat(path.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

void HandlePrint(const std::string& value, CRunFlags& flags, ICommandLineOwner& owner) {
  flags.print = 1;
  std::string path;
  if (EqualsIgnoringCase(value, "LPT1")) {
    owner.SetPrintDestination(1);
  } else if (MatchSwitch(value, "FILE=", path)) {
    if (!UsablePrintFile(path))
      flags.errors.push_back("/PRINT=FILE=" + path + ": the report can only go to a regular file or - (standard output)");
    owner.SetPrintDestination(2);
    owner.SetPrintFilePath(path);
    VN_TRACE("Automated /FILE=%s", path.c_str());
  } else {
    flags.print = 0;
    flags.errors.push_back("/PRINT=" + value + ": use /PRINT=LPT1 or /PRINT=FILE=path");
    VN_TRACE("Automated /FILE to printer");
  }
}

// A threshold below zero would fire on every run.
void CheckThreshold(CRunFlags& flags, const char* name, const std::string& value, std::int64_t number) {
  if (number < 0) flags.errors.push_back(std::string(name) + value + ": a threshold cannot be negative");
}

// The switches of one token; false ends the parse (after /NOTIFY=, which takes the rest).
bool HandleToken(const std::string& commandLine, const CCommandToken& token, CRunFlags& flags,
                 ICommandLineOwner* owner, bool& directoryGiven) {
  const std::string& text = token.text;
  std::string value;
  if (owner && MatchSwitch(text, "/DIR=", value)) {
    VN_TRACE("Automated /DIR=%s", value.c_str());
    // An empty value names no directory; taking it would scan whatever "" resolves to.
    if (!value.empty()) {
      owner->SetScanDirectory(value);
      directoryGiven = true;
    }
  }
  if (owner && MatchSwitch(text, "/SAVESUBDIRS", value)) {
    flags.saveSubdirs = 1;
    VN_TRACE("Automated /SAVESUBDIRS");
  }
  if (owner && MatchSwitch(text, "/NOTIFY=", value)) {
    if (AnyAlert(flags)) {
      // The command runs to the end of the line, blanks and quoting included.
      std::string command = value + commandLine.substr(token.end);
      VN_TRACE("Automated /NOTIFY=%s", command.c_str());
      owner->CommandLineFields().notifyCommand = std::move(command);
      return false;
    }
    VN_TRACE("/NOTIFY was passed on command-line before any of the three alert types was found");
    return true;
  }
  if (owner && MatchSwitch(text, "/ALERTPERCENT=", value)) {
    owner->CommandLineFields().percentThreshold = LeadingInt32(value);
    CheckThreshold(flags, "/ALERTPERCENT=", value, LeadingInteger(value));
    VN_TRACE("Automated /ALERT%%=%s", value.c_str());
    flags.alertPercent = 1;
    flags.scan = 1;
  }
  if (owner && MatchSwitch(text, "/ALERTSIZE=", value)) {
    owner->CommandLineFields().sizeThreshold = KilobytesToBytes(LeadingInteger(value));
    CheckThreshold(flags, "/ALERTSIZE=", value, LeadingInteger(value));
    VN_TRACE("Automated /ALERTSIZE=%s", value.c_str());
    flags.alertSize = 1;
    flags.scan = 1;
  }
  if (owner && MatchSwitch(text, "/FREEALERT=", value)) {
    owner->CommandLineFields().freeMinimum = KilobytesToBytes(LeadingInteger(value));
    CheckThreshold(flags, "/FREEALERT=", value, LeadingInteger(value));
    VN_TRACE("Automated /FREEALERT=%s", value.c_str());
    flags.freeAlert = 1;
  }
  if (owner && MatchSwitch(text, "/FULLALERT", value)) HandleFullAlert(value, flags, *owner);
  if (owner && MatchSwitch(text, "/GROWTH", value)) HandleGrowth(value, flags, *owner);
  if (owner && MatchSwitch(text, "/TREEMAPSIZE=", value)) HandleTreemapSize(value, flags, *owner);
  else if (owner && MatchSwitch(text, "/TREEMAP", value)) HandleTreemap(value, flags, *owner);
  if (owner && MatchSwitch(text, "/LARGEST", value)) HandleLargest(value, flags, *owner);
  if (!owner && MatchSwitch(text, "/DEBUG=", value) && !platform::TraceLog::Open(value))
    flags.warnings.push_back("/DEBUG=" + value + ": the trace file cannot be created; the run goes on without it");
  if (MatchSwitch(text, "/SAVE", value)) {
    flags.save = 1;
    VN_TRACE("Automated /SAVE");
  }
  if (MatchSwitch(text, "/SCAN", value)) {
    flags.scan = 1;
    VN_TRACE("Automated /SCAN");
  }
  if (owner && MatchSwitch(text, "/PRINT=", value)) HandlePrint(value, flags, *owner);
  return true;
}

}  // namespace

std::int32_t LeadingInt32(std::string_view text) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(LeadingInteger(text), std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

int ParseCommandLine(const std::string& commandLine, CRunFlags& flags, ICommandLineOwner* owner) {
  try {
    if (commandLine.empty()) return 1;
    if (owner) VN_TRACE("Command Line: %s", commandLine.c_str());
    bool directoryGiven = false;
    for (const CCommandToken& token : SplitCommandLine(commandLine)) {
      if (!HandleToken(commandLine, token, flags, owner, directoryGiven)) break;
    }
    // Both would take the report's place in one file.
    if (owner && flags.growth && flags.largest)
      flags.errors.push_back("/GROWTH and /LARGEST: ask for one of the two lists in a run");
    // The growth report and the disk-full alert read saved records: like the free-space alert
    // they need no directory (the current one is taken) and no scan.
    // So does the picture of the saved tree; the largest files come with a scan of their own.
    if (owner && ((directoryGiven && (flags.print || flags.scan)) || flags.freeAlert || flags.fullAlert ||
                  flags.growth || flags.treemap || flags.largest)) {
      flags.automated = 1;
      owner->SetAutoSave(flags.save);
    }
  } catch (...) {
    VN_TRACE("** Exception in ParseCommandLine\n");
  }
  return 1;
}

}  // namespace varnow
