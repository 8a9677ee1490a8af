#include "setup/SetupScript.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/asciicase.h"

namespace setup {
namespace {

// Keys are read until the first missing number; the bound only stops a damaged script.
constexpr int kMaxNumberedKeys = 100000;

std::string Setting(const platform::CProfileSnapshot& script, const char* key) {
  return script.Value("Settings", key, "");
}

std::string WithSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// The values with their keys, up to the first missing number.
std::vector<std::pair<std::string, std::string>> NumberedValues(const platform::CProfileSnapshot& script,
                                                                const char* section, const char* prefix) {
  std::vector<std::pair<std::string, std::string>> values;
  for (int number = 1; number <= kMaxNumberedKeys; ++number) {
    std::string key = prefix + std::to_string(number);
    std::optional<std::string> value = script.Value(section, key);
    if (!value) break;
    values.emplace_back(std::move(key), std::move(*value));
  }
  return values;
}

}  // namespace

CSetupSettings ReadSetupSettings(const platform::CProfileSnapshot& script) {
  CSetupSettings settings;
  if (std::string title = Setting(script, "Title"); !title.empty()) settings.title = title;
  if (std::string group = Setting(script, "Group"); !group.empty()) settings.group = group;
  settings.readMe = Setting(script, "ReadMe");
  settings.run = Setting(script, "Run");
  settings.uninstall = platform::EqualsIgnoringCase(Setting(script, "Uninstall"), "yes");
  if (std::string categories = Setting(script, "Categories"); !categories.empty()) {
    if (categories.back() != ';') categories += ';';
    settings.categories = categories;
  }
  settings.dataFile = WithSlashes(Setting(script, "DataFile"));
  return settings;
}

bool HasFileList(const platform::CProfileSnapshot& script) {
  for (const auto& [key, value] : NumberedValues(script, "FileList", "File"))
    if (SplitFileValue(value).size() >= 2) return true;
  return false;
}

std::vector<std::string> SplitFileValue(const std::string& value) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (fields.size() < 5) {
    start = value.find_first_not_of(',', start);
    if (start == std::string::npos) break;
    const std::size_t comma = value.find(',', start);
    fields.push_back(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma;
  }
  return fields;
}

std::vector<CFileEntry> ReadFileList(const platform::CProfileSnapshot& script, const std::string& setupFolder,
                                     const std::string& setupProgramName, SetupMode mode, bool uninstallSupport) {
  std::vector<CFileEntry> entries;
  for (const auto& [key, value] : NumberedValues(script, "FileList", "File")) {
    const std::vector<std::string> fields = SplitFileValue(value);
    if (fields.size() < 2) continue;  // nothing to copy or nowhere to put it
    CFileEntry entry;
    entry.line = key + "=" + value;
    entry.source = setupFolder + "/" + WithSlashes(fields[0]);
    entry.destination = WithSlashes(fields[1]);
    if (mode == SetupMode::kUninstall &&
        (platform::StartsWithIgnoringCase(entry.destination, "SYS") || platform::StartsWithIgnoringCase(entry.destination, "WIN")))
      continue;
    entry.registerFlag = fields.size() > 2 && platform::EqualsIgnoringCase(fields[2], "REG");
    entry.iconFlag = fields.size() > 3 && platform::EqualsIgnoringCase(fields[3], "ICON");
    if (entry.iconFlag && fields.size() > 4) entry.itemTitle = fields[4];
    entries.push_back(std::move(entry));
  }
  if (!uninstallSupport) return entries;
  for (const std::string& name : {std::string(kScriptName), setupProgramName}) {
    const std::string destination = "APP/" + name;
    const bool listed = std::any_of(entries.begin(), entries.end(), [&](const CFileEntry& entry) {
      return platform::EqualsIgnoringCase(entry.destination, destination);
    });
    if (!listed) entries.push_back({setupFolder + "/" + name, destination, false, false, "", ""});
  }
  return entries;
}

std::size_t FindSetupEntry(const std::vector<CFileEntry>& entries, const std::string& setupProgramName) {
  const std::string destination = "APP/" + setupProgramName;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (platform::EqualsIgnoringCase(entries[i].destination, destination)) return i;
  return std::string::npos;
}

void ExpandDestinations(std::vector<CFileEntry>& entries, const CBaseFolders& folders) {
  for (CFileEntry& entry : entries) {
    std::string& destination = entry.destination;
    // A prefix stands for its folder only when a "/" follows: "APPS/x" is no path inside APP.
    if (destination.compare(0, 4, "APP/") == 0) {
      destination = folders.app + destination.substr(3);
    } else if (destination.compare(0, 4, "SYS/") == 0) {
      destination = folders.sys + destination.substr(3);
    } else if (destination.compare(0, 4, "WIN/") == 0) {
      destination = folders.win + destination.substr(3);
    }
  }
}

std::string TrimTypedDirectory(std::string text) {
  if (!text.empty() && text.back() == '/') text.pop_back();
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string ApplicationDirectoryFrom(const std::string& typed, const std::string& home) {
  std::string directory = TrimTypedDirectory(typed);
  if (directory == "~" || directory.rfind("~/", 0) == 0) directory = home + directory.substr(1);
  if (directory.empty() || directory[0] != '/' || directory.find_first_not_of('/') == std::string::npos) return "";
  return directory;
}

std::vector<std::string> ReadRegCleanup(const platform::CProfileSnapshot& script) {
  std::vector<std::string> values;
  for (auto& [key, value] : NumberedValues(script, "RegCleanup", "Key")) values.push_back(std::move(value));
  return values;
}

}  // namespace setup
