#include "varnow/ui/VarnowDlg.h"

#include <stdexcept>

#include "platform/dirlist.h"
#include "platform/tracelog.h"
#include "varnow/report/FormatSize.h"
#include "varnow/report/FullProjection.h"
#include "varnow/report/GrowthText.h"
#include "varnow/scan/scandir.h"
#include "varnow/store/DataFile.h"

namespace varnow {

CVarnowDlg::CVarnowDlg(IPrompts& prompts, std::unique_ptr<IScanStore> store, CScanOptions options)
    : m_prompts(prompts) {
  try {
    if (!store) store = std::make_unique<CDataFile>(std::string());
    // The session is constructed (and traces) before this object's own lines.
    m_scanInfo = std::make_unique<CScanInfo>(this, &m_prompts, std::move(store), std::move(options));
    VN_TRACE("CVarnowDlg Constructor");
    m_settings = ReadWindowSettings();
    m_scanInfo->SetDataDirectory(m_settings.dataDirectory);
  } catch (...) {
    VN_TRACE("**Exception in CVarnowDlg Constructor\n");
  }
}

CVarnowDlg::~CVarnowDlg() {
  VN_TRACE("CVarnowDlg Destructor");
  m_view = nullptr;
  // Everything queued is written while the settings it needs still exist.
  if (m_scanInfo) m_scanInfo->ShutdownWarning();
  m_scanInfo.reset();
}

CScanInfo& CVarnowDlg::Session() {
  if (!m_scanInfo) throw std::runtime_error("no scan session");
  return *m_scanInfo;
}

void CVarnowDlg::OnScan() {
  try {
    VN_TRACE("CVarnowDlg::OnScan Begin");
    ScanDirectoryText();
    VN_TRACE("CVarnowDlg::OnScan End");
  } catch (...) {
    VN_TRACE("** Exception in OnScan\n");
  }
}

bool CVarnowDlg::ScanDirectoryText() {
  CScanInfo& session = Session();
  session.SetScanDir(m_directoryText);
  m_directoryText = session.GetScanDir();
  CDirData record = session.dd;
  const bool automated = m_commandLine.automatedRun != 0;
  m_countedDirectory.clear();  // the counters start again with this scan
  if (session.DoScan(1, record, automated) == -1) return false;
  session.dd = std::move(record);
  m_countedDirectory = session.dd.m_currentScanDir;
  if (!automated) RefreshView();
  return true;
}

void CVarnowDlg::OnSave() {
  try {
    Session().QueueSave(Session().dd);
  } catch (...) {
    VN_TRACE("** Exception in OnSave\n");
  }
}

void CVarnowDlg::RefreshView() {
  UpdateStats();
  if (m_view) m_view->RefreshView();
}

void CVarnowDlg::UpdateStats() {
  VN_TRACE("CVarnowDlg::UpdateStats Begin");
  try {
    CScanInfo& session = Session();
    const int unit = m_settings.preferredUnits;
    const std::string root = session.GetScanRoot();
    VN_TRACE("ScanRoot = %s", root.c_str());
    CStatusTexts texts;
    std::uint64_t freeBytes = 0;
    session.ORVGetFreeSpace(root, freeBytes);
    texts.freeSpace = FormatSize(static_cast<std::int64_t>(freeBytes), true, unit);
    texts.scannedSize = FormatSize(GetDirectorySize(session.dd.m_currentScanDir, session.ClusterSize()), true, unit);
    texts.totalUsed = FormatSize(session.dd.m_total, true, unit);
    if (!m_countedDirectory.empty() && m_countedDirectory == session.dd.m_currentScanDir) {
      texts.directories = std::to_string(session.DirectoriesScanned());
      texts.files = std::to_string(session.FilesScanned());
    }
    texts.clusterSize = FormatSize(session.ClusterSize(), true, kUnitSmart);
    // The rest is for a window only.
    if (m_view) {
      texts.compressed = platform::PathExists(root) && session.IsCompressedVolume(root);
      m_view->ShowStats(texts);
    }
  } catch (...) {
    VN_TRACE("** Exception in UpdateStats\n");
  }
  VN_TRACE("CVarnowDlg::UpdateStats End");
}

void CVarnowDlg::SetDataDirectory(const std::string& folder) {
  m_settings.dataDirectory = folder;
  Session().SetDataDirectory(folder);
}

CAlertRun CVarnowDlg::AlertRun() {
  CScanInfo& session = Session();
  CAlertRun run;
  run.dd = &session.dd;
  run.scanDir = session.GetScanDir();
  run.displayUnit = m_settings.preferredUnits;
  run.alertPercent = m_commandLine.percentThreshold;
  run.alertSize = m_commandLine.sizeThreshold;
  run.freeAlert = m_commandLine.freeMinimum;
  run.fullAlertDays = m_commandLine.fullAlertDays;
  run.notifyCommand = m_commandLine.notifyCommand;
  run.getFreeSpace = [&session](const std::string& dir, std::uint64_t& freeBytes) {
    return session.ORVGetFreeSpace(dir, freeBytes);
  };
  run.prompts = &m_prompts;
  return run;
}

CGrowthReport CVarnowDlg::GrowthReport(int lines) {
  CScanInfo& session = Session();
  const std::string top = session.GetScanDir();
  CGrowthRanking ranking(top, lines);
  std::size_t records = 0;
  session.ReadSavedTree(top, [&](const CDirData& record) {
    ranking.Add(record);
    ++records;
  });
  VN_TRACE("GrowthReport of %s: %zu saved records read", top.c_str(), records);
  return ranking.Finish();
}

std::string CVarnowDlg::ProjectionLine() {
  CScanInfo& session = Session();
  return ProjectionText(ProjectDiskFull(session.dd), session.GetScanDir());
}

bool CVarnowDlg::PrintGrowthReport() {
  try {
    const CGrowthReport report = GrowthReport(m_commandLine.growthLines);
    const std::string projection = ProjectionLine();
    return PrintAutomated(*this, [&](const std::string& file, const CReportOptions& options, const MessageSink* messages) {
      return WriteReportFile(file, GrowthReportText(report, options, projection), messages);
    });
  } catch (...) {
    VN_TRACE("** Exception in PrintGrowthReport\n");
  }
  return false;
}

CPrintSettings CVarnowDlg::PrintSettings() const {
  return {m_settings.printDestination, m_settings.printFilePath, m_settings.commaDelimited,
          m_settings.enhancedPrinting, m_settings.printColumns};
}

void CVarnowDlg::SetPrintSettings(const CPrintSettings& settings) {
  m_settings.printDestination = settings.printDestination;
  m_settings.printFilePath = settings.printFilePath;
  m_settings.commaDelimited = settings.commaDelimited;
  m_settings.enhancedPrinting = settings.enhancedPrinting;
  m_settings.printColumns = settings.printColumns;
}

CReportSource CVarnowDlg::ReportSource() {
  CScanInfo& session = Session();
  return {&session.dd, session.GetScanDir(), m_settings.preferredUnits, m_settings.preferredSortMethod,
          GetProfileStringEx(setting::kHomePage)};
}

void CVarnowDlg::SetScanDirectory(const std::string& directory) {
  Session().SetScanDir(directory);
  m_directoryText = directory;
}

}  // namespace varnow
