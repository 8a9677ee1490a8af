#include "compoundfile/batchwriter.h"

#include <sys/uio.h>

#include <algorithm>

namespace cfb {

using namespace format;

namespace {

using Piece = BatchWriter::Piece;
using Range = BatchWriter::Range;

void SortUnique(std::vector<std::uint32_t>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

// Pieces sorted by offset, cut where the next does not start where one ends: each run is
// saved to the journal with one read and written with as few calls as the system allows.
std::vector<Range> Runs(const std::vector<Piece>& pieces) {
  std::vector<Range> runs;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (runs.empty() || pieces[i - 1].offset + pieces[i - 1].size != pieces[i].offset)
      runs.emplace_back(i, i);
    runs.back().second = i + 1;
  }
  return runs;
}

// Runs grouped into spans: a gap of unchanged bytes up to maxGap long, wholly inside the file
// as it was, is saved and written back with its neighbours rather than costing two more calls.
std::vector<Range> Spans(const std::vector<Piece>& pieces, const std::vector<Range>& runs,
                         std::uint64_t oldLength, std::uint64_t maxGap) {
  std::vector<Range> spans;
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

// Unchanged sectors one call writes back at most.
constexpr std::size_t kGapSectorsPerWrite = 64 * kMaxGapSectors;

}  // namespace

void BatchWriter::Collect(BatchChanges changes) {
  const std::uint32_t ss = m.sectorSize;
  for (std::uint32_t& id : changes.entries) id /= m.EntriesPerSector();
  SortUnique(changes.entries);
  SortUnique(changes.fat);
  SortUnique(changes.miniFat);

  m_pieces.reserve(changes.sectors.size() + changes.entries.size() + changes.fat.size() +
                   changes.miniFat.size() + 1);
  for (const auto& [s, bytes] : changes.sectors)
    m_pieces.push_back(Piece{m.SectorOffset(s), bytes.data(), 0, ss, Piece::kData});
  auto metaSectors = [&](const std::vector<std::uint32_t>& dirty, const std::vector<std::uint32_t>& where,
                         Piece::Kind kind) {
    for (std::uint32_t k : dirty) m_pieces.push_back(Piece{m.SectorOffset(where[k]), nullptr, k, ss, kind});
  };
  metaSectors(changes.entries, m.dirChain, Piece::kEntries);
  metaSectors(changes.fat, m.fatSectors, Piece::kFat);
  metaSectors(changes.miniFat, m.miniFatChain, Piece::kMiniFat);
  if (changes.difat) {
    for (std::uint32_t j = 0; j < m.difatSectors.size(); ++j)
      m_pieces.push_back(Piece{m.SectorOffset(m.difatSectors[j]), nullptr, j, ss, Piece::kDifat});
  }
  SerializeHeader();
  m_pieces.push_back(Piece{0, m_header, 0, kHeaderSize, Piece::kData});

  // The file ends with the last sector in use.
  std::size_t last = m.fat.size();
  while (last > 0 && m.fat[last - 1] == kFreeSect) --last;
  m_lastSector = static_cast<std::uint32_t>(last);
  m_newLength = m.SectorOffset(m_lastSector);
  m_oldLength = m.fileLength;

  std::sort(m_pieces.begin(), m_pieces.end(), [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
  m_runs = Runs(m_pieces);
  m_spans = Spans(m_pieces, m_runs, m_oldLength, kMaxGapSectors * ss);
}

void BatchWriter::SerializeHeader() {
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
  format::SerializeHeader(h, m_header);
}

void BatchWriter::SerializeSector(Piece::Kind kind, std::uint32_t k, std::uint8_t* b) const {
  const std::uint32_t ids = m.IdsPerSector();
  const std::uint32_t perSector = m.EntriesPerSector();
  auto table = [&](const std::vector<std::uint32_t>& links) {
    for (std::uint32_t i = 0; i < ids; ++i) Put32(b + 4 * i, links[std::size_t{k} * ids + i]);
  };
  switch (kind) {
    case Piece::kEntries: {
      format::DirEntry e;
      for (std::uint32_t i = 0; i < perSector; ++i) {
        const std::uint32_t id = k * perSector + i;
        m.GetEntry(id, m.nodes[id], e);
        SerializeEntry(e, b + i * kEntrySize);
      }
      break;
    }
    case Piece::kFat: table(m.fat); break;
    case Piece::kMiniFat: table(m.miniFat); break;
    case Piece::kDifat:
      for (std::uint32_t i = 0; i + 1 < ids; ++i) {
        const std::size_t f = kHeaderDifatSlots + std::size_t{k} * (ids - 1) + i;
        Put32(b + 4 * i, f < m.fatSectors.size() ? m.fatSectors[f] : kFreeSect);
      }
      Put32(b + 4 * (ids - 1), k + 1 < m.difatSectors.size() ? m.difatSectors[k + 1] : kEndOfChain);
      break;
    case Piece::kData: break;
  }
}

// Plans the saving of the file's bytes in [offset, end) that exist.
void BatchWriter::Save(std::uint64_t offset, std::uint64_t end) {
  end = std::min(end, m_oldLength);
  if (offset < end) m_saved.push_back(journal::Range{offset, end - offset});
}

HRESULT BatchWriter::Journal() {
  for (const auto& [firstRun, endRun] : m_spans) {
    const Piece& tail = m_pieces[m_runs[endRun - 1].second - 1];
    Save(m_pieces[m_runs[firstRun].first].offset, tail.offset + tail.size);
  }
  if (m_newLength < m_oldLength) Save(m_newLength, m_oldLength);
  m_journalBytes = journal::Size(m_saved);
  return journal::Write(m_path, m_oldLength, m_fd, m_saved);
}

HRESULT BatchWriter::WriteSpan(std::size_t k, Scratch& scratch) {
  const std::uint32_t ss = m.sectorSize;
  std::vector<iovec> vec;
  std::uint64_t at = m_pieces[m_runs[m_spans[k].first].first].offset;  // where vec's bytes go
  std::uint64_t next = at;                                             // where vec ends
  std::uint8_t* serialised = scratch.sectors.data();
  std::uint8_t* gaps = scratch.gaps.data();
  auto flush = [&]() -> HRESULT {
    const HRESULT written = io::WriteVecAt(m_fd, at, vec.data(), vec.size());
    vec.clear();
    serialised = scratch.sectors.data();
    gaps = scratch.gaps.data();
    at = next;
    return written;
  };
  HRESULT hr = S_OK;
  for (std::size_t r = m_spans[k].first; r < m_spans[k].second && Succeeded(hr); ++r) {
    const std::uint64_t runStart = m_pieces[m_runs[r].first].offset;
    if (runStart != next) {  // unchanged bytes, read back: nothing wrote over them yet
      const std::size_t gap = static_cast<std::size_t>(runStart - next);
      if (vec.size() == kPiecesPerWrite || gaps + gap > scratch.gaps.data() + scratch.gaps.size()) hr = flush();
      std::size_t got = 0;
      if (Succeeded(hr)) hr = io::ReadAt(m_fd, next, gaps, gap, &got);
      if (Succeeded(hr) && got != gap) hr = STG_E_READFAULT;
      vec.push_back(iovec{gaps, gap});
      gaps += gap;
      next = runStart;
    }
    for (std::size_t i = m_runs[r].first; i < m_runs[r].second && Succeeded(hr); ++i) {
      if (vec.size() == kPiecesPerWrite) hr = flush();
      const Piece& p = m_pieces[i];
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
  return hr;
}

HRESULT BatchWriter::WriteInPlace() {
  Scratch scratch{Buffer(kPiecesPerWrite * m.sectorSize), Buffer(kGapSectorsPerWrite * m.sectorSize)};
  for (std::size_t k = 0; k < m_spans.size(); ++k) {
    HRESULT hr = WriteSpan(k, scratch);
    if (Failed(hr)) return hr;
  }
  return S_OK;
}

HRESULT BatchWriter::Finish() {
  HRESULT hr = io::Truncate(m_fd, m_newLength);
  if (Succeeded(hr)) hr = io::Sync(m_fd);
  if (Succeeded(hr)) hr = journal::Retire(m_path);
  if (Failed(hr)) return hr;
  m.fileLength = m_newLength;
  m.fileSectors = m_lastSector;
  return S_OK;
}

std::uint64_t BatchWriter::SpaceNeeded() const {
  return m_journalBytes + (m_newLength > m_oldLength ? m_newLength - m_oldLength : 0);
}

}  // namespace cfb
