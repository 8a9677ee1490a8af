#include "varnow/scan/scandir.h"

#include "platform/tracelog.h"
#include "varnow/scan/DirData.h"
#include "varnow/scan/ScanOwner.h"

namespace varnow {

std::uint32_t g_clusterSize = 4096;
std::int32_t g_directoriesScanned = 0;
std::int32_t g_filesScanned = 0;
CScanProgress* g_currentProgress = nullptr;

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
  return GroupThousands(digits) + Suffix(unit);
}

std::int64_t RoundToCluster(std::uint64_t length) {
  if (length == 0) return 0;
  std::uint64_t cluster = g_clusterSize == 0 ? 1 : g_clusterSize;
  std::uint64_t rest = length % cluster;
  return static_cast<std::int64_t>(rest == 0 ? length : length + (cluster - rest));
}

std::int64_t RoundToCluster(const platform::DirEntry& entry) { return RoundToCluster(entry.length); }

std::int64_t GetDirectorySize(std::string path) {
  std::int64_t total = 0;
  try {
    if (g_currentProgress) {
      if (g_currentProgress->CheckCancel()) return 0;
      g_currentProgress->ShowCounters(g_directoriesScanned, g_filesScanned);
    }
    platform::DirListing listing;
    if (!listing.Open(path)) return 0;
    platform::DirEntry entry;
    while (listing.Next(entry)) {
      if (entry.isDirectory) {
        bool dots = entry.name == "." || entry.name == "..";
        if (!dots && g_currentProgress && g_currentProgress->CheckCancel()) return 0;
        continue;  // directories report no length
      }
      total += RoundToCluster(entry);
    }
  } catch (...) {
    VN_TRACE("** Exception in GetDirectorySize\n");
  }
  return total;
}

}  // namespace varnow
