// Writing one batch of changes to the file, in four phases that each end in a known state:
//   Collect       lists the changed data sectors, the changed directory, FAT, MiniFAT and DIFAT
//                 sectors and the header, and the file's new length (nothing touched yet);
//   Journal       saves the bytes these writes will overwrite (and any tail the file loses) in
//                 the rollback journal beside the file and syncs it (and its folder when the
//                 journal is new; see journal.h);
//   WriteInPlace  writes everything in place;
//   Finish        sets the file's length, syncs the file, and retires the journal (a mark
//                 written over its start and synced), which completes the batch.
// A failure in any phase fails the batch and leaves the journal (if one was written) for the
// next opener to roll back; nothing is retried, a sync least of all.
// Sectors that follow one another in the file are saved and written as one run each, and runs
// that only a few unchanged sectors part are saved and written as one span, the unchanged bytes
// read back and written as they are; the journal reads what it saves from the file a piece at
// a time; the directory and table sectors are serialised just
// before their write, a bounded number at a time, so a batch needs little memory beyond itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "compoundfile/document.h"
#include "compoundfile/journal.h"

namespace cfb {

// What a batch changed: data sectors with their new bytes, and which sectors of the directory
// (by entry id), the FAT and the MiniFAT (by sector index) are to be written again.
struct BatchChanges {
  const std::unordered_map<std::uint32_t, std::vector<std::uint8_t>>& sectors;
  std::vector<std::uint32_t>& entries;
  std::vector<std::uint32_t>& fat;
  std::vector<std::uint32_t>& miniFat;
  bool difat = false;
};

class BatchWriter {
 public:
  BatchWriter(Model& model, int fd, std::string path) : m(model), m_fd(fd), m_path(std::move(path)) {}

  void Collect(BatchChanges changes);
  HRESULT Journal();
  HRESULT WriteInPlace();
  HRESULT Finish();

  // Free space the batch takes on the file's disk: its journal and what the file grows by.
  std::uint64_t SpaceNeeded() const;

  // One sector (or the header) to be written: a data sector from the batch's buffer, or a
  // sector of the directory or a table, serialised only when its run is written.
  struct Piece {
    enum Kind : std::uint8_t { kData, kEntries, kFat, kMiniFat, kDifat };
    std::uint64_t offset;
    const std::uint8_t* bytes;  // kData
    std::uint32_t index;        // the others: which sector of the directory or table
    std::uint32_t size;
    Kind kind;
  };
  using Range = std::pair<std::size_t, std::size_t>;  // [first, last)

 private:
  void SerializeSector(Piece::Kind kind, std::uint32_t k, std::uint8_t* b) const;
  void SerializeHeader();
  // Bytes that are always written before they are read, so not zeroed first: a batch took
  // most of its page faults and a memset of 768 KB for scratch space it mostly never used.
  struct Buffer {
    explicit Buffer(std::size_t n) : bytes(std::make_unique_for_overwrite<std::uint8_t[]>(n)), length(n) {}
    std::uint8_t* data() { return bytes.get(); }
    std::size_t size() const { return length; }
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t length;
  };
  // Buffers of one write: serialised directory and table sectors, and unchanged gap bytes.
  struct Scratch {
    Buffer sectors;
    Buffer gaps;
  };
  void Save(std::uint64_t offset, std::uint64_t end);
  HRESULT WriteSpan(std::size_t k, Scratch& scratch);

  Model& m;
  int m_fd;
  std::string m_path;
  std::vector<Piece> m_pieces;  // by offset
  std::vector<Range> m_runs;    // of pieces
  std::vector<Range> m_spans;   // of runs
  std::uint8_t m_header[format::kHeaderSize] = {};
  std::uint32_t m_lastSector = 0;  // the file ends with it
  std::uint64_t m_newLength = 0;
  std::uint64_t m_oldLength = 0;
  std::vector<journal::Range> m_saved;  // what the journal keeps of the file
  std::uint64_t m_journalBytes = 0;
};

}  // namespace cfb
