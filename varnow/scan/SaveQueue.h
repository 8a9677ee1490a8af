// The records waiting to be written into the data file, and the writer thread that writes them:
// when more than the threshold wait, when no save request came for the idle time, and all of
// them at shutdown. A write takes at most maxBatch records, oldest first; a producer that finds
// maxQueued records waiting waits until the writer has taken a batch, so that memory stays
// bounded however far a scan runs ahead of the writer. The queue lock is always taken before the
// storage lock; every access to the store happens under the storage lock, so the store's folder
// can change between two writes but never during one.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "varnow/scan/DirData.h"
#include "varnow/scan/ScanStore.h"
#include "varnow/scan/SignalPair.h"

namespace varnow {

class IPrompts;

class CSaveQueue {
 public:
  // store may be null (nothing is loaded or saved); prompts gets the write failures.
  CSaveQueue(std::unique_ptr<IScanStore> store, IPrompts* prompts, std::chrono::milliseconds idleFlush,
             std::size_t flushThreshold, std::size_t maxBatch, std::size_t maxQueued);
  CSaveQueue(const CSaveQueue&) = delete;
  CSaveQueue& operator=(const CSaveQueue&) = delete;
  ~CSaveQueue();

  // The folder the store keeps its file in.
  void SetFolder(const std::string& folder);

  // Queues the record, replacing a queued one of the same path; waits while the queue is full
  // and the writer runs.
  void Queue(CDirData&& record);
  std::size_t Count();

  // Reads the saved record of record.m_currentScanDir into record. A queued record is taken
  // instead (and written at once, so that the file holds what is shown); one of the batch being
  // written is read after that batch. Without consultFile (or a store) nothing is read.
  IScanStore::LoadResult Load(CDirData& record, bool consultFile, bool* fromQueue);
  // What Load would give for path (Loaded for a queued record), without reading the record.
  IScanStore::LoadResult Probe(const std::string& path, bool consultFile);
  // Loads of a whole tree follow (see IScanStore::BeginReads), until EndReads. PauseReads lets
  // the file go while loads are far apart (a subtree with nothing saved is scanned).
  void BeginReads();
  void PauseReads();
  void EndReads();

  // Writes everything queued, then walks the saved records of top and below it (see
  // IScanStore::ReadTree) under the storage lock.
  IScanStore::LoadResult ReadTree(const std::string& top, const IScanStore::TreeVisitor& visit);

  // Writes one record now, or everything queued.
  void Write(const CDirData& record);
  void WriteAll();
  // Writes what is queued and then the record, in place of a queued one of its directory, which
  // it supersedes: in the last batch, as if queued last, but lent to it rather than copied (a
  // wide folder's record is megabytes). Whether that batch was written whole.
  bool WriteNow(CDirData& record);

  // Ends the writer thread, then writes what is still queued on the calling thread, so that a
  // failure found then is told on the thread that owns the windows. Returns at once when done.
  void Shutdown();

  // Whether the data file could not be read or written (or was found damaged) so far.
  bool Failed() const { return m_failed; }

 private:
  bool TakeQueued(const std::string& path, CDirData& out);
  std::vector<CDirData> TakeBatch(std::size_t most, std::unique_lock<std::mutex>& storageLock,
                                  const std::string* alsoWritten);
  bool FlushOnce();
  bool WriteRecords(std::span<const CDirData> records);
  // Shows what the store has to tell, each text once; under the storage lock.
  void TellNotice();
  void WriterThread();

  std::unique_ptr<IScanStore> m_store;
  IPrompts* m_prompts;
  std::chrono::milliseconds m_idleFlush;
  std::size_t m_flushThreshold;
  std::size_t m_maxBatch;
  std::size_t m_maxQueued;

  std::mutex m_queueLock;  // guards the queue; always taken before m_storageLock
  std::list<CDirData> m_queue;
  std::unordered_map<std::string, std::list<CDirData>::iterator> m_queueIndex;
  std::unordered_set<std::string> m_inFlight;  // paths of the batch being written
  std::condition_variable m_taken;  // a batch left the queue, or the writer ended
  bool m_writerRuns = true;
  std::mutex m_storageLock;  // guards every access to the store

  // The save event is set when the queue outgrows the threshold; the writer's idle time counts
  // from the last request, which each request notes without waking the writer.
  CSignalPair m_signals;  // save event, shutdown event
  std::atomic<std::chrono::steady_clock::rep> m_lastRequest{0};
  std::atomic<bool> m_failed{false};
  // A batch found the disk full: the rest of the save is dropped (told once) until the next
  // scan begins.
  std::atomic<bool> m_diskFull{false};
  static constexpr std::int32_t kDiskFull = static_cast<std::int32_t>(0x80030070u);  // STG_E_MEDIUMFULL
  std::unordered_set<std::string> m_told;
  std::thread m_writer;
};

}  // namespace varnow
