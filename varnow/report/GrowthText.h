// The growth ranking as a report: plain text with blank-padded columns, or comma-delimited
// (one table with the kind of change as its first field), in the display unit.
#pragma once

#include <string>
#include <vector>

#include "varnow/report/Growth.h"
#include "varnow/report/PrintFile.h"

namespace varnow {

// A directory's path as the growth lists show it: relative to the top ("." for the top
// itself), control characters as "?".
std::string GrowthPathText(const std::string& path, const std::string& top);

// A change with its sign ("+5,120 K", "-1 K", "0 K"), as FormatSize writes the amount.
std::string SignedSizeText(std::int64_t change, bool decorate, SizeUnit units);
// The change in per cent ("+12.5%"); "" when there is none.
std::string PercentText(const CGrowthLine& line, bool decorate);

// The column headings of a growth line and its fields as the plain-text report writes them
// (decorate) or the comma-delimited one; the directory is the last column.
const std::vector<std::string>& GrowthHeadings();
std::vector<std::string> GrowthLineFields(const CGrowthLine& line, const std::string& top, bool decorate, SizeUnit units);

// The whole report; options.commaDelimited chooses the format, the other format flags are
// not used. projection is the footer's line about when the disk fills.
std::string GrowthReportText(const CGrowthReport& report, const CReportOptions& options,
                             const std::string& projection);

}  // namespace varnow
