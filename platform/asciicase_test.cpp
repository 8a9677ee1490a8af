#include "platform/asciicase.h"

#include <gtest/gtest.h>

#include <clocale>

namespace platform {
namespace {

TEST(AsciiCase, FoldsOnlyAsciiLettersWhateverTheLocale) {
  // A single-byte locale would fold 0xC9 and 0xE9 (É and é in Latin-1); a UTF-8 name must not
  // change or match another.
  const char* before = std::setlocale(LC_CTYPE, nullptr);
  const std::string saved = before ? before : "C";
  std::setlocale(LC_CTYPE, "C.UTF-8");
  EXPECT_EQ(ToAsciiLower("AbZ@[`{\xC3\x89\xFF"), "abz@[`{\xC3\x89\xFF");
  EXPECT_EQ(ToAsciiUpper("azAZ09_\xC3\xA9\x7F"), "AZAZ09_\xC3\xA9\x7F");
  EXPECT_FALSE(EqualsIgnoringCase("\xC9", "\xE9"));
  EXPECT_FALSE(EqualsIgnoringCase("@", "`")) << "neighbours of the letters are not letters";
  EXPECT_FALSE(EqualsIgnoringCase("[", "{"));
  EXPECT_TRUE(EqualsIgnoringCase("ReplaceItem", "rEPLACEiTEM"));
  EXPECT_TRUE(EqualsIgnoringCase("", ""));
  EXPECT_FALSE(EqualsIgnoringCase("abc", "abcd"));
  std::setlocale(LC_CTYPE, saved.c_str());
}

TEST(AsciiCase, PrefixesAndSuffixesAtTheEdges) {
  EXPECT_TRUE(StartsWithIgnoringCase("/dir=/Home/Ann", "/DIR="));
  EXPECT_TRUE(StartsWithIgnoringCase("abc", ""));
  EXPECT_TRUE(StartsWithIgnoringCase("ABC", "abc"));
  EXPECT_FALSE(StartsWithIgnoringCase("ab", "abc")) << "a text shorter than the prefix";
  EXPECT_TRUE(EndsWithIgnoringCase("help.HTML", ".html"));
  EXPECT_TRUE(EndsWithIgnoringCase(".so", ".SO"));
  EXPECT_FALSE(EndsWithIgnoringCase("so", ".so"));
  EXPECT_FALSE(EndsWithIgnoringCase("file.reg.bak", ".reg"));
  static_assert(EqualsIgnoringCase("Yes", "yES") && AsciiUpper('q') == 'Q' && AsciiLower('~') == '~');
}

}  // namespace
}  // namespace platform
