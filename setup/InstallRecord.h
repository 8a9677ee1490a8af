// What an install wrote: the files it put in place, kept beside them as SETUP.LST in the
// application directory. A later install tells them from files of the user's that happen to
// have an installed name, and the uninstall removes them and nothing else. The record also keeps
// the menu group the install made, since a second install elsewhere makes a group of its own.
//
// The file is text: a first line that marks it, then "group <name>" and one "file <path>" line
// per installed file, full paths.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace setup {

inline constexpr char kRecordName[] = "SETUP.LST";

struct CInstallRecord {
  std::string group;
  std::vector<std::string> files;

  bool Lists(const std::string& path) const;
  void Add(const std::string& path);  // once
};

// nullopt when the folder holds no record (or not one of ours).
std::optional<CInstallRecord> ReadInstallRecord(const std::string& appDir);
bool WriteInstallRecord(const std::string& appDir, const CInstallRecord& record);

// Whether path lies inside one of the folders (strictly: not the folder itself), after "." and
// ".." are taken apart and every symbolic link on its way is followed, the path's own last part
// included. Parts that do not exist yet are taken as written. A relative path lies nowhere.
bool LiesInside(const std::string& path, const std::vector<std::string>& folders);

// The same for many paths: the folders are resolved once.
class CFolderCheck {
 public:
  explicit CFolderCheck(const std::vector<std::string>& folders);
  bool Contains(const std::string& path) const;

 private:
  std::vector<std::string> m_folders;  // resolved; empty for one that cannot be
};

}  // namespace setup
