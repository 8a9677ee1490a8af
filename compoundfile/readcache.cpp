#include "compoundfile/readcache.h"

#include <algorithm>
#include <cstring>

#include "compoundfile/fileio.h"

namespace cfb {

HRESULT ReadCache::Fetch(std::uint64_t index, const Block*& out) {
  Block* oldest = &m_blocks[0];
  for (Block& b : m_blocks) {
    if (b.index == index) {
      b.used = ++m_clock;
      out = &b;
      return S_OK;
    }
    if (b.used < oldest->used) oldest = &b;
  }
  oldest->index = UINT64_MAX;
  oldest->bytes.resize(kBlockBytes);
  HRESULT hr = io::ReadAt(m_fd, index * kBlockBytes, oldest->bytes.data(), kBlockBytes, &oldest->valid);
  if (Failed(hr)) return hr;
  oldest->index = index;
  oldest->used = ++m_clock;
  out = oldest;
  return S_OK;
}

HRESULT ReadCache::ReadAt(std::uint64_t offset, void* out, std::size_t len, std::size_t* got) {
  // A read as large as a block gains nothing from the copy.
  if (len >= kBlockBytes) return io::ReadAt(m_fd, offset, out, len, got);
  auto* to = static_cast<std::uint8_t*>(out);
  std::size_t done = 0;
  while (done < len) {
    const std::uint64_t at = offset + done;
    const Block* b = nullptr;
    HRESULT hr = Fetch(at / kBlockBytes, b);
    if (Failed(hr)) return hr;
    const std::size_t inBlock = static_cast<std::size_t>(at % kBlockBytes);
    if (inBlock >= b->valid) break;  // the end of the file
    const std::size_t n = std::min(len - done, b->valid - inBlock);
    std::memcpy(to + done, b->bytes.data() + inBlock, n);
    done += n;
    if (b->valid < kBlockBytes) break;
  }
  if (got) *got = done;
  return S_OK;
}

}  // namespace cfb
