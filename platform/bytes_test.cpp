#include "platform/bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace platform {
namespace {

TEST(Bytes, ReadsLeastSignificantFirstWithoutSignExtension) {
  const std::uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
  EXPECT_EQ(Get16(bytes), 0x0201u);
  EXPECT_EQ(Get32(bytes), 0x04030201u);
  EXPECT_EQ(Get64(bytes), 0x8807060504030201u);
  EXPECT_EQ(GetLE(bytes + 5, 3), 0x880706u) << "at any offset, any width";
  const std::uint8_t high[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Get16(high), 0xFFFFu);
  EXPECT_EQ(Get32(high), 0xFFFFFFFFu) << "a top byte of 0x80 or more must not spill into a signed int";
  EXPECT_EQ(Get64(high), std::numeric_limits<std::uint64_t>::max());
  const std::uint8_t topBit[] = {0x00, 0x00, 0x00, 0x80};
  EXPECT_EQ(Get32(topBit), 0x80000000u);
}

TEST(Bytes, WritesOnlyItsWidthAndRoundTripsTheBoundaries) {
  for (const std::uint64_t value : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{0x7FFFFFFF}, std::uint64_t{0x80000000},
                                    std::uint64_t{0xFFFFFFFF}, std::uint64_t{0x100000000},
                                    std::numeric_limits<std::uint64_t>::max()}) {
    std::array<std::uint8_t, 10> buffer{};
    buffer.fill(0xAA);
    Put64(buffer.data() + 1, value);
    EXPECT_EQ(buffer[0], 0xAA);
    EXPECT_EQ(buffer[9], 0xAA) << "nothing beyond the eight bytes";
    EXPECT_EQ(Get64(buffer.data() + 1), value);
    Put32(buffer.data() + 1, static_cast<std::uint32_t>(value));
    EXPECT_EQ(Get32(buffer.data() + 1), static_cast<std::uint32_t>(value));
    EXPECT_EQ(buffer[5], value >> 32 & 0xFF) << "a 32-bit write leaves the next bytes alone";
    Put16(buffer.data() + 1, static_cast<std::uint16_t>(value));
    EXPECT_EQ(Get16(buffer.data() + 1), static_cast<std::uint16_t>(value));
  }
}

TEST(Bytes, AppendsToAVectorAndWorksAtCompileTime) {
  std::vector<std::uint8_t> out{0x55};
  PutLE(out, 0x0102030405060708u, 8);
  PutLE(out, 0xFFFFFFFFFFu, 4);
  ASSERT_EQ(out.size(), 13u);
  EXPECT_EQ(out[1], 0x08);
  EXPECT_EQ(out[8], 0x01);
  EXPECT_EQ(GetLE(out.data() + 9, 4), 0xFFFFFFFFu) << "the bytes beyond the width are dropped";
  constexpr auto encoded = [] {
    std::array<std::uint8_t, 4> bytes{};
    Put32(bytes.data(), 0xDEADBEEF);
    return bytes;
  }();
  static_assert(encoded[0] == 0xEF && encoded[3] == 0xDE);
  static_assert(Get32(encoded.data()) == 0xDEADBEEF);
}

}  // namespace
}  // namespace platform
