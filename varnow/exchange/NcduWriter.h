// Writes a scanned tree in ncdu's JSON export format (version 1.2), which ncdu and gdu read
// with -f: each directory an array whose first element describes it, followed by its files
// (objects) and subdirectories (arrays). It observes a scan and writes as the scan walks, so
// what it holds in memory stays small however large the tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "varnow/scan/ScanVisitor.h"

class QIODevice;

namespace varnow {

class CNcduWriter : public IScanVisitor {
 public:
  // out must be open for writing and outlive the writer; timestamp: the scan's start.
  CNcduWriter(QIODevice& out, std::string_view programVersion, std::int64_t timestamp);

  void OnDirectoryBegin(const std::string& path, bool opened, dev_t device, ino_t inode) override;
  void OnFile(const platform::DirEntry& entry, std::int64_t size) override;
  void OnSkippedDirectory(const std::string& name) override;
  void OnDirectoryEnd() override;

  // Closes the document; false when the scan did not walk the whole tree (it was cancelled or
  // failed) or a write failed. Nothing is written after it.
  bool Finish();

 private:
  void BeginItem();
  void AppendName(std::string_view name);
  void AppendNumber(std::string_view key, std::uint64_t value);
  void Flush();

  QIODevice& m_out;
  std::string m_buffer;
  std::vector<dev_t> m_devices;  // of the directories open, innermost last
  bool m_rootDone = false;
  bool m_failed = false;
};

// Appends text as the body of a JSON string: quote, backslash and control characters escaped,
// every other byte as it is (names that are not valid UTF-8 keep their bytes, as ncdu writes
// them).
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace varnow
