// Reads a treemap's saved tree on a thread of its own, so that a window stays responsive while a
// tree of a million records is read. A new read abandons the one under way; so does the end of
// the reader.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "varnow/scan/DirData.h"
#include "varnow/ui/Treemap.h"

namespace varnow {

class CTreemapReader {
 public:
  // Gets the finished tree, on the reader's thread: pass it on to the window by a queued call.
  using Done = std::function<void(std::shared_ptr<CTreemapTree> tree)>;

  CTreemapReader() = default;
  CTreemapReader(const CTreemapReader&) = delete;
  CTreemapReader& operator=(const CTreemapReader&) = delete;
  ~CTreemapReader() { Cancel(); }

  // Runs first, on the reader's thread: writes what the session has queued, so that the read
  // finds it (the window's thread does not wait for the save).
  using Flush = std::function<void()>;
  // Builds on top (the shown record), then on the records below it saved in the data file in
  // folder, opened for this read alone.
  void Start(const std::string& folder, const CDirData& top, Flush flush, Done done);
  // Abandons the read under way and waits for its thread, which stops at its next record.
  void Cancel();

 private:
  std::thread m_thread;
  std::shared_ptr<std::atomic<bool>> m_cancelled;
};

}  // namespace varnow
