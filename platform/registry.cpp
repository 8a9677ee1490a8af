#include "platform/registry.h"

#include <cstdlib>

namespace platform {

namespace {
const char* HiveName(Hive hive) {
  switch (hive) {
    case Hive::CurrentUser: return "HKEY_CURRENT_USER";
    case Hive::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case Hive::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case Hive::Users: return "HKEY_USERS";
  }
  return "HKEY_CURRENT_USER";
}
}  // namespace

std::string Registry::HiveFile(Hive hive) {
  std::string base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
    base = config;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/zentrel/registry/" + HiveName(hive) + ".reg";
}

std::optional<RegValue> Registry::GetValue(Hive, const std::string&, const std::string&) { return std::nullopt; }
bool Registry::SetString(Hive, const std::string&, const std::string&, const std::string&) { return false; }
bool Registry::SetDword(Hive, const std::string&, const std::string&, std::uint32_t) { return false; }
bool Registry::SetBinary(Hive, const std::string&, const std::string&, const std::vector<std::uint8_t>&) {
  return false;
}
bool Registry::DeleteValue(Hive, const std::string&, const std::string&) { return false; }
bool Registry::DeleteKey(Hive, const std::string&) { return false; }
bool Registry::KeyExists(Hive, const std::string&) { return false; }
std::optional<std::vector<std::pair<std::string, RegValue>>> Registry::EnumValues(Hive, const std::string&) {
  return std::nullopt;
}
std::vector<std::string> Registry::EnumSubKeys(Hive, const std::string&) { return {}; }

}  // namespace platform
