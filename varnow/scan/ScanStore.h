// Where the scan session keeps its records. The session owns the queue and the locks; the
// store only reads and writes records in the data file (varnow/store implements it, tests fake
// it). Keeps the dependency pointing from the store to the scan engine.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "varnow/scan/DirData.h"

namespace varnow {

class IScanStore {
 public:
  virtual ~IScanStore() = default;

  enum class LoadResult {
    Loaded,     // the record's stream was read
    NoRecord,   // the directory's storage exists but holds no record
    NoStorage,  // not even the directory's storage exists: nothing below it is saved either
    Failed,     // the file could not be read (missing, locked, damaged): treat as NoRecord
  };

  // Reads the saved header and entries of record.m_currentScanDir into record (which the
  // caller has reset). Never changes the file.
  virtual LoadResult Read(CDirData& record) = 0;
  // What Read would give for the record of path, without reading it.
  virtual LoadResult Probe(const std::string& path) {
    CDirData record;
    record.m_currentScanDir = path;
    return Read(record);
  }

  // Hands visit the saved record of top and of every directory below it that the newest scan
  // of its parent's record found, parents before children, each with its m_currentScanDir set.
  // The result is that of top's own record. A store that cannot walk gives top's record alone.
  using TreeVisitor = std::function<void(const CDirData& record)>;
  virtual LoadResult ReadTree(const std::string& top, const TreeVisitor& visit) {
    CDirData record;
    record.m_currentScanDir = top;
    const LoadResult result = Read(record);
    if (result == LoadResult::Loaded) visit(record);
    return result;
  }

  // A scan reads the records of a whole tree one after another: between BeginReads and EndReads
  // the store may keep its file open for reading (never while it writes, and never for long at
  // a time, so that other runs can save).
  virtual void BeginReads() {}
  virtual void EndReads() {}

  // Writes every record in one open of the file. onFailure gets each record that could not be
  // written with the status code.
  using FailureHandler = std::function<void(const CDirData& record, std::int32_t status)>;
  virtual void Write(std::span<const CDirData> records, const FailureHandler& onFailure) = 0;

  // The folder that holds the store's file, for the reads and writes that follow. The session
  // calls it under the lock that guards every access, so a change never races a write.
  virtual void SetFolder(const std::string& /*folder*/) {}

  // What the user must be told about the file since the last call (one that could not be
  // read, a damaged one that was replaced); empty when nothing happened.
  virtual std::string TakeNotice() { return {}; }
};

}  // namespace varnow
