// Reads an export in ncdu's JSON format (written by ncdu, gdu or this program) into the listing
// a scan walks (CListedDirectory), so that an imported tree makes the same records as a scan of
// it. Reading is streamed: the document is never held whole, and everything it can make the
// reader hold is bounded (nesting depth, the length of one string or number, directories), so
// a damaged, truncated or hostile file ends with a message, never with a crash or a hang.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "varnow/scan/TreeLister.h"

namespace varnow {

struct CNcduImportLimits {
  int maxDepth = 1024;                         // directory levels below the top
  std::uint64_t maxDirectories = 5'000'000;    // what the listing holds grows with these
  std::uint64_t maxLinkedFiles = 10'000'000;   // and with the files that have several links
  std::size_t maxToken = 65536;                // bytes of one string or number in the document
};

struct CNcduTree {
  std::string root;            // the top's name as the export gives it (ncdu: an absolute path)
  std::int64_t timestamp = 0;  // when the export was made, seconds since 1970 UTC
  CListedDirectory tree;
  std::uint64_t directories = 0;
  std::uint64_t files = 0;
};

// What the caller decides while the export is read.
struct CNcduImportTarget {
  // Told the top's name before anything below it is read; false refuses the export, with
  // error saying why.
  std::function<bool(const std::string& root, std::string& error)> acceptRoot;
  // The space the scan counts for a file of the export, from its apparent length and the
  // space on disk the export gives (0 when it gives none).
  std::function<std::int64_t(std::uint64_t asize, std::uint64_t dsize)> countFile;
};

// Reads the whole export from in. False, with out unspecified and error saying what is wrong
// and where, when it is no complete export within the limits or the target refused it.
bool ReadNcduExport(std::FILE* in, const CNcduImportTarget& target, CNcduTree& out, std::string& error,
                    const CNcduImportLimits& limits = {});

// A name from an export for a message: quoted, control characters shown as \xNN (a hostile
// file must not steer the terminal), a long one cut.
std::string QuotedForMessage(std::string_view text);

}  // namespace varnow
