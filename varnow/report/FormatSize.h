// The one conversion of a size to text, in the display units of the PreferredUnits setting.
// The grid, the reports and the alert messages all show sizes through it.
#pragma once

#include <cstdint>
#include <string>

#include "varnow/settings/Settings.h"  // SizeUnit, which the settings keep

namespace varnow {

// "" for -1; with decorate, thousands separators and " bytes" / " K" / " MB" / " GB" ("1 byte").
std::string FormatSize(std::int64_t value, bool decorate, SizeUnit unit);

// A count with its word: "1 day", "2 days".
std::string CountText(long long count, const char* singular, const char* plural);

}  // namespace varnow
