#include "platform/xdgdirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value && *value == '/' ? value : "";
}

}  // namespace

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir) return user->pw_dir;
  return "/tmp";
}

std::string ConfigHome() {
  const std::string config = AbsoluteVariable("XDG_CONFIG_HOME");
  return config.empty() ? HomeFolder() + "/.config" : config;
}

std::string DataHome() {
  const std::string data = AbsoluteVariable("XDG_DATA_HOME");
  return data.empty() ? HomeFolder() + "/.local/share" : data;
}

}  // namespace platform
