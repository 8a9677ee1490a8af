// Space in the file (see sectors.h).
#include "compoundfile/sectors.h"

#include <algorithm>
#include <cstring>

namespace cfb {

using namespace format;

// ---------------------------------------------------------------------------------------------
// Sectors and chains

void SectorSpace::SetFat(std::uint32_t index, std::uint32_t value) {
  m.fat[index] = value;
  b.fat.push_back(index / m.IdsPerSector());
  if (value != kFreeSect) return;
  b.sectors.erase(index);
  if (b.direct.erase(index) != 0) {
    m.freeSectorHint = std::min(m.freeSectorHint, index);  // the committed file never used it
    return;
  }
  if (b.freed.size() <= index) b.freed.resize(std::size_t{index} + 1, false);
  b.freed[index] = true;
  b.lowestFreed = std::min(b.lowestFreed, index);
}

void SectorSpace::SetMiniFat(std::uint32_t index, std::uint32_t value) {
  m.miniFat[index] = value;
  b.miniFat.push_back(index / m.IdsPerSector());
  if (value == kFreeSect) m.freeMiniHint = std::min(m.freeMiniHint, index);
}

HRESULT SectorSpace::AllocSector(std::uint32_t& out) {
  for (;;) {
    for (std::uint32_t i = m.freeSectorHint; i < m.fat.size(); ++i) {
      if (m.fat[i] != kFreeSect || b.Freed(i)) continue;
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
bool SectorSpace::WouldFit(std::uint64_t sectors) const {
  if (!m.Version3() || sectors < 4096) return true;
  const std::uint64_t limit = kVersion3Limit / m.sectorSize - 1;
  const std::uint64_t used = static_cast<std::uint64_t>(
      m.fat.size() - std::count(m.fat.begin(), m.fat.end(), kFreeSect));
  const std::uint64_t fatOverhead = sectors / (m.IdsPerSector() - 1) + 2;
  return used + sectors + fatOverhead <= limit;
}

// Adds FAT sectors at the first sector numbers the FAT does not cover yet (so they describe
// themselves), with a DIFAT sector beside them when the header and the DIFAT are full. A large
// file gets them in runs of up to an eighth of its FAT: one sector at a time, a file's FAT lay
// in single sectors 64 KB apart, and every open read it with one call per sector.
HRESULT SectorSpace::GrowFat() {
  constexpr std::size_t kMaxRun = 128;  // 64 KB of a 512-byte sector file's FAT written ahead
  const std::uint64_t s = m.fat.size();
  const std::uint32_t ids = m.IdsPerSector();
  std::size_t run = std::clamp<std::size_t>(m.fatSectors.size() / 8, 1, kMaxRun);
  auto fits = [&](std::uint64_t fatSectors) {  // with the DIFAT sectors they may need
    const std::uint64_t sectors = fatSectors + 1 + fatSectors / (ids - 1);
    return s + sectors < kMaxRegSect &&
           !(m.Version3() && m.SectorOffset(static_cast<std::uint32_t>(s)) + sectors * m.sectorSize > kVersion3Limit);
  };
  while (run > 1 && !fits(run)) run /= 2;
  if (!fits(run)) return STG_E_MEDIUMFULL;
  m.fat.resize(s + run * ids, kFreeSect);
  std::uint32_t next = static_cast<std::uint32_t>(s);
  for (std::size_t i = 0; i < run; ++i) {
    // Written whole even where nothing it describes is in use yet.
    b.fat.push_back(static_cast<std::uint32_t>(m.fatSectors.size()));
    m.fatSectors.push_back(next);
    SetFat(next++, kFatSect);
    const std::size_t difatCapacity = kHeaderDifatSlots + m.difatSectors.size() * (ids - 1);
    if (m.fatSectors.size() > difatCapacity) {
      SetFat(next, kDifSect);
      m.difatSectors.push_back(next++);
    }
  }
  b.difat = true;
  return S_OK;
}

HRESULT SectorSpace::EnsureMiniStream(std::uint64_t bytes) {
  Entry& root = m.nodes[0].entry;
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
    b.entries.push_back(0);
  }
  if (root.size < bytes) {
    m.nodes[0].entry.size = bytes;
    b.entries.push_back(0);
  }
  return S_OK;
}

HRESULT SectorSpace::AllocMini(std::uint32_t& out) {
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
    b.miniFat.push_back(static_cast<std::uint32_t>(first / m.IdsPerSector()));
  }
}

HRESULT SectorSpace::Extend(IdList& chain, std::size_t count, bool mini) {
  IdList added;
  added.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t s = 0;
    HRESULT hr = mini ? AllocMini(s) : AllocSector(s);
    if (Failed(hr)) {
      Truncate(added, 0, mini);
      return hr;
    }
    added.push_back(s);
    if (!mini) b.direct.emplace(s, false);
  }
  for (std::uint32_t s : added) {
    if (!chain.empty()) mini ? SetMiniFat(chain.back(), s) : SetFat(chain.back(), s);
    chain.push_back(s);
  }
  return S_OK;
}

void SectorSpace::Truncate(IdList& chain, std::size_t count, bool mini) {
  for (std::size_t i = count; i < chain.size(); ++i) {
    if (mini) {
      SetMiniFat(chain[i], kFreeSect);
    } else {
      SetFat(chain[i], kFreeSect);
    }
  }
  chain.resize(std::min(count, chain.size()));
  if (!chain.empty()) mini ? SetMiniFat(chain.back(), kEndOfChain) : SetFat(chain.back(), kEndOfChain);
}

HRESULT SectorSpace::ReadSector(std::uint32_t s, std::uint8_t* out) {
  const auto it = b.sectors.find(s);
  if (it != b.sectors.end()) {
    std::memcpy(out, it->second.data(), m.sectorSize);
    return S_OK;
  }
  if (Unwritten(s)) {
    std::memset(out, 0, m.sectorSize);
    return S_OK;
  }
  std::size_t got = 0;
  HRESULT hr = ReadFile(m.SectorOffset(s), out, m.sectorSize, &got);
  if (Succeeded(hr) && got < m.sectorSize) std::memset(out + got, 0, m.sectorSize - got);
  return hr;
}

HRESULT SectorSpace::ReadFile(std::uint64_t offset, std::uint8_t* out, std::size_t len, std::size_t* got) {
  return m_cache ? m_cache->ReadAt(offset, out, len, got) : io::ReadAt(m_fd, offset, out, len, got);
}

HRESULT SectorSpace::WritableSector(std::uint32_t s, bool fresh, std::uint8_t*& out) {
  auto it = b.sectors.find(s);
  if (it == b.sectors.end()) {
    std::vector<std::uint8_t> bytes(m.sectorSize, 0);
    if (!fresh) {
      HRESULT hr = ReadSector(s, bytes.data());
      if (Failed(hr)) return hr;
    }
    it = b.sectors.emplace(s, std::move(bytes)).first;
  }
  out = it->second.data();
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Stream contents

namespace {

using Piece = SectorSpace::Piece;

Piece Locate(const Model& m, const Node& n, std::uint64_t pos, std::uint64_t left) {
  const bool mini = n.entry.size < kMiniStreamCutoff;
  const std::uint32_t unit = mini ? kMiniSectorSize : m.sectorSize;
  const std::uint32_t inUnit = static_cast<std::uint32_t>(pos % unit);
  const std::uint32_t length = static_cast<std::uint32_t>(std::min<std::uint64_t>(unit - inUnit, left));
  const std::uint32_t sector = n.chain()[static_cast<std::size_t>(pos / unit)];
  if (!mini) return Piece{sector, inUnit, length};
  const std::uint64_t at = std::uint64_t{sector} * kMiniSectorSize + inUnit;
  return Piece{m.miniStreamChain[static_cast<std::size_t>(at / m.sectorSize)],
               static_cast<std::uint32_t>(at % m.sectorSize), length};
}

}  // namespace

// Reads pieces that lie one after the other in the file with one read; a changed sector of
// the batch is taken from memory.
HRESULT SectorSpace::CopyOut(const Node& n, std::uint64_t pos, std::uint8_t* out, std::size_t len) {
  std::uint64_t runOffset = 0;
  std::uint8_t* runOut = out;
  std::size_t runLength = 0;
  while (len > 0) {
    const Piece p = Locate(m, n, pos, len);
    const auto dirty = b.sectors.find(p.sector);
    const bool unwritten = Unwritten(p.sector);
    const std::uint64_t offset = m.SectorOffset(p.sector) + p.offset;
    if (runLength > 0 && (dirty != b.sectors.end() || unwritten || offset != runOffset + runLength)) {
      HRESULT hr = ReadRun(runOffset, runOut, runLength);
      if (Failed(hr)) return hr;
      runLength = 0;
    }
    if (dirty != b.sectors.end()) {
      std::memcpy(out, dirty->second.data() + p.offset, p.length);
    } else if (unwritten) {
      std::memset(out, 0, p.length);
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
HRESULT SectorSpace::ReadRun(std::uint64_t offset, std::uint8_t* out, std::size_t len) {
  std::size_t got = 0;
  HRESULT hr = ReadFile(offset, out, len, &got);
  if (Succeeded(hr) && got < len) std::memset(out + got, 0, len - got);
  return hr;
}

HRESULT SectorSpace::CopyIn(Node& n, std::uint64_t pos, const std::uint8_t* in, std::size_t len) {
  DirectRun run{};
  while (len > 0) {
    const Piece p = Locate(m, n, pos, len);
    const auto direct = b.direct.find(p.sector);
    HRESULT hr = direct != b.direct.end() ? WriteDirect(p, in, direct->second, run) : CopyInBatch(p, in);
    if (Failed(hr)) return hr;
    if (in) in += p.length;
    pos += p.length;
    len -= p.length;
  }
  return FlushRun(run);
}

HRESULT SectorSpace::CopyInBatch(const Piece& p, const std::uint8_t* in) {
  std::uint8_t* sector = nullptr;
  HRESULT hr = WritableSector(p.sector, p.length == m.sectorSize, sector);
  if (Failed(hr)) return hr;
  if (in) {
    std::memcpy(sector + p.offset, in, p.length);
  } else {
    std::memset(sector + p.offset, 0, p.length);
  }
  return S_OK;
}

// Bytes that follow one another in the file and in the caller's buffer go out with one write.
// A sector's first write is a whole sector, zeros around the piece, since it may hold bytes of
// an earlier use; zeros for a sector not written yet are left to the commit.
HRESULT SectorSpace::WriteDirect(const Piece& p, const std::uint8_t* in, bool& written, DirectRun& run) {
  const std::uint64_t offset = m.SectorOffset(p.sector) + p.offset;
  const bool whole = p.length == m.sectorSize;
  if (in && (written || whole) && run.length > 0 && offset == run.offset + run.length && in == run.in + run.length) {
    run.length += p.length;
    written = true;
    return S_OK;
  }
  HRESULT hr = FlushRun(run);
  if (Failed(hr) || (!in && !written)) return hr;
  if (in && (written || whole)) {
    run = DirectRun{offset, in, p.length};
  } else {
    std::vector<std::uint8_t> sector(m.sectorSize, 0);
    if (in) std::memcpy(sector.data() + p.offset, in, p.length);
    hr = written ? io::WriteAt(m_fd, offset, sector.data() + p.offset, p.length)
                 : io::WriteAt(m_fd, m.SectorOffset(p.sector), sector.data(), sector.size());
  }
  written = true;
  return hr;
}

HRESULT SectorSpace::FlushRun(DirectRun& run) {
  if (run.length == 0) return S_OK;
  const HRESULT hr = io::WriteAt(m_fd, run.offset, run.in, run.length);
  run.length = 0;
  return hr;
}

HRESULT SectorSpace::ZeroUnwritten() {
  std::vector<std::uint32_t> unwritten;
  for (const auto& [s, written] : b.direct)
    if (!written) unwritten.push_back(s);
  std::sort(unwritten.begin(), unwritten.end());
  const std::vector<std::uint8_t> zeros(m.sectorSize, 0);
  for (std::uint32_t s : unwritten) {
    const HRESULT hr = io::WriteAt(m_fd, m.SectorOffset(s), zeros.data(), zeros.size());
    if (Failed(hr)) return hr;
    b.direct[s] = true;
  }
  return S_OK;
}

}  // namespace cfb
