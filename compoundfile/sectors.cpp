// Space in the file: allocating and freeing sectors and mini sectors, growing the FAT, and
// reading and writing stream contents through the batch's changed sectors.
#include "compoundfile/document.h"

#include <algorithm>
#include <cstring>

namespace cfb {

using namespace format;

// ---------------------------------------------------------------------------------------------
// Sectors and chains

void Document::SetFat(std::uint32_t index, std::uint32_t value) {
  m_model->fat[index] = value;
  m_dirtyFat.push_back(index / m_model->IdsPerSector());
  if (value == kFreeSect) m_model->freeSectorHint = std::min(m_model->freeSectorHint, index);
}

void Document::SetMiniFat(std::uint32_t index, std::uint32_t value) {
  m_model->miniFat[index] = value;
  m_dirtyMiniFat.push_back(index / m_model->IdsPerSector());
  if (value == kFreeSect) m_model->freeMiniHint = std::min(m_model->freeMiniHint, index);
}

HRESULT Document::AllocSector(std::uint32_t& out) {
  Model& m = *m_model;
  for (;;) {
    for (std::uint32_t i = m.freeSectorHint; i < m.fat.size(); ++i) {
      if (m.fat[i] != kFreeSect) continue;
      const std::uint64_t end = m.SectorOffset(i) + m.sectorSize;
      if (i >= kMaxRegSect || (m.Version3() && end > kVersion3Limit)) return STG_E_MEDIUMFULL;
      SetFat(i, kEndOfChain);
      m.freeSectorHint = i + 1;
      out = i;
      return S_OK;
    }
    m.freeSectorHint = static_cast<std::uint32_t>(m.fat.size());
    HRESULT hr = GrowFat();
    if (Failed(hr)) return hr;
  }
}

// Answers early when a large request cannot fit below the version 3 limit, so that a hopeless
// SetSize fails at once instead of allocating sector after sector first.
bool Document::WouldFit(std::uint64_t sectors) const {
  const Model& m = *m_model;
  if (!m.Version3() || sectors < 4096) return true;
  const std::uint64_t limit = kVersion3Limit / m.sectorSize - 1;
  const std::uint64_t used = static_cast<std::uint64_t>(
      m.fat.size() - std::count(m.fat.begin(), m.fat.end(), kFreeSect));
  const std::uint64_t fatOverhead = sectors / (m.IdsPerSector() - 1) + 2;
  return used + sectors + fatOverhead <= limit;
}

// Adds a FAT sector at the first sector number the FAT does not cover yet (so it describes
// itself), and a DIFAT sector beside it when the header and the DIFAT are full.
HRESULT Document::GrowFat() {
  Model& m = *m_model;
  const std::uint64_t s = m.fat.size();
  if (s + 2 >= kMaxRegSect || (m.Version3() && m.SectorOffset(static_cast<std::uint32_t>(s)) +
                                                       2 * m.sectorSize > kVersion3Limit))
    return STG_E_MEDIUMFULL;
  const std::uint32_t sector = static_cast<std::uint32_t>(s);
  m.fat.resize(s + m.IdsPerSector(), kFreeSect);
  m.fatSectors.push_back(sector);
  SetFat(sector, kFatSect);
  const std::size_t difatCapacity =
      kHeaderDifatSlots + m.difatSectors.size() * (m.IdsPerSector() - 1);
  if (m.fatSectors.size() > difatCapacity) {
    SetFat(sector + 1, kDifSect);
    m.difatSectors.push_back(sector + 1);
  }
  m_difatDirty = true;
  return S_OK;
}

HRESULT Document::EnsureMiniStream(std::uint64_t bytes) {
  Model& m = *m_model;
  DirEntry& root = m.nodes[0].entry;
  const std::uint64_t need = Units(bytes, m.sectorSize);
  while (m.miniStreamChain.size() < need) {
    std::uint32_t s = 0;
    HRESULT hr = AllocSector(s);
    if (Failed(hr)) return hr;
    if (m.miniStreamChain.empty()) {
      m.nodes[0].entry.start = s;
    } else {
      SetFat(m.miniStreamChain.back(), s);
    }
    m.miniStreamChain.push_back(s);
    std::uint8_t* unused = nullptr;
    hr = WritableSector(s, true, unused);
    if (Failed(hr)) return hr;
    MarkEntry(0);
  }
  if (root.size < bytes) {
    m.nodes[0].entry.size = bytes;
    MarkEntry(0);
  }
  return S_OK;
}

HRESULT Document::AllocMini(std::uint32_t& out) {
  Model& m = *m_model;
  for (;;) {
    for (std::uint32_t i = m.freeMiniHint; i < m.miniFat.size(); ++i) {
      if (m.miniFat[i] != kFreeSect) continue;
      HRESULT hr = EnsureMiniStream((std::uint64_t{i} + 1) * kMiniSectorSize);
      if (Failed(hr)) return hr;
      SetMiniFat(i, kEndOfChain);
      m.freeMiniHint = i + 1;
      out = i;
      return S_OK;
    }
    m.freeMiniHint = static_cast<std::uint32_t>(m.miniFat.size());
    std::uint32_t s = 0;
    HRESULT hr = AllocSector(s);
    if (Failed(hr)) return hr;
    if (!m.miniFatChain.empty()) SetFat(m.miniFatChain.back(), s);
    m.miniFatChain.push_back(s);
    const std::size_t first = m.miniFat.size();
    m.miniFat.resize(first + m.IdsPerSector(), kFreeSect);
    m_dirtyMiniFat.push_back(static_cast<std::uint32_t>(first / m.IdsPerSector()));
  }
}

HRESULT Document::Extend(std::vector<std::uint32_t>& chain, std::size_t count, bool mini) {
  std::vector<std::uint32_t> added;
  added.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t s = 0;
    HRESULT hr = mini ? AllocMini(s) : AllocSector(s);
    if (Failed(hr)) {
      Truncate(added, 0, mini);
      return hr;
    }
    added.push_back(s);
    if (!mini && s < m_model->fileSectors) {
      // A reused sector must read as zero. One past the end of the file needs no buffer:
      // it reads as zero, and the file grows with zeros when the batch is written.
      std::uint8_t* unused = nullptr;
      hr = WritableSector(s, true, unused);
      if (Failed(hr)) return hr;
    }
  }
  for (std::uint32_t s : added) {
    if (!chain.empty()) mini ? SetMiniFat(chain.back(), s) : SetFat(chain.back(), s);
    chain.push_back(s);
  }
  return S_OK;
}

void Document::Truncate(std::vector<std::uint32_t>& chain, std::size_t count, bool mini) {
  for (std::size_t i = count; i < chain.size(); ++i) {
    if (mini) {
      SetMiniFat(chain[i], kFreeSect);
    } else {
      SetFat(chain[i], kFreeSect);
      m_dirtySectors.erase(chain[i]);
    }
  }
  chain.resize(std::min(count, chain.size()));
  if (!chain.empty()) mini ? SetMiniFat(chain.back(), kEndOfChain) : SetFat(chain.back(), kEndOfChain);
}

HRESULT Document::ReadSector(std::uint32_t s, std::uint8_t* out) {
  const auto it = m_dirtySectors.find(s);
  if (it != m_dirtySectors.end()) {
    std::memcpy(out, it->second.data(), m_model->sectorSize);
    return S_OK;
  }
  std::size_t got = 0;
  HRESULT hr = io::ReadAt(m_file.fd(), m_model->SectorOffset(s), out, m_model->sectorSize, &got);
  if (Succeeded(hr) && got < m_model->sectorSize) std::memset(out + got, 0, m_model->sectorSize - got);
  return hr;
}

HRESULT Document::WritableSector(std::uint32_t s, bool fresh, std::uint8_t*& out) {
  auto it = m_dirtySectors.find(s);
  if (it == m_dirtySectors.end()) {
    std::vector<std::uint8_t> bytes(m_model->sectorSize, 0);
    if (!fresh) {
      HRESULT hr = ReadSector(s, bytes.data());
      if (Failed(hr)) {
        // The change under way stops half done, and releasing the file would commit that
        // half: the batch is lost instead, like one whose writes failed.
        m_broken = true;
        return hr;
      }
    }
    it = m_dirtySectors.emplace(s, std::move(bytes)).first;
  }
  out = it->second.data();
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Stream contents

namespace {

// Where one piece of a stream lives: a sector and a range inside it.
struct Piece {
  std::uint32_t sector;
  std::uint32_t offset;
  std::uint32_t length;
};

Piece Locate(const Model& m, const Node& n, std::uint64_t pos, std::uint64_t left) {
  const bool mini = n.entry.size < kMiniStreamCutoff;
  const std::uint32_t unit = mini ? kMiniSectorSize : m.sectorSize;
  const std::uint32_t inUnit = static_cast<std::uint32_t>(pos % unit);
  const std::uint32_t length = static_cast<std::uint32_t>(std::min<std::uint64_t>(unit - inUnit, left));
  const std::uint32_t sector = n.chain[static_cast<std::size_t>(pos / unit)];
  if (!mini) return Piece{sector, inUnit, length};
  const std::uint64_t at = std::uint64_t{sector} * kMiniSectorSize + inUnit;
  return Piece{m.miniStreamChain[static_cast<std::size_t>(at / m.sectorSize)],
               static_cast<std::uint32_t>(at % m.sectorSize), length};
}

}  // namespace

// Reads pieces that lie one after the other in the file with one read; a changed sector of
// the batch is taken from memory.
HRESULT Document::CopyOut(const Node& n, std::uint64_t pos, std::uint8_t* out, std::size_t len) {
  const Model& m = *m_model;
  std::uint64_t runOffset = 0;
  std::uint8_t* runOut = out;
  std::size_t runLength = 0;
  while (len > 0) {
    const Piece p = Locate(m, n, pos, len);
    const auto dirty = m_dirtySectors.find(p.sector);
    const std::uint64_t offset = m.SectorOffset(p.sector) + p.offset;
    if (runLength > 0 && (dirty != m_dirtySectors.end() || offset != runOffset + runLength)) {
      HRESULT hr = ReadRun(runOffset, runOut, runLength);
      if (Failed(hr)) return hr;
      runLength = 0;
    }
    if (dirty != m_dirtySectors.end()) {
      std::memcpy(out, dirty->second.data() + p.offset, p.length);
    } else {
      if (runLength == 0) {
        runOffset = offset;
        runOut = out;
      }
      runLength += p.length;
    }
    out += p.length;
    pos += p.length;
    len -= p.length;
  }
  return runLength > 0 ? ReadRun(runOffset, runOut, runLength) : S_OK;
}

// Bytes past the end of the file read as zero, as a sector the batch added but never wrote.
HRESULT Document::ReadRun(std::uint64_t offset, std::uint8_t* out, std::size_t len) {
  std::size_t got = 0;
  HRESULT hr = io::ReadAt(m_file.fd(), offset, out, len, &got);
  if (Succeeded(hr) && got < len) std::memset(out + got, 0, len - got);
  return hr;
}

HRESULT Document::CopyIn(Node& n, std::uint64_t pos, const std::uint8_t* in, std::size_t len) {
  while (len > 0) {
    const Piece p = Locate(*m_model, n, pos, len);
    std::uint8_t* sector = nullptr;
    HRESULT hr = WritableSector(p.sector, p.length == m_model->sectorSize, sector);
    if (Failed(hr)) return hr;
    if (in) {
      std::memcpy(sector + p.offset, in, p.length);
      in += p.length;
    } else {
      std::memset(sector + p.offset, 0, p.length);
    }
    pos += p.length;
    len -= p.length;
  }
  return S_OK;
}

HRESULT Document::ZeroRange(Node& n, std::uint64_t from, std::uint64_t to) {
  return from < to ? CopyIn(n, from, nullptr, static_cast<std::size_t>(to - from)) : S_OK;
}

HRESULT Document::ReadStream(std::uint32_t id, std::uint64_t pos, void* buffer, std::uint32_t cb,
                             std::uint32_t& got) {
  const Node& n = NodeAt(id);
  got = 0;
  if (pos >= n.entry.size) return S_OK;
  const std::uint32_t len = static_cast<std::uint32_t>(std::min<std::uint64_t>(cb, n.entry.size - pos));
  HRESULT hr = CopyOut(n, pos, static_cast<std::uint8_t*>(buffer), len);
  if (Succeeded(hr)) got = len;
  return hr;
}

HRESULT Document::WriteStream(std::uint32_t id, std::uint64_t pos, const void* buffer,
                              std::uint32_t cb) {
  HRESULT hr = CheckWritable();
  if (Failed(hr) || cb == 0) return hr;
  const std::uint64_t end = pos + cb;
  if (end < pos) return STG_E_MEDIUMFULL;
  if (end > m_model->nodes[id].entry.size) {
    hr = Resize(id, end);
    if (Failed(hr)) return hr;
  }
  m_changed = true;
  return CopyIn(m_model->nodes[id], pos, static_cast<const std::uint8_t*>(buffer), cb);
}

HRESULT Document::Resize(std::uint32_t id, std::uint64_t size) {
  HRESULT hr = CheckWritable();
  if (Failed(hr)) return hr;
  Model& m = *m_model;
  const std::uint64_t old = m.nodes[id].entry.size;
  if (size == old) return S_OK;
  if ((m.Version3() && size >= kVersion3Limit) || size / m.sectorSize >= kMaxRegSect)
    return STG_E_MEDIUMFULL;
  const bool oldMini = old < kMiniStreamCutoff;
  const bool newMini = size < kMiniStreamCutoff;
  const std::uint32_t unit = newMini ? kMiniSectorSize : m.sectorSize;
  if (!WouldFit(Units(size, m.sectorSize))) return STG_E_MEDIUMFULL;
  m_changed = true;

  if (old > 0 && size > 0 && oldMini != newMini) {
    // The stream moves between the mini stream and the FAT: the new chain is complete before
    // the old one is let go, so a full file loses nothing.
    const std::uint64_t keep = std::min(old, size);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(keep));
    hr = CopyOut(m.nodes[id], 0, data.data(), data.size());
    if (Failed(hr)) return hr;
    std::vector<std::uint32_t> chain;
    hr = Extend(chain, static_cast<std::size_t>(Units(size, unit)), newMini);
    if (Failed(hr)) return hr;
    Node& n = m.nodes[id];
    std::vector<std::uint32_t> previous = std::move(n.chain);
    n.chain = std::move(chain);
    n.entry.size = size;
    hr = CopyIn(n, 0, data.data(), data.size());
    if (Succeeded(hr) && newMini) hr = ZeroRange(n, keep, size);
    Truncate(previous, 0, oldMini);
  } else {
    const bool mini = size > 0 ? newMini : oldMini;
    const std::size_t need = static_cast<std::size_t>(Units(size, mini ? kMiniSectorSize : m.sectorSize));
    Node* n = &m.nodes[id];
    if (need > n->chain.size()) {
      std::vector<std::uint32_t> chain = std::move(n->chain);
      hr = Extend(chain, need - chain.size(), mini);
      n = &m.nodes[id];
      n->chain = std::move(chain);
      if (Failed(hr)) return hr;
    } else if (need < n->chain.size()) {
      Truncate(n->chain, need, mini);
    }
    n->entry.size = size;
    // New big sectors are zero already; only the rest of the old last unit and reused mini
    // sectors may hold earlier bytes.
    const std::uint64_t dirtyEnd = mini ? size : std::min(size, Units(old, m.sectorSize) * m.sectorSize);
    hr = ZeroRange(*n, old, dirtyEnd);
  }
  Node& n = m.nodes[id];
  n.entry.start = n.chain.empty() ? kEndOfChain : n.chain.front();
  MarkEntry(id);
  return hr;
}

}  // namespace cfb
