// The main window object: it owns the settings copies, the scan session and the fields that the
// command line fills, and moves through the tree. An automated run uses it without ever creating
// a window; the window is a separate class that drives this object and is handed, through
// IVarnowView, a snapshot of what to show whenever that changes.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/mounts.h"

#include "varnow/report/Growth.h"
#include "varnow/scan/Prompts.h"
#include "varnow/scan/ScanOwner.h"
#include "varnow/scan/Scaninfo.h"
#include "varnow/settings/Settings.h"
#include "varnow/store/LegacyData.h"
#include "varnow/ui/AutomatedRun.h"
#include "varnow/ui/Treemap.h"

namespace varnow {

// The status fields of the directory shown, as texts.
struct CStatusTexts {
  std::string freeSpace;
  std::string scannedSize;  // the directory's own files
  std::string totalUsed;
  std::string directories;  // the counts of the last scan: "" when it was of another directory
  std::string files;
  std::string clusterSize;
  bool compressed = false;  // the scan root's volume says it is compressed
};

// What the window shows of the scan directory, fixed when it was published: the record and the
// status figures of that moment. A change of directory, a scan or new preferences publish a new
// one; whoever holds an older one keeps it whole, whatever the session does to its own record.
struct CDirSnapshot {
  std::shared_ptr<const CDirData> record;  // never null
  std::string scanRoot;                    // the mount point that holds the directory
  std::int64_t freeSpace = 0;              // of the scan root; 0 when unknown
  std::int64_t scannedSize = 0;            // the directory's own files
  bool counted = false;                    // the counts are of a scan of this directory
  std::int32_t directories = 0;
  std::int32_t files = 0;
  std::uint32_t clusterSize = 0;
  bool countsOnDisk = true;  // whole allocation units held on disk, or plain lengths
  bool compressed = false;   // the scan root's volume says it is compressed
  std::string projection;    // when the disk fills, from the record's free-space history
};

// The status fields of a snapshot in a display unit.
CStatusTexts StatusTexts(const CDirSnapshot& snapshot, SizeUnit unit);

// The directory above dir (a full path): "/" stays "/"; extra and trailing "/" do not count.
// Ends in "/".
std::string ParentDirectory(const std::string& dir);

// The largest files of the session's last scan.
struct CLargestFound {
  std::vector<CLargeFile> files;  // largest first
  std::string top;                // the directory scanned
  std::time_t scanned = 0;        // when (0: no scan yet)
};

// What a window showing this object implements.
class IVarnowView {
 public:
  virtual ~IVarnowView() = default;
  // A new snapshot was published (never null).
  virtual void ShowSnapshot(const std::shared_ptr<const CDirSnapshot>& snapshot) = 0;
};

class CVarnowDlg : public IScanOwner, public IAutomatedRunOwner, public IPrintOwner {
 public:
  // prompts must outlive the object. store: the data file the session uses; by default
  // VNDATA.DB in the data folder.
  explicit CVarnowDlg(IPrompts& prompts, std::unique_ptr<IScanStore> store = nullptr, CScanOptions options = {});
  CVarnowDlg(const CVarnowDlg&) = delete;
  CVarnowDlg& operator=(const CVarnowDlg&) = delete;
  ~CVarnowDlg() override;

  // The window that shows this object, or nullptr. Snapshots are published only while there
  // is one: an automated run copies no records for a window it does not have.
  void SetView(IVarnowView* view) { m_view = view; }

  // Scans the directory text into the session's record; a cancelled or declined scan leaves it.
  void OnScan() override;
  // The scan itself, without the handler's trace lines: true when the record was replaced.
  bool ScanDirectoryText();
  // Queues the current record for saving.
  void OnSave() override;
  // Works out the status figures (with their trace lines) and, with a window, publishes them
  // with a copy of the record.
  void UpdateStats();
  // The snapshot published last; nullptr before the first.
  std::shared_ptr<const CDirSnapshot> Snapshot() const { return m_snapshot; }

  // Navigation. Each sets the scan directory (its saved record is loaded and a snapshot
  // published) and the directory text; false when the directory could not be set, and then
  // nothing else follows.
  // The current scan directory (the working folder when none was set yet); ends in "/".
  std::string ScanDir();
  bool GoToDirectory(const std::string& path);
  // A subdirectory of the scan directory, by its entry name ("": the directory itself, as the
  // empty row of a record without entries gives it); false for the summary rows.
  bool OpenSubdirectory(const std::string& name);
  // One level up; at "/" it stays there.
  bool GoUp();
  // A typed directory text: shown when it names something that exists, else only kept.
  bool ChangeDirectoryText(const std::string& typed);

  // IScanOwner
  ClusterMode PreferredClusterSetting() const override { return m_settings.preferredClusterSetting; }
  int AutoSave() const override { return m_settings.autoSave; }
  int SubDirSave() const override { return m_settings.subDirSave; }
  void RefreshView() override;

  // ICommandLineOwner and the rest of the automated run
  CCommandLineFields& CommandLineFields() override { return m_commandLine; }
  void SetScanDirectory(const std::string& directory) override;
  void SetPrintDestination(PrintDestination destination) override { m_settings.printDestination = destination; }
  void SetPrintFilePath(const std::string& path) override { m_settings.printFilePath = path; }
  void SetAutoSave(int autoSave) override { m_settings.autoSave = autoSave; }
  void SetSubDirSave(int subDirSave) override { m_settings.subDirSave = subDirSave; }
  CAlertRun AlertRun() override;
  IPrintOwner* PrintOwner() override { return this; }
  bool PrintGrowthReport() override;
  bool PrintLargestReport() override;
  bool WriteTreemap() override;
  bool DataFileFailed() override { return Session().DataFileFailed(); }
  bool ExportScan() override;
  bool ImportTree() override;
  bool WriteMetrics() override;

  // IPrintOwner: the print settings change only this object's copies; the report is the
  // session's record of its scan directory.
  CPrintSettings PrintSettings() const override;
  void SetPrintSettings(const CPrintSettings& settings) override;
  CReportSource ReportSource() override;

  // The growth ranking of the scan directory's tree from its saved records (what is queued is
  // written first); lines: the length of each list.
  CGrowthReport GrowthReport(int lines);
  // The treemap's tree of the scan directory: the current record, and the saved records below it
  // (what is queued is written first).
  CTreemapTree TreemapTree();
  // The status line about when the scan directory's disk fills, from the current record.
  std::string ProjectionLine();
  // The largest files of the last scan.
  CLargestFound LargestFound();
  // Writes what the save queue holds (any thread).
  void SaveOutData();
  // The conversion of an earlier release's data files into the data file.
  CLegacyConversion ConvertLegacyData(bool convert, bool cleanup);

  // The scan session, for the automated run and tests; the window goes through this object.
  CScanInfo& Session() { return *m_scanInfo; }
  IPrompts& Prompts() { return m_prompts; }
  const CVarnowSettings& Settings() const { return m_settings; }
  CVarnowSettings& MutableSettings() { return m_settings; }
  // Reads the cluster size again, for a new cluster mode.
  void RereadClusterSize() { m_scanInfo->GetClusterSize(); }
  // The data folder (ends in "/"); the session writes there from its next write on.
  void SetDataDirectory(const std::string& folder);
  const std::string& DirectoryText() const { return m_directoryText; }
  void SetDirectoryText(const std::string& text) { m_directoryText = text; }

 private:
  IPrompts& m_prompts;
  IVarnowView* m_view = nullptr;
  // Declared before the session so that they outlive its final flush.
  CVarnowSettings m_settings;
  CCommandLineFields m_commandLine;
  std::string m_directoryText;
  std::string m_countedDirectory;  // whose scan the session's counters hold; "" for none
  platform::MountTable m_mounts;   // read again when it no longer tells the directory's mount
  std::shared_ptr<const CDirSnapshot> m_snapshot;
  std::unique_ptr<CScanInfo> m_scanInfo;

  // The mount that holds dir, or nullptr.
  const platform::MountInfo* MountOf(const std::string& dir);
};

}  // namespace varnow
