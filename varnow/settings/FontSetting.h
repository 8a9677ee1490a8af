// The display font as the settings store keeps it: the value "Font" of the "Settings" section,
// a binary value of exactly 60 bytes laid out as the classic logical-font record, so that a
// settings file keeps its meaning from one version to the next:
//   offset  0  height, width, escapement, orientation, weight   five little-endian 32-bit numbers
//   offset 20  italic, underline, strike-out, character set,
//              output precision, clip precision, quality,
//              pitch and family                                 one byte each
//   offset 28  face name                                        32 bytes, ends in a 0 byte
// No Qt here: the mapping to a toolkit font lives with the windows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnow {

inline constexpr std::size_t kLogFontSize = 60;
inline constexpr std::size_t kFaceNameSize = 32;  // the terminating 0 byte included

struct CLogFont {
  std::int32_t height = -14;  // negative: the character height in pixels
  std::int32_t width = 0;
  std::int32_t escapement = 0;
  std::int32_t orientation = 0;
  std::int32_t weight = 400;  // 400 normal, 700 bold
  std::uint8_t italic = 0;
  std::uint8_t underline = 0;
  std::uint8_t strikeOut = 0;
  std::uint8_t charSet = 0;
  std::uint8_t outPrecision = 0;
  std::uint8_t clipPrecision = 0;
  std::uint8_t quality = 0;
  std::uint8_t pitchAndFamily = 0;
  std::string faceName = "MS Sans Serif";  // at most 31 bytes are kept

  bool operator==(const CLogFont&) const = default;
};

// The default display font: "MS Sans Serif", height -14, weight 400, everything else 0.
inline CLogFont DefaultLogFont() { return {}; }

// The 60 bytes of a record. A face name longer than 31 bytes is cut at a character boundary of
// its UTF-8 text; the bytes after its end are 0.
std::array<std::uint8_t, kLogFontSize> EncodeLogFont(const CLogFont& font);
// The record in 60 bytes; nullopt for any other length. A face name without its 0 byte ends
// with the record.
std::optional<CLogFont> DecodeLogFont(const std::vector<std::uint8_t>& bytes);

// Reads "Font"; nullopt when it is missing, not binary or not 60 bytes long.
std::optional<CLogFont> ReadFontSetting();
bool WriteFontSetting(const CLogFont& font);
// The font to show: the stored one; when there is none that can be used, the default is
// written and read again. nullopt only when the store cannot be written either.
std::optional<CLogFont> ReadFontSettingOrDefault();

}  // namespace varnow
