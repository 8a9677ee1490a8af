#include "varnow/store/WrittenRecords.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace varnow {
namespace {

using Times = CWrittenRecords::Times;
constexpr Times kNone{};
constexpr Times kOne{1764950400, 0, 0, 0, 0, 0};
constexpr Times kTwo{1764950400, 1764345600, 0, 0, 0, 0};

TEST(WrittenRecords, NothingIsKnownOfAnEmptyTable) {
  const CWrittenRecords written;
  EXPECT_EQ(written.Size(), 0u);
  EXPECT_FALSE(written.StoredOwnScans("/", kNone, kNone));
  EXPECT_FALSE(written.StoredOwnScans("", kOne, kNone));
}

TEST(WrittenRecords, OneRecordIsKnownOnlyWithTheScansItWasWrittenWith) {
  CWrittenRecords written;
  written.Note("/home/a/", kOne, kNone, kOne);
  EXPECT_EQ(written.Size(), 1u);
  EXPECT_EQ(written.StoredOwnScans("/home/a/", kOne, kNone), std::optional(true));
  EXPECT_FALSE(written.StoredOwnScans("/home/a/", kTwo, kNone));  // scanned again since
  EXPECT_FALSE(written.StoredOwnScans("/home/a/", kOne, kOne));   // built on another saved record
  EXPECT_FALSE(written.StoredOwnScans("/home/b/", kOne, kNone));
  EXPECT_FALSE(written.StoredOwnScans("/home/a", kOne, kNone));
}

TEST(WrittenRecords, AMergedWriteIsToldApartAndANewNoteReplacesTheOld) {
  CWrittenRecords written;
  written.Note("/d/", kOne, kNone, kTwo);  // another run's scan was merged in
  EXPECT_EQ(written.StoredOwnScans("/d/", kOne, kNone), std::optional(false));
  written.Note("/d/", kTwo, kOne, kTwo);
  EXPECT_EQ(written.Size(), 1u);
  EXPECT_FALSE(written.StoredOwnScans("/d/", kOne, kNone));
  EXPECT_EQ(written.StoredOwnScans("/d/", kTwo, kOne), std::optional(true));
}

TEST(WrittenRecords, PathsThatFoldAlikeAreDifferentRecords) {
  CWrittenRecords written;
  written.Note("/x/Photos/", kOne, kNone, kOne);
  written.Note("/x/photos/", kTwo, kNone, kOne);
  EXPECT_EQ(written.Size(), 2u);
  EXPECT_EQ(written.StoredOwnScans("/x/Photos/", kOne, kNone), std::optional(true));
  EXPECT_EQ(written.StoredOwnScans("/x/photos/", kTwo, kNone), std::optional(false));
  EXPECT_FALSE(written.StoredOwnScans("/x/PHOTOS/", kOne, kNone));
}

TEST(WrittenRecords, ExtremeTimesAndLongPathsAreKeptApart) {
  CWrittenRecords written;
  const Times low{INT32_MIN, INT32_MIN, -1, -1, -1, -1};
  const Times high{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
  const std::string path = "/" + std::string(4096, 'n') + "/";
  written.Note(path, low, high, low);
  written.Note(path + "x/", high, low, high);
  EXPECT_EQ(written.StoredOwnScans(path, low, high), std::optional(true));
  EXPECT_FALSE(written.StoredOwnScans(path, high, low));
  EXPECT_EQ(written.StoredOwnScans(path + "x/", high, low), std::optional(true));
  EXPECT_FALSE(written.StoredOwnScans(path + "x/", low, high));
}

TEST(WrittenRecords, EveryRecordOfALargeSaveStaysKnownAsTheTableGrows) {
  CWrittenRecords written;
  constexpr int kRecords = 300000;
  for (int i = 0; i < kRecords; ++i) {
    const Times times{1764950400 + i, 0, 0, 0, 0, 0};
    written.Note("/big/dir " + std::to_string(i) + "/", times, kNone, i % 3 ? times : kTwo);
  }
  EXPECT_EQ(written.Size(), static_cast<std::size_t>(kRecords));
  int wrong = 0;
  for (int i = 0; i < kRecords; ++i) {
    const Times times{1764950400 + i, 0, 0, 0, 0, 0};
    const std::string path = "/big/dir " + std::to_string(i) + "/";
    wrong += written.StoredOwnScans(path, times, kNone) != std::optional(i % 3 != 0);
    wrong += written.StoredOwnScans(path + "x/", times, kNone).has_value();
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace varnow
