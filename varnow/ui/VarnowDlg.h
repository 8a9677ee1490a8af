// The main window object: it owns the settings copies, the scan session and the fields that the
// command line fills. An automated run uses it without ever creating a window; the window is a
// separate class that drives this object and is told, through IVarnowView, when to refresh.
#pragma once

#include <memory>
#include <string>

#include "varnow/report/Growth.h"
#include "varnow/scan/Prompts.h"
#include "varnow/scan/ScanOwner.h"
#include "varnow/scan/Scaninfo.h"
#include "varnow/settings/Settings.h"
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

// What a window showing this object implements.
class IVarnowView {
 public:
  virtual ~IVarnowView() = default;
  // The status fields were worked out afresh.
  virtual void ShowStats(const CStatusTexts& texts) = 0;
  // The record changed or was loaded again: the grid is shown afresh.
  virtual void RefreshView() = 0;
};

class CVarnowDlg : public IScanOwner, public IAutomatedRunOwner, public IPrintOwner {
 public:
  // prompts must outlive the object. store: the data file the session uses; by default
  // VNDATA.DB in the data folder.
  explicit CVarnowDlg(IPrompts& prompts, std::unique_ptr<IScanStore> store = nullptr, CScanOptions options = {});
  CVarnowDlg(const CVarnowDlg&) = delete;
  CVarnowDlg& operator=(const CVarnowDlg&) = delete;
  ~CVarnowDlg() override;

  // The window that shows this object, or nullptr.
  void SetView(IVarnowView* view) { m_view = view; }

  // Scans the directory text into the session's record; a cancelled or declined scan leaves it.
  void OnScan() override;
  // The scan itself, without the handler's trace lines: true when the record was replaced.
  bool ScanDirectoryText();
  // Queues the current record for saving.
  void OnSave() override;
  // Works out the status fields (with their trace lines) and hands them to the window, if any.
  void UpdateStats();

  // IScanOwner
  int PreferredClusterSetting() const override { return m_settings.preferredClusterSetting; }
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

  // The scan session; throws when its construction failed.
  CScanInfo& Session();
  IPrompts& Prompts() { return m_prompts; }
  const CVarnowSettings& Settings() const { return m_settings; }
  CVarnowSettings& MutableSettings() { return m_settings; }
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
  std::unique_ptr<CScanInfo> m_scanInfo;
};

}  // namespace varnow
