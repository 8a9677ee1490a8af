// Rollback journal: before a commit overwrites anything in place, the bytes it is about to
// replace (and the file's old length) are written to "FILE-journal" and synced, and so is its
// name when it was new. Only then is the file changed. Once the file is synced the journal is
// retired: its first eight bytes are overwritten with a mark that no opener rolls back, and
// that overwrite is synced. The retired journal stays beside the file for the next commit to
// write over, so a commit creates no name and removes none, and no folder sync is needed to
// keep a power cut from bringing back a journal over a newer file.
// A journal found by the next opener that is not retired means the writer died part way: its
// bytes are put back, which returns the file to exactly its state before that commit, and it
// is removed. A journal without its closing checksum was cut short before any in-place write
// began, and is simply removed. Journals of earlier builds, which removed them instead of
// retiring them, are read the same way; those builds take a retired journal for one cut short.
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
// Whether a journal that is not retired lies beside the file (one the next opener must roll
// back or remove); also when it cannot be read.
bool Pending(const std::string& file);

// Bytes of the file that a commit will overwrite, [offset, offset + size).
struct Range {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// Writes and syncs the journal for a commit that will overwrite the given extents of a file
// that is now oldLength bytes long: over the retired journal of the last commit, or as a new
// file whose folder is synced too.
HRESULT Write(const std::string& file, std::uint64_t oldLength, const std::vector<Extent>& saved);
// The same for the given ranges of the file open at fd, which are read from it a bounded piece
// at a time, so that a large commit holds no copy of what it overwrites. A range that cannot be
// read whole (the file is shorter) fails with STG_E_READFAULT.
HRESULT Write(const std::string& file, std::uint64_t oldLength, int fd, const std::vector<Range>& ranges);
// The bytes the journal of these extents or ranges takes.
std::uint64_t Size(const std::vector<Extent>& saved);
std::uint64_t Size(const std::vector<Range>& ranges);
// Retires the journal of a commit whose file is synced (see above); its mark is synced.
HRESULT Retire(const std::string& file);
// Removes the journal and syncs its folder.
HRESULT Remove(const std::string& file);
// Rolls a journal that is not retired back into the file open for writing at fd (the caller
// holds the exclusive lock), then removes it. S_OK also when there was nothing to do.
HRESULT Recover(const std::string& file, int fd);

}  // namespace cfb::journal
