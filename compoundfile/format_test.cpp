#include "compoundfile/format.h"

#include "compoundfile/compoundfile.h"

#include <gtest/gtest.h>

namespace cfb::format {
namespace {

TEST(SiblingOrder, ShorterNamesComeFirstThenUpperCasedUnits) {
  EXPECT_LT(CompareNames(u"ZZ", u"aaa"), 0);
  EXPECT_GT(CompareNames(u"b", u"A"), 0);
  EXPECT_EQ(CompareNames(u"abc", u"ABC"), 0);
  EXPECT_EQ(CompareNames(u"\u00e9t\u00e9", u"\u00c9T\u00c9"), 0);  // Latin-1 letters fold too
  EXPECT_EQ(CompareNames(u"\u03b1", u"\u0391"), 0);                 // and Greek
  // '_' (0x5F) sorts after upper-case letters, since comparison is on upper-cased units.
  EXPECT_GT(CompareNames(u"_", u"a"), 0);
}

TEST(Names, LengthAndReservedCharacters) {
  EXPECT_TRUE(IsValidName(u"KOB[VNData]"));
  EXPECT_TRUE(IsValidName(std::u16string(31, u'x')));
  EXPECT_FALSE(IsValidName(std::u16string(32, u'x')));
  EXPECT_FALSE(IsValidName(u""));
  for (const char16_t* bad : {u"a/b", u"a\\b", u"a:b", u"a!b"}) EXPECT_FALSE(IsValidName(bad));
}

TEST(Entry, RoundTripAndFreeEntryLayout) {
  DirEntry e;
  e.name = u"Stream \u00e9";
  e.type = kStream;
  e.color = kRed;
  e.left = 3;
  e.right = 4;
  e.child = kNoStream;
  e.start = 17;
  e.size = 300;
  std::uint8_t bytes[kEntrySize];
  SerializeEntry(e, bytes);
  EXPECT_EQ(Get16(bytes + 0x40), (e.name.size() + 1) * 2);
  DirEntry back;
  ParseEntry(bytes, true, back);
  EXPECT_EQ(back.name, e.name);
  EXPECT_EQ(back.left, 3u);
  EXPECT_EQ(back.start, 17u);
  EXPECT_EQ(back.size, 300u);

  SerializeEntry(DirEntry{}, bytes);
  for (std::uint32_t i = 0; i < kEntrySize; ++i) {
    const bool link = i >= 0x44 && i < 0x50;
    EXPECT_EQ(bytes[i], link ? 0xFF : 0x00) << i;
  }
}

TEST(Entry, Version3IgnoresHighHalfOfSizeAndClampsNameLength) {
  DirEntry e;
  e.name = u"x";
  e.type = kStream;
  e.size = 0x1234567800000010ull;
  std::uint8_t bytes[kEntrySize];
  SerializeEntry(e, bytes);
  Put16(bytes + 0x40, 0xFFFF);  // damaged length
  DirEntry back;
  ParseEntry(bytes, true, back);
  EXPECT_EQ(back.size, 0x10u);
  EXPECT_EQ(back.name, u"x");
  ParseEntry(bytes, false, back);
  EXPECT_EQ(back.size, 0x1234567800000010ull);
}

TEST(Entry, NameWithoutTerminatorEndsWhereTheTerminatorBelongs) {
  DirEntry e;
  e.name = std::u16string(31, u'n');
  e.type = kStorage;
  std::uint8_t bytes[kEntrySize];
  SerializeEntry(e, bytes);
  Put16(bytes + 62, u'z');  // the terminator overwritten
  DirEntry back;
  ParseEntry(bytes, true, back);
  EXPECT_EQ(back.name, std::u16string(31, u'n'));
  Put16(bytes + 0x40, 64 + 2);  // a length past the field
  ParseEntry(bytes, true, back);
  EXPECT_EQ(back.name, std::u16string(31, u'n'));
  Put16(bytes + 0x40, 10);  // "nnnnn" said to be 4 units and a terminator
  ParseEntry(bytes, true, back);
  EXPECT_EQ(back.name, u"nnnn");
  Put16(bytes + 0x40, 0);
  ParseEntry(bytes, true, back);
  EXPECT_EQ(back.name, u"");
}

TEST(Header, RejectsForeignAndImpossibleGeometry) {
  Header h;
  std::uint8_t bytes[kHeaderSize];
  SerializeHeader(h, bytes);
  Header back;
  EXPECT_EQ(ParseHeader(bytes, back), 0);
  bytes[0] = 'P';
  EXPECT_EQ(ParseHeader(bytes, back), STG_E_INVALIDHEADER);
  h.miniStreamCutoff = 2048;
  SerializeHeader(h, bytes);
  EXPECT_EQ(ParseHeader(bytes, back), STG_E_DOCFILECORRUPT);
  h.miniStreamCutoff = kMiniStreamCutoff;
  h.sectorShift = 12;  // version 3 with 4096-byte sectors
  SerializeHeader(h, bytes);
  EXPECT_EQ(ParseHeader(bytes, back), STG_E_DOCFILECORRUPT);
  h.majorVersion = 4;
  SerializeHeader(h, bytes);
  EXPECT_EQ(ParseHeader(bytes, back), 0);
}

}  // namespace
}  // namespace cfb::format
