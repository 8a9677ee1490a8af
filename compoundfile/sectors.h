// Space in the file: allocating and freeing sectors and mini sectors, growing the FAT, the
// chains of streams, and reading and writing sector contents through the batch's changed
// sectors (or straight through to the file, for sectors the committed file does not use). A
// view over the parsed file (Model) and the batch under way, made where it is used;
// it owns nothing.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "compoundfile/compoundfile.h"
#include "compoundfile/document.h"
#include "compoundfile/readcache.h"

namespace cfb {

class SectorSpace {
 public:
  // Reads go through cache when one is given (a reader's).
  SectorSpace(Model& model, Batch& batch, int fd, ReadCache* cache = nullptr)
      : m(model), b(batch), m_fd(fd), m_cache(cache) {}

  // A free sector (the FAT grows when none is left), marked as the end of a chain.
  HRESULT AllocSector(std::uint32_t& out);
  // Whether a chain of that many more sectors can fit below the version 3 limit at all.
  bool WouldFit(std::uint64_t sectors) const;
  void SetFat(std::uint32_t index, std::uint32_t value);
  // Appends count free sectors (mini sectors when mini) to chain, each reading as zero; on
  // failure the chain is as it was.
  HRESULT Extend(IdList& chain, std::size_t count, bool mini);
  // Frees the chain's sectors from count on.
  void Truncate(IdList& chain, std::size_t count, bool mini);

  // Sector contents: the batch's changed sectors first, then the file.
  HRESULT ReadSector(std::uint32_t s, std::uint8_t* out);
  // The batch's copy of sector s, made on first use (zero when fresh, else read).
  HRESULT WritableSector(std::uint32_t s, bool fresh, std::uint8_t*& out);
  // A stream's bytes [pos, pos + len) out of its chain, and into it (zeros when in is null);
  // into the batch's direct sectors they go straight to the file.
  HRESULT CopyOut(const Node& n, std::uint64_t pos, std::uint8_t* out, std::size_t len);
  HRESULT CopyIn(Node& n, std::uint64_t pos, const std::uint8_t* in, std::size_t len);
  HRESULT ZeroRange(Node& n, std::uint64_t from, std::uint64_t to);
  // Writes zeros to the batch's direct sectors that were never written (before its commit).
  HRESULT ZeroUnwritten();

  // Where one piece of a stream lives: a sector and a range inside it.
  struct Piece {
    std::uint32_t sector;
    std::uint32_t offset;
    std::uint32_t length;
  };

 private:
  HRESULT GrowFat();
  void SetMiniFat(std::uint32_t index, std::uint32_t value);
  HRESULT AllocMini(std::uint32_t& out);
  HRESULT EnsureMiniStream(std::uint64_t bytes);
  HRESULT ReadRun(std::uint64_t offset, std::uint8_t* out, std::size_t len);
  bool Unwritten(std::uint32_t s) const {
    const auto it = b.direct.find(s);
    return it != b.direct.end() && !it->second;
  }
  // Bytes of direct sectors gathered for one write to the file.
  struct DirectRun {
    std::uint64_t offset = 0;
    const std::uint8_t* in = nullptr;
    std::size_t length = 0;
  };
  HRESULT CopyInBatch(const Piece& p, const std::uint8_t* in);
  HRESULT WriteDirect(const Piece& p, const std::uint8_t* in, bool& written, DirectRun& run);
  HRESULT FlushRun(DirectRun& run);

  HRESULT ReadFile(std::uint64_t offset, std::uint8_t* out, std::size_t len, std::size_t* got);

  Model& m;
  Batch& b;
  int m_fd;
  ReadCache* m_cache;
};

}  // namespace cfb
