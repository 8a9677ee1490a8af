// The largest files of a scan as a report: plain text with padded columns, or comma-delimited,
// in the display unit.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "varnow/report/PrintFile.h"
#include "varnow/scan/LargestFiles.h"

namespace varnow {

inline constexpr int kDefaultLargestLines = 20;

// The fields of one file: size, modification time, path (relative to top when below it).
std::vector<std::string> LargestFileFields(const CLargeFile& file, const std::string& top, bool decorate, SizeUnit units);

// files: largest first, at most as many as the report lists. scanned: the scan's time (0: no scan
// in this run, which the report says instead of a list).
std::string LargestFilesReportText(const std::vector<CLargeFile>& files, const std::string& top, std::time_t scanned,
                                   const CReportOptions& options);

}  // namespace varnow
