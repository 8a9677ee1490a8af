// Feeds arbitrary bytes to the import's reader: it must end with a tree or a message, never
// crash, hang or read out of bounds. Small limits let deep nesting and long tokens be reached.
#include <cstdio>
#include <cstdint>
#include <string>

#include "varnow/exchange/NcduReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* in = ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  if (!in) return 0;
  varnow::CNcduImportTarget target;
  target.acceptRoot = [](const std::string& root, std::string& error) {
    if (root.size() > 1 && root[1] == '!') error = "refused";
    return error.empty();
  };
  target.countFile = [](std::uint64_t asize, std::uint64_t dsize) {
    return static_cast<std::int64_t>((asize + 4095) / 4096 * 4096 + dsize % 7);
  };
  varnow::CNcduImportLimits limits;
  limits.maxDepth = 64;
  limits.maxDirectories = 2000;
  limits.maxLinkedFiles = 2000;
  limits.maxToken = 300;
  varnow::CNcduTree tree;
  std::string error;
  const bool read = varnow::ReadNcduExport(in, target, tree, error, limits);
  std::fclose(in);
  if (!read && error.empty()) __builtin_trap();  // a refusal always says why
  return 0;
}
