// The scan session: the current scan directory and its record, the recursive scan that builds
// a record for every directory of a tree, the save queue with its background writer, and the
// cluster size and scan root of the current directory.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "varnow/scan/DirData.h"
#include "varnow/scan/ScanOwner.h"
#include "varnow/scan/ScanStore.h"
#include "varnow/scan/SignalPair.h"

namespace platform {
class DirListing;
class MountTable;
struct DirEntry;
}

namespace varnow {

struct CListedDirectory;

struct CScanOptions {
  // The writer flushes when no save request came for this long ...
  std::chrono::milliseconds idleFlush{60000};
  // ... or at once when more than this many records wait.
  std::size_t flushThreshold = 500;
  // Mount table to use (tests give a faked one); empty: the process's own.
  std::string mountinfoPath;
  // Threads that read the file system for a scan without progress display; 0: one per core
  // (at most 4). A scan with a progress display reads on the calling thread only.
  int scanThreads = 0;
};

class CScanInfo {
 public:
  // owner must outlive the session; store may be null (nothing is loaded or saved).
  explicit CScanInfo(IScanOwner* owner, std::unique_ptr<IScanStore> store = nullptr,
                     CScanOptions options = {});
  CScanInfo(const CScanInfo&) = delete;
  CScanInfo& operator=(const CScanInfo&) = delete;
  virtual ~CScanInfo();

  // The record of the current scan directory.
  CDirData dd;

  // Current directory and its root.
  bool SetScanDir(std::string dir);
  std::string GetScanDir();
  std::string GetUniversalName(std::string path);
  std::string GetScanRoot();

  // Cluster size (g_clusterSize) and free space of the current root.
  void GetClusterSize();
  bool ORVGetFreeSpace(const std::string& root, std::uint64_t& freeBytes);

  // Scans record.m_currentScanDir into record; level 1 for the directory the user scans.
  // Returns the total, or -1 when cancelled or declined.
  std::int64_t DoScan(int level, CDirData& record, bool silent);
  bool ClearDirData(CDirData& record);
  int GetNumSubDirs(std::string path);

  // Save queue and data file.
  bool QueueSave(const CDirData& record);
  bool LoadData(CDirData& record);
  void SaveOutData(const CDirData* record = nullptr);
  // Writes everything queued and ends the writer; returns at once when it has ended.
  void ShutdownWarning();

  // Number of records waiting (for the window and tests).
  std::size_t QueuedCount();

 private:
  struct ScanContext;

  using Found = std::vector<std::pair<std::string, std::int64_t>>;

  std::int64_t ScanTree(int level, CDirData& record, bool silent, platform::DirListing& listing,
                        const CListedDirectory* listed, bool consultFile, int depth);
  std::vector<std::string> TakeEntries(platform::DirListing& listing, const CListedDirectory* listed,
                                       std::int64_t& total);
  std::int64_t ScanSubdirectory(platform::DirListing& parent, const std::string& name, CDirData& child,
                                bool silent, bool consultFile, int depth);
  std::int64_t ScanListedSubdirectory(const CListedDirectory& listed, CDirData& child, bool silent,
                                      bool consultFile);
  bool IsPseudoMount(const std::string& path) const;
  int ScanThreads() const;
  void PreparePseudoMounts(const std::string& top);
  std::int64_t CountFile(const platform::DirEntry& entry);
  void FinishRecord(int level, CDirData& record, bool listed, std::int64_t total);
  std::int64_t ScanFreeSpace();
  IScanStore::LoadResult LoadRecord(CDirData& record, bool consultFile, bool* fromQueue);
  bool TakeQueued(const std::string& path, CDirData& out);
  void QueueRecord(CDirData&& record);
  bool FlushOnce();
  void WriteRecords(const std::vector<CDirData>& records);
  void SaveThread();
  std::uint32_t FixedClusterSize(const std::string& root);
  std::uint32_t DriveClusterSize(const std::string& root);
  bool IsCompressedVolume(const std::string& root) const;
  platform::MountTable LoadMounts() const;

  IScanOwner* m_owner;
  std::unique_ptr<IScanStore> m_store;
  CScanOptions m_options;

  std::mutex m_queueLock;    // guards the queue; always taken before m_storageLock
  std::list<CDirData> m_queue;
  std::unordered_map<std::string, std::list<CDirData>::iterator> m_queueIndex;
  std::unordered_set<std::string> m_inFlight;  // paths of the batch being written
  std::mutex m_storageLock;  // guards every access to the data file

  // The save event is set when the queue outgrows the threshold; the writer's idle time counts
  // from the last request, which each request notes without waking the writer.
  CSignalPair m_signals;     // save event, shutdown event
  std::atomic<std::chrono::steady_clock::rep> m_lastRequest{0};
  std::thread m_saveThread;

  std::unique_ptr<ScanContext> m_scan;  // state of the top-level scan under way
};

}  // namespace varnow
