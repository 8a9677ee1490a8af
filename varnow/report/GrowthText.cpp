#include "varnow/report/GrowthText.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "varnow/report/FormatSize.h"
#include "varnow/report/ReportText.h"

namespace varnow {
namespace {

using Row = std::vector<std::string>;

// The directory comes last, so that long paths do not push the numbers apart.
const Row kHeadings = {"Change", "Change %", "Own files", "Before", "Now", "Older scan", "Newer scan", "Directory"};
// Columns written flush left; the sizes and the percentage are flush right.
constexpr bool kLeftAligned[] = {false, false, false, false, false, true, true, true};

}  // namespace

const std::vector<std::string>& GrowthHeadings() { return kHeadings; }

std::vector<std::string> GrowthLineFields(const CGrowthLine& line, const std::string& top, bool decorate, SizeUnit units) {
  const char* dateFormat = decorate ? kHeadingDateFormat : kCommaHeadingDateFormat;
  // A directory that is new or gone has no earlier split of its total to compare.
  const bool bothScans = line.before != kNoSize && line.now != kNoSize;
  return {SignedSizeText(line.Change(), decorate, units),
          PercentText(line, decorate),
          bothScans ? SignedSizeText(line.ownFiles, decorate, units) : std::string(),
          FormatSize(line.before, decorate, units),
          FormatSize(line.now, decorate, units),
          FormatScanTime(line.beforeTime, dateFormat),
          FormatScanTime(line.nowTime, dateFormat),
          GrowthPathText(line.path, top)};
}

namespace {

struct Section {
  const char* title;   // text format
  const char* kind;    // comma-delimited format
  const char* none;    // text format, when the section is empty
  const std::vector<CGrowthLine>* lines;
};

std::vector<Section> Sections(const CGrowthReport& report) {
  return {{"Grew", "Grew", "No directory grew.", &report.grown},
          {"Shrunk or removed", "Shrunk", "No directory shrank.", &report.shrunk},
          {"New directories", "New", "No new directory.", &report.added}};
}

std::string TextRow(const Row& fields, const std::vector<std::size_t>& widths) {
  std::string row;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) row += "  ";
    const bool last = i + 1 == fields.size();
    row += kLeftAligned[i] ? (last ? fields[i] : PadRight(fields[i], widths[i])) : PadLeft(fields[i], widths[i]);
  }
  return row + "\r\n";
}

std::string TextReport(const CGrowthReport& report, const CReportOptions& options, const std::string& projection) {
  std::string text = "Varnow Growth Report\r\nDirectories below " + PrintableText(report.top) +
                     " that changed most between their two newest saved scans\r\n\r\n";
  if (!report.whyEmpty.empty()) return text + report.whyEmpty + "\r\n" + TextReportFooter(options, projection);
  std::vector<std::vector<Row>> rows;
  std::vector<std::size_t> widths;
  for (const std::string& heading : kHeadings) widths.push_back(TextWidth(heading));
  for (const Section& section : Sections(report)) {
    rows.emplace_back();
    for (const CGrowthLine& line : *section.lines) {
      rows.back().push_back(GrowthLineFields(line, report.top, true, options.units));
      for (std::size_t i = 0; i < widths.size(); ++i) widths[i] = std::max(widths[i], TextWidth(rows.back().back()[i]));
    }
  }
  // As long as the heading row: the paths after it may be long, the rule need not follow them.
  std::size_t rule = 2 * (widths.size() - 1) + TextWidth(kHeadings.back());
  for (std::size_t i = 0; i + 1 < widths.size(); ++i) rule += widths[i];
  const std::vector<Section> sections = Sections(report);
  for (std::size_t s = 0; s < sections.size(); ++s) {
    text += std::string(sections[s].title) + "\r\n";
    if (rows[s].empty()) {
      text += std::string(sections[s].none) + "\r\n\r\n";
      continue;
    }
    text += TextRow(kHeadings, widths) + std::string(rule, '=') + "\r\n";
    for (const Row& row : rows[s]) text += TextRow(row, widths);
    text += "\r\n";
  }
  text.erase(text.size() - 2);  // the footer begins with its own empty line
  return text + TextReportFooter(options, projection);
}

std::string CommaLine(const Row& fields) {
  std::string line;
  for (const std::string& field : fields) line += (line.empty() ? "" : ",") + CsvField(field);
  return line + "\r\n";
}

// Comma-delimited rows read like the directory report's: the directory first.
Row DirectoryFirst(Row row) {
  std::rotate(row.rbegin(), row.rbegin() + 1, row.rend());
  return row;
}

std::string CommaReport(const CGrowthReport& report, const CReportOptions& options) {
  Row heading = DirectoryFirst(kHeadings);
  heading.insert(heading.begin(), "Kind");
  std::string text = CommaLine(heading);
  for (const Section& section : Sections(report)) {
    for (const CGrowthLine& line : *section.lines) {
      Row fields = DirectoryFirst(GrowthLineFields(line, report.top, false, options.units));
      fields.insert(fields.begin(), section.kind);
      text += CommaLine(fields);
    }
  }
  return text;
}

}  // namespace

std::string GrowthPathText(const std::string& path, const std::string& top) {
  if (path == top) return ".";
  if (path.size() > top.size() && path.compare(0, top.size(), top) == 0) return PrintableText(path.substr(top.size()));
  return PrintableText(path);
}

std::string SignedSizeText(std::int64_t change, bool decorate, SizeUnit units) {
  if (change == 0) return FormatSize(0, decorate, units);
  // Negative sizes have no text of their own: the amount is written, then the sign put before it.
  const std::int64_t amount = change < 0 ? (change == INT64_MIN ? INT64_MAX : -change) : change;
  const std::string text = FormatSize(amount, decorate, units);
  if (change < 0) return "-" + text;
  return decorate ? "+" + text : text;
}

std::string PercentText(const CGrowthLine& line, bool decorate) {
  double percent = 0;
  if (!line.Percent(percent)) return {};
  char text[64];
  std::snprintf(text, sizeof text, decorate ? "%+.1f%%" : "%.1f", percent);
  return text;
}

std::string GrowthReportText(const CGrowthReport& report, const CReportOptions& options,
                             const std::string& projection) {
  return options.commaDelimited ? CommaReport(report, options) : TextReport(report, options, projection);
}

}  // namespace varnow
