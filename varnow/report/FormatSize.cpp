#include "varnow/report/FormatSize.h"

#include "varnow/scan/DirData.h"

namespace varnow {

namespace {

const char* Suffix(SizeUnit unit) {
  switch (unit) {
    case SizeUnit::kBytes: return " bytes";
    case SizeUnit::kK: return " K";
    case SizeUnit::kMB: return " MB";
    case SizeUnit::kGB: return " GB";
    default: return "";
  }
}

SizeUnit SmartUnit(std::int64_t value) {
  if (value < 1000000) return SizeUnit::kBytes;
  if (value < 1000000000) return SizeUnit::kK;
  if (value < 1000000000000) return SizeUnit::kMB;
  return SizeUnit::kGB;
}

// Digits only; a sign (values below -1 do not occur) stays in front of the groups.
std::string GroupThousands(const std::string& number) {
  std::size_t start = (!number.empty() && number[0] == '-') ? 1 : 0;
  std::string out = number.substr(0, start);
  std::size_t count = number.size() - start;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0 && (count - i) % 3 == 0) out += ',';
    out += number[start + i];
  }
  return out;
}

}  // namespace

std::string FormatSize(std::int64_t value, bool decorate, SizeUnit unit) {
  if (value == kNoSize) return {};
  if (unit == SizeUnit::kSmart) unit = SmartUnit(value);
  std::int64_t shown = value;
  if (unit == SizeUnit::kK) shown /= 1024;
  else if (unit == SizeUnit::kMB) shown /= 1024 * 1024;
  else if (unit == SizeUnit::kGB) shown /= std::int64_t{1024} * 1024 * 1024;
  std::string digits = std::to_string(shown);
  if (!decorate) return digits;
  if (unit == SizeUnit::kBytes && shown == 1) return "1 byte";
  return GroupThousands(digits) + Suffix(unit);
}

std::string CountText(long long count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 || count == -1 ? singular : plural);
}

}  // namespace varnow
