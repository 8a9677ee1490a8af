#include "platform/mounts.h"

#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>

namespace platform {
namespace {

// The kernel writes blanks, tabs, newlines and backslashes in paths as "\ooo".
std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  auto isOctal = [&](size_t k) { return text[k] >= '0' && text[k] <= '7'; };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3)) {
      out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) | (text[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += text[i];
  }
  return out;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream stream(line);
  std::string field;
  while (stream >> field) fields.push_back(field);
  return fields;
}

bool HasCompressOption(const std::string& options) {
  std::istringstream stream(options);
  std::string option;
  while (std::getline(stream, option, ',')) {
    for (std::string_view name : {"compress", "compress-force"}) {
      if (option == name) return true;
      if (option.size() > name.size() && option.compare(0, name.size(), name) == 0 && option[name.size()] == '=')
        return option.compare(name.size() + 1, std::string::npos, "no") != 0;
    }
  }
  return false;
}

// One line: "id parent major:minor root mountpoint options [optional...] - fstype source superoptions".
bool ParseLine(const std::string& line, MountInfo& mount) {
  std::vector<std::string> fields = SplitFields(line);
  auto separator = std::find(fields.begin() + std::min<size_t>(fields.size(), 6), fields.end(), "-");
  if (fields.size() < 6 || separator == fields.end() || fields.end() - separator < 3) return false;
  unsigned major = 0, minor = 0;
  if (std::sscanf(fields[2].c_str(), "%u:%u", &major, &minor) != 2) return false;
  mount.device = makedev(major, minor);
  mount.mountPoint = Unescape(fields[4]);
  if (mount.mountPoint.empty() || mount.mountPoint[0] != '/') return false;
  mount.fsType = separator[1];
  mount.source = Unescape(separator[2]);
  mount.options = fields[5];
  if (fields.end() - separator > 3 && !separator[3].empty()) mount.options += "," + separator[3];
  mount.isNetwork = MountTable::IsNetworkFileSystem(mount.fsType);
  mount.isPseudo = MountTable::IsPseudoFileSystem(mount.fsType);
  mount.isCompressed = mount.fsType == "btrfs" && HasCompressOption(mount.options);
  return true;
}

// Appends the components of relative to base, resolving "." and ".." by text.
std::string AppendComponents(std::string base, std::string_view relative) {
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    std::string_view component = relative.substr(start, end - start);
    if (component == "..") {
      base.erase(std::max<size_t>(base.find_last_of('/'), 1));  // never above "/"
    } else if (!component.empty() && component != ".") {
      if (base.back() != '/') base += '/';
      base.append(component);
    }
    start = end + 1;
  }
  return base;
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool IsPathPrefix(const std::string& mountPoint, const std::string& path) {
  if (mountPoint == "/") return true;
  return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

std::string ResolvePath(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute[0] != '/') {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    absolute = AppendComponents(cwd ? cwd.get() : "/", path);
  }
  std::string existing = absolute;
  while (true) {
    std::string resolved = RealPath(existing);
    if (!resolved.empty()) return AppendComponents(resolved, std::string_view(absolute).substr(existing.size()));
    size_t slash = existing.find_last_of('/');
    if (slash == 0 || slash == std::string::npos) return AppendComponents("/", absolute);
    existing.erase(slash);
  }
}

MountTable MountTable::Load(const std::string& mountinfoPath) {
  MountTable table;
  std::ifstream in(mountinfoPath);
  std::string line;
  while (std::getline(in, line)) {
    MountInfo mount;
    if (ParseLine(line, mount)) table.m_mounts.push_back(std::move(mount));
  }
  return table;
}

const MountInfo* MountTable::MountOf(const std::string& path) const {
  if (m_mounts.empty()) return nullptr;
  const std::string resolved = ResolvePath(path);
  const MountInfo* best = nullptr;
  // ">=": a later mount on the same point hides the earlier one.
  for (const MountInfo& mount : m_mounts)
    if (IsPathPrefix(mount.mountPoint, resolved) && (!best || mount.mountPoint.size() >= best->mountPoint.size()))
      best = &mount;
  return best;
}

bool MountTable::IsPseudoFileSystem(const std::string& fsType) {
  static constexpr std::array<std::string_view, 17> kPseudo = {
      "proc",      "sysfs",  "devtmpfs", "devpts",  "cgroup",    "cgroup2",     "debugfs", "tracefs", "securityfs",
      "pstore",    "bpf",    "configfs", "fusectl", "mqueue",    "hugetlbfs",   "binfmt_misc", "autofs"};
  return std::find(kPseudo.begin(), kPseudo.end(), fsType) != kPseudo.end();
}

bool MountTable::IsNetworkFileSystem(const std::string& fsType) {
  static constexpr std::array<std::string_view, 5> kNetwork = {"cifs", "smb3", "nfs", "nfs4", "fuse.sshfs"};
  return std::find(kNetwork.begin(), kNetwork.end(), fsType) != kNetwork.end();
}

bool QueryVolume(const std::string& path, VolumeFigures& out) {
  out = VolumeFigures();
  struct statvfs figures {};
  if (::statvfs(path.c_str(), &figures) != 0) return false;
  out.clusterSize = static_cast<std::uint32_t>(figures.f_frsize);
  out.freeBytes = static_cast<std::uint64_t>(figures.f_bavail) * figures.f_frsize;
  return true;
}

}  // namespace platform
