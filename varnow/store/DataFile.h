// The scan data file VNDATA.DB: one compound file whose storage tree mirrors the directory
// tree; the storage of each saved directory holds the stream "KOB[VNData]" with its record.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compoundfile/compoundfile.h"
#include "compoundfile/modelcache.h"
#include "varnow/scan/ScanStore.h"
#include "varnow/store/StoragePath.h"
#include "varnow/store/WrittenRecords.h"

namespace varnow {

inline constexpr std::string_view kDataFileName = "VNDATA.DB";

// The stream bytes of a record (header and entries; path and total are not stored).
std::vector<std::uint8_t> EncodeRecord(const CDirData& record);
// The same bytes handed to put in order, in pieces of pieceSize bytes or a little more (entries
// are not split), the last one shorter; stops, giving false, when put gives false.
bool EncodeRecordInPieces(const CDirData& record, std::size_t pieceSize,
                          const std::function<bool(std::span<const std::uint8_t>)>& put);
// Reads header and entries into record; false when the bytes end inside the header or an
// entry, or an entry's name length is out of range (what was read before is kept).
bool DecodeRecord(const std::uint8_t* data, std::size_t size, CDirData& record);

class CDataFile : public IScanStore {
 public:
  // The file lives in folder (which ends in "/"), until SetFolder names another.
  explicit CDataFile(std::string folder, std::chrono::milliseconds lockWait = std::chrono::seconds(30));

  LoadResult Read(CDirData& record) override;
  LoadResult Probe(const std::string& path) override;
  // One open of the file for the whole walk; each storage is listed once.
  LoadResult ReadTree(const std::string& top, const TreeVisitor& visit) override;
  void Write(std::span<const CDirData> records, const FailureHandler& onFailure) override;
  void BeginReads() override;
  void EndReads() override;
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
  // Writes the records into the open file; the failures go to failed.
  void WriteBatch(cfb::Storage& root, std::span<const CDirData> records,
                  std::vector<std::pair<const CDirData*, cfb::HRESULT>>& failed);

  // Opens the file for reading unless it is open for a scan's reads already and has not been
  // held too long: Loaded when it is open, otherwise what Read gives for it.
  LoadResult OpenForReading();
  void StopReading();
  // Opens the file for reading and the record stream of path, and hands both the record's
  // storage and the stream to use; the result is the record's, as Read gives it.
  using RecordUse = std::function<void(cfb::Storage& home, cfb::Stream& stream)>;
  LoadResult ReadThrough(const std::string& path, const RecordUse& use);
  // Puts m_path on the root of a newly opened document, keeping what it knows of the names when
  // the file is as m_path last saw it; and notes how the file is after a write (committed: as
  // m_path knows it; otherwise unknown). Both with the file open and locked.
  void AttachPath(cfb::Storage root);
  void NoteWritten(bool committed);
  std::optional<cfb::cache::Stamp> StampNow() const;

  std::string m_folder;
  std::chrono::milliseconds m_lockWait;
  bool m_holdReads = false;
  // The storages of the path read or written last, with the children's names it has learnt; and
  // the stamp of the file when they held (none: unknown).
  CStoragePath m_path;
  std::optional<cfb::cache::Stamp> m_pathStamp;
  // When the file was opened for reading, while it is.
  std::optional<std::chrono::steady_clock::time_point> m_readingSince;
  std::string m_notice;
  // The records this object wrote: written again, a record adds no scan a second time. Used by
  // Write only, which its callers serialise.
  CWrittenRecords m_written;
};

}  // namespace varnow
