// Rollback journal: before a commit overwrites anything in place, the bytes it is about to
// replace (and the file's old length) are written to "FILE-journal" and synced. Only then is
// the file changed. Once the file is synced the journal is removed. A journal found by the
// next opener means the writer died part way: its bytes are put back, which returns the file
// to exactly its state before that commit. A journal without its closing checksum was cut
// short before any in-place write began, and is simply removed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compoundfile/compoundfile.h"

namespace cfb::journal {

struct Extent {
  std::uint64_t offset = 0;
  std::vector<std::uint8_t> bytes;
};

std::string PathFor(const std::string& file);
bool Exists(const std::string& file);

// Writes and syncs the journal (and its folder) for a commit that will overwrite the given extents of a file
// that is now oldLength bytes long.
HRESULT Write(const std::string& file, std::uint64_t oldLength, const std::vector<Extent>& saved);
// The bytes the journal of these extents takes.
std::uint64_t Size(const std::vector<Extent>& saved);
// Removes the journal of a completed commit and syncs its folder.
HRESULT Remove(const std::string& file);
// Rolls a leftover journal back into the file open for writing at fd (the caller holds the
// exclusive lock), then removes it. S_OK also when there was nothing to do.
HRESULT Recover(const std::string& file, int fd);

}  // namespace cfb::journal
