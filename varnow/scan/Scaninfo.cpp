#include "varnow/scan/Scaninfo.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <ctime>

#include "platform/dirlist.h"
#include "platform/guarded.h"
#include "platform/mounts.h"
#include "platform/tracelog.h"
#include "varnow/scan/TreeLister.h"
#include "varnow/scan/scandir.h"
#include "varnow/settings/Settings.h"

namespace varnow {
namespace {

constexpr std::uint32_t kDefaultAskedClusterSize = 16384;
// A question that never leads to a usable size must not hang an unattended run.
constexpr int kMaxClusterQuestions = 3;
struct FileId {
  dev_t device;
  ino_t inode;
  bool operator==(const FileId&) const = default;
};
struct FileIdHash {
  std::size_t operator()(const FileId& id) const noexcept {
    return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.inode) * 1000003u ^ id.device);
  }
};

void AgeSizes(CDirData& record) {
  for (CDirInfo& entry : record.m_entries) {
    std::copy_backward(entry.sizes.begin(), entry.sizes.end() - 1, entry.sizes.end());
    entry.sizes[0] = kNoSize;
  }
}

void UndoAgeing(CDirData& record) {
  for (CDirInfo& entry : record.m_entries) {
    std::copy(entry.sizes.begin() + 1, entry.sizes.end(), entry.sizes.begin());
    entry.sizes[5] = kNoSize;
  }
}

void AgeTimes(CDirData& record, std::int32_t scanTime) {
  std::copy_backward(record.m_times.begin(), record.m_times.end() - 1, record.m_times.end());
  record.m_times[0] = scanTime != 0 ? scanTime : static_cast<std::int32_t>(std::time(nullptr));
  record.m_newScans = std::min(record.m_newScans + 1, static_cast<int>(record.m_times.size()));
}

std::string CurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (!::getcwd(buffer.data(), buffer.size())) return "/";
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

}  // namespace

// State shared by every level of one top-level scan.
struct CScanInfo::ScanContext {
  CScanCounters counters;  // shown by the progress display, which may cancel through them
  IScanVisitor* visitor = nullptr;
  std::unordered_set<FileId, FileIdHash> linkedFiles;  // files with several links, counted once
  // Mount points of pseudo file systems, and the scan directory with links resolved, so that
  // a subdirectory is recognised as one of them without a system call.
  std::unordered_set<std::string> pseudoMounts;
  std::string resolvedTop;
  std::size_t topLength = 0;
  bool haveFreeSpace = false;
  std::int64_t freeSpace = 0;
  std::int32_t scanTime = 0;  // 0: now
  CTreeListing* listing = nullptr;  // the walk still listing what the merge takes in
};

CScanInfo::CScanInfo(IScanOwner* owner, IPrompts* prompts, std::unique_ptr<IScanStore> store, CScanOptions options)
    : m_owner(owner),
      m_prompts(prompts),
      m_options(std::move(options)),
      m_saveQueue(std::move(store), prompts, m_options.idleFlush, m_options.flushThreshold, m_options.maxBatch,
                  m_options.maxQueued) {
  VN_TRACE("CScanInfo Constructor");
}

CScanInfo::~CScanInfo() {
  VN_TRACE("CScanInfo Destructor");
  ShutdownWarning();
}

platform::MountTable CScanInfo::LoadMounts() const {
  return m_options.mountinfoPath.empty() ? platform::MountTable::Load()
                                         : platform::MountTable::Load(m_options.mountinfoPath);
}

bool CScanInfo::QueryVolume(const std::string& path, platform::VolumeFigures& out) const {
  return m_options.queryVolume ? m_options.queryVolume(path, out) : platform::QueryVolume(path, out);
}

// ---------------------------------------------------------------------------------------------
// Current directory, root, cluster size, free space

bool CScanInfo::SetScanDir(std::string dir) {
  return platform::Guarded("SetScanDir", [&] {
    if (dir.empty() || dir[0] != '/') {
      std::string base = CurrentDirectory();
      dir = base + (base.back() == '/' ? "" : "/") + dir;
    }
    if (dir.back() != '/') dir += '/';
    dir = GetUniversalName(dir);
    bool loaded = true;
    if (dir != dd.m_currentScanDir) {
      dd.m_currentScanDir = dir;
      loaded = LoadData(dd);
    }
    GetClusterSize();
    m_owner->RefreshView();
    return loaded;
  }, false);
}

std::string CScanInfo::GetScanDir() {
  platform::Guarded("GetScanDir", [&] {
    if (dd.m_currentScanDir.empty()) SetScanDir(CurrentDirectory());
  });
  return dd.m_currentScanDir;
}

// Linux has no drive letters to map: a network mount is reached through its own path. The
// canonical form gives one directory one record, however it was named (".", "..", links).
std::string CScanInfo::GetUniversalName(std::string path) {
  VN_TRACE("GetUniversalName Begin with %s", path.c_str());
  platform::Guarded("GetUniversalName", [&] {
    const bool directory = !path.empty() && path.back() == '/';
    path = platform::ResolvePath(path);
    if (directory && path.back() != '/') path += '/';
  });
  VN_TRACE("GetUniversalName End with %s", path.c_str());
  return path;
}

std::string CScanInfo::GetScanRoot() {
  VN_TRACE("GetScanRoot Begin");
  std::string root = dd.m_currentScanDir;
  try {
    if (!platform::PathExists(root)) return root;
    platform::MountTable mounts = LoadMounts();
    if (const platform::MountInfo* mount = mounts.MountOf(root)) root = mount->mountPoint;
  } catch (...) {
    VN_TRACE("** Exception in GetScanRoot\n");
  }
  VN_TRACE("GetScanRoot End returning %s", root.c_str());
  return root;
}

// What "read size from drive" gives: the override, else the volume's allocation unit; 0 when
// neither is known.
std::uint32_t CScanInfo::DriveClusterSize(const std::string& root) {
  if (std::uint32_t fixed = GetFixedClusterSize(root)) return fixed;
  platform::VolumeFigures figures;
  if (QueryVolume(root, figures)) return figures.clusterSize;
  VN_TRACE("GetDiskFreeSpace failed for drive %s.  GetLastError was %lX\n", root.c_str(),
           static_cast<unsigned long>(errno));
  return 0;
}

void CScanInfo::GetClusterSize() {
  try {
    std::string root = GetScanRoot();
    if (root.empty() || !platform::PathExists(root)) {
      m_rule.clusterSize = 1;
      return;
    }
    for (int asked = 0;; ++asked) {
      VN_TRACE("GetClusterSize Begin");
      const ClusterMode preference = m_owner->PreferredClusterSetting();
      const int code = StoredCode(preference);
      if (code >= StoredCode(ClusterMode::kNormal) && code <= StoredCode(ClusterMode::kIgnore))
        m_rule.onDisk = preference != ClusterMode::kIgnore;
      if (preference == ClusterMode::kCompressed) {
        m_rule.clusterSize = 256;
      } else if (preference == ClusterMode::kIgnore) {
        m_rule.clusterSize = 1;
      } else if (preference == ClusterMode::kSmart && IsCompressedVolume(root)) {
        m_rule.clusterSize = 256;
      } else if (preference == ClusterMode::kNormal || preference == ClusterMode::kSmart) {
        std::uint32_t size = DriveClusterSize(root);
        if (size == 0 && asked < kMaxClusterQuestions) {
          m_prompts->AskClusterSize(root);  // the answer may be stored as an override; then ask again
          continue;
        }
        if (size == 0) {
          VN_TRACE("No cluster size for %s after %d questions: using %u\n", root.c_str(), asked,
                   kDefaultAskedClusterSize);
          size = kDefaultAskedClusterSize;
        }
        m_rule.clusterSize = size;
      }
      break;
    }
  } catch (...) {
    VN_TRACE("** Exception in GetClusterSize\n");
  }
  VN_TRACE("GetClusterSize End  size=%ld", static_cast<long>(m_rule.clusterSize));
}

bool CScanInfo::IsCompressedVolume(const std::string& root) const {
  platform::MountTable mounts = LoadMounts();
  const platform::MountInfo* mount = mounts.MountOf(root);
  return mount && mount->isCompressed;
}

bool CScanInfo::ORVGetFreeSpace(const std::string& root, std::uint64_t& freeBytes) {
  freeBytes = 0;
  return platform::Guarded("ORVGetFreeSpace", [&] {
    if (!platform::PathExists(root)) return false;
    platform::VolumeFigures figures;
    if (!QueryVolume(root, figures)) {
      VN_TRACE("GetDiskFreeSpace(%s) failed with error=%lX\n", root.c_str(), static_cast<unsigned long>(errno));
      return false;
    }
    freeBytes = figures.freeBytes;
    return true;
  }, false);
}

// ---------------------------------------------------------------------------------------------
// Scanning

bool CScanInfo::ClearDirData(CDirData& record) {
  VN_TRACE("ClearDirData Begin");
  platform::Guarded("ClearDirData", [&] {
    record.Reset();
  });
  VN_TRACE("ClearDirData End");
  return true;
}

int CScanInfo::GetNumSubDirs(std::string path) {
  int count = 0;
  try {
    platform::DirListing listing;
    if (!listing.Open(path)) return 0;
    platform::DirEntry entry;
    while (listing.Next(entry))
      if (entry.isDirectory) ++count;
  } catch (...) {
    VN_TRACE("** Exception in GetNumSubDirs\n");
  }
  return count;
}

std::int64_t CScanInfo::DoScan(int level, CDirData& record, bool silent) {
  VN_TRACE("DoScan Begin");
  // The context lives for the call; the progress display goes with it on every return.
  struct ContextGuard {
    std::unique_ptr<ScanContext>& slot;
    CSaveQueue& saveQueue;
    bool owned = false;
    ~ContextGuard() {
      if (!owned) return;
      slot.reset();
      saveQueue.EndReads();
    }
  } guard{m_scan, m_saveQueue};
  std::unique_ptr<CScanProgress> progress;
  try {
    // Every question is asked here, before the walk starts.
    if (level == 1 && !platform::PathExists(record.m_currentScanDir)) {
      if (!m_prompts->AskScanMissingDirectory()) {
        VN_TRACE("DoScan was aborted because directory doesn't appear to exist\n");
        return -1;
      }
      VN_TRACE("Continuing scan even though it appear the directory doesn't exist\n");
    }
    m_scan = std::make_unique<ScanContext>();
    guard.owned = true;
    m_saveQueue.BeginReads();
    PreparePseudoMounts(record.m_currentScanDir);
    m_scan->visitor = m_visitor;
    if (!silent) progress = m_prompts->CreateScanProgress();
    m_directoriesScanned = 0;
    m_filesScanned = 0;
    m_largestFiles.Clear();
    m_lastScanTime = std::time(nullptr);
    m_lastScanDir = record.m_currentScanDir;
  } catch (...) {
    VN_TRACE("** Exception in DoScan\n");
    VN_TRACE("DoScan End");
    return 0;
  }
  std::int64_t total = -1;
  bool kept = false;
  const auto walk = [&] {
    // A walk that fails (no thread could be started, no memory) leaves record to be dropped.
    total = platform::Guarded("DoScan", [&] { return WalkAndMerge(level, record); }, std::int64_t{-1});
    // Kept and saved unless Cancel came first; a Cancel after this point is too late.
    kept = total != -1 && !m_scan->counters.Cancelled();
    if (kept && level == 1 && m_owner->AutoSave() != 0) SaveNow(record);
  };
  // With a display the walk runs on a thread of its own and the display's thread stays free.
  if (progress) progress->Run(m_scan->counters, walk);
  else walk();
  progress.reset();
  if (kept) return total;
  if (total != -1) VN_TRACE("DoScan End - Cancelled");  // after the walk's end
  return -1;
}

std::int64_t CScanInfo::WalkAndMerge(int level, CDirData& record) {
  CListOptions options;
  options.threads = ScanThreads();
  options.rule = m_rule;
  options.skip = [this](const std::string& path) {
    if (m_options.onListing) m_options.onListing(path);
    return IsPseudoMount(path);
  };
  options.largest = m_options.keepLargestFiles ? &m_largestFiles : nullptr;
  options.counters = &m_scan->counters;
  options.keepFiles = m_scan->visitor != nullptr;
  CTreeListing listing(record.m_currentScanDir, options);
  m_scan->listing = &listing;
  const std::int64_t total = ScanTree(level, record, listing.Root(), true);
  listing.Join();
  m_scan->listing = nullptr;
  return total;
}

// Takes the directory's files out of what ListTree found (each file with several links counted
// once per scan) and tells the observer of them; returns their total.
std::int64_t CScanInfo::TakeFiles(const std::string& directory, CListedDirectory& listed) {
  std::int64_t total = listed.filesSize;
  m_filesScanned += listed.fileCount;
  static const CListedExtras kNone;
  const CListedExtras& extras = listed.extras ? *listed.extras : kNone;
  for (const CListedFile& file : extras.linkedFiles)
    if (m_scan->linkedFiles.insert(FileId{file.device, file.inode}).second) total += file.size;
  if (IScanVisitor* visitor = m_scan->visitor) {
    visitor->OnDirectoryBegin(directory, listed.opened, extras.device, extras.inode);
    for (const platform::DirEntry& entry : extras.files) visitor->OnFile(entry, CountedSize(entry, m_rule));
  }
  listed.extras.reset();
  return total;
}

IScanStore::LoadResult CScanInfo::LoadSaved(CDirData& record, bool consultFile) {
  const IScanStore::LoadResult loaded = m_saveQueue.Load(record, consultFile, nullptr);
  record.m_total = 0;
  VN_TRACE("Using dd.m_currentScanDir  = %s", record.m_currentScanDir.c_str());
  AgeSizes(record);
  return loaded;
}

std::int64_t CScanInfo::ScanTree(int level, CDirData& record, CListedDirectory& listed, bool consultFile) {
  if (m_scan->listing && !m_scan->listing->Wait(listed)) {
    VN_TRACE("DoScan End - Cancelled");
    return -1;  // nothing of this directory was loaded or changed yet
  }
  std::int64_t total = 0;
  try {
    // A wide directory's record is read once its subdirectories are merged; until then only
    // whether one is saved is asked, which decides whether theirs are read.
    const bool readLater = listed.opened && listed.subdirectories.size() > m_options.readSavedAfter;
    const IScanStore::LoadResult loaded = readLater ? m_saveQueue.Probe(record.m_currentScanDir, consultFile)
                                                    : LoadSaved(record, consultFile);
    total += TakeFiles(record.m_currentScanDir, listed);
    if (listed.opened) {
      // Nothing below a directory without a storage can have been saved; a file that could not
      // be read (damaged, or locked past the wait) is not tried again for every subdirectory.
      // The saved records of subdirectories matter only to a scan that saves them again.
      const bool childrenConsult = consultFile && loaded != IScanStore::LoadResult::NoStorage &&
                                   loaded != IScanStore::LoadResult::Failed && m_owner->SubDirSave() != 0;
      if (consultFile && !childrenConsult && !listed.subdirectories.empty()) m_saveQueue.PauseReads();
      std::vector<std::int64_t> sizes;
      sizes.reserve(listed.subdirectories.size());
      for (std::size_t i = 0; i < listed.subdirectories.size(); ++i) {
        const std::string& name = listed.subdirectories[i];
        ++m_directoriesScanned;
        if (m_scan->counters.Cancelled()) {
          VN_TRACE("DoScan End - Cancelled");
          if (!readLater) UndoAgeing(record);
          return -1;
        }
        CDirData child;
        child.m_currentScanDir = record.m_currentScanDir + name + "/";
        std::int64_t size = ScanSubdirectory(name, listed.children[i], child, childrenConsult);
        if (size == -1) return -1;
        listed.children[i] = {};  // merged: what was listed of it is not needed again
        if (level == 1) ++m_scan->counters.topMerged;
        if (IsSpecialEntryName(name))
          VN_TRACE("Subdirectory %s counted without an entry (reserved name)\n", child.m_currentScanDir.c_str());
        sizes.push_back(size);
        total += size;
      }
      // A wide directory's listing is megabytes that the merge does not need, and its names take
      // half as much packed.
      listed.children = std::vector<CListedDirectory>();
      const CNameList names(std::move(listed.subdirectories));
      if (readLater) LoadSaved(record, consultFile && loaded == IScanStore::LoadResult::Loaded);
      MergeScannedSubdirectories(record, names, sizes);
    }
    if (m_scan->visitor) m_scan->visitor->OnDirectoryEnd();
    FinishRecord(level, record, listed.opened, total);
  } catch (...) {
    VN_TRACE("** Exception in DoScan\n");
    // The caller drops what was listed below here, which readers may still be filling.
    if (m_scan->listing) m_scan->listing->Join();
  }
  VN_TRACE("DoScan End");
  return total;
}

std::int64_t CScanInfo::ImportScan(CDirData& record, CListedDirectory tree, std::int32_t scanTime) {
  VN_TRACE("ImportScan Begin");
  std::int64_t total = -1;
  platform::Guarded("ImportScan", [&] {
    m_scan = std::make_unique<ScanContext>();
    m_scan->scanTime = scanTime;
    m_scan->haveFreeSpace = true;
    m_scan->freeSpace = kNoSize;
    m_directoriesScanned = 0;
    m_filesScanned = 0;
    m_saveQueue.BeginReads();
    total = ScanTree(1, record, tree, true);
    if (total != -1 && m_owner->AutoSave() != 0) SaveNow(record);
  });
  m_scan.reset();
  m_saveQueue.EndReads();
  VN_TRACE("ImportScan End");
  return total;
}

bool CScanInfo::IsPseudoMount(const std::string& path) const {
  if (!m_scan || m_scan->pseudoMounts.empty() || path.size() <= m_scan->topLength) return false;
  std::string resolved = m_scan->resolvedTop + path.substr(m_scan->topLength);
  resolved.pop_back();
  return m_scan->pseudoMounts.count(resolved) != 0;
}

std::int64_t CScanInfo::ScanSubdirectory(const std::string& name, CListedDirectory& listed, CDirData& child,
                                         bool consultFile) {
  if (listed.skipped) {
    VN_TRACE("Not scanning %s: pseudo file system\n", child.m_currentScanDir.c_str());
    if (m_scan->visitor) m_scan->visitor->OnSkippedDirectory(name);
    return 0;
  }
  VN_TRACE("DoScan Begin");
  return ScanTree(0, child, listed, consultFile);
}

int CScanInfo::ScanThreads() const {
  if (m_options.scanThreads > 0) return m_options.scanThreads;
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

void CScanInfo::PreparePseudoMounts(const std::string& top) {
  const platform::MountTable mounts = LoadMounts();
  for (const platform::MountInfo& mount : mounts.Mounts())
    if (mount.isPseudo) m_scan->pseudoMounts.insert(mount.mountPoint);
  char resolved[PATH_MAX];
  if (m_scan->pseudoMounts.empty() || !::realpath(top.c_str(), resolved)) {
    m_scan->pseudoMounts.clear();
    return;
  }
  m_scan->resolvedTop = resolved;
  if (m_scan->resolvedTop.back() != '/') m_scan->resolvedTop += '/';
  m_scan->topLength = top.size();
}

// Measured once per top-level scan: every record of it has the same root.
std::int64_t CScanInfo::ScanFreeSpace() {
  if (!m_scan->haveFreeSpace) {
    std::uint64_t bytes = 0;
    ORVGetFreeSpace(GetScanRoot(), bytes);
    m_scan->freeSpace = static_cast<std::int64_t>(bytes);
    m_scan->haveFreeSpace = true;
  }
  return m_scan->freeSpace;
}

void CScanInfo::FinishRecord(int level, CDirData& record, bool listed, std::int64_t total) {
  if (listed) {
    record.FindOrAddEntry(kTotalFree).sizes[0] = ScanFreeSpace();
    record.FindOrAddEntry(kTotalUsed).sizes[0] = total;
    AgeTimes(record, m_scan->scanTime);
  }
  DropStaleEntries(record);
  record.m_total = total;
  if (level != 1 && m_owner->SubDirSave() != 0) {
    m_saveQueue.Queue(std::move(record));  // a subdirectory's record is not used after this
  }
}

// ---------------------------------------------------------------------------------------------
// Save queue and data file

bool CScanInfo::QueueSave(const CDirData& record) {
  platform::Guarded("QueueSave", [&] {
    const bool savedNow = record.m_newScans == 0 && record.m_currentScanDir == m_savedNowDir &&
                          record.m_times == m_savedNowTimes;
    if (!savedNow) m_saveQueue.Queue(CDirData(record));
  });
  return true;
}

void CScanInfo::SaveNow(CDirData& record) {
  platform::Guarded("SaveNow", [&] {
    if (!m_saveQueue.WriteNow(record)) return;
    record.m_savedTimes = record.m_times;
    record.m_newScans = 0;
    m_savedNowDir = record.m_currentScanDir;
    m_savedNowTimes = record.m_times;
  });
}

std::size_t CScanInfo::QueuedCount() { return m_saveQueue.Count(); }

bool CScanInfo::DataFileFailed() {
  SaveOutData();
  return m_saveQueue.Failed();
}

void CScanInfo::SetDataDirectory(const std::string& folder) { m_saveQueue.SetFolder(folder); }

bool CScanInfo::LoadData(CDirData& record) {
  try {
    bool queued = false;
    m_saveQueue.Load(record, true, &queued);
    if (queued) return true;  // a queued record keeps its own total
    std::int64_t total = 0;
    for (const CDirInfo& entry : record.m_entries)
      if (!IsSpecialEntryName(entry.name) && entry.sizes[0] != kNoSize) total += entry.sizes[0];
    record.m_total = total + GetDirectorySize(record.m_currentScanDir, m_rule);
  } catch (...) {
    VN_TRACE("** Exception in LoadData\n");
  }
  return true;
}

void CScanInfo::SaveOutData(const CDirData* record) {
  platform::Guarded("SaveOutData", [&] {
    if (record) m_saveQueue.Write(*record);
    else m_saveQueue.WriteAll();
  });
}

IScanStore::LoadResult CScanInfo::ReadSavedTree(const std::string& top, const IScanStore::TreeVisitor& visit) {
  return platform::Guarded("ReadSavedTree", [&] { return m_saveQueue.ReadTree(top, visit); },
                           IScanStore::LoadResult::Failed);
}

void CScanInfo::ShutdownWarning() {
  VN_TRACE("ShutdownWarning");
  platform::Guarded("ShutdownWarning", [&] {
    m_saveQueue.Shutdown();
  });
}

}  // namespace varnow
