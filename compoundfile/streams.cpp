// The contents of streams: reading, writing and resizing through the document's sectors
// (sectors.h).
#include "compoundfile/document.h"
#include "compoundfile/sectors.h"

#include <algorithm>

namespace cfb {

using namespace format;

SectorSpace Document::Space() { return SectorSpace(*m_model, m_batch, m_file.fd(), m_readCache.get()); }

HRESULT Document::CopyIn(Node& n, std::uint64_t pos, const std::uint8_t* in, std::size_t len) {
  const HRESULT hr = Space().CopyIn(n, pos, in, len);
  // A sector that could not be read or written stops the change under way half done, and
  // releasing the file would commit that half: the batch is lost instead, like one whose writes
  // failed.
  if (Failed(hr)) m_broken = true;
  if (hr == STG_E_MEDIUMFULL) m_diskFull = true;
  return hr;
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
  HRESULT hr = Space().CopyOut(n, pos, static_cast<std::uint8_t*>(buffer), len);
  if (Succeeded(hr)) got = len;
  return hr;
}

HRESULT Document::WriteStream(std::uint32_t id, std::uint64_t pos, const void* buffer,
                              std::uint32_t cb) {
  HRESULT hr = CheckWritable();
  if (Failed(hr) || cb == 0) return hr;
  const std::uint64_t end = pos + cb;
  if (end < pos) return STG_E_MEDIUMFULL;
  if (end > NodeAt(id).entry.size) {
    hr = Resize(id, end);
    if (Failed(hr)) return hr;
  }
  m_changed = true;
  return CopyIn(NodeAt(id), pos, static_cast<const std::uint8_t*>(buffer), cb);
}

HRESULT Document::Resize(std::uint32_t id, std::uint64_t size) {
  HRESULT hr = CheckWritable();
  if (Failed(hr)) return hr;
  Model& m = *m_model;
  const std::uint64_t old = NodeAt(id).entry.size;
  if (size == old) return S_OK;
  if ((m.Version3() && size >= kVersion3Limit) || size / m.sectorSize >= kMaxRegSect)
    return STG_E_MEDIUMFULL;
  const bool oldMini = old < kMiniStreamCutoff;
  const bool newMini = size < kMiniStreamCutoff;
  const std::uint32_t unit = newMini ? kMiniSectorSize : m.sectorSize;
  if (!Space().WouldFit(Units(size, m.sectorSize))) return STG_E_MEDIUMFULL;
  m_changed = true;

  if (old > 0 && size > 0 && oldMini != newMini) {
    // The stream moves between the mini stream and the FAT: the new chain is complete before
    // the old one is let go, so a full file loses nothing.
    const std::uint64_t keep = std::min(old, size);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(keep));
    hr = Space().CopyOut(NodeAt(id), 0, data.data(), data.size());
    if (Failed(hr)) return hr;
    IdList chain;
    hr = Space().Extend(chain, static_cast<std::size_t>(Units(size, unit)), newMini);
    if (Failed(hr)) return hr;
    Node& n = NodeAt(id);
    IdList previous = std::move(n.chain());
    n.chain() = std::move(chain);
    n.entry.size = size;
    hr = CopyIn(n, 0, data.data(), data.size());
    if (Succeeded(hr) && newMini) hr = ZeroRange(n, keep, size);
    Space().Truncate(previous, 0, oldMini);
  } else {
    const bool mini = size > 0 ? newMini : oldMini;
    const std::size_t need = static_cast<std::size_t>(Units(size, mini ? kMiniSectorSize : m.sectorSize));
    Node* n = &NodeAt(id);
    if (need > n->chain().size()) {
      IdList chain = std::move(n->chain());
      hr = Space().Extend(chain, need - chain.size(), mini);
      n = &NodeAt(id);
      n->chain() = std::move(chain);
      if (Failed(hr)) return hr;
    } else if (need < n->chain().size()) {
      Space().Truncate(n->chain(), need, mini);
    }
    n->entry.size = size;
    // New big sectors are zero already; only the rest of the old last unit and reused mini
    // sectors may hold earlier bytes.
    const std::uint64_t dirtyEnd = mini ? size : std::min(size, Units(old, m.sectorSize) * m.sectorSize);
    hr = ZeroRange(*n, old, dirtyEnd);
  }
  Node& n = NodeAt(id);
  n.entry.start = n.chain().empty() ? kEndOfChain : n.chain().front();
  MarkEntry(id);
  return hr;
}

}  // namespace cfb
