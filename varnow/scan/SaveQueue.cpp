#include "varnow/scan/SaveQueue.h"

#include <algorithm>
#include <cstdio>

#include "platform/tracelog.h"
#include "varnow/scan/Prompts.h"

namespace varnow {

CSaveQueue::CSaveQueue(std::unique_ptr<IScanStore> store, IPrompts* prompts, std::chrono::milliseconds idleFlush,
                       std::size_t flushThreshold, std::size_t maxBatch, std::size_t maxQueued)
    : m_store(std::move(store)),
      m_prompts(prompts),
      m_idleFlush(idleFlush),
      m_flushThreshold(flushThreshold),
      m_maxBatch(std::max<std::size_t>(maxBatch, 1)),
      m_maxQueued(std::max(maxQueued, m_maxBatch)) {
  m_writer = std::thread([this] { WriterThread(); });
}

CSaveQueue::~CSaveQueue() {
  try {
    Shutdown();
  } catch (...) {
    VN_TRACE("** Exception in ShutdownWarning\n");
  }
}

void CSaveQueue::SetFolder(const std::string& folder) {
  std::lock_guard storageLock(m_storageLock);
  if (m_store) m_store->SetFolder(folder);
}

void CSaveQueue::Queue(CDirData&& record) {
  std::size_t queued;
  {
    std::unique_lock lock(m_queueLock);
    if (m_diskFull) {
      VN_TRACE("The data for %s is not saved: the disk is full\n", record.m_currentScanDir.c_str());
      return;
    }
    auto it = m_queueIndex.find(record.m_currentScanDir);
    if (it == m_queueIndex.end() && m_queue.size() >= m_maxQueued && m_writerRuns) {
      m_signals.Set(CSignalPair::kFirst);
      m_taken.wait(lock, [&] { return m_queue.size() < m_maxQueued || !m_writerRuns; });
      it = m_queueIndex.find(record.m_currentScanDir);  // the batch may have held it
    }
    if (it != m_queueIndex.end()) {
      *it->second = std::move(record);
    } else {
      std::string path = record.m_currentScanDir;
      m_queue.push_back(std::move(record));
      m_queueIndex.emplace(std::move(path), std::prev(m_queue.end()));
    }
    queued = m_queue.size();
  }
  m_lastRequest.store(std::chrono::steady_clock::now().time_since_epoch().count());
  if (queued > m_flushThreshold) m_signals.Set(CSignalPair::kFirst);
}

std::size_t CSaveQueue::Count() {
  std::lock_guard lock(m_queueLock);
  return m_queue.size();
}

// Under the queue lock.
bool CSaveQueue::TakeQueued(const std::string& path, CDirData& out) {
  auto it = m_queueIndex.find(path);
  if (it == m_queueIndex.end()) return false;
  out = std::move(*it->second);
  m_queue.erase(it->second);
  m_queueIndex.erase(it);
  return true;
}

IScanStore::LoadResult CSaveQueue::Load(CDirData& record, bool consultFile, bool* fromQueue) {
  std::unique_lock queueLock(m_queueLock);
  std::string path = record.m_currentScanDir;
  CDirData queued;
  if (fromQueue) *fromQueue = false;
  if (TakeQueued(path, queued)) {
    if (fromQueue) *fromQueue = true;
    record = std::move(queued);
    record.m_currentScanDir = path;
    Write(record);  // still under the queue lock, so no flush can overtake it
    record.m_savedTimes = record.m_times;
    record.m_newScans = 0;
    return IScanStore::LoadResult::Loaded;
  }
  // A record of this path may be part of the batch being written: wait for that batch.
  if (m_inFlight.count(path) != 0) consultFile = true;
  record.Reset();
  record.m_total = 0;
  record.m_currentScanDir = path;
  if (!consultFile || !m_store) return IScanStore::LoadResult::NoStorage;
  // Taken before the queue lock goes, so a batch that left the queue is on disk by now.
  std::lock_guard storageLock(m_storageLock);
  queueLock.unlock();
  IScanStore::LoadResult result = m_store->Read(record);
  if (result == IScanStore::LoadResult::Failed) m_failed = true;
  TellNotice();
  record.m_currentScanDir = path;
  record.m_total = 0;
  record.m_savedTimes = record.m_times;  // a save compares them with what is saved by then
  return result;
}

IScanStore::LoadResult CSaveQueue::Probe(const std::string& path, bool consultFile) {
  std::unique_lock queueLock(m_queueLock);
  if (m_queueIndex.count(path) != 0) return IScanStore::LoadResult::Loaded;
  if (m_inFlight.count(path) != 0) consultFile = true;
  if (!consultFile || !m_store) return IScanStore::LoadResult::NoStorage;
  std::lock_guard storageLock(m_storageLock);
  queueLock.unlock();
  const IScanStore::LoadResult result = m_store->Probe(path);
  if (result == IScanStore::LoadResult::Failed) m_failed = true;
  TellNotice();
  return result;
}

IScanStore::LoadResult CSaveQueue::ReadTree(const std::string& top, const IScanStore::TreeVisitor& visit) {
  WriteAll();
  if (!m_store) return IScanStore::LoadResult::NoStorage;
  std::lock_guard storageLock(m_storageLock);
  const IScanStore::LoadResult result = m_store->ReadTree(top, visit);
  if (result == IScanStore::LoadResult::Failed) m_failed = true;
  TellNotice();
  return result;
}

void CSaveQueue::BeginReads() {
  std::lock_guard storageLock(m_storageLock);
  m_diskFull = false;  // a new scan tries to save again
  if (m_store) m_store->BeginReads();
}

void CSaveQueue::PauseReads() {
  // A write under way has let the file go already.
  std::unique_lock storageLock(m_storageLock, std::try_to_lock);
  if (!storageLock || !m_store) return;
  m_store->EndReads();
  m_store->BeginReads();
}

void CSaveQueue::EndReads() {
  std::lock_guard storageLock(m_storageLock);
  if (m_store) m_store->EndReads();
}

bool CSaveQueue::WriteRecords(std::span<const CDirData> records) {
  if (!m_store || records.empty()) return false;
  if (m_diskFull) {
    VN_TRACE("%zu directory records are not saved: the disk is full\n", records.size());
    return false;
  }
  std::vector<std::int32_t> reported;
  bool written = true;
  m_store->Write(records, [&](const CDirData& record, std::int32_t status) {
    m_failed = true;
    written = false;
    if (status == kDiskFull) {
      // Said once for the whole save below; every later batch would only fail the same way.
      m_diskFull = true;
      VN_TRACE("The data for %s can not be saved (Error=0x%X)\n", record.m_currentScanDir.c_str(),
               static_cast<unsigned>(status));
      return;
    }
    // One failure cause (a file that cannot be opened fails every record) is shown once.
    if (std::find(reported.begin(), reported.end(), status) != reported.end()) {
      VN_TRACE("The data for %s can not be saved (Error=0x%X)\n", record.m_currentScanDir.c_str(),
               static_cast<unsigned>(status));
      return;
    }
    reported.push_back(status);
    char text[256];
    std::snprintf(text, sizeof text, "(Error=0x%X)", static_cast<unsigned>(status));
    if (m_prompts)
      m_prompts->ShowMessage("The data for " + record.m_currentScanDir +
                                 " can not be saved because of a disk error.  " + text,
                             "Disk Write Error");
  });
  if (m_diskFull) {
    std::string notice = m_store->TakeNotice();
    if (notice.empty()) notice = "The disk is full: the scan data can not be saved.  The rest of this scan is not saved.";
    VN_TRACE("%s\n", notice.c_str());
    if (m_prompts) m_prompts->ShowMessage(notice, "Disk Full");
  }
  TellNotice();
  return written;
}

void CSaveQueue::TellNotice() {
  const std::string notice = m_store->TakeNotice();
  if (notice.empty()) return;
  m_failed = true;
  VN_TRACE("%s", notice.c_str());
  if (m_told.insert(notice).second && m_prompts) m_prompts->ShowMessage(notice, "Varnow Data File");
}

// Takes the oldest records queued now, at most most of them, and the storage lock, which
// storageLock holds afterwards; the records and alsoWritten are in flight until the batch is
// written. Nothing is locked when nothing is queued and there is nothing else to write.
std::vector<CDirData> CSaveQueue::TakeBatch(std::size_t most, std::unique_lock<std::mutex>& storageLock,
                                            const std::string* alsoWritten) {
  std::vector<CDirData> batch;
  std::lock_guard queueLock(m_queueLock);
  if (m_queue.empty() && !alsoWritten) return batch;
  storageLock.lock();  // queue lock before storage lock, as everywhere
  if (alsoWritten) m_inFlight.insert(*alsoWritten);
  batch.reserve(std::min(m_queue.size(), most) + 1);
  while (!m_queue.empty() && batch.size() < most) {
    CDirData& record = m_queue.front();
    m_queueIndex.erase(record.m_currentScanDir);
    m_inFlight.insert(record.m_currentScanDir);
    batch.push_back(std::move(record));
    m_queue.pop_front();
  }
  return batch;
}

// Writes the oldest records queued now (at most a batch); false when the queue was empty.
bool CSaveQueue::FlushOnce() {
  std::unique_lock storageLock(m_storageLock, std::defer_lock);
  std::vector<CDirData> batch = TakeBatch(m_maxBatch, storageLock, nullptr);
  if (batch.empty()) return false;
  m_taken.notify_all();
  WriteRecords(batch);
  storageLock.unlock();
  std::lock_guard queueLock(m_queueLock);
  m_inFlight.clear();
  return true;
}

void CSaveQueue::Write(const CDirData& record) {
  std::lock_guard lock(m_storageLock);
  WriteRecords({&record, 1});
}

bool CSaveQueue::WriteNow(CDirData& record) {
  {
    std::lock_guard queueLock(m_queueLock);
    CDirData superseded;
    TakeQueued(record.m_currentScanDir, superseded);
  }
  while (Count() >= m_maxBatch) FlushOnce();
  std::unique_lock storageLock(m_storageLock, std::defer_lock);
  std::vector<CDirData> batch = TakeBatch(m_maxBatch - 1, storageLock, &record.m_currentScanDir);
  m_taken.notify_all();
  // Lent to the batch, not copied, and handed back whatever happens.
  batch.push_back(std::move(record));
  struct GiveBack {
    CDirData& record;
    std::vector<CDirData>& batch;
    ~GiveBack() { record = std::move(batch.back()); }
  } giveBack{record, batch};
  const bool written = WriteRecords(batch);
  storageLock.unlock();
  std::lock_guard queueLock(m_queueLock);
  m_inFlight.clear();
  return written;
}

void CSaveQueue::WriteAll() {
  while (FlushOnce()) {
  }
}

// Writes when more than the threshold wait and when the idle time has passed since the last
// request (or the last flush); ends at the shutdown event.
void CSaveQueue::WriterThread() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point lastFlush = Clock::now();
  auto idleSince = [&] {
    return std::max(lastFlush, Clock::time_point(Clock::duration(m_lastRequest.load())));
  };
  for (;;) {
    CSignalPair::Result woken = m_signals.WaitUntil(idleSince() + m_idleFlush);
    if (woken == CSignalPair::kSecond) return;
    try {
      if (woken == CSignalPair::kFirst) {
        for (std::size_t queued = Count(); queued > m_flushThreshold || queued >= m_maxQueued; queued = Count())
          FlushOnce();
        continue;
      }
      if (Clock::now() >= idleSince() + m_idleFlush) {
        lastFlush = Clock::now();
        WriteAll();
      }
    } catch (...) {
      VN_TRACE("** Exception in SaveOutData\n");
    }
  }
}

void CSaveQueue::Shutdown() {
  if (!m_writer.joinable()) return;
  m_signals.Set(CSignalPair::kSecond);
  m_writer.join();
  {
    std::lock_guard lock(m_queueLock);
    m_writerRuns = false;
  }
  m_taken.notify_all();
  WriteAll();
}

}  // namespace varnow
