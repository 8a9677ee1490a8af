#include "setup/InstallRecord.h"

#include "platform/atomicfile.h"

#include <algorithm>
#include <filesystem>

namespace setup {
namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] = "# setup install record 1";
constexpr std::size_t kMaxRecordBytes = 64u << 20;

// The canonical form of a path whose tail may not exist yet; empty when it cannot be had.
fs::path Resolved(const std::string& path) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(fs::path(path), error);
  return error ? fs::path() : resolved.lexically_normal();
}

bool StrictlyBelow(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // the empty last part of a folder written with a trailing "/"
    if (p == path.end() || *p != *f) return false;
  }
  for (; p != path.end(); ++p)
    if (!p->empty()) return true;
  return false;
}

}  // namespace

bool CInstallRecord::Lists(const std::string& path) const {
  return std::find(files.begin(), files.end(), path) != files.end();
}

void CInstallRecord::Add(const std::string& path) {
  if (!Lists(path)) files.push_back(path);
}

std::optional<CInstallRecord> ReadInstallRecord(const std::string& appDir) {
  const std::optional<std::string> text = platform::ReadWholeFile(appDir + "/" + kRecordName, kMaxRecordBytes);
  if (!text || text->rfind(std::string(kHeader) + "\n", 0) != 0) return std::nullopt;
  CInstallRecord record;
  std::size_t start = 0;
  while (start < text->size()) {
    std::size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    const std::string line = text->substr(start, end - start);
    start = end + 1;
    if (line.rfind("group ", 0) == 0) record.group = line.substr(6);
    if (line.rfind("file /", 0) == 0) record.Add(line.substr(5));
  }
  return record;
}

bool WriteInstallRecord(const std::string& appDir, const CInstallRecord& record) {
  std::string text = std::string(kHeader) + "\n";
  if (!record.group.empty()) text += "group " + record.group + "\n";
  for (const std::string& file : record.files) text += "file " + file + "\n";
  return platform::WriteFileAtomically(appDir + "/" + kRecordName, text, 0644);
}

bool LiesInside(const std::string& path, const std::vector<std::string>& folders) {
  return CFolderCheck(folders).Contains(path);
}

CFolderCheck::CFolderCheck(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders)
    m_folders.push_back(folder.empty() || folder[0] != '/' ? std::string() : Resolved(folder).string());
}

bool CFolderCheck::Contains(const std::string& path) const {
  if (path.empty() || path[0] != '/') return false;
  const fs::path resolved = Resolved(path);
  if (resolved.empty()) return false;
  return std::any_of(m_folders.begin(), m_folders.end(), [&](const std::string& folder) {
    return !folder.empty() && StrictlyBelow(resolved, fs::path(folder));
  });
}

}  // namespace setup
