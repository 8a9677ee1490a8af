// How a batch reaches the file.
//
// Every change of a batch stays in memory: new and changed data sectors in m_dirtySectors,
// the FAT, MiniFAT, DIFAT and directory as the parsed Model with lists of what changed. Space
// is allocated at once (so a full file is reported by the Write or SetSize that fills it), and
// sectors freed earlier in the batch are reused first. Commit then
//   1. lists the changed data sectors, the changed directory, FAT, MiniFAT and DIFAT sectors and
//      the header,
//   2. saves the bytes these writes will overwrite (and any tail the file loses) in a rollback
//      journal beside the file and syncs it (see journal.h),
//   3. writes everything in place, sets the file's length, syncs, and removes the journal.
// Sectors that follow one another in the file are saved and written as one run each, and runs
// that only a few unchanged sectors part are saved and written as one span, the unchanged bytes
// written back as the journal saved them; the directory and table sectors are serialised just
// before their write, a bounded number at a time, so a commit needs little memory beyond the
// batch itself.
// A writer killed at any instant therefore leaves either no journal (the file is as before or
// as after the batch) or a journal that the next opener, holding the lock, rolls back before
// reading. A new file is written whole under a temporary name and linked into place, so a
// half-created file is never seen either.
#include "compoundfile/document.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>

#include "compoundfile/journal.h"

namespace cfb {

using namespace format;

namespace {

void SortUnique(std::vector<std::uint32_t>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Commit

HRESULT Document::Commit() {
  if (m_readOnly || !m_changed) return S_OK;
  if (m_broken) return STG_E_REVERTED;
  HRESULT hr;
  try {
    for (std::uint32_t s : m_dirtyTrees) RebuildTree(s);
    m_dirtyTrees.clear();
    m_model->header.transaction++;
    hr = WriteBatch();
  } catch (const std::bad_alloc&) {
    hr = STG_E_INSUFFICIENTMEMORY;
  }
  if (Failed(hr)) {
    // The file is as before the batch (or its journal still says how it was); memory is not.
    m_broken = true;
    journal::Recover(m_path, m_file.fd());
    return hr;
  }
  m_dirtySectors.clear();
  m_dirtyEntries.clear();
  m_dirtyFat.clear();
  m_dirtyMiniFat.clear();
  m_difatDirty = false;
  m_changed = false;
  return S_OK;
}

namespace {

// One sector (or the header) to be written: a data sector from the batch's buffer, or a sector
// of the directory or a table, serialised only when its run is written.
struct Piece {
  enum Kind : std::uint8_t { kData, kEntries, kFat, kMiniFat, kDifat };
  std::uint64_t offset;
  const std::uint8_t* bytes;  // kData
  std::uint32_t index;        // the others: which sector of the directory or table
  std::uint32_t size;
  Kind kind;
};

// Pieces sorted by offset, cut where the next does not start where one ends: each run is
// saved to the journal with one read and written with as few calls as the system allows.
std::vector<std::pair<std::size_t, std::size_t>> Runs(const std::vector<Piece>& pieces) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;  // [first, last)
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (runs.empty() || pieces[i - 1].offset + pieces[i - 1].size != pieces[i].offset)
      runs.emplace_back(i, i);
    runs.back().second = i + 1;
  }
  return runs;
}

// Runs grouped into spans, [first, last) of runs: a gap of unchanged bytes up to maxGap long,
// wholly inside the file as it was, is saved and written back with its neighbours rather than
// costing two more calls.
std::vector<std::pair<std::size_t, std::size_t>> Spans(const std::vector<Piece>& pieces,
                                                        const std::vector<std::pair<std::size_t, std::size_t>>& runs,
                                                        std::uint64_t oldLength, std::uint64_t maxGap) {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    if (!spans.empty()) {
      const Piece& before = pieces[runs[r - 1].second - 1];
      const std::uint64_t gapStart = before.offset + before.size;
      const std::uint64_t gapEnd = pieces[runs[r].first].offset;
      if (gapEnd <= oldLength && gapEnd - gapStart <= maxGap) {
        spans.back().second = r + 1;
        continue;
      }
    }
    spans.emplace_back(r, r + 1);
  }
  return spans;
}

// Unchanged sectors between two runs that a span writes back, at most.
constexpr std::uint64_t kMaxGapSectors = 8;

// Pieces written by one call at most; their serialised sectors are all the memory a write
// needs beyond the batch and its journal.
constexpr std::size_t kPiecesPerWrite = 1024;

}  // namespace

void Document::SerializeSector(std::uint8_t kind, std::uint32_t k, std::uint8_t* b) const {
  const Model& m = *m_model;
  const std::uint32_t ids = m.IdsPerSector();
  const std::uint32_t perSector = m.EntriesPerSector();
  auto table = [&](const std::vector<std::uint32_t>& links) {
    for (std::uint32_t i = 0; i < ids; ++i) Put32(b + 4 * i, links[std::size_t{k} * ids + i]);
  };
  switch (kind) {
    case Piece::kEntries:
      for (std::uint32_t i = 0; i < perSector; ++i)
        SerializeEntry(m.nodes[std::size_t{k} * perSector + i].entry, b + i * kEntrySize);
      break;
    case Piece::kFat: table(m.fat); break;
    case Piece::kMiniFat: table(m.miniFat); break;
    case Piece::kDifat:
      for (std::uint32_t i = 0; i + 1 < ids; ++i) {
        const std::size_t f = kHeaderDifatSlots + std::size_t{k} * (ids - 1) + i;
        Put32(b + 4 * i, f < m.fatSectors.size() ? m.fatSectors[f] : kFreeSect);
      }
      Put32(b + 4 * (ids - 1), k + 1 < m.difatSectors.size() ? m.difatSectors[k + 1] : kEndOfChain);
      break;
  }
}

HRESULT Document::WriteBatch() {
  Model& m = *m_model;
  const std::uint32_t ss = m.sectorSize;
  const std::uint32_t perSector = m.EntriesPerSector();
  for (std::uint32_t& id : m_dirtyEntries) id /= perSector;
  SortUnique(m_dirtyEntries);
  SortUnique(m_dirtyFat);
  SortUnique(m_dirtyMiniFat);

  std::vector<Piece> pieces;
  pieces.reserve(m_dirtySectors.size() + m_dirtyEntries.size() + m_dirtyFat.size() + m_dirtyMiniFat.size() + 1);
  for (const auto& [s, bytes] : m_dirtySectors)
    pieces.push_back(Piece{m.SectorOffset(s), bytes.data(), 0, ss, Piece::kData});
  auto metaSectors = [&](const std::vector<std::uint32_t>& dirty, const std::vector<std::uint32_t>& where,
                         Piece::Kind kind) {
    for (std::uint32_t k : dirty) pieces.push_back(Piece{m.SectorOffset(where[k]), nullptr, k, ss, kind});
  };
  metaSectors(m_dirtyEntries, m.dirChain, Piece::kEntries);
  metaSectors(m_dirtyFat, m.fatSectors, Piece::kFat);
  metaSectors(m_dirtyMiniFat, m.miniFatChain, Piece::kMiniFat);
  if (m_difatDirty) {
    for (std::uint32_t j = 0; j < m.difatSectors.size(); ++j)
      pieces.push_back(Piece{m.SectorOffset(m.difatSectors[j]), nullptr, j, ss, Piece::kDifat});
  }

  Header& h = m.header;
  for (std::uint32_t i = 0; i < kHeaderDifatSlots; ++i)
    h.difat[i] = i < m.fatSectors.size() ? m.fatSectors[i] : kFreeSect;
  h.numFatSectors = static_cast<std::uint32_t>(m.fatSectors.size());
  h.firstDifatSector = m.difatSectors.empty() ? kEndOfChain : m.difatSectors.front();
  h.numDifatSectors = static_cast<std::uint32_t>(m.difatSectors.size());
  h.firstDirSector = m.dirChain.front();
  h.numDirSectors = m.Version3() ? 0 : static_cast<std::uint32_t>(m.dirChain.size());
  h.firstMiniFatSector = m.miniFatChain.empty() ? kEndOfChain : m.miniFatChain.front();
  h.numMiniFatSectors = static_cast<std::uint32_t>(m.miniFatChain.size());
  std::uint8_t header[kHeaderSize];
  SerializeHeader(h, header);
  pieces.push_back(Piece{0, header, 0, kHeaderSize, Piece::kData});

  // The file ends with the last sector in use.
  std::size_t last = m.fat.size();
  while (last > 0 && m.fat[last - 1] == kFreeSect) --last;
  const std::uint64_t newLength = m.SectorOffset(static_cast<std::uint32_t>(last));
  const std::uint64_t oldLength = m.fileLength;

  std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
  const auto runs = Runs(pieces);
  const auto spans = Spans(pieces, runs, oldLength, kMaxGapSectors * ss);
  std::vector<journal::Extent> saved;
  auto save = [&](std::uint64_t offset, std::uint64_t end) -> HRESULT {
    end = std::min(end, oldLength);
    if (offset >= end) return S_OK;
    journal::Extent e{offset, std::vector<std::uint8_t>(static_cast<std::size_t>(end - offset))};
    std::size_t got = 0;
    HRESULT hr = io::ReadAt(m_file.fd(), offset, e.bytes.data(), e.bytes.size(), &got);
    e.bytes.resize(got);
    saved.push_back(std::move(e));
    return hr;
  };
  // Which extent of saved holds each span's old bytes, gaps included (none for a span wholly
  // past the old end, which has no gaps).
  constexpr std::size_t kNone = ~std::size_t{0};
  std::vector<std::size_t> spanSaved;
  for (const auto& [firstRun, endRun] : spans) {
    const std::uint64_t start = pieces[runs[firstRun].first].offset;
    const Piece& tail = pieces[runs[endRun - 1].second - 1];
    const std::size_t before = saved.size();
    HRESULT hr = save(start, tail.offset + tail.size);
    if (Failed(hr)) return hr;
    spanSaved.push_back(saved.size() > before ? before : kNone);
    // A file shorter than it should be: its gap bytes could not be saved.
    if (endRun - firstRun > 1 &&
        (spanSaved.back() == kNone || start + saved.back().bytes.size() < pieces[runs[endRun - 1].first].offset))
      return STG_E_READFAULT;
  }
  if (newLength < oldLength) {
    HRESULT hr = save(newLength, oldLength);
    if (Failed(hr)) return hr;
  }

  HRESULT hr = journal::Write(m_path, oldLength, saved);
  if (Failed(hr)) return hr;
  std::vector<std::uint8_t> scratch(kPiecesPerWrite * ss);
  std::vector<iovec> vec;
  for (std::size_t k = 0; k < spans.size(); ++k) {
    std::uint64_t at = pieces[runs[spans[k].first].first].offset;  // where vec's bytes go
    std::uint64_t next = at;                                         // where vec ends
    std::uint8_t* serialised = scratch.data();
    auto flush = [&]() -> HRESULT {
      const HRESULT written = io::WriteVecAt(m_file.fd(), at, vec.data(), vec.size());
      vec.clear();
      serialised = scratch.data();
      at = next;
      return written;
    };
    for (std::size_t r = spans[k].first; r < spans[k].second && Succeeded(hr); ++r) {
      const std::uint64_t runStart = pieces[runs[r].first].offset;
      if (runStart != next) {  // unchanged bytes, as the journal saved them
        const journal::Extent& e = saved[spanSaved[k]];
        if (vec.size() == kPiecesPerWrite) hr = flush();
        vec.push_back(iovec{const_cast<std::uint8_t*>(e.bytes.data() + (next - e.offset)),
                            static_cast<std::size_t>(runStart - next)});
        next = runStart;
      }
      for (std::size_t i = runs[r].first; i < runs[r].second && Succeeded(hr); ++i) {
        if (vec.size() == kPiecesPerWrite) hr = flush();
        const Piece& p = pieces[i];
        std::uint8_t* bytes = const_cast<std::uint8_t*>(p.bytes);
        if (p.kind != Piece::kData) {
          bytes = serialised;
          serialised += ss;
          SerializeSector(p.kind, p.index, bytes);
        }
        vec.push_back(iovec{bytes, p.size});
        next += p.size;
      }
    }
    if (Succeeded(hr)) hr = flush();
    if (Failed(hr)) return hr;
  }
  if (::ftruncate(m_file.fd(), static_cast<off_t>(newLength)) != 0) return STG_E_WRITEFAULT;
  hr = io::Sync(m_file.fd());
  if (Failed(hr)) return hr;
  hr = journal::Remove(m_path);
  if (Failed(hr)) return hr;
  m.fileLength = newLength;
  m.fileSectors = static_cast<std::uint32_t>(last);
  return S_OK;
}

}  // namespace cfb
