#include "varnow/ui/VarnowDlg.h"

#include <stdexcept>

#include "platform/dirlist.h"
#include "platform/tracelog.h"
#include "varnow/report/FormatSize.h"
#include "varnow/report/FullProjection.h"
#include "varnow/report/GrowthText.h"
#include "varnow/report/LargestText.h"
#include "varnow/ui/TreemapPicture.h"
#include "varnow/scan/scandir.h"
#include "varnow/store/DataFile.h"
#include "varnow/ui/TreeExchange.h"

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

bool CVarnowDlg::ExportScan() {
  VN_TRACE("CVarnowDlg::ExportScan Begin");
  const bool exported = ScanWithExport(Session(), m_commandLine.exportFile, [this] { return ScanDirectoryText(); });
  VN_TRACE("CVarnowDlg::ExportScan End");
  return exported;
}

bool CVarnowDlg::ImportTree() {
  CScanInfo& session = Session();
  const bool directoryGiven = !m_directoryText.empty();
  if (!ImportTreeFile(session, m_commandLine.importFile, directoryGiven)) return false;
  m_directoryText = session.GetScanDir();
  return true;
}

bool CVarnowDlg::WriteMetrics() {
  return WriteMetricsFile(Session(), m_commandLine.metricsFile, m_commandLine.metricsDepth);
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
    texts.scannedSize = FormatSize(GetDirectorySize(session.dd.m_currentScanDir, session.SizeRule()), true, unit);
    texts.totalUsed = FormatSize(session.dd.m_total, true, unit);
    if (!m_countedDirectory.empty() && m_countedDirectory == session.dd.m_currentScanDir) {
      texts.directories = std::to_string(session.DirectoriesScanned());
      texts.files = std::to_string(session.FilesScanned());
    }
    // Which of the two the figures are: whole allocation units held on disk, or plain lengths.
    texts.clusterSize = session.CountsOnDisk() ? FormatSize(session.ClusterSize(), true, kUnitSmart) + ", on disk"
                                               : std::string("apparent sizes");
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

bool CVarnowDlg::PrintLargestReport() {
  try {
    CScanInfo& session = Session();
    std::vector<CLargeFile> files = session.LargestFiles().Sorted();
    if (files.size() > static_cast<std::size_t>(m_commandLine.largestLines))
      files.resize(static_cast<std::size_t>(m_commandLine.largestLines));
    const std::time_t scanned = static_cast<std::time_t>(session.LastScanTime());
    const std::string top = session.HasScanned() ? session.LastScanDir() : session.GetScanDir();
    return PrintAutomated(*this, [&](const std::string& file, const CReportOptions& options, const MessageSink* messages) {
      return WriteReportFile(file, LargestFilesReportText(files, top, scanned, options), messages);
    });
  } catch (...) {
    VN_TRACE("** Exception in PrintLargestReport\n");
  }
  return false;
}

CTreemapTree CVarnowDlg::TreemapTree() {
  CScanInfo& session = Session();
  const std::string top = session.GetScanDir();
  CTreemapTree tree;
  tree.SetTop(session.dd);
  std::size_t records = 0;
  session.ReadSavedTree(top, [&](const CDirData& record) {
    tree.Add(record);
    ++records;
  });
  VN_TRACE("TreemapTree of %s: %zu saved records read, %zu boxes", top.c_str(), records, tree.Nodes().size());
  return tree;
}

bool CVarnowDlg::WriteTreemap() {
  try {
    const CTreemapTree tree = TreemapTree();
    std::string why;
    const QSize size(m_commandLine.treemapWidth, m_commandLine.treemapHeight);
    if (WriteTreemapPicture(m_commandLine.treemapFile, size, tree, m_settings.preferredUnits, why)) return true;
    m_prompts.ShowMessage("The treemap could not be written: " + why, "Error Writing To File");
    VN_TRACE("WriteTreemap failed: %s", why.c_str());
  } catch (...) {
    VN_TRACE("** Exception in WriteTreemap\n");
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
          GetProfileStringEx(setting::kHomePage), session.CountsOnDisk()};
}

void CVarnowDlg::SetScanDirectory(const std::string& directory) {
  Session().SetScanDir(directory);
  m_directoryText = directory;
}

}  // namespace varnow
