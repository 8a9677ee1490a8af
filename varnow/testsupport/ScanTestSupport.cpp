#include "varnow/testsupport/ScanTestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "platform/dirlist.h"

namespace varnow::test {

TempDir::TempDir() {
  char pattern[] = "/tmp/varnow-scan-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  m_path = std::string(pattern) + "/";
}

TempDir::~TempDir() {
  // rm walks with descriptors, so trees deeper than PATH_MAX go too.
  std::string command = "rm -rf '" + m_path + "'";
  if (std::system(command.c_str()) != 0) {
  }
}

std::string TempDir::MakeDir(const std::string& relative) const {
  std::filesystem::create_directories(m_path + relative);
  return m_path + relative + "/";
}

std::string TempDir::MakeFile(const std::string& relative, std::uint64_t length) const {
  std::string path = m_path + relative;
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("create " + path);
  if (length > 0 && ::ftruncate(fd, static_cast<off_t>(length)) != 0) throw std::runtime_error("truncate");
  ::close(fd);
  return path;
}

std::string TempDir::MakeDataFile(const std::string& relative, std::uint64_t length) const {
  std::string path = m_path + relative;
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("create " + path);
  const std::string block(64 * 1024, 'x');
  for (std::uint64_t left = length; left > 0;) {
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
    if (::write(fd, block.data(), piece) != static_cast<ssize_t>(piece)) throw std::runtime_error("write " + path);
    left -= piece;
  }
  ::close(fd);
  return path;
}

std::vector<std::string> ListedSubdirectories(const std::string& path) {
  std::vector<std::string> names;
  for (const platform::DirEntry& entry : platform::ListDirectory(path))
    if (entry.isDirectory && entry.name != "." && entry.name != "..") names.push_back(entry.name);
  return names;
}

class FakeProgress : public CScanProgress {
 public:
  explicit FakeProgress(FakeOwner& owner) : m_owner(owner) { ++m_owner.progressAlive; }
  ~FakeProgress() override { --m_owner.progressAlive; }
  // As the window's display does: the walk on a thread of its own, the caller waiting.
  void Run(CScanCounters& counters, const std::function<void()>& walk) override {
    ++m_owner.runs;
    m_owner.counters = &counters;
    if (m_owner.onRun) m_owner.onRun(counters);
    std::exception_ptr failure;
    std::thread worker([&] {
      m_owner.walkThread = std::this_thread::get_id();
      try {
        walk();
      } catch (...) {
        failure = std::current_exception();
      }
    });
    worker.join();
    m_owner.counters = nullptr;
    if (failure) std::rethrow_exception(failure);
  }

 private:
  FakeOwner& m_owner;
};

std::unique_ptr<CScanProgress> FakeOwner::CreateScanProgress() {
  if (!interactive) return nullptr;
  return std::make_unique<FakeProgress>(*this);
}

IScanStore::LoadResult MemoryStore::Read(CDirData& record) {
  std::lock_guard lock(m_state->mutex);
  ++m_state->reads;
  if (m_state->onRead) m_state->onRead(record.m_currentScanDir);
  if (m_state->unreadable) return LoadResult::Failed;
  auto it = m_state->records.find(record.m_currentScanDir);
  if (it == m_state->records.end()) return LoadResult::NoRecord;
  std::string path = record.m_currentScanDir;
  record = it->second;
  record.m_currentScanDir = path;
  return LoadResult::Loaded;
}

void MemoryStore::Write(std::span<const CDirData> records, const FailureHandler& onFailure) {
  std::lock_guard lock(m_state->mutex);
  ++m_state->batches;
  m_state->largestBatch = std::max(m_state->largestBatch, records.size());
  for (const CDirData& record : records) {
    m_state->written.push_back(record.m_currentScanDir);
    if (m_state->failWith != 0) {
      onFailure(record, m_state->failWith);
      continue;
    }
    CDirData stored = record;
    stored.m_total = -1;  // the file keeps no total
    m_state->records[record.m_currentScanDir] = stored;
  }
}

void MemoryStore::BeginReads() {
  std::lock_guard lock(m_state->mutex);
  m_state->holdingReads = true;
}

void MemoryStore::EndReads() {
  std::lock_guard lock(m_state->mutex);
  m_state->holdingReads = false;
}

}  // namespace varnow::test
