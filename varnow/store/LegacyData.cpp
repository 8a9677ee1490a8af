#include "varnow/store/LegacyData.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <vector>

#include "platform/asciicase.h"
#include "platform/guarded.h"
#include "platform/profile.h"
#include "platform/tracelog.h"
#include "varnow/scan/DirData.h"
#include "varnow/scan/Scaninfo.h"
#include "varnow/store/DataFile.h"

namespace varnow {
namespace {

constexpr char kIndexName[] = "VNOWDATA.FAT";
constexpr char kSourcePath[] = "SourcePath";
constexpr char kDataFile[] = "DataFile";
constexpr char kNone[] = "{none}";
// Old files are records of one directory; anything larger is not one of them.
constexpr std::size_t kMaxOldFileSize = 256u << 20;

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

bool HasDatExtension(const std::string& name) {
  static constexpr std::string_view kExtension = ".DAT";
  return name.size() > kExtension.size() && platform::EndsWithIgnoringCase(name, kExtension);
}

// Up to `limit` bytes of a regular file; false when it cannot be opened.
bool ReadOldFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.resize(limit);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return true;
}

// An old data file starts with the record header's two markers, 1 and 1. Only such files are
// swept up: other ".DAT" files in the data directory (the scheduler's task store in a portable
// install, say) are not ours to delete.
bool IsOldDataFile(const std::string& path) {
  std::vector<std::uint8_t> head;
  if (!ReadOldFile(path, 16, head) || head.size() < 16) return false;
  static constexpr std::uint8_t kMarkers[16] = {1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
  return std::equal(head.begin(), head.end(), kMarkers);
}

bool RemoveFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::remove(path, error);
}

// Writes the record into the data file at once and reads it back: only a record that arrived
// unchanged lets its old file go.
bool SaveConfirmed(CScanInfo& session, const CDirData& record) {
  session.SaveOutData(&record);
  CDirData stored;
  stored.m_currentScanDir = record.m_currentScanDir;
  session.LoadData(stored);
  return stored.m_markerA == record.m_markerA && stored.m_markerB == record.m_markerB &&
         stored.m_times == record.m_times && stored.m_reserved == record.m_reserved &&
         stored.m_entries == record.m_entries;
}

}  // namespace

std::string LegacyIndexPath(const std::string& dataDirectory) {
  return WithSlash(dataDirectory) + kIndexName;
}

bool LegacyDataExists(const std::string& dataDirectory) {
  std::error_code error;
  return !dataDirectory.empty() && std::filesystem::exists(LegacyIndexPath(dataDirectory), error);
}

std::string GetDatFileName(const std::string& dataDirectory, const std::string& directory) {
  return platform::Guarded("GetDatFileName", [&]() -> std::string {
    const std::string index = LegacyIndexPath(dataDirectory);
    std::string listed = platform::GetPrivateProfileString(kSourcePath, directory, kNone, index);
    if (listed != kNone) return listed;

    const std::size_t slash = dataDirectory.rfind('/');
    if (slash == std::string::npos) {
      VN_TRACE("Data directory not set");
      return {};
    }
    const std::string folder = dataDirectory.substr(0, slash + 1);
    std::error_code error;
    std::string name;
    do {
      name = folder;
      for (int i = 0; i < 8; ++i)
        name += static_cast<char>('A' + QRandomGenerator::global()->bounded(26));
      name += ".DAT";
    } while (std::filesystem::exists(name, error) ||
             platform::GetPrivateProfileString(kDataFile, name, kNone, index) != kNone);
    platform::WritePrivateProfileString(kSourcePath, directory, name, index);
    platform::WritePrivateProfileString(kDataFile, name, directory, index);
    return name;
  });
}

bool LoadOldData(const std::string& dataDirectory, CDirData& record) {
  return platform::Guarded("LoadOldData", [&] {
    const std::string path = record.m_currentScanDir;
    record.Reset();
    record.m_currentScanDir = path;
    const std::string file = GetDatFileName(dataDirectory, path);
    std::vector<std::uint8_t> bytes;
    if (file.empty() || !ReadOldFile(file, kMaxOldFileSize, bytes)) return false;
    // A damaged file gives the entries before the damage, as reading the stream would.
    if (!DecodeRecord(bytes.data(), bytes.size(), record))
      VN_TRACE("Damaged old data file %s: kept %zu entries", file.c_str(), record.m_entries.size());
    return true;
  }, false);
}

CLegacyConversion ConvertLegacyData(CScanInfo& session, const std::string& dataDirectory,
                                    bool convert, bool cleanup) {
  CLegacyConversion result;
  platform::Guarded("ConvertLegacyData", [&] {
    const std::string index = LegacyIndexPath(dataDirectory);
    std::set<std::string> keptFiles;
    for (const std::string& directory : platform::GetPrivateProfileKeys(kSourcePath, index)) {
      const std::string file = platform::GetPrivateProfileString(kSourcePath, directory, "", index);
      if (convert) {
        CDirData record;
        record.m_currentScanDir = directory;  // the index's own key, so the lookup finds it
        if (!LoadOldData(dataDirectory, record)) {
          ++result.missing;
        } else {
          record.m_currentScanDir = WithSlash(directory);
          if (SaveConfirmed(session, record)) {
            ++result.converted;
          } else {
            VN_TRACE("Old data of %s not converted: kept %s", directory.c_str(), file.c_str());
            ++result.failed;
            keptFiles.insert(file);
            continue;
          }
        }
      }
      if (cleanup) {
        platform::WritePrivateProfileString(kSourcePath, directory, std::nullopt, index);
        if (HasDatExtension(file) && RemoveFile(file)) ++result.deleted;
      }
    }
    if (cleanup) {
      std::error_code error;
      for (const auto& entry : std::filesystem::directory_iterator(WithSlash(dataDirectory), error)) {
        const std::string path = entry.path().string();
        if (!HasDatExtension(entry.path().filename().string()) || keptFiles.count(path)) continue;
        if (IsOldDataFile(path) && RemoveFile(path)) ++result.deleted;
      }
      // The index stays while it lists a record that still waits for its conversion.
      if (keptFiles.empty()) RemoveFile(index);
    }
  });
  return result;
}

}  // namespace varnow
