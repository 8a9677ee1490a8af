// Little-endian numbers in byte buffers: the one codec for every file format here (the data
// file's records, compound file sectors, registry dwords, version records, font records).
// Header-only and plain C++, so a library that does not link platform can include it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// The unsigned number held in the width bytes (1 to 8) at at, least significant byte first.
constexpr std::uint64_t GetLE(const std::uint8_t* at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = value << 8 | at[i];
  return value;
}

// Writes the low width bytes (1 to 8) of value at at, least significant byte first.
constexpr void PutLE(std::uint8_t* at, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Appends the low width bytes of value, least significant byte first.
inline void PutLE(std::vector<std::uint8_t>& out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

constexpr std::uint16_t Get16(const std::uint8_t* at) { return static_cast<std::uint16_t>(GetLE(at, 2)); }
constexpr std::uint32_t Get32(const std::uint8_t* at) { return static_cast<std::uint32_t>(GetLE(at, 4)); }
constexpr std::uint64_t Get64(const std::uint8_t* at) { return GetLE(at, 8); }
constexpr void Put16(std::uint8_t* at, std::uint16_t value) { PutLE(at, value, 2); }
constexpr void Put32(std::uint8_t* at, std::uint32_t value) { PutLE(at, value, 4); }
constexpr void Put64(std::uint8_t* at, std::uint64_t value) { PutLE(at, value, 8); }

}  // namespace platform
