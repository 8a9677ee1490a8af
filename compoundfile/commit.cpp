// How a batch reaches the file.
//
// Every change of a batch stays in memory: new and changed data sectors in m_dirtySectors,
// the FAT, MiniFAT, DIFAT and directory as the parsed Model with lists of what changed. Space
// is allocated at once (so a full file is reported by the Write or SetSize that fills it), and
// sectors freed earlier in the batch are reused first. Commit then
//   1. serialises only the changed directory, FAT, MiniFAT and DIFAT sectors and the header,
//   2. saves the bytes these writes will overwrite (and any tail the file loses) in a rollback
//      journal beside the file and syncs it (see journal.h),
//   3. writes everything in place, sets the file's length, syncs, and removes the journal.
// A writer killed at any instant therefore leaves either no journal (the file is as before or
// as after the batch) or a journal that the next opener, holding the lock, rolls back before
// reading. A new file is written whole under a temporary name and linked into place, so a
// half-created file is never seen either.
#include "compoundfile/document.h"

#include <algorithm>
#include <unistd.h>

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

HRESULT Document::WriteBatch() {
  Model& m = *m_model;
  const std::uint32_t ss = m.sectorSize;
  const std::uint32_t ids = m.IdsPerSector();
  std::vector<journal::Extent> writes;
  auto sectorExtent = [&](std::uint32_t s) -> std::vector<std::uint8_t>& {
    writes.push_back(journal::Extent{m.SectorOffset(s), std::vector<std::uint8_t>(ss, 0)});
    return writes.back().bytes;
  };

  for (auto& [s, bytes] : m_dirtySectors) writes.push_back(journal::Extent{m.SectorOffset(s), bytes});

  const std::uint32_t perSector = m.EntriesPerSector();
  for (std::uint32_t& id : m_dirtyEntries) id /= perSector;
  SortUnique(m_dirtyEntries);
  for (std::uint32_t k : m_dirtyEntries) {
    std::vector<std::uint8_t>& b = sectorExtent(m.dirChain[k]);
    for (std::uint32_t i = 0; i < perSector; ++i)
      SerializeEntry(m.nodes[k * perSector + i].entry, b.data() + i * kEntrySize);
  }

  auto tableSectors = [&](std::vector<std::uint32_t>& dirty, const std::vector<std::uint32_t>& table,
                          const std::vector<std::uint32_t>& where) {
    SortUnique(dirty);
    for (std::uint32_t k : dirty) {
      std::vector<std::uint8_t>& b = sectorExtent(where[k]);
      for (std::uint32_t i = 0; i < ids; ++i) Put32(b.data() + 4 * i, table[k * ids + i]);
    }
  };
  tableSectors(m_dirtyFat, m.fat, m.fatSectors);
  tableSectors(m_dirtyMiniFat, m.miniFat, m.miniFatChain);

  Header& h = m.header;
  for (std::uint32_t i = 0; i < kHeaderDifatSlots; ++i)
    h.difat[i] = i < m.fatSectors.size() ? m.fatSectors[i] : kFreeSect;
  if (m_difatDirty) {
    for (std::size_t j = 0; j < m.difatSectors.size(); ++j) {
      std::vector<std::uint8_t>& b = sectorExtent(m.difatSectors[j]);
      for (std::uint32_t i = 0; i + 1 < ids; ++i) {
        const std::size_t f = kHeaderDifatSlots + j * (ids - 1) + i;
        Put32(b.data() + 4 * i, f < m.fatSectors.size() ? m.fatSectors[f] : kFreeSect);
      }
      Put32(b.data() + 4 * (ids - 1),
            j + 1 < m.difatSectors.size() ? m.difatSectors[j + 1] : kEndOfChain);
    }
  }
  h.numFatSectors = static_cast<std::uint32_t>(m.fatSectors.size());
  h.firstDifatSector = m.difatSectors.empty() ? kEndOfChain : m.difatSectors.front();
  h.numDifatSectors = static_cast<std::uint32_t>(m.difatSectors.size());
  h.firstDirSector = m.dirChain.front();
  h.numDirSectors = m.Version3() ? 0 : static_cast<std::uint32_t>(m.dirChain.size());
  h.firstMiniFatSector = m.miniFatChain.empty() ? kEndOfChain : m.miniFatChain.front();
  h.numMiniFatSectors = static_cast<std::uint32_t>(m.miniFatChain.size());
  writes.push_back(journal::Extent{0, std::vector<std::uint8_t>(kHeaderSize)});
  SerializeHeader(h, writes.back().bytes.data());

  // The file ends with the last sector in use.
  std::size_t last = m.fat.size();
  while (last > 0 && m.fat[last - 1] == kFreeSect) --last;
  const std::uint64_t newLength = m.SectorOffset(static_cast<std::uint32_t>(last));
  const std::uint64_t oldLength = m.fileLength;

  std::sort(writes.begin(), writes.end(),
            [](const journal::Extent& a, const journal::Extent& b) { return a.offset < b.offset; });
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
  for (const journal::Extent& w : writes) {
    HRESULT hr = save(w.offset, w.offset + w.bytes.size());
    if (Failed(hr)) return hr;
  }
  if (newLength < oldLength) {
    HRESULT hr = save(newLength, oldLength);
    if (Failed(hr)) return hr;
  }

  HRESULT hr = journal::Write(m_path, oldLength, saved);
  if (Failed(hr)) return hr;
  for (const journal::Extent& w : writes) {
    hr = io::WriteAt(m_file.fd(), w.offset, w.bytes.data(), w.bytes.size());
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
