#include "varnow/settings/FontSetting.h"

#include <algorithm>

#include "platform/bytes.h"
#include "platform/registry.h"
#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/settings/Settings.h"

namespace varnow {

namespace {

constexpr std::size_t kBytesOffset = 20;
constexpr std::size_t kFaceOffset = 28;

void PutInt32(std::uint8_t* out, std::int32_t value) { platform::Put32(out, static_cast<std::uint32_t>(value)); }
std::int32_t GetInt32(const std::uint8_t* in) { return static_cast<std::int32_t>(platform::Get32(in)); }

// The longest prefix of at most limit bytes that does not split a UTF-8 sequence.
std::size_t CutAtCharacter(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return end;
}

}  // namespace

std::array<std::uint8_t, kLogFontSize> EncodeLogFont(const CLogFont& font) {
  std::array<std::uint8_t, kLogFontSize> bytes{};
  const std::int32_t numbers[] = {font.height, font.width, font.escapement, font.orientation, font.weight};
  for (std::size_t i = 0; i < std::size(numbers); ++i) PutInt32(&bytes[4 * i], numbers[i]);
  const std::uint8_t flags[] = {font.italic,       font.underline,     font.strikeOut, font.charSet,
                                font.outPrecision, font.clipPrecision, font.quality,   font.pitchAndFamily};
  std::copy(std::begin(flags), std::end(flags), bytes.begin() + kBytesOffset);
  // A 0 byte inside the name would end it early when read back: the name ends there now.
  const std::string face = font.faceName.substr(0, font.faceName.find('\0'));
  const std::size_t length = CutAtCharacter(face, kFaceNameSize - 1);
  std::copy_n(face.begin(), length, bytes.begin() + kFaceOffset);
  return bytes;
}

std::optional<CLogFont> DecodeLogFont(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() != kLogFontSize) return std::nullopt;
  CLogFont font;
  font.height = GetInt32(&bytes[0]);
  font.width = GetInt32(&bytes[4]);
  font.escapement = GetInt32(&bytes[8]);
  font.orientation = GetInt32(&bytes[12]);
  font.weight = GetInt32(&bytes[16]);
  const std::uint8_t* flags = &bytes[kBytesOffset];
  font.italic = flags[0];
  font.underline = flags[1];
  font.strikeOut = flags[2];
  font.charSet = flags[3];
  font.outPrecision = flags[4];
  font.clipPrecision = flags[5];
  font.quality = flags[6];
  font.pitchAndFamily = flags[7];
  const auto face = bytes.begin() + kFaceOffset;
  font.faceName.assign(face, std::find(face, bytes.end(), std::uint8_t{0}));
  return font;
}

std::optional<CLogFont> ReadFontSetting() {
  return platform::Guarded("ReadFontSetting", [&]() -> std::optional<CLogFont> {
    auto value = platform::Registry::GetValue(platform::Hive::CurrentUser, SettingsKey(kSettingsSection), setting::kFont);
    if (!value || value->type != platform::RegType::Binary) return std::nullopt;
    return DecodeLogFont(value->bytes);
  }, std::nullopt);
}

bool WriteFontSetting(const CLogFont& font) {
  return platform::Guarded("WriteFontSetting", [&] {
    const auto bytes = EncodeLogFont(font);
    return platform::Registry::SetBinary(platform::Hive::CurrentUser, SettingsKey(kSettingsSection), setting::kFont,
                                         std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  }, false);
}

std::optional<CLogFont> ReadFontSettingOrDefault() {
  if (auto font = ReadFontSetting()) return font;
  VN_TRACE("No usable display font stored: writing the default");
  WriteFontSetting(DefaultLogFont());
  return ReadFontSetting();
}

}  // namespace varnow
