// The version record that every program of the system carries in its own file: a fixed block
// of 64 bytes that a reader finds by scanning the file, without running the program.
//
//   0  16  signature "\x7fVARNOW-VERINFO\x01"
//  16   4  record size (64), little-endian like every number here
//  20   8  file version, most significant double word first: (major << 16 | minor), (third << 16 | build)
//  28   8  product version, the same way
//  36  24  product name, zero-padded
//  60   4  FNV-1a hash of bytes 0..59
//
// A block whose size or hash does not match is not a record, so a damaged record is never read
// as a version, and a copy of the signature elsewhere in the file does no harm.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/bytes.h"

namespace platform {

inline constexpr std::size_t kVersionRecordSize = 64;
inline constexpr std::string_view kVersionRecordSignature{"\x7fVARNOW-VERINFO\x01", 16};

struct CFileVersion {
  std::uint32_t fileVersionMS = 0;
  std::uint32_t fileVersionLS = 0;
  std::uint32_t productVersionMS = 0;
  std::uint32_t productVersionLS = 0;
  std::string productName;
};

using CVersionRecordBytes = std::array<unsigned char, kVersionRecordSize>;

constexpr std::uint32_t VersionRecordHash(const unsigned char* data, std::size_t size) {
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
  return hash;
}

constexpr CVersionRecordBytes MakeVersionRecord(std::uint16_t major, std::uint16_t minor, std::uint16_t third,
                                                std::uint16_t build, std::string_view productName) {
  CVersionRecordBytes bytes{};
  auto put32 = [&bytes](std::size_t at, std::uint32_t value) { Put32(bytes.data() + at, value); };
  for (std::size_t i = 0; i < kVersionRecordSignature.size(); ++i)
    bytes[i] = static_cast<unsigned char>(kVersionRecordSignature[i]);
  put32(16, kVersionRecordSize);
  const std::uint32_t ms = std::uint32_t{major} << 16 | minor;
  const std::uint32_t ls = std::uint32_t{third} << 16 | build;
  put32(20, ms);
  put32(24, ls);
  put32(28, ms);
  put32(32, ls);
  for (std::size_t i = 0; i < productName.size() && i < 23; ++i) bytes[36 + i] = static_cast<unsigned char>(productName[i]);
  put32(60, VersionRecordHash(bytes.data(), 60));
  return bytes;
}

// The first valid record in the file; nullopt when the file cannot be read or holds none.
std::optional<CFileVersion> ReadVersionRecord(const std::string& path);

}  // namespace platform
