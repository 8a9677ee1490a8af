#include "varnow/report/PrintFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <new>
#include <vector>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/report/EntryOrder.h"
#include "varnow/report/ReportText.h"
#include "varnow/report/FormatSize.h"
#include "varnow/report/FullProjection.h"

namespace varnow {
namespace {

constexpr const char* kProduct = "Varnow";
constexpr int kAllColumns = 6;

constexpr const char* kRtfPrologue =
    "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fswiss MS Sans Serif;}{\\f1\\froman\\fcharset2 Symbol;}"
    "{\\f2\\fswiss\\fprq2 Arial;}{\\f3\\froman Times New Roman;}{\\f4\\froman\\fprq2 Times New Roman;}"
    "{\\f5\\fmodern\\fprq1 Courier New;}}{\\colortbl\\red0\\green0\\blue0;}\\deflang1033\\pard\\plain\\f2\\fs28\\b ";
constexpr const char* kRtfTableFont = "\\plain\\f5\\fs20 ";
constexpr const char* kRtfBold = "\\plain\\f5\\fs20\\b ";

struct WriteFailure {
  int error;
};

enum class Format { Comma, Text, Rtf };

// One write per piece, as the file's readers may see it grow.
class PieceWriter {
 public:
  explicit PieceWriter(int fd) : m_fd(fd) {}
  void Write(const std::string& piece) {
    std::size_t done = 0;
    while (done < piece.size()) {
      const ssize_t n = ::write(m_fd, piece.data() + done, piece.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw WriteFailure{n < 0 ? errno : ENOSPC};
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  int m_fd;
};

struct Layout {
  std::size_t nameWidth = 0;
  std::vector<std::size_t> widths;  // one per printed size column
};

Layout MakeLayout(const CDirData& record, const CReportOptions& options) {
  Layout layout;
  layout.nameWidth = std::min<std::size_t>(GetColumnWidth(record, 0, options.units), kMaxShownName);
  const int sizeWidth = GetColumnWidth(record, 1, options.units);
  const int columns = std::clamp(options.columns, 1, kAllColumns);
  for (int i = 0; i < columns; ++i) layout.widths.push_back(record.m_times[i] != 0 ? sizeWidth : 1);
  return layout;
}

std::string FormatRow(const Layout& layout, const std::string& name, const std::vector<std::string>& fields,
                      const char* lineEnd, bool rtf) {
  const auto text = [rtf](const std::string& s) { return rtf ? RtfEscape(s) : s; };
  std::string row = text(PadRight(name, layout.nameWidth));
  for (std::size_t i = 0; i < layout.widths.size(); ++i) row += "  " + text(PadLeft(fields[i], layout.widths[i]));
  return row + lineEnd;
}

std::vector<std::string> HeadingDates(const CDirData& record, const char* format) {
  std::vector<std::string> dates;
  for (std::int32_t time : record.m_times) dates.push_back(FormatScanTime(time, format));
  return dates;
}

std::vector<std::string> SizeTexts(const CDirInfo& entry, bool decorate, SizeUnit units) {
  std::vector<std::string> texts;
  for (std::int64_t size : entry.sizes) texts.push_back(FormatSize(size, decorate, units));
  return texts;
}

std::string CommaLine(const std::string& first, const std::vector<std::string>& fields) {
  std::string line = CsvField(first);
  for (const std::string& field : fields) {
    line += ',';
    line += CsvField(field);
  }
  return line + "\r\n";
}

void WriteCommaBody(PieceWriter& out, const CDirData& record, const std::vector<const CDirInfo*>& rows,
                    const CReportOptions& options) {
  out.Write(CommaLine("Directory", HeadingDates(record, kCommaHeadingDateFormat)));
  for (const CDirInfo* entry : rows)
    out.Write(CommaLine(DisplayName(entry->name), SizeTexts(*entry, false, options.units)));
}

void WriteTextBody(PieceWriter& out, const CDirData& record, const std::string& scanDir,
                   const std::vector<const CDirInfo*>& rows, const CReportOptions& options) {
  const Layout layout = MakeLayout(record, options);
  out.Write(std::string(kProduct) + " Directory Size Report\r\nSub-directories of " + scanDir +
            "\r\nTotal Size: " + FormatSize(record.m_total, true, options.units) + "\r\nSizes: " +
            SizeKindText(options.onDisk) + "\r\n\r\n");
  out.Write(FormatRow(layout, "Directory", HeadingDates(record, kHeadingDateFormat), "\r\n", false));
  std::size_t rule = layout.nameWidth + 2 * layout.widths.size() + 2;
  for (std::size_t width : layout.widths) rule += width;
  out.Write(std::string(rule, '=') + "\r\n");
  for (const CDirInfo* entry : rows)
    out.Write(FormatRow(layout, DisplayName(entry->name), SizeTexts(*entry, true, options.units), "\r\n", false));
}


void WriteRtfBody(PieceWriter& out, const CDirData& record, const std::string& scanDir,
                  const std::vector<const CDirInfo*>& rows, const CReportOptions& options, std::time_t now) {
  const Layout layout = MakeLayout(record, options);
  out.Write(std::string(kRtfPrologue) + RtfEscape(scanDir) + " \\par \\plain\\f4\\fs24\\par Printed:  " +
            FormatScanTime(now, kPrintedDateFormat) + " \\par Sizes: " + SizeKindText(options.onDisk) +
            " \\par  \\par\\par \\plain\\f5\\fs20\\ul ");
  out.Write(FormatRow(layout, "Directory", HeadingDates(record, kHeadingDateFormat), "\\par ", true) + "\\par " +
            kRtfTableFont);
  for (const CDirInfo* entry : rows) {
    if (IsSummaryName(entry->name)) out.Write(kRtfBold);
    out.Write(FormatRow(layout, DisplayName(entry->name), SizeTexts(*entry, true, options.units), "\\par ", true));
  }
}

void WriteRtfFooter(PieceWriter& out, const CReportOptions& options) {
  out.Write(std::string("\\par \\plain\\f5\\fs20 \\par \\par \\plain\\f4\\fs24 \\par \\pard\\qc\\plain\\f4\\fs18 "
                        "For the latest version and information about ") +
            kProduct + " Disk Space Tracker, please visit: \\par " + RtfEscape(options.homePage) +
            " \\plain\\f2\\fs20 \\par }");
}

Format ChooseFormat(const CReportOptions& options) {
  if (options.commaDelimited) return Format::Comma;
  return options.enhanced ? Format::Rtf : Format::Text;
}

void Tell(const MessageSink* messages, const std::string& text, const std::string& caption) {
  if (messages && *messages) (*messages)(text, caption);
}

// Standard output stays open; a file is closed with whatever reached it. While the report
// goes to standard output a reader that has gone away (`| head`) makes the write fail instead
// of killing the process, which may still hold scan results to save.
class OutputFile {
 public:
  explicit OutputFile(const std::string& name) {
    if (name == kStandardOutputName) {
      std::fflush(stdout);
      m_fd = STDOUT_FILENO;
      m_own = false;
      m_oldPipeAction = std::signal(SIGPIPE, SIG_IGN);
    } else {
      m_fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
  }
  ~OutputFile() {
    if (m_own && m_fd >= 0) ::close(m_fd);
    if (!m_own && m_oldPipeAction != SIG_ERR) std::signal(SIGPIPE, m_oldPipeAction);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  int fd() const { return m_fd; }

 private:
  int m_fd = -1;
  bool m_own = true;
  void (*m_oldPipeAction)(int) = SIG_ERR;
};

// Tells why the report file could not be made, when it could not.
bool Opened(const OutputFile& file, const std::string& fileName, const MessageSink* messages) {
  if (file.fd() >= 0) return true;
  const int error = errno;  // still the open's
  Tell(messages, DescribeFileError(error, fileName), "Error Creating File For Printing");
  VN_TRACE("Failed to Open(%s)", fileName.c_str());
  return false;
}

}  // namespace

int GetColumnWidth(const CDirData& record, int kind, SizeUnit units) {
  std::size_t widest = 0;
  platform::Guarded("GetColumnWidth", [&] {
    if (kind == 0) {
      for (const CDirInfo& entry : record.m_entries) widest = std::max(widest, TextWidth(entry.name));
    } else {
      for (const CDirInfo& entry : record.m_entries)
        for (std::int64_t size : entry.sizes) widest = std::max(widest, TextWidth(FormatSize(size, true, units)));
      for (std::int32_t time : record.m_times)
        if (time != 0) widest = std::max(widest, TextWidth(FormatScanTime(time, kHeadingDateFormat)));
    }
  });
  return static_cast<int>(widest);
}

std::string DescribeFileError(int error, const std::string& name) {
  const std::string fileName = name == kStandardOutputName ? "standard output" : name;
  switch (error) {
    case EPIPE:
      return "Nobody reads " + fileName + " any more.";
    case EACCES: case EPERM: case EROFS: case EISDIR: case ETXTBSY:
      return "Access to " + fileName + " was denied.";
    case ENOENT: case ENOTDIR: case ENAMETOOLONG: case ELOOP: case EINVAL:
      return fileName + " contains an invalid path.";
    case ENOSPC: case EDQUOT: case EFBIG:
      return "Disk full while accessing " + fileName + ".";
    case EMFILE: case ENFILE:
      return "Too many open files while accessing " + fileName + ".";
    case EIO:
      return "A hardware I/O error was reported while accessing " + fileName + ".";
    default:
      return "An unexpected error occurred while accessing " + fileName + ".";
  }
}

const char* SizeKindText(bool onDisk) { return onDisk ? "on disk" : "apparent"; }

std::string TextReportFooter(const CReportOptions& options, const std::string& projection) {
  return "\r\n" + projection + "\r\n\r\nReport written by " + kProduct + " Disk Space Tracker\r\nSee " +
         options.homePage + " for latest information\r\n";
}

bool WriteReportFile(const std::string& fileName, const std::string& text, const MessageSink* messages) {
  OutputFile file(fileName);
  if (!Opened(file, fileName, messages)) return false;
  try {
    PieceWriter(file.fd()).Write(text);
  } catch (const WriteFailure& failure) {
    const std::string description = DescribeFileError(failure.error, fileName);
    Tell(messages, description, "Error Writing To File");
    VN_TRACE("Write of %s failed with <%s>", fileName.c_str(), description.c_str());
    return false;
  }
  return true;
}

bool CreatePrintFile(const std::string& fileName, const CDirData& record, const std::string& scanDir,
                     const CReportOptions& options, const MessageSink* messages, std::time_t now) {
  OutputFile file(fileName);
  if (!Opened(file, fileName, messages)) return false;
  std::vector<const CDirInfo*> rows;
  try {
    rows = SortedEntries(record, options.sortMethod);
  } catch (const std::bad_alloc&) {
    Tell(messages, "Out of memory.", "Error Allocating Memory");
    VN_TRACE("new CDirInfo in CreatePrintFile failed with <%s>\n", "Out of memory.");
    return false;
  }
  PieceWriter out(file.fd());
  const Format format = ChooseFormat(options);
  try {
    if (format == Format::Comma) {
      WriteCommaBody(out, record, rows, options);
    } else if (format == Format::Text) {
      WriteTextBody(out, record, scanDir, rows, options);
      out.Write(TextReportFooter(options, ProjectionText(ProjectDiskFull(record), scanDir)));
    } else {
      WriteRtfBody(out, record, scanDir, rows, options, now);
      WriteRtfFooter(out, options);  // a document cut short of its footer is not a report
    }
  } catch (const WriteFailure& failure) {
    const std::string description = DescribeFileError(failure.error, fileName);
    Tell(messages, description, "Error Writing To File");
    VN_TRACE("Write in CreatePrintFile failed with <%s>", description.c_str());
    return false;
  } catch (const std::bad_alloc&) {
    Tell(messages, "Out of memory.", "Error Writing To File");
    VN_TRACE("Write in CreatePrintFile failed with <%s>", "Out of memory.");
    return false;
  } catch (...) {
    VN_TRACE("** Exception in CreatePrintFile\n");
  }
  return true;
}

}  // namespace varnow
