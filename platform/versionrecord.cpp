#include "platform/versionrecord.h"

#include "platform/bytes.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

namespace platform {

namespace {

std::optional<CFileVersion> DecodeRecord(const unsigned char* at) {
  if (Get32(at + 16) != kVersionRecordSize || Get32(at + 60) != VersionRecordHash(at, 60)) return std::nullopt;
  CFileVersion version;
  version.fileVersionMS = Get32(at + 20);
  version.fileVersionLS = Get32(at + 24);
  version.productVersionMS = Get32(at + 28);
  version.productVersionLS = Get32(at + 32);
  const char* name = reinterpret_cast<const char*>(at + 36);
  version.productName.assign(name, strnlen(name, 24));
  return version;
}

}  // namespace

std::optional<CFileVersion> ReadVersionRecord(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  // Scanned in blocks; each block starts with the last record-size-minus-one bytes of the one
  // before, so a record that straddles two blocks is seen whole.
  constexpr std::size_t kBlock = 1 << 20;
  constexpr std::size_t kKeep = kVersionRecordSize - 1;
  std::vector<unsigned char> buffer(kKeep + kBlock);
  std::size_t kept = 0;
  while (file) {
    file.read(reinterpret_cast<char*>(buffer.data() + kept), kBlock);
    const std::size_t filled = kept + static_cast<std::size_t>(file.gcount());
    const unsigned char* begin = buffer.data();
    const unsigned char* end = begin + filled;
    for (const unsigned char* at = begin; end - at >= static_cast<std::ptrdiff_t>(kVersionRecordSize); ++at) {
      at = static_cast<const unsigned char*>(
          memmem(at, end - at, kVersionRecordSignature.data(), kVersionRecordSignature.size()));
      if (!at || end - at < static_cast<std::ptrdiff_t>(kVersionRecordSize)) break;
      if (auto version = DecodeRecord(at)) return version;
    }
    kept = std::min(kKeep, filled);
    std::memmove(buffer.data(), end - kept, kept);
  }
  return std::nullopt;
}

}  // namespace platform
