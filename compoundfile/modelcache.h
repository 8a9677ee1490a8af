// Process-wide cache of parsed files. The tracker opens the same file once per directory it
// loads; parsing a large directory each time would dominate. A parsed Model is handed back
// here when its file is released and taken again by the next open of the same file, but only
// while the file is provably unchanged: same device and inode, length, modification and change
// times, and the same header bytes (every commit bumps a counter in the header).
#pragma once

#include <array>
#include <memory>

#include "compoundfile/document.h"

namespace cfb::cache {

struct Stamp {
  std::uint64_t device = 0, inode = 0, length = 0;
  std::int64_t mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
  std::array<std::uint8_t, format::kHeaderSize> header{};
  bool operator==(const Stamp&) const = default;
};

// Reads the stamp of the open file. False when it cannot be read.
bool StampOf(int fd, Stamp& out);
// Takes the cached model of the file when the stamp matches (the cache no longer holds it).
std::unique_ptr<Model> Take(const Stamp& stamp);
void Put(const Stamp& stamp, std::unique_ptr<Model> model);
// Forgets everything (tests).
void Clear();

}  // namespace cfb::cache
