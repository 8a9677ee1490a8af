// The scan data file VNDATA.DB: one compound file whose storage tree mirrors the directory
// tree; the storage of each saved directory holds the stream "KOB[VNData]" with its record.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "compoundfile/compoundfile.h"
#include "varnow/scan/ScanStore.h"

namespace varnow {

inline constexpr std::string_view kDataFileName = "VNDATA.DB";
inline constexpr std::u16string_view kRecordStreamName = u"KOB[VNData]";

// Storage name of one path component (plain, or hashed when it cannot be used as it is).
// siblingNames: the storage names already held by the parent storage; siblingStreams: its
// stream names. A name the file format counts as equal to a stream's, the record stream's
// included, would shut out that stream, so it is hashed.
std::u16string StorageName(std::string_view component, const std::vector<std::u16string>& siblingNames,
                           const std::vector<std::u16string>& siblingStreams = {});

// Opens the stream of path's record, walking one storage per path component from root. Every
// storage opened is appended to storages. STG_E_PATHNOTFOUND when a storage on the way is
// missing, STG_E_FILENOTFOUND when only the stream is; otherwise the store's status.
cfb::HRESULT OpenDirStream(cfb::Storage& root, const std::string& path,
                           std::vector<cfb::Storage>& storages, cfb::Stream& stream);

// The stream bytes of a record (header and entries; path and total are not stored).
std::vector<std::uint8_t> EncodeRecord(const CDirData& record);
// Reads header and entries into record; false when the bytes end inside the header or an
// entry, or an entry's name length is out of range (what was read before is kept).
bool DecodeRecord(const std::uint8_t* data, std::size_t size, CDirData& record);

class CDataFile : public IScanStore {
 public:
  // The file lives in folder (which ends in "/"), until SetFolder names another.
  explicit CDataFile(std::string folder, std::chrono::milliseconds lockWait = std::chrono::seconds(30));

  LoadResult Read(CDirData& record) override;
  // One open of the file for the whole walk; each storage is listed once.
  LoadResult ReadTree(const std::string& top, const TreeVisitor& visit) override;
  void Write(const std::vector<CDirData>& records, const FailureHandler& onFailure) override;
  void SetFolder(const std::string& folder) override;
  std::string TakeNotice() override;

  std::string FilePath() const;

 private:
  // The record as it must be written over the stream's current content: laid over what is
  // saved there when another process saved a scan of it since this one was loaded; nullptr
  // when what is saved already holds everything the record adds.
  const CDirData* OverWhatIsSaved(const CDirData& record, cfb::Stream& stream, CDirData& merged);

  // A file that cannot be read as a compound file is kept beside itself as
  // VNDATA.DB.damaged-<time>, and a new file takes its place with every record that could still
  // be read; root is the new file, open for writing.
  cfb::HRESULT ReplaceDamagedFile(const std::string& file, cfb::Storage& root);
  // Opens the file for reading; Failed (with the user told why) when it cannot be read.
  LoadResult OpenForReading(cfb::Storage& root, bool& nothingSaved);
  // Writes the records into the open file; the failures go to failed.
  void WriteBatch(cfb::Storage& root, const std::vector<CDirData>& records,
                  std::vector<std::pair<const CDirData*, cfb::HRESULT>>& failed);

  std::string m_folder;
  std::chrono::milliseconds m_lockWait;
  std::string m_notice;
  // The records this object wrote, by the hash of their path: their own scan times, those
  // they were built on, and those of what was written (with other runs' scans, if any).
  // Written again, a record adds no scan a second time. Used by Write only, which its callers
  // serialise.
  struct Written {
    std::array<std::int32_t, 6> times;
    std::array<std::int32_t, 6> savedTimes;
    std::array<std::int32_t, 6> storedTimes;
  };
  std::unordered_map<std::size_t, Written> m_written;
};

}  // namespace varnow
