// The scan session: the current scan directory and its record, the recursive scan that builds
// a record for every directory of a tree, the save queue with its background writer, and the
// cluster size and scan root of the current directory.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "varnow/scan/DirData.h"
#include "varnow/scan/LargestFiles.h"
#include "varnow/scan/Prompts.h"
#include "varnow/scan/SaveQueue.h"
#include "varnow/scan/ScanOwner.h"
#include "varnow/scan/ScanStore.h"
#include "varnow/scan/ScanVisitor.h"
#include "varnow/scan/scandir.h"

namespace platform {
class MountTable;
struct VolumeFigures;
}

namespace varnow {

struct CListedDirectory;

struct CScanOptions {
  // The writer flushes when no save request came for this long ...
  std::chrono::milliseconds idleFlush{60000};
  // ... or at once when more than this many records wait.
  std::size_t flushThreshold = 500;
  // Records written in one commit at most, and records queued at most before a scan waits for
  // the writer: what the save holds in memory stays bounded.
  std::size_t maxBatch = 4000;
  std::size_t maxQueued = 8000;
  // A directory with more subdirectories than this has its saved record read only once they
  // are merged: the record and the listing of a wide directory are megabytes each.
  std::size_t readSavedAfter = 2000;
  // Mount table to use (tests give a faked one); empty: the process's own.
  std::string mountinfoPath;
  // How a volume's figures are read (tests fake a volume that does not tell them); empty: the
  // file system is asked.
  std::function<bool(const std::string& path, platform::VolumeFigures& out)> queryVolume;
  // Threads that read the file system for a scan; 0: one per core (at most 4). A scan with a
  // progress display reads on these while the display's thread only shows it.
  int scanThreads = 0;
  // Keep the largest files the scan meets (the benchmark measures the scan without it).
  bool keepLargestFiles = true;
  // Called by the reading threads with each subdirectory's path before it is opened (tests
  // change the tree under a scan, or cancel it, at a known point).
  std::function<void(const std::string& path)> onListing;
};

class CScanInfo {
 public:
  // owner and prompts must outlive the session; store may be null (nothing is loaded or saved).
  CScanInfo(IScanOwner* owner, IPrompts* prompts, std::unique_ptr<IScanStore> store = nullptr,
            CScanOptions options = {});
  CScanInfo(const CScanInfo&) = delete;
  CScanInfo& operator=(const CScanInfo&) = delete;
  virtual ~CScanInfo();

  // The record of the current scan directory.
  CDirData dd;

  // Current directory and its root. SetScanDir loads the directory's saved record when it is
  // another one; false when that failed.
  bool SetScanDir(std::string dir);
  std::string GetScanDir();
  std::string GetUniversalName(std::string path);
  std::string GetScanRoot();

  // Determines the cluster size of the current root (ClusterSize), and the free space of a root.
  void GetClusterSize();
  bool ORVGetFreeSpace(const std::string& root, std::uint64_t& freeBytes);
  // True when the volume holding root compresses its files (a btrfs mount with compression).
  bool IsCompressedVolume(const std::string& root) const;

  // Scans record.m_currentScanDir into record; level 1 for the directory the user scans. Its
  // questions are asked first, on the calling thread; with a progress display (not silent) the
  // tree is read and merged on other threads while the display runs the calling thread's events.
  // Returns the total, or -1 when cancelled or declined (then record is to be dropped).
  std::int64_t DoScan(int level, CDirData& record, bool silent);
  // Takes a tree listed elsewhere (an imported listing) as a scan of record.m_currentScanDir
  // made at scanTime: the records come out, and are saved, as a scan of the same tree would
  // make them, but without a free-space figure, which the listing does not tell.
  std::int64_t ImportScan(CDirData& record, CListedDirectory tree, std::int32_t scanTime);
  // The observer of the scans that follow, or nullptr; it must outlive them. It is told the
  // tree in listing order, from the thread that merges the scan.
  void SetScanVisitor(IScanVisitor* visitor) { m_visitor = visitor; }
  bool ClearDirData(CDirData& record);
  int GetNumSubDirs(std::string path);

  // Save queue and data file. A record that SaveNow wrote, not scanned again since, is not
  // queued again: the file holds it.
  bool QueueSave(const CDirData& record);
  // Writes a scan's top record with what is queued, without copying it (see
  // CSaveQueue::WriteNow); once written it counts as saved.
  void SaveNow(CDirData& record);
  bool LoadData(CDirData& record);
  void SaveOutData(const CDirData* record = nullptr);
  // Writes what is queued, then hands visit the saved records of top and of the directories
  // below it (see IScanStore::ReadTree). Records a scan did not save are not among them.
  IScanStore::LoadResult ReadSavedTree(const std::string& top, const IScanStore::TreeVisitor& visit);
  // Writes what is queued, then tells whether the data file could not be read or written (or
  // was found damaged) in this session; the user has been told how.
  bool DataFileFailed();
  // Writes everything queued and ends the writer; returns at once when it has ended.
  void ShutdownWarning();

  // Number of records waiting (for the window and tests).
  std::size_t QueuedCount();

  // The folder of the data file; takes effect between two writes, never during one.
  void SetDataDirectory(const std::string& folder);

  // Allocation unit in bytes that sizes are rounded to; 4096 until GetClusterSize runs.
  std::uint32_t ClusterSize() const { return m_rule.clusterSize; }
  void SetClusterSize(std::uint32_t size) { m_rule.clusterSize = size; }
  // Whether files count the space they hold on disk (the modes that count allocation units)
  // or their apparent length ("ignore"); set by GetClusterSize with the cluster size.
  bool CountsOnDisk() const { return m_rule.onDisk; }
  void SetCountsOnDisk(bool onDisk) { m_rule.onDisk = onDisk; }
  const CSizeRule& SizeRule() const { return m_rule; }
  // Counters of the last top-level scan: reset when it starts, kept after it ends.
  std::int32_t DirectoriesScanned() const { return m_directoriesScanned; }
  std::int32_t FilesScanned() const { return m_filesScanned; }
  // The largest files of the last top-level scan (empty before the first one); read it when no
  // scan is under way.
  const CLargestFiles& LargestFiles() const { return m_largestFiles; }
  bool HasScanned() const { return m_lastScanTime != 0; }
  // When the last top-level scan started (0: none yet), and its directory.
  std::int64_t LastScanTime() const { return m_lastScanTime; }
  const std::string& LastScanDir() const { return m_lastScanDir; }
  // The mount table as this session reads it (the options' file, else the process's own).
  platform::MountTable LoadMounts() const;

 private:
  struct ScanContext;

  std::int64_t WalkAndMerge(int level, CDirData& record);
  std::int64_t ScanTree(int level, CDirData& record, CListedDirectory& listed, bool consultFile);
  std::int64_t TakeFiles(const std::string& directory, CListedDirectory& listed);
  // Loads record's saved version (which the scan then ages), unless consultFile is false.
  IScanStore::LoadResult LoadSaved(CDirData& record, bool consultFile);
  std::int64_t ScanSubdirectory(const std::string& name, CListedDirectory& listed, CDirData& child,
                                bool consultFile);
  bool IsPseudoMount(const std::string& path) const;
  int ScanThreads() const;
  void PreparePseudoMounts(const std::string& top);
  void FinishRecord(int level, CDirData& record, bool listed, std::int64_t total);
  std::int64_t ScanFreeSpace();
  std::uint32_t DriveClusterSize(const std::string& root);
  bool QueryVolume(const std::string& path, platform::VolumeFigures& out) const;

  IScanOwner* m_owner;
  IPrompts* m_prompts;
  CScanOptions m_options;
  CSaveQueue m_saveQueue;
  std::string m_savedNowDir;  // the directory and scan times of the record SaveNow wrote last
  std::array<std::int32_t, 6> m_savedNowTimes{};

  CSizeRule m_rule;  // 4096 bytes on disk until GetClusterSize runs
  std::int32_t m_directoriesScanned = 0;
  std::int32_t m_filesScanned = 0;
  std::unique_ptr<ScanContext> m_scan;  // state of the top-level scan under way
  IScanVisitor* m_visitor = nullptr;
  CLargestFiles m_largestFiles{m_options.keepLargestFiles ? kLargestFilesKept : 0};
  std::int64_t m_lastScanTime = 0;
  std::string m_lastScanDir;
};

}  // namespace varnow
