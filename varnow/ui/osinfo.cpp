#include "varnow/ui/osinfo.h"

#include <unistd.h>

#include <vector>

#include "platform/versionrecord.h"

namespace varnow {

std::string ProgramPath() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return {};
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int GetOSType() { return 3; }

int GetFileVersion(const std::string& path, unsigned short* major, unsigned short* minor, unsigned short* build) {
  if (path.empty()) return 0;
  const std::optional<platform::CFileVersion> version = platform::ReadVersionRecord(path);
  if (!version) return 0;
  if (major) *major = static_cast<unsigned short>(version->fileVersionMS >> 16);
  if (minor) *minor = static_cast<unsigned short>(version->fileVersionMS & 0xFFFF);
  if (build) *build = static_cast<unsigned short>(version->fileVersionLS & 0xFFFF);
  return 1;
}

int GetProgramVersion(unsigned short* major, unsigned short* minor, unsigned short* build) {
  return GetFileVersion(ProgramPath(), major, minor, build);
}

}  // namespace varnow
