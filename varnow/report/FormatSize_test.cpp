#include "varnow/report/FormatSize.h"

#include <gtest/gtest.h>

namespace varnow {
namespace {

TEST(FormatSize, DecoratedUnitsAndSmartThresholds) {
  EXPECT_EQ(FormatSize(0, true, kUnitBytes), "0 bytes");
  EXPECT_EQ(FormatSize(1234567, true, kUnitK), "1,205 K");
  EXPECT_EQ(FormatSize(1234567, true, kUnitSmart), "1,205 K");
  EXPECT_EQ(FormatSize(999999, true, kUnitSmart), "999,999 bytes");
  EXPECT_EQ(FormatSize(4096, true, kUnitSmart), "4,096 bytes");
  EXPECT_EQ(FormatSize(2147483648LL, true, kUnitGB), "2 GB");
  EXPECT_EQ(FormatSize(1000000, true, kUnitSmart), "976 K");
  EXPECT_EQ(FormatSize(999999999999LL, true, kUnitSmart), "953,674 MB");
  EXPECT_EQ(FormatSize(1000000000000LL, true, kUnitSmart), "931 GB");
  EXPECT_EQ(FormatSize(100, true, kUnitBytes), "100 bytes");
  EXPECT_EQ(FormatSize(1, true, kUnitBytes), "1 byte");
  EXPECT_EQ(FormatSize(1, true, kUnitSmart), "1 byte");
  EXPECT_EQ(FormatSize(1, false, kUnitBytes), "1");
  EXPECT_EQ(CountText(1, "day", "days"), "1 day");
  EXPECT_EQ(CountText(0, "day", "days"), "0 days");
  EXPECT_EQ(FormatSize(123456, true, kUnitBytes), "123,456 bytes");
  EXPECT_EQ(FormatSize(INT64_MAX, true, kUnitBytes), "9,223,372,036,854,775,807 bytes");
}

TEST(FormatSize, PlainAndOddUnits) {
  EXPECT_EQ(FormatSize(-1, true, kUnitSmart), "");
  EXPECT_EQ(FormatSize(-1, false, kUnitBytes), "");
  EXPECT_EQ(FormatSize(1234567, false, kUnitBytes), "1234567");
  EXPECT_EQ(FormatSize(1234567, false, kUnitSmart), "1205");
  EXPECT_EQ(FormatSize(1234567, true, 9), "1,234,567");  // unknown unit: bytes without suffix
  EXPECT_EQ(FormatSize(1023, true, kUnitK), "0 K");      // truncates toward zero
}

}  // namespace
}  // namespace varnow
