// Test helpers for the scan engine: temporary trees, a scripted owner, an in-memory store.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "varnow/scan/DirData.h"
#include "varnow/scan/Prompts.h"
#include "varnow/scan/ScanOwner.h"
#include "varnow/scan/ScanStore.h"

namespace varnow::test {

// A fresh directory under /tmp, removed with everything in it at the end. Path ends in "/".
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return m_path; }
  // Creates the directory (and parents) relative to Path().
  std::string MakeDir(const std::string& relative) const;
  // Creates a file of length bytes relative to Path(). It is sparse: it holds no blocks.
  std::string MakeFile(const std::string& relative, std::uint64_t length) const;
  // The same with length bytes written, so that it holds its blocks on disk.
  std::string MakeDataFile(const std::string& relative, std::uint64_t length) const;

 private:
  std::string m_path;
};

// Names of path's subdirectories in listing order.
std::vector<std::string> ListedSubdirectories(const std::string& path);

class FakeProgress;

// Owner and prompts in one: scripted answers, recorded questions and messages.
class FakeOwner : public IScanOwner, public IPrompts {
 public:
  ClusterMode preferredCluster = ClusterMode::kIgnore;
  std::string dataDirectory = "/nonexistent/";
  int autoSave = 0;
  int subDirSave = 0;
  bool scanMissing = true;
  bool interactive = false;  // CreateScanProgress gives a display
  // Called as a display's Run starts, before the walk (may set the cancel flag).
  std::function<void(CScanCounters&)> onRun;
  std::function<void(const std::string&)> onAskClusterSize;

  std::atomic<int> missingQuestions{0};
  std::atomic<int> clusterQuestions{0};
  std::atomic<int> refreshes{0};
  std::atomic<int> progressAlive{0};
  std::mutex messagesMutex;
  std::vector<std::string> messages;

  std::string DataDirectory() const { return dataDirectory; }
  ClusterMode PreferredClusterSetting() const override { return preferredCluster; }
  int AutoSave() const override { return autoSave; }
  int SubDirSave() const override { return subDirSave; }
  bool AskScanMissingDirectory() override {
    ++missingQuestions;
    return scanMissing;
  }
  void AskClusterSize(const std::string& root) override {
    ++clusterQuestions;
    if (onAskClusterSize) onAskClusterSize(root);
  }
  std::unique_ptr<CScanProgress> CreateScanProgress() override;
  void ShowMessage(const std::string& text, const std::string& caption) override {
    std::lock_guard lock(messagesMutex);
    messages.push_back(caption + ": " + text);
  }
  void ShowAlert(const CAlertNotice& alert) override { ShowMessage(alert.message, "Varnow Alert"); }
  void RefreshView() override { ++refreshes; }
  std::vector<std::string> Messages() {
    std::lock_guard lock(messagesMutex);
    return messages;
  }

  int runs = 0;                            // walks run through a display
  CScanCounters* counters = nullptr;       // of the walk under way through a display
  std::thread::id walkThread;              // that the last such walk ran on
};

// Records in memory keyed by exact path; counts write batches; can fail every write.
class MemoryStore : public IScanStore {
 public:
  struct State {
    std::mutex mutex;
    std::map<std::string, CDirData> records;
    int batches = 0;
    int reads = 0;
    std::int32_t failWith = 0;  // non-zero: every write fails with this status
    bool unreadable = false;    // every read fails
    std::vector<std::string> written;  // paths in the order they were written
    std::size_t largestBatch = 0;
    bool holdingReads = false;  // between BeginReads and EndReads
    std::function<void(const std::string& path)> onRead;  // told of every read, under the mutex
  };
  explicit MemoryStore(std::shared_ptr<State> state) : m_state(std::move(state)) {}
  LoadResult Read(CDirData& record) override;
  void Write(std::span<const CDirData> records, const FailureHandler& onFailure) override;
  void BeginReads() override;
  void EndReads() override;

 private:
  std::shared_ptr<State> m_state;
};

}  // namespace varnow::test
