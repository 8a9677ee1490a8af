#include "setup/SetupScript.h"

#include "platform/profile.h"

#include <algorithm>
#include <strings.h>

namespace setup {
namespace {

// Keys are read until the first missing number; the bound only stops a damaged script.
constexpr int kMaxNumberedKeys = 100000;
constexpr char kAbsent[] = "\x01";  // no value can hold it, so it tells a missing key from an empty one

std::string Setting(const std::string& scriptPath, const char* key) {
  return platform::GetPrivateProfileString("Settings", key, "", scriptPath);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  const std::size_t length = std::char_traits<char>::length(prefix);
  return text.size() >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

std::string WithSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::vector<std::string> NumberedValues(const std::string& scriptPath, const char* section, const char* prefix) {
  std::vector<std::string> values;
  for (int number = 1; number <= kMaxNumberedKeys; ++number) {
    std::string value = platform::GetPrivateProfileString(section, prefix + std::to_string(number), kAbsent, scriptPath);
    if (value == kAbsent) break;
    values.push_back(std::move(value));
  }
  return values;
}

}  // namespace

CSetupSettings ReadSetupSettings(const std::string& scriptPath) {
  CSetupSettings settings;
  if (std::string title = Setting(scriptPath, "Title"); !title.empty()) settings.title = title;
  if (std::string group = Setting(scriptPath, "Group"); !group.empty()) settings.group = group;
  settings.readMe = Setting(scriptPath, "ReadMe");
  settings.run = Setting(scriptPath, "Run");
  settings.uninstall = strcasecmp(Setting(scriptPath, "Uninstall").c_str(), "yes") == 0;
  return settings;
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

std::vector<CFileEntry> ReadFileList(const std::string& scriptPath, const std::string& setupFolder,
                                     const std::string& setupProgramName, SetupMode mode, bool uninstallSupport) {
  std::vector<CFileEntry> entries;
  for (const std::string& value : NumberedValues(scriptPath, "FileList", "File")) {
    const std::vector<std::string> fields = SplitFileValue(value);
    if (fields.size() < 2) continue;  // nothing to copy or nowhere to put it
    CFileEntry entry;
    entry.source = setupFolder + "/" + WithSlashes(fields[0]);
    entry.destination = WithSlashes(fields[1]);
    if (mode == SetupMode::kUninstall &&
        (StartsWithNoCase(entry.destination, "SYS") || StartsWithNoCase(entry.destination, "WIN")))
      continue;
    entry.registerFlag = fields.size() > 2 && strcasecmp(fields[2].c_str(), "REG") == 0;
    entry.iconFlag = fields.size() > 3 && strcasecmp(fields[3].c_str(), "ICON") == 0;
    if (entry.iconFlag && fields.size() > 4) entry.itemTitle = fields[4];
    entries.push_back(std::move(entry));
  }
  if (!uninstallSupport) return entries;
  for (const std::string& name : {std::string(kScriptName), setupProgramName}) {
    const std::string destination = "APP/" + name;
    const bool listed = std::any_of(entries.begin(), entries.end(), [&](const CFileEntry& entry) {
      return strcasecmp(entry.destination.c_str(), destination.c_str()) == 0;
    });
    if (!listed) entries.push_back({setupFolder + "/" + name, destination, false, false, ""});
  }
  return entries;
}

std::size_t FindSetupEntry(const std::vector<CFileEntry>& entries, const std::string& setupProgramName) {
  const std::string destination = "APP/" + setupProgramName;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (strcasecmp(entries[i].destination.c_str(), destination.c_str()) == 0) return i;
  return std::string::npos;
}

void ExpandDestinations(std::vector<CFileEntry>& entries, const CBaseFolders& folders) {
  for (CFileEntry& entry : entries) {
    std::string& destination = entry.destination;
    if (destination.compare(0, 3, "APP") == 0) {
      destination = folders.app + destination.substr(3);
    } else if (destination.compare(0, 3, "SYS") == 0) {
      destination = folders.sys + destination.substr(3);
    } else if (destination.compare(0, 3, "WIN") == 0) {
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

std::vector<std::string> ReadRegCleanup(const std::string& scriptPath) {
  return NumberedValues(scriptPath, "RegCleanup", "Key");
}

}  // namespace setup
