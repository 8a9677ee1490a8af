#include "varnow/settings/FontSetting.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "varnow/settings/Settings.h"
#include "varnow/testsupport/TestHome.h"

namespace varnow {
namespace {

using platform::Hive;
using platform::Registry;

std::vector<std::uint8_t> Bytes(const std::array<std::uint8_t, kLogFontSize>& bytes) {
  return {bytes.begin(), bytes.end()};
}

std::optional<platform::RegValue> StoredFont() {
  return Registry::GetValue(Hive::CurrentUser, SettingsKey(kSettingsSection), "Font");
}

TEST(FontRecordTest, DefaultRecordLaidOutByteForByte) {
  std::vector<std::uint8_t> expected(kLogFontSize, 0);
  const std::uint8_t height[] = {0xF2, 0xFF, 0xFF, 0xFF};  // -14
  std::copy(std::begin(height), std::end(height), expected.begin());
  expected[16] = 0x90;  // 400
  expected[17] = 0x01;
  const std::string face = "MS Sans Serif";
  std::copy(face.begin(), face.end(), expected.begin() + 28);
  EXPECT_EQ(Bytes(EncodeLogFont(DefaultLogFont())), expected);
  EXPECT_EQ(DecodeLogFont(expected), DefaultLogFont());
}

TEST(FontRecordTest, EveryFieldRoundTripsAndOnlySixtyBytesDecode) {
  CLogFont font;
  font.height = -123456;
  font.width = 7;
  font.escapement = 900;
  font.orientation = -900;
  font.weight = 700;
  font.italic = 1;
  font.underline = 1;
  font.strikeOut = 1;
  font.charSet = 0xEE;
  font.outPrecision = 3;
  font.clipPrecision = 2;
  font.quality = 4;
  font.pitchAndFamily = 0x22;
  font.faceName = "DejaVu Sans";
  const std::vector<std::uint8_t> bytes = Bytes(EncodeLogFont(font));
  EXPECT_EQ(bytes[20], 1);
  EXPECT_EQ(bytes[27], 0x22);
  EXPECT_EQ(DecodeLogFont(bytes), font);
  EXPECT_EQ(Bytes(EncodeLogFont(*DecodeLogFont(bytes))), bytes);

  for (std::size_t size : {0u, 59u, 61u, 120u}) {
    std::vector<std::uint8_t> other = bytes;
    other.resize(size);
    EXPECT_FALSE(DecodeLogFont(other)) << size;
  }
}

TEST(FontRecordTest, FaceNameIsBoundedAndAlwaysEnds) {
  CLogFont font;
  font.faceName = std::string(40, 'x');
  auto bytes = EncodeLogFont(font);
  EXPECT_EQ(bytes[59], 0);
  EXPECT_EQ(DecodeLogFont(Bytes(bytes))->faceName, std::string(31, 'x'));

  // A name cut inside a two-byte character loses the whole character.
  font.faceName = std::string(30, 'x') + "\xC3\xA9" + "tail";
  EXPECT_EQ(DecodeLogFont(Bytes(EncodeLogFont(font)))->faceName, std::string(30, 'x'));

  // A stored name without its 0 byte ends with the record.
  std::vector<std::uint8_t> damaged = Bytes(EncodeLogFont(DefaultLogFont()));
  std::fill(damaged.begin() + 28, damaged.end(), 'y');
  EXPECT_EQ(DecodeLogFont(damaged)->faceName, std::string(32, 'y'));
  EXPECT_EQ(Bytes(EncodeLogFont(*DecodeLogFont(damaged)))[59], 0);
}

class FontSettingTest : public ::testing::Test {
 protected:
  test::CTestHome m_home;
};

TEST_F(FontSettingTest, MissingOrDamagedValueIsReplacedByTheDefault) {
  const std::vector<std::uint8_t> defaultBytes = Bytes(EncodeLogFont(DefaultLogFont()));
  EXPECT_FALSE(ReadFontSetting());
  EXPECT_EQ(ReadFontSettingOrDefault(), DefaultLogFont());  // first start: written
  ASSERT_TRUE(StoredFont());
  EXPECT_EQ(StoredFont()->type, platform::RegType::Binary);
  EXPECT_EQ(StoredFont()->bytes, defaultBytes);

  CLogFont chosen;
  chosen.faceName = "Liberation Serif";
  chosen.height = -20;
  const std::vector<std::uint8_t> chosenBytes = Bytes(EncodeLogFont(chosen));
  const auto key = SettingsKey(kSettingsSection);
  const std::vector<std::vector<std::uint8_t>> damaged = {
      {chosenBytes.begin(), chosenBytes.end() - 1}, [&] {
        auto longer = chosenBytes;
        longer.push_back(0);
        return longer;
      }(),
      {}};
  for (const auto& bytes : damaged) {
    ASSERT_TRUE(Registry::SetBinary(Hive::CurrentUser, key, "Font", bytes));
    EXPECT_FALSE(ReadFontSetting()) << bytes.size();
    EXPECT_EQ(ReadFontSettingOrDefault(), DefaultLogFont()) << bytes.size();
    EXPECT_EQ(StoredFont()->bytes, defaultBytes) << bytes.size();
  }
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, key, "Font", std::string(60, 'a')));
  EXPECT_EQ(ReadFontSettingOrDefault(), DefaultLogFont());
  EXPECT_EQ(StoredFont()->type, platform::RegType::Binary);
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, key, "Font", 60));
  EXPECT_EQ(ReadFontSettingOrDefault(), DefaultLogFont());

  // A good value is read as it is and left alone.
  ASSERT_TRUE(WriteFontSetting(chosen));
  EXPECT_EQ(ReadFontSettingOrDefault(), chosen);
  EXPECT_EQ(StoredFont()->bytes, chosenBytes);
}

TEST_F(FontSettingTest, UnwritableStoreGivesNoFont) {
  // The hive's folder is a file: nothing can be written, and nothing is made up.
  test::WriteWholeFile(m_home.Root() + "/config/zentrel", "not a folder");
  EXPECT_FALSE(ReadFontSettingOrDefault());
}

}  // namespace
}  // namespace varnow
