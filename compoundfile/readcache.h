// Reads of a file that does not change while it is open (a reader's), through a few blocks of
// it kept in memory: the entries, links and streams a reader looks at one after the other lie
// near each other in the file, so most reads are served without a system call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "compoundfile/compoundfile.h"

namespace cfb {

class ReadCache {
 public:
  static constexpr std::size_t kBlockBytes = 32 * 1024;
  static constexpr std::size_t kBlocks = 16;

  explicit ReadCache(int fd) : m_fd(fd) {}

  // As io::ReadAt: *got receives the bytes read, short only at the end of the file.
  HRESULT ReadAt(std::uint64_t offset, void* out, std::size_t len, std::size_t* got);

 private:
  struct Block {
    std::uint64_t index = UINT64_MAX;  // offset / kBlockBytes; UINT64_MAX: empty
    std::uint64_t used = 0;            // when it was read from last
    std::size_t valid = 0;             // bytes before the end of the file
    std::vector<std::uint8_t> bytes;
  };
  HRESULT Fetch(std::uint64_t index, const Block*& out);

  int m_fd;
  std::uint64_t m_clock = 0;
  std::array<Block, kBlocks> m_blocks;
};

}  // namespace cfb
