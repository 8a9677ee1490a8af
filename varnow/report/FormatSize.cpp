#include "varnow/report/FormatSize.h"

#include "varnow/scan/DirData.h"

namespace varnow {

namespace {

const char* Suffix(int unit) {
  switch (unit) {
    case kUnitBytes: return " bytes";
    case kUnitK: return " K";
    case kUnitMB: return " MB";
    case kUnitGB: return " GB";
    default: return "";
  }
}

int SmartUnit(std::int64_t value) {
  if (value < 1000000) return kUnitBytes;
  if (value < 1000000000) return kUnitK;
  if (value < 1000000000000) return kUnitMB;
  return kUnitGB;
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

std::string FormatSize(std::int64_t value, bool decorate, int unit) {
  if (value == kNoSize) return {};
  if (unit == kUnitSmart) unit = SmartUnit(value);
  std::int64_t shown = value;
  if (unit == kUnitK) shown /= 1024;
  else if (unit == kUnitMB) shown /= 1024 * 1024;
  else if (unit == kUnitGB) shown /= std::int64_t{1024} * 1024 * 1024;
  std::string digits = std::to_string(shown);
  if (!decorate) return digits;
  if (unit == kUnitBytes && shown == 1) return "1 byte";
  return GroupThousands(digits) + Suffix(unit);
}

std::string CountText(long long count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 || count == -1 ? singular : plural);
}

}  // namespace varnow
