// The main window object: it owns the settings copies, the scan session and the fields that the
// command line fills, and answers the scan session's questions. An automated run uses it without
// ever creating its window; the window itself is built on top of this object.
#pragma once

#include <memory>
#include <string>

#include "varnow/alerts/CommandLine.h"
#include "varnow/report/PrintJob.h"
#include "varnow/scan/ScanOwner.h"
#include "varnow/scan/Scaninfo.h"
#include "varnow/ui/Settings.h"

namespace varnow {

// The size taken for a volume whose allocation unit could not be read, until the user picks one.
inline constexpr int kDefaultClusterSize = 16384;

class CVarnowDlg : public IScanOwner, public ICommandLineOwner, public IAlertOwner, public IPrintOwner {
 public:
  // store: the data file the session uses; by default VNDATA.DB in the data folder.
  explicit CVarnowDlg(std::unique_ptr<IScanStore> store = nullptr, CScanOptions options = {});
  CVarnowDlg(const CVarnowDlg&) = delete;
  CVarnowDlg& operator=(const CVarnowDlg&) = delete;
  ~CVarnowDlg() override;

  // Scans the directory text into the session's record; a cancelled or declined scan leaves it.
  void OnScan() override;
  // Queues the current record for saving.
  void OnSave() override;

  // IScanOwner
  int PreferredClusterSetting() const override { return m_settings.preferredClusterSetting; }
  std::string DataDirectory() const override { return m_settings.dataDirectory; }
  int AutoSave() const override { return m_settings.autoSave; }
  int SubDirSave() const override { return m_settings.subDirSave; }
  bool AskScanMissingDirectory() override;
  void AskClusterSize(const std::string& root) override;
  std::unique_ptr<CScanProgress> CreateScanProgress() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void RefreshView() override;

  // ICommandLineOwner
  CCommandLineFields& CommandLineFields() override { return m_commandLine; }
  void SetScanDirectory(const std::string& directory) override;
  void SetPrintDestination(int destination) override { m_settings.printDestination = destination; }
  void SetPrintFilePath(const std::string& path) override { m_settings.printFilePath = path; }
  void SetAutoSave(int autoSave) override { m_settings.autoSave = autoSave; }
  void SetSubDirSave(int subDirSave) override { m_settings.subDirSave = subDirSave; }
  CAlertRun AlertRun() override;
  IPrintOwner* PrintOwner() override { return this; }

  // IAlertOwner: the "Varnow Alert" box, or its text on standard error without windows.
  void ShowAlert(const std::string& text) override;

  // IPrintOwner: the print settings change only this object's copies; the report is the
  // session's record of its scan directory.
  CPrintSettings PrintSettings() const override;
  void SetPrintSettings(const CPrintSettings& settings) override;
  CReportSource ReportSource() override;

  // The scan session; throws when its construction failed.
  CScanInfo& Session();
  const CVarnowSettings& Settings() const { return m_settings; }
  const std::string& DirectoryText() const { return m_directoryText; }

 private:
  // Declared before the session so that they outlive its final flush.
  CVarnowSettings m_settings;
  CCommandLineFields m_commandLine;
  std::string m_directoryText;
  std::unique_ptr<CScanInfo> m_scanInfo;
};

}  // namespace varnow
