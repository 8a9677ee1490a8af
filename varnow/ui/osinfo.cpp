#include "varnow/ui/osinfo.h"

#include "platform/process.h"
#include "platform/versionrecord.h"

namespace varnow {

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
  return GetFileVersion(platform::ProgramPath(), major, minor, build);
}

}  // namespace varnow
