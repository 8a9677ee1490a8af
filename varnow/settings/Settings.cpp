#include "varnow/settings/Settings.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/registry.h"
#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "platform/xdgdirs.h"

namespace varnow {

namespace {

constexpr char kProfileKey[] = "Software\\Zentrel\\VARNOW";

std::optional<int> ReadInt(const std::string& section, const std::string& entry) {
  auto value = platform::Registry::GetValue(platform::Hive::CurrentUser, SettingsKey(section), entry);
  if (!value || value->type != platform::RegType::Dword) return std::nullopt;
  return static_cast<int>(value->dword);
}

std::optional<std::string> ReadString(const std::string& section, const std::string& entry) {
  auto value = platform::Registry::GetValue(platform::Hive::CurrentUser, SettingsKey(section), entry);
  if (!value || value->type != platform::RegType::String) return std::nullopt;
  return value->text;
}

// The size an override value stands for: a double word, or a text that starts with a digit
// ("-5" would read as a huge size); 0 for anything else.
std::uint32_t OverrideSize(const platform::RegValue& value) {
  if (value.type == platform::RegType::Dword) return value.dword;
  if (value.type != platform::RegType::String || value.text.empty() || value.text[0] < '0' || value.text[0] > '9')
    return 0;
  return static_cast<std::uint32_t>(std::strtoul(value.text.c_str(), nullptr, 10));
}

}  // namespace

std::string SettingsKey(const std::string& section) { return std::string(kProfileKey) + "\\" + section; }

int GetProfileInt(const std::string& section, const std::string& entry, int defaultValue) {
  return ReadInt(section, entry).value_or(defaultValue);
}

std::string GetProfileString(const std::string& section, const std::string& entry, const std::string& defaultValue) {
  return ReadString(section, entry).value_or(defaultValue);
}

bool WriteProfileInt(const std::string& section, const std::string& entry, int value) {
  return platform::Registry::SetDword(platform::Hive::CurrentUser, SettingsKey(section), entry,
                                      static_cast<std::uint32_t>(value));
}

bool WriteProfileString(const std::string& section, const std::string& entry, const std::string& value) {
  return platform::Registry::SetString(platform::Hive::CurrentUser, SettingsKey(section), entry, value);
}

int GetProfileIntEx(const std::string& section, const std::string& entry, int defaultValue) {
  return platform::Guarded("GetProfileIntEx", [&] {
    std::optional<int> stored = ReadInt(section, entry);
    // A stored default needs no write; a missing one (or one of another type) is written.
    if (!stored || *stored == defaultValue) {
      if (!stored) WriteProfileInt(section, entry, defaultValue);
      return defaultValue;
    }
    return *stored;
  }, defaultValue);
}

std::string GetProfileStringEx(const std::string& section, const std::string& entry, const std::string& defaultValue) {
  return platform::Guarded("GetProfileStringEx", [&] {
    std::optional<std::string> stored = ReadString(section, entry);
    if (!stored) {
      WriteProfileString(section, entry, defaultValue);
      return defaultValue;
    }
    return *stored;
  }, defaultValue);
}

std::uint32_t GetFixedClusterSize(const std::string& root) {
  // Value names are case-blind in the store, but roots are paths and compare exactly.
  auto values = platform::Registry::EnumValues(platform::Hive::CurrentUser, SettingsKey(kFixedClusterSizesSection));
  if (!values) return 0;
  for (const auto& [name, value] : *values)
    if (name == root) return OverrideSize(value);
  return 0;
}

std::vector<std::pair<std::string, std::uint32_t>> GetFixedClusterSizes() {
  std::vector<std::pair<std::string, std::uint32_t>> overrides;
  auto values = platform::Registry::EnumValues(platform::Hive::CurrentUser, SettingsKey(kFixedClusterSizesSection));
  if (!values) return overrides;
  for (const auto& [name, value] : *values)
    if (!name.empty()) overrides.emplace_back(name, OverrideSize(value));
  return overrides;
}

bool WriteFixedClusterSizes(const std::vector<std::pair<std::string, int>>& overrides) {
  const std::string key = SettingsKey(kFixedClusterSizesSection);
  bool written = platform::Registry::DeleteKey(platform::Hive::CurrentUser, key) ||
                 !platform::Registry::KeyExists(platform::Hive::CurrentUser, key);
  for (const auto& [name, size] : overrides)
    written = WriteProfileIntAsText(kFixedClusterSizesSection, name, size) && written;
  return written;
}

bool WriteProfileIntAsText(const std::string& section, const std::string& entry, int value) {
  return WriteProfileString(section, entry, std::to_string(value));
}

CVarnowSettings ReadWindowSettings() {
  CVarnowSettings s;
  s.preferredUnits = SizeUnitFromStored(GetProfileIntEx(setting::kPreferredUnits));
  s.preferredClusterSetting = ClusterModeFromStored(GetProfileIntEx(setting::kPreferredClusterSetting));
  s.preferredSortMethod = SortMethodFromStored(GetProfileIntEx(setting::kPreferredSortMethod));
  VN_TRACE("CurrentUnits=%d", StoredCode(s.preferredUnits));
  VN_TRACE("Cluster=%d", StoredCode(s.preferredClusterSetting));
  VN_TRACE("Sort=%d", StoredCode(s.preferredSortMethod));
  const std::string storedDataDirectory = GetProfileStringEx(setting::kDataDirectory);
  s.firstRun = GetProfileIntEx(setting::kFirstRun);
  s.autoSave = GetProfileIntEx(setting::kAutoSave);
  s.subDirSave = GetProfileIntEx(setting::kSubDirSave);
  s.commaDelimited = GetProfileIntEx(setting::kCommaDelimited);
  s.enhancedPrinting = GetProfileIntEx(setting::kEnhancedPrinting);
  s.printFilePath = GetProfileStringEx(setting::kPrintFilePath);
  s.printDestination = PrintDestinationFromStored(GetProfileIntEx(setting::kPrintDestination));
  s.scanOnClick = GetProfileIntEx(setting::kScanOnClick);
  s.printColumns = GetProfileIntEx(setting::kPrintColumns);
  VN_TRACE("FirstRun=%d", s.firstRun);
  VN_TRACE("AutoSave=%d", s.autoSave);
  VN_TRACE("SubDirSave=%d", s.subDirSave);
  VN_TRACE("CommaDelimited=%d", s.commaDelimited);
  VN_TRACE("EnhancedPrinting=%d", s.enhancedPrinting);
  VN_TRACE("PrintPath=%s", s.printFilePath.c_str());
  VN_TRACE("PrintDestination=%d", StoredCode(s.printDestination));
  VN_TRACE("ScanOnClick=%d", s.scanOnClick);
  VN_TRACE("PrintColumns=%d", s.printColumns);
  if (platform::TraceLog::IsOpen()) {
    // Read only to be traced; reading them creates them with their defaults.
    VN_TRACE("NeverAskClusterSize=%d", GetProfileIntEx(setting::kNeverAskClusterSize));
    VN_TRACE("UserDefaultClusterSize=%d", GetProfileIntEx(setting::kUserDefaultClusterSize));
  }
  s.dataDirectory = ResolveDataDirectory(storedDataDirectory);
  VN_TRACE("DataDir=%s", s.dataDirectory.c_str());
  return s;
}

void WriteWindowSettings(const CVarnowSettings& s, const std::array<int, 7>& columnWidths) {
  WriteProfileInt(kSettingsSection, setting::kDirNameWidth.name, columnWidths[0]);
  for (int column = 1; column <= 6; ++column)
    WriteProfileInt(kSettingsSection, "Col" + std::to_string(column) + "Width", columnWidths[column]);
  WriteProfileInt(kSettingsSection, setting::kPreferredUnits.name, StoredCode(s.preferredUnits));
  WriteProfileInt(kSettingsSection, setting::kPreferredClusterSetting.name, StoredCode(s.preferredClusterSetting));
  WriteProfileInt(kSettingsSection, setting::kPreferredSortMethod.name, StoredCode(s.preferredSortMethod));
  WriteProfileString(kSettingsSection, setting::kDataDirectory.name, StoredDataDirectory(s.dataDirectory));
  WriteProfileInt(kSettingsSection, setting::kFirstRun.name, 0);
  WriteProfileInt(kSettingsSection, setting::kAutoSave.name, s.autoSave);
  WriteProfileInt(kSettingsSection, setting::kSubDirSave.name, s.subDirSave);
  WriteProfileInt(kSettingsSection, setting::kCommaDelimited.name, s.commaDelimited);
  WriteProfileInt(kSettingsSection, setting::kEnhancedPrinting.name, s.enhancedPrinting);
  WriteProfileInt(kSettingsSection, setting::kPrintDestination.name, StoredCode(s.printDestination));
  WriteProfileString(kSettingsSection, setting::kPrintFilePath.name, s.printFilePath);
  WriteProfileInt(kSettingsSection, setting::kScanOnClick.name, s.scanOnClick);
  WriteProfileInt(kSettingsSection, setting::kPrintColumns.name, s.printColumns);
}

std::string DefaultDataDirectory() { return platform::DataHome() + "/varnow/"; }

std::string ResolveDataDirectory(const std::string& stored) {
  if (!stored.empty() && stored != setting::kDataDirectory.defaultValue)
    return stored.back() == '/' ? stored : stored + "/";
  const std::string folder = DefaultDataDirectory();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) VN_TRACE("Cannot create the data folder %s: %s", folder.c_str(), error.message().c_str());
  return folder;
}

std::string StoredDataDirectory(const std::string& folder) {
  return folder.empty() || folder == DefaultDataDirectory() ? setting::kDataDirectory.defaultValue : folder;
}

}  // namespace varnow
