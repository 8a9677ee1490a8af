#include <gtest/gtest.h>

#include "varnow/report/EntryOrder.h"
#include "varnow/report/ReportText.h"

namespace varnow {
namespace {

std::vector<std::string> Names(const CDirData& record, SortMethod method) {
  std::vector<std::string> names;
  for (const CDirInfo* entry : SortedEntries(record, method)) names.push_back(entry->name);
  return names;
}

CDirInfo Entry(const std::string& name, std::int64_t now, std::int64_t before = kNoSize) {
  CDirInfo entry{name, kEmptyHistory};
  entry.sizes[0] = now;
  entry.sizes[1] = before;
  return entry;
}

TEST(EntryOrder, EachMethodKeepsSummaryRowsLast) {
  CDirData record;
  record.m_entries = {Entry(std::string(kTotalFree), 1LL << 40), Entry("alpha", 1048576, 3145728),
                      Entry(std::string(kTotalUsed), 1LL << 40), Entry("Zeta", 10485760, 1048576),
                      Entry("gone", kNoSize, 5242880), Entry("new", 1572864),
                      Entry("mid", 5242880, 1048576)};
  const std::string used(kTotalUsed), free(kTotalFree);
  // Size: larger first, a missing size as 0.
  EXPECT_EQ(Names(record, SortMethod::kBySize),
            (std::vector<std::string>{"Zeta", "mid", "new", "alpha", "gone", used, free}));
  // Name: bytes, upper case before lower case.
  EXPECT_EQ(Names(record, SortMethod::kByName),
            (std::vector<std::string>{"Zeta", "alpha", "gone", "mid", "new", used, free}));
  // Change: a missing earlier size counts as 0, a missing current size stays -1.
  EXPECT_EQ(Names(record, SortMethod::kByChange),
            (std::vector<std::string>{"Zeta", "mid", "new", "alpha", "gone", used, free}));
  // Unknown method: record order, summaries still last.
  EXPECT_EQ(Names(record, SortMethodFromStored(9)), (std::vector<std::string>{"alpha", "Zeta", "gone", "new", "mid", used, free}));
  EXPECT_EQ(record.m_entries[0].name, free);  // the record itself is not reordered
}

TEST(ReportText, DisplayNames) {
  const std::string n32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  EXPECT_EQ(DisplayName(n32), n32);
  EXPECT_EQ(DisplayName(n32 + "6"), "ABCDEFGHIJKLMNOPQRSTUVWXYZ012...");
  EXPECT_EQ(DisplayName(kTotalUsed), "[Total Used]");
  EXPECT_EQ(DisplayName("kob*x"), "x");
  EXPECT_EQ(DisplayName("two\nlines\t"), "two?lines?");
  // Cut after 29 characters, never inside one: 31 "é" (2 bytes each) stay whole, 33 are cut.
  std::string accents;
  for (int i = 0; i < 33; ++i) accents += "\xc3\xa9";
  EXPECT_EQ(DisplayName(accents.substr(0, 62)), accents.substr(0, 62));
  EXPECT_EQ(DisplayName(accents), accents.substr(0, 58) + "...");
  EXPECT_EQ(TextWidth(accents), 33u);
  EXPECT_EQ(TextWidth("\xff\xfe" "a"), 3u);  // bytes that are not UTF-8 count one each
}

TEST(ReportText, ScanTimesWithoutLeadingZeros) {
  // TZ=UTC for this test program.
  EXPECT_EQ(FormatScanTime(1772744820, kHeadingDateFormat), "Mar 5, 9:07 PM");       // 2026-03-05 21:07
  EXPECT_EQ(FormatScanTime(1772668800, kHeadingDateFormat), "Mar 5, 12:00 AM");      // midnight
  EXPECT_EQ(FormatScanTime(1772744820, kCommaHeadingDateFormat), "Mar 5  9:07 PM");
  EXPECT_EQ(FormatScanTime(1764590700, kPrintedDateFormat), "December 1, 2025  at  12:05 PM");
  EXPECT_EQ(FormatScanTime(0, kHeadingDateFormat), "");
}

TEST(ReportText, PaddingCountsCharacters) {
  EXPECT_EQ(PadRight("caf\xc3\xa9", 6), "caf\xc3\xa9  ");
  EXPECT_EQ(PadLeft("12 K", 6), "  12 K");
  EXPECT_EQ(PadLeft("too long", 3), "too long");
}

TEST(ReportText, RtfEscapeKeepsEveryName) {
  EXPECT_EQ(RtfEscape("C:\\DATA {x}"), "C:\\\\DATA \\{x\\}");
  EXPECT_EQ(RtfEscape("caf\xc3\xa9 \xe2\x82\xac"), "caf\\u233? \\u8364?");
  EXPECT_EQ(RtfEscape("\xef\xbf\xbd"), "\\u-3?");                // U+FFFD as a negative unit
  EXPECT_EQ(RtfEscape("\xf0\x9f\x98\x80"), "\\u-10179?\\u-8704?");  // U+1F600 as a surrogate pair
  EXPECT_EQ(RtfEscape("\xff" "a\xc3"), "\\'ffa\\'c3");
}

TEST(ReportText, CsvFieldsQuotedOnlyWhenNeeded) {
  EXPECT_EQ(CsvField("plain name"), "plain name");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
}

}  // namespace
}  // namespace varnow
