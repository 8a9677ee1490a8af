#include "platform/oledate.h"

#include <gtest/gtest.h>

#include <cmath>

namespace platform {
namespace {

TEST(OleDate, ConvertsBothWaysAroundTheEpoch) {
  EXPECT_EQ(ToOleDate(MakeOleTime(1899, 12, 30)), 0.0);
  EXPECT_EQ(ToOleDate(MakeOleTime(1900, 1, 1, 12)), 2.5);
  EXPECT_EQ(ToOleDate(MakeOleTime(1899, 12, 29, 6)), -1.25);
  EXPECT_EQ(FromOleDate(-1.25), MakeOleTime(1899, 12, 29, 6));
  EXPECT_EQ(FromOleDate(46363.5), MakeOleTime(2026, 12, 7, 12));
  for (const OleTime t : {MakeOleTime(2026, 12, 7, 23, 59, 59), MakeOleTime(100, 1, 1), MakeOleTime(9999, 12, 31, 23, 59, 59),
                          MakeOleTime(1800, 2, 3, 4, 5, 6)})
    EXPECT_EQ(FromOleDate(ToOleDate(t)), t);
  EXPECT_FALSE(MakeOleTime(2026, 2, 29).valid);
  EXPECT_TRUE(MakeOleTime(2000, 2, 29).valid);
  EXPECT_FALSE(MakeOleTime(1900, 2, 29).valid);
  EXPECT_FALSE(MakeOleTime(10000, 1, 1).valid);
  EXPECT_FALSE(MakeOleTime(2026, 13, 1).valid);
  EXPECT_FALSE(MakeOleTime(2026, 1, 1, 24).valid);
  EXPECT_FALSE(AddSeconds(MakeOleTime(9999, 12, 31, 23, 59, 59), 1).valid);
  EXPECT_FALSE(FromOleDate(std::nan("")).valid);
  const DateParts parts = SplitOleTime(MakeOleTime(2026, 12, 7, 1, 2, 3));
  EXPECT_EQ(parts.dayOfWeek, 1);  // a Monday
  EXPECT_EQ(parts.second, 3);
  const DateParts early = SplitOleTime(MakeOleTime(1800, 2, 3, 4, 5, 6));
  EXPECT_EQ(early.year, 1800);
  EXPECT_EQ(early.month, 2);
  EXPECT_EQ(early.day, 3);
  EXPECT_EQ(early.hour, 4);
  EXPECT_EQ(early.dayOfWeek, 1);  // also a Monday
}

TEST(OleDate, NowIsAValidLocalTime) {
  const OleTime now = LocalTimeNow();
  ASSERT_TRUE(now.valid);
  EXPECT_GT(SplitOleTime(now).year, 2000);
}

}  // namespace
}  // namespace platform
