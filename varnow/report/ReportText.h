// Text pieces of the reports: entry display names, scan date texts, column padding measured in
// characters, and the quoting that keeps names intact inside rich text and comma-delimited files.
// Names are UTF-8 when valid; bytes that are not count as one character each and are kept.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace varnow {

// Longest name a report prints whole; longer ones keep their first kCutNameLength characters
// followed by "...".
inline constexpr std::size_t kMaxShownName = 32;
inline constexpr std::size_t kCutNameLength = 29;

// Date formats; "#" drops the leading zero of the number it marks.
inline constexpr const char* kHeadingDateFormat = "%b %#d, %#I:%M %p";
inline constexpr const char* kCommaHeadingDateFormat = "%b %#d  %#I:%M %p";
inline constexpr const char* kPrintedDateFormat = "%B %#d, %Y  at  %#I:%M %p";

// Characters in the text: UTF-8 sequences count once, every other byte once.
std::size_t TextWidth(std::string_view text);

// The name as a report shows it: cut when too long, a summary row without its "KOB*" prefix,
// control characters (which would break a row) as "?".
std::string DisplayName(std::string_view name);
bool IsSummaryName(std::string_view name);
// Control characters (which would break a row) as "?", everything else as it is.
std::string PrintableText(std::string_view text);

// Local time in the C locale's month names and AM/PM; "" for 0 (no scan).
std::string FormatScanTime(std::time_t time, const char* format);

// Blank-padded to width characters; a longer text is left whole.
std::string PadRight(std::string_view text, std::size_t width);
std::string PadLeft(std::string_view text, std::size_t width);

// Text as rich-text characters: "\", "{" and "}" escaped, other characters as \uN? (or \'hh
// for bytes that are not UTF-8), so any name survives.
std::string RtfEscape(std::string_view text);

// A comma-delimited field: quoted (with quotes doubled) only when it holds a comma, a quote or
// a line break, so such a name stays one field.
std::string CsvField(std::string_view text);

}  // namespace varnow
