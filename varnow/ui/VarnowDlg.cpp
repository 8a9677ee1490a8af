#include "varnow/ui/VarnowDlg.h"

#include <sys/stat.h>

#include <filesystem>

#include "platform/dirlist.h"
#include "platform/guarded.h"
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

CStatusTexts StatusTexts(const CDirSnapshot& snapshot, SizeUnit unit) {
  CStatusTexts texts;
  texts.freeSpace = FormatSize(snapshot.freeSpace, true, unit);
  texts.scannedSize = FormatSize(snapshot.scannedSize, true, unit);
  texts.totalUsed = FormatSize(snapshot.record ? snapshot.record->m_total : 0, true, unit);
  if (snapshot.counted) {
    texts.directories = std::to_string(snapshot.directories);
    texts.files = std::to_string(snapshot.files);
  }
  // Which of the two the figures are: whole allocation units held on disk, or plain lengths.
  texts.clusterSize = snapshot.countsOnDisk ? FormatSize(snapshot.clusterSize, true, SizeUnit::kSmart) + ", on disk"
                                            : std::string("apparent sizes");
  texts.compressed = snapshot.compressed;
  return texts;
}

std::string ParentDirectory(const std::string& dir) {
  std::filesystem::path path = std::filesystem::path(dir).lexically_normal();
  if (!path.has_filename()) path = path.parent_path();  // "/a/b/" names "/a/b"
  std::string parent = path.parent_path().string();
  if (parent.empty() || parent.back() != '/') parent += '/';
  return parent;
}

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
    throw;  // an object without its session would give a window of dead buttons
  }
}

CVarnowDlg::~CVarnowDlg() {
  VN_TRACE("CVarnowDlg Destructor");
  m_view = nullptr;
  // Everything queued is written while the settings it needs still exist.
  if (m_scanInfo) m_scanInfo->ShutdownWarning();
  m_scanInfo.reset();
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
  // A record that could not be loaded is not aged and overwritten by a scan.
  if (!session.SetScanDir(m_directoryText)) return false;
  m_directoryText = session.GetScanDir();
  // The scan starts from the saved record, which it loads itself: a copy of the one shown (a wide
  // folder's is megabytes) would only be held through the walk and dropped.
  CDirData record;
  record.m_currentScanDir = session.dd.m_currentScanDir;
  // Nor is the saved record held twice while the scan runs: the view shows its own copy, and a
  // scan that fails loads it again. A record with scans not saved yet is kept as it is.
  const bool shownIsSaved = session.dd.m_newScans == 0;
  // (Assigning {} would keep the vector's buffer: it assigns an empty list.)
  if (shownIsSaved) session.dd.m_entries = std::vector<CDirInfo>();
  const bool automated = m_commandLine.automatedRun != 0;
  m_countedDirectory.clear();  // the counters start again with this scan
  if (session.DoScan(1, record, automated) == -1) {
    if (shownIsSaved) session.LoadData(session.dd);
    return false;
  }
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
  platform::Guarded("OnSave", [&] { Session().QueueSave(Session().dd); });
}

void CVarnowDlg::RefreshView() { UpdateStats(); }

void CVarnowDlg::UpdateStats() {
  VN_TRACE("CVarnowDlg::UpdateStats Begin");
  platform::Guarded("UpdateStats", [&] {
    CScanInfo& session = Session();
    const std::string& dir = session.dd.m_currentScanDir;
    auto snapshot = std::make_shared<CDirSnapshot>();
    const platform::MountInfo* mount = platform::PathExists(dir) ? MountOf(dir) : nullptr;
    snapshot->scanRoot = mount ? mount->mountPoint : dir;
    VN_TRACE("ScanRoot = %s", snapshot->scanRoot.c_str());
    std::uint64_t freeBytes = 0;
    session.ORVGetFreeSpace(snapshot->scanRoot, freeBytes);
    snapshot->freeSpace = static_cast<std::int64_t>(freeBytes);
    if (!m_view) return;  // nothing to show it: the folder's files are not summed, the record not copied
    snapshot->scannedSize = GetDirectorySize(dir, session.SizeRule());
    snapshot->counted = !m_countedDirectory.empty() && m_countedDirectory == dir;
    snapshot->directories = session.DirectoriesScanned();
    snapshot->files = session.FilesScanned();
    snapshot->clusterSize = session.ClusterSize();
    snapshot->countsOnDisk = session.CountsOnDisk();
    snapshot->compressed = mount && mount->isCompressed;
    snapshot->record = std::make_shared<const CDirData>(session.dd);
    snapshot->projection = ProjectionText(ProjectDiskFull(*snapshot->record), dir);
    m_snapshot = std::move(snapshot);
    m_view->ShowSnapshot(m_snapshot);
  });
  VN_TRACE("CVarnowDlg::UpdateStats End");
}

// The table read last still tells dir's mount while dir lies on that mount's device; a mount
// made or gone since shows as another device, and the table is read again.
const platform::MountInfo* CVarnowDlg::MountOf(const std::string& dir) {
  struct stat status {};
  const platform::MountInfo* mount = m_mounts.MountOf(dir);
  if (mount && ::stat(dir.c_str(), &status) == 0 && status.st_dev == mount->device) return mount;
  m_mounts = Session().LoadMounts();
  return m_mounts.MountOf(dir);
}

std::string CVarnowDlg::ScanDir() { return Session().GetScanDir(); }

bool CVarnowDlg::GoToDirectory(const std::string& path) {
  return platform::Guarded("GoToDirectory", [&] {
    CScanInfo& session = Session();
    const bool set = session.SetScanDir(path);
    m_directoryText = session.GetScanDir();
    return set;
  });
}

bool CVarnowDlg::OpenSubdirectory(const std::string& name) {
  return platform::Guarded("OnDblClickGrid", [&] {
    const std::string scanDir = ScanDir();
    if (name == "[Total Free]" || name == "[Total Used]" || IsSpecialEntryName(name)) return false;
    VN_TRACE("OnDlgClickGrid scandir=%s gridDir=%s", scanDir.c_str(), name.c_str());
    return GoToDirectory(scanDir + name);
  });
}

bool CVarnowDlg::GoUp() {
  return platform::Guarded("OnBack", [&] {
    const std::string dir = ScanDir();
    VN_TRACE("OnBack");
    return GoToDirectory(ParentDirectory(dir));
  });
}

bool CVarnowDlg::ChangeDirectoryText(const std::string& typed) {
  m_directoryText = typed;
  if (typed.empty() || !platform::PathExists(typed)) return false;
  return GoToDirectory(typed);
}

CLargestFound CVarnowDlg::LargestFound() {
  CScanInfo& session = Session();
  return {session.LargestFiles().Sorted(), session.LastScanDir(), static_cast<std::time_t>(session.LastScanTime())};
}

void CVarnowDlg::SaveOutData() { Session().SaveOutData(); }

CLegacyConversion CVarnowDlg::ConvertLegacyData(bool convert, bool cleanup) {
  return varnow::ConvertLegacyData(Session(), m_settings.dataDirectory, convert, cleanup);
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
  return platform::Guarded("PrintGrowthReport", [&] {
    const CGrowthReport report = GrowthReport(m_commandLine.growthLines);
    const std::string projection = ProjectionLine();
    return PrintAutomated(*this, [&](const std::string& file, const CReportOptions& options, const MessageSink* messages) {
      return WriteReportFile(file, GrowthReportText(report, options, projection), messages);
    });
  });
}

bool CVarnowDlg::PrintLargestReport() {
  return platform::Guarded("PrintLargestReport", [&] {
    CLargestFound found = LargestFound();
    if (found.files.size() > static_cast<std::size_t>(m_commandLine.largestLines))
      found.files.resize(static_cast<std::size_t>(m_commandLine.largestLines));
    if (!Session().HasScanned()) found.top = ScanDir();
    return PrintAutomated(*this, [&](const std::string& file, const CReportOptions& options, const MessageSink* messages) {
      return WriteReportFile(file, LargestFilesReportText(found.files, found.top, found.scanned, options), messages);
    });
  });
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
  return platform::Guarded("WriteTreemap", [&] {
    const CTreemapTree tree = TreemapTree();
    std::string why;
    const QSize size(m_commandLine.treemapWidth, m_commandLine.treemapHeight);
    if (WriteTreemapPicture(m_commandLine.treemapFile, size, tree, m_settings.preferredUnits, why)) return true;
    m_prompts.ShowMessage("The treemap could not be written: " + why, "Error Writing To File");
    VN_TRACE("WriteTreemap failed: %s", why.c_str());
    return false;
  });
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
