#include "varnow/report/ReportText.h"

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <locale>
#include <sstream>

#include "platform/asciicase.h"
#include "varnow/scan/DirData.h"

namespace varnow {
namespace {

// Length of the valid UTF-8 sequence at text[i], 0 when the byte does not start one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i, char32_t* codePoint = nullptr) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  char32_t value = 0;
  if (lead < 0x80) length = 1, value = lead;
  else if (lead >= 0xC2 && lead <= 0xDF) length = 2, value = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, value = lead & 0x0F;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, value = lead & 0x07;
  else return 0;
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0;
  if (codePoint) *codePoint = value;
  return length;
}

// Byte length of the first `characters` characters.
std::size_t PrefixBytes(std::string_view text, std::size_t characters) {
  std::size_t i = 0;
  for (; i < text.size() && characters > 0; --characters) i += std::max<std::size_t>(1, Utf8SequenceLength(text, i));
  return i;
}

std::string StripLeadingZeros(std::string number) {
  const std::size_t first = number.find_first_not_of('0');
  return first == std::string::npos ? "0" : number.substr(first);
}

std::string PutTime(const std::tm& tm, const std::string& format) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << std::put_time(&tm, format.c_str());
  return out.str();
}

void AppendRtfUnit(std::string& out, int unit) {
  // Values above 32767 are written as negative 16-bit numbers, as readers expect.
  out += "\\u" + std::to_string(unit > 32767 ? unit - 65536 : unit) + "?";
}

}  // namespace

std::size_t TextWidth(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size(); ++width) i += std::max<std::size_t>(1, Utf8SequenceLength(text, i));
  return width;
}

bool IsSummaryName(std::string_view name) {
  return platform::StartsWithIgnoringCase(name, kSpecialPrefix);
}

std::string DisplayName(std::string_view name) {
  std::string shown(name);
  if (TextWidth(shown) > kMaxShownName) shown = shown.substr(0, PrefixBytes(shown, kCutNameLength)) + "...";
  if (IsSummaryName(shown)) shown.erase(0, kSpecialPrefix.size());
  return PrintableText(shown);
}

std::string PrintableText(std::string_view text) {
  std::string shown(text);
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return shown;
}

std::string FormatScanTime(std::time_t time, const char* format) {
  if (time == 0) return {};
  std::tm tm{};
  if (!localtime_r(&time, &tm)) return {};
  // Numbers marked with "#" are formatted here, the rest by the C library.
  std::string plain;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == '#' && p[2]) {
      plain += StripLeadingZeros(PutTime(tm, std::string("%") + p[2]));
      p += 2;
    } else if (p[0] == '%' && p[1]) {
      plain += p[0];
      plain += *++p;
    } else {
      plain += *p;
    }
  }
  return PutTime(tm, plain);
}

std::string PadRight(std::string_view text, std::size_t width) {
  std::string out(text);
  const std::size_t have = TextWidth(text);
  if (have < width) out.append(width - have, ' ');
  return out;
}

std::string PadLeft(std::string_view text, std::size_t width) {
  const std::size_t have = TextWidth(text);
  return (have < width ? std::string(width - have, ' ') : std::string()) + std::string(text);
}

std::string RtfEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    char32_t codePoint = 0;
    if (const std::size_t length = Utf8SequenceLength(text, i, &codePoint)) {
      if (codePoint > 0xFFFF) {
        codePoint -= 0x10000;
        AppendRtfUnit(out, 0xD800 + static_cast<int>(codePoint >> 10));
        AppendRtfUnit(out, 0xDC00 + static_cast<int>(codePoint & 0x3FF));
      } else {
        AppendRtfUnit(out, static_cast<int>(codePoint));
      }
      i += length;
      continue;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\'";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
    ++i;
  }
  return out;
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace varnow
