#include "varnow/report/FormatSize.h"

#include <gtest/gtest.h>

namespace varnow {
namespace {

TEST(FormatSize, DecoratedUnitsAndSmartThresholds) {
  EXPECT_EQ(FormatSize(0, true, SizeUnit::kBytes), "0 bytes");
  EXPECT_EQ(FormatSize(1234567, true, SizeUnit::kK), "1,205 K");
  EXPECT_EQ(FormatSize(1234567, true, SizeUnit::kSmart), "1,205 K");
  EXPECT_EQ(FormatSize(999999, true, SizeUnit::kSmart), "999,999 bytes");
  EXPECT_EQ(FormatSize(4096, true, SizeUnit::kSmart), "4,096 bytes");
  EXPECT_EQ(FormatSize(2147483648LL, true, SizeUnit::kGB), "2 GB");
  EXPECT_EQ(FormatSize(1000000, true, SizeUnit::kSmart), "976 K");
  EXPECT_EQ(FormatSize(999999999999LL, true, SizeUnit::kSmart), "953,674 MB");
  EXPECT_EQ(FormatSize(1000000000000LL, true, SizeUnit::kSmart), "931 GB");
  EXPECT_EQ(FormatSize(100, true, SizeUnit::kBytes), "100 bytes");
  EXPECT_EQ(FormatSize(1, true, SizeUnit::kBytes), "1 byte");
  EXPECT_EQ(FormatSize(1, true, SizeUnit::kSmart), "1 byte");
  EXPECT_EQ(FormatSize(1, false, SizeUnit::kBytes), "1");
  EXPECT_EQ(CountText(1, "day", "days"), "1 day");
  EXPECT_EQ(CountText(0, "day", "days"), "0 days");
  EXPECT_EQ(FormatSize(123456, true, SizeUnit::kBytes), "123,456 bytes");
  EXPECT_EQ(FormatSize(INT64_MAX, true, SizeUnit::kBytes), "9,223,372,036,854,775,807 bytes");
}

TEST(FormatSize, PlainAndOddUnits) {
  EXPECT_EQ(FormatSize(-1, true, SizeUnit::kSmart), "");
  EXPECT_EQ(FormatSize(-1, false, SizeUnit::kBytes), "");
  EXPECT_EQ(FormatSize(1234567, false, SizeUnit::kBytes), "1234567");
  EXPECT_EQ(FormatSize(1234567, false, SizeUnit::kSmart), "1205");
  EXPECT_EQ(FormatSize(1234567, true, SizeUnitFromStored(9)), "1,234,567");  // unknown unit: bytes without suffix
  EXPECT_EQ(FormatSize(1023, true, SizeUnit::kK), "0 K");      // truncates toward zero
}

}  // namespace
}  // namespace varnow
