#include "platform/mounts.h"

#include <sys/statvfs.h>

namespace platform {

MountTable MountTable::Load(const std::string&) { return MountTable(); }

const MountInfo* MountTable::MountOf(const std::string&) const { return nullptr; }

const MountInfo* MountTable::MountOfDevice(dev_t device) const {
  for (const MountInfo& mount : m_mounts)
    if (mount.device == device) return &mount;
  return nullptr;
}

bool MountTable::IsPseudoFileSystem(const std::string&) { return false; }
bool MountTable::IsNetworkFileSystem(const std::string&) { return false; }

bool QueryVolume(const std::string& path, VolumeFigures& out) {
  out = VolumeFigures();
  struct statvfs figures {};
  if (::statvfs(path.c_str(), &figures) != 0) return false;
  out.clusterSize = static_cast<std::uint32_t>(figures.f_frsize);
  out.freeBytes = static_cast<std::uint64_t>(figures.f_bfree) * figures.f_frsize;
  return true;
}

}  // namespace platform
