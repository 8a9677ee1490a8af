#include "varnow/report/LargestText.h"

#include <algorithm>

#include "varnow/report/FormatSize.h"
#include "varnow/report/ReportText.h"

namespace varnow {
namespace {

const std::vector<std::string> kHeadings = {"Size", "Modified", "File"};
constexpr const char* kModifiedFormat = "%b %#d %Y, %#I:%M %p";

}  // namespace

std::vector<std::string> LargestFileFields(const CLargeFile& file, const std::string& top, bool decorate, SizeUnit units) {
  std::string path = file.path;
  if (path.size() > top.size() && path.compare(0, top.size(), top) == 0) path.erase(0, top.size());
  return {FormatSize(file.size, decorate, units), FormatScanTime(static_cast<std::time_t>(file.modified), kModifiedFormat),
          decorate ? PrintableText(path) : path};
}

std::string LargestFilesReportText(const std::vector<CLargeFile>& files, const std::string& top, std::time_t scanned,
                                   const CReportOptions& options) {
  if (options.commaDelimited) {
    std::string text = "Size,Modified,File\r\n";
    for (const CLargeFile& file : files) {
      const std::vector<std::string> fields = LargestFileFields(file, top, false, options.units);
      text += CsvField(fields[0]) + "," + CsvField(fields[1]) + "," + CsvField(fields[2]) + "\r\n";
    }
    return text;
  }
  std::string text = "Varnow Largest Files Report\r\n";
  if (scanned == 0) {
    return text + "No scan of " + PrintableText(top) + " in this run: the largest files are those a scan finds.\r\n" +
           TextReportFooter(options, {});
  }
  text += "The " + std::to_string(files.size()) + " largest files below " + PrintableText(top) + " at the scan of " +
          FormatScanTime(scanned, kHeadingDateFormat) + "\r\n\r\n";
  if (files.empty()) return text + "No file was found.\r\n" + TextReportFooter(options, {});
  std::vector<std::vector<std::string>> rows;
  std::size_t sizeWidth = TextWidth(kHeadings[0]);
  std::size_t timeWidth = TextWidth(kHeadings[1]);
  for (const CLargeFile& file : files) {
    rows.push_back(LargestFileFields(file, top, true, options.units));
    sizeWidth = std::max(sizeWidth, TextWidth(rows.back()[0]));
    timeWidth = std::max(timeWidth, TextWidth(rows.back()[1]));
  }
  auto row = [&](const std::vector<std::string>& fields) {
    return PadLeft(fields[0], sizeWidth) + "  " + PadRight(fields[1], timeWidth) + "  " + fields[2] + "\r\n";
  };
  text += row(kHeadings) + std::string(sizeWidth + timeWidth + 4 + TextWidth(kHeadings[2]), '=') + "\r\n";
  for (const auto& fields : rows) text += row(fields);
  return text + TextReportFooter(options, {});
}

}  // namespace varnow
