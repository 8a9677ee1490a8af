#include "varnow/ui/TreeExchange.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>

#include "platform/atomicfile.h"
#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/exchange/NcduReader.h"
#include "varnow/exchange/NcduWriter.h"
#include "varnow/report/Metrics.h"
#include "varnow/report/PrintFile.h"
#include "varnow/scan/Scaninfo.h"
#include "varnow/scan/scandir.h"
#include "varnow/ui/osinfo.h"

namespace varnow {
namespace {

bool Tell(const std::string& message) {
  std::fprintf(stderr, "varnow: %s\n", message.c_str());
  VN_TRACE("%s", message.c_str());
  return false;
}

std::string ProgramVersion() {
  unsigned short major = 0, minor = 0, build = 0;
  GetProgramVersion(&major, &minor, &build);
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

std::string TimeText(std::time_t time) {
  char text[64] = "";
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&time));
  return text;
}

// The export's visitor is on the session while the scan runs, and off it however the scan ends.
class CVisitorScope {
 public:
  CVisitorScope(CScanInfo& session, IScanVisitor* visitor) : m_session(session) { m_session.SetScanVisitor(visitor); }
  ~CVisitorScope() { m_session.SetScanVisitor(nullptr); }
  CVisitorScope(const CVisitorScope&) = delete;
  CVisitorScope& operator=(const CVisitorScope&) = delete;

 private:
  CScanInfo& m_session;
};

}  // namespace

bool WriteMetricsFile(CScanInfo& session, const std::string& file, int depth) {
  const std::optional<bool> written = platform::Guarded("WriteMetricsFile", [&]() -> std::optional<bool> {
    const std::string top = session.GetScanDir();
    CMetricsBuilder metrics(top, depth);
    session.ReadSavedTree(top, [&metrics](const CDirData& record) { metrics.Add(record); });
    const std::string text = metrics.Text();
    if (file == kStandardOutputName) {
      if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        return Tell("/METRICS=-: the metrics could not be written to standard output");
      return true;
    }
    // Readable by the exporter, which may run as another user.
    if (!platform::WriteFileAtomically(file, text, 0644))
      return Tell("/METRICS=" + file + ": the metrics could not be written: " + std::strerror(errno));
    return true;
  });
  return written ? *written : Tell("/METRICS=" + file + ": the metrics could not be written");
}

bool ScanWithExport(CScanInfo& session, const std::string& file, const std::function<bool()>& scan) {
  const std::optional<bool> exported = platform::Guarded("ScanWithExport", [&]() -> std::optional<bool> {
    const bool toStandardOutput = file == kStandardOutputName;
    std::unique_ptr<QFileDevice> out;
    if (toStandardOutput) {
      auto standardOutput = std::make_unique<QFile>();
      standardOutput->open(stdout, QIODevice::WriteOnly);
      out = std::move(standardOutput);
    } else {
      out = std::make_unique<QSaveFile>(QString::fromLocal8Bit(file.c_str()));
      out->open(QIODevice::WriteOnly);
    }
    if (!out->isOpen()) {
      Tell("/EXPORT=" + file + ": the file cannot be created: " + out->errorString().toStdString());
      scan();  // the rest of the run still has its scan
      return false;
    }
    CNcduWriter writer(*out, ProgramVersion(), std::time(nullptr));
    bool scanned = false;
    {
      const CVisitorScope visiting(session, &writer);
      scanned = scan();
    }
    const bool written = writer.Finish() && scanned;
    if (!toStandardOutput) {
      auto* saveFile = static_cast<QSaveFile*>(out.get());
      if (!written) saveFile->cancelWriting();
      if (!saveFile->commit() && written)
        return Tell("/EXPORT=" + file + ": the export could not be written: " + saveFile->errorString().toStdString());
    } else if (!out->flush()) {
      return Tell("/EXPORT=-: the export could not be written to standard output");
    }
    if (!written) return Tell("/EXPORT=" + file + ": the scan did not finish; no export was written");
    return true;
  });
  return exported ? *exported : Tell("/EXPORT=" + file + ": the export could not be written");
}

bool ImportTreeFile(CScanInfo& session, const std::string& file, bool directoryGiven) {
  const std::string name = "/IMPORT=" + file + ": ";
  const std::optional<bool> imported = platform::Guarded("ImportTreeFile", [&]() -> std::optional<bool> {
    std::FILE* in = file == kStandardOutputName ? stdin : std::fopen(file.c_str(), "rb");
    if (!in) return Tell(name + "the file cannot be opened: " + std::strerror(errno));
    // Closed however the import ends (standard input stays open).
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closing(in == stdin ? nullptr : in, std::fclose);
    CNcduImportTarget target;
    target.acceptRoot = [&](const std::string& root, std::string& error) {
      if (root.empty() || root[0] != '/') {
        error = "the export's top " + QuotedForMessage(root) + " is no absolute path";
        return false;
      }
      const std::string directory = session.GetUniversalName(root + (root.back() == '/' ? "" : "/"));
      if (!directoryGiven) {
        session.SetScanDir(directory);  // reads the directory's saved record and cluster size
      } else if (directory != session.GetScanDir()) {
        error = "the export is of " + QuotedForMessage(root) + ", not of " + session.GetScanDir() +
                " (leave out /DIR= to take the export's directory)";
        return false;
      }
      return true;
    };
    // Counted as a scan here would count it: the length rounded to this volume's unit, on disk
    // no more than the export's dsize (the space the file held where it was exported).
    target.countFile = [&session](std::uint64_t asize, std::uint64_t dsize) {
      return CountedSize(asize, dsize, session.SizeRule());
    };
    CNcduTree tree;
    std::string error;
    const bool read = ReadNcduExport(in, target, tree, error);
    if (!read) return Tell(name + error);
    const std::int32_t newest = session.dd.m_times[0];
    if (newest != 0 && newest >= tree.timestamp)
      return Tell(name + "the export (" + TimeText(tree.timestamp) + ") is not newer than the newest saved scan of " +
                  session.GetScanDir() + " (" + TimeText(newest) + "); import older exports first");
    VN_TRACE("Import of %s: %llu directories, %llu files", tree.root.c_str(),
             static_cast<unsigned long long>(tree.directories), static_cast<unsigned long long>(tree.files));
    CDirData record = session.dd;
    if (session.ImportScan(record, std::move(tree.tree), static_cast<std::int32_t>(tree.timestamp)) < 0)
      return Tell(name + "the import failed");
    session.dd = std::move(record);
    return true;
  });
  return imported ? *imported : Tell(name + "the import failed");
}

}  // namespace varnow
