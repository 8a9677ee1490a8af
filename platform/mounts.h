// The mount table and the figures of the volume that holds a path.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct MountInfo {
  std::string mountPoint;  // absolute, no trailing "/" except for "/" itself
  std::string fsType;      // "ext4", "btrfs", "nfs4", "fuse.sshfs", ...
  std::string source;      // the mounted device or remote ("server:/export", "//srv/share")
  std::string options;     // mount options and super options, comma-separated
  dev_t device = 0;        // st_dev of files on this mount
  bool isNetwork = false;  // cifs, smb3, nfs, nfs4, fuse.sshfs
  bool isPseudo = false;   // proc, sysfs, devtmpfs, ... never descended into by a scan
  bool isCompressed = false;  // btrfs mounted with compress or compress-force
};

class MountTable {
 public:
  // Parses /proc/self/mountinfo (or the given file, for tests). An unreadable file gives an
  // empty table.
  static MountTable Load(const std::string& mountinfoPath = "/proc/self/mountinfo");

  // The mount that holds path: the longest mount point that prefixes the path after it is made
  // absolute and resolved (symbolic links followed; a tail that does not exist yet is joined by
  // text to its longest existing ancestor). Mount points match whole components: /home does not
  // hold /homework. Of mounts stacked on one point, the last one wins. nullptr when the table is
  // empty.
  const MountInfo* MountOf(const std::string& path) const;
  const std::vector<MountInfo>& Mounts() const { return m_mounts; }

  static bool IsPseudoFileSystem(const std::string& fsType);
  static bool IsNetworkFileSystem(const std::string& fsType);

 private:
  std::vector<MountInfo> m_mounts;
};

// The absolute, resolved form of path: its longest existing ancestor resolved by the system
// (symbolic links, "." and ".." resolved), the rest of it joined by text with "." and ".."
// applied. No trailing "/" except for "/" itself.
std::string ResolvePath(const std::string& path);

struct VolumeFigures {
  std::uint32_t clusterSize = 0;  // statvfs f_frsize
  std::uint64_t freeBytes = 0;    // f_bavail * f_frsize: what the user may still write, as df shows it
};

// statvfs of the path; false (figures 0) when it cannot be queried.
bool QueryVolume(const std::string& path, VolumeFigures& out);

}  // namespace platform
