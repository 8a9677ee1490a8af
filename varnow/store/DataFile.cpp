#include "varnow/store/DataFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/atomicfile.h"
#include "platform/bytes.h"
#include "platform/mounts.h"
#include "platform/tracelog.h"

namespace varnow {
namespace {

constexpr std::size_t kHeaderSize = 96;
constexpr std::size_t kSizesBytes = 48;
// What a save encodes of a record at a time, well above the size of most records.
constexpr std::size_t kWritePiece = 64 << 10;
// A record bigger than this can only come from a damaged file.
constexpr std::uint64_t kMaxStreamSize = 256u << 20;
// How long a scan's reads keep the file open at a time, and how long they then let it go: long
// enough for another run that polls for the lock to save (the lock wait polls at least every
// 20 ms).
constexpr auto kHoldReadsFor = std::chrono::seconds(2);
constexpr auto kLetGoFor = std::chrono::milliseconds(25);

using platform::GetLE;
using platform::PutLE;

// What a read takes of a large record's stream at a time, and the most one entry takes.
constexpr std::size_t kReadPiece = 64 << 10;
constexpr std::size_t kMaxEntryBytes = 4 + kMaxEntryName + kSizesBytes;

// A record's bytes after its header, taken a few at a time: from memory, or from a stream read
// a piece at a time into a buffer of its own.
class RecordBytes {
 public:
  RecordBytes(const std::uint8_t* data, std::size_t size) : m_data(data), m_end(size) {}
  RecordBytes(cfb::Stream& stream, std::uint64_t size)
      : m_stream(&stream), m_left(size), m_buffer(kReadPiece + kMaxEntryBytes) {
    m_data = m_buffer.data();
  }
  RecordBytes(const RecordBytes&) = delete;
  RecordBytes& operator=(const RecordBytes&) = delete;

  // The next n (at most kMaxEntryBytes) bytes, valid until the next call; nullptr when fewer
  // are left or they could not be read.
  const std::uint8_t* Take(std::size_t n) {
    if (m_end - m_pos < n && !Refill(n)) return nullptr;
    const std::uint8_t* at = m_data + m_pos;
    m_pos += n;
    return at;
  }
  bool AtEnd() const { return m_pos == m_end && m_left == 0; }

 private:
  bool Refill(std::size_t n) {
    if (m_left == 0) return false;
    std::memmove(m_buffer.data(), m_buffer.data() + m_pos, m_end - m_pos);
    m_end -= m_pos;
    m_pos = 0;
    const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_buffer.size() - m_end, m_left));
    std::uint32_t got = 0;
    const bool read = cfb::Succeeded(m_stream->Read(m_buffer.data() + m_end, want, &got)) && got == want;
    m_left = read ? m_left - got : 0;
    m_end += read ? got : 0;
    return m_end >= n;
  }

  cfb::Stream* m_stream = nullptr;
  std::uint64_t m_left = 0;  // of the stream, not yet read
  std::vector<std::uint8_t> m_buffer;
  const std::uint8_t* m_data = nullptr;
  std::size_t m_pos = 0, m_end = 0;
};

void DecodeHeader(const std::uint8_t* data, CDirData& record) {
  record.m_markerA = static_cast<std::int64_t>(GetLE(data, 8));
  record.m_markerB = static_cast<std::int64_t>(GetLE(data + 8, 8));
  for (int i = 0; i < 6; ++i) record.m_times[i] = static_cast<std::int32_t>(GetLE(data + 16 + 4 * i, 4));
  for (int i = 0; i < 14; ++i) record.m_reserved[i] = static_cast<std::uint32_t>(GetLE(data + 40 + 4 * i, 4));
}

// Hands each entry's name and sizes to use in order; false when the bytes end inside an entry
// or an entry's name length is out of range.
template <class Use>
bool ForEachEntry(RecordBytes& bytes, Use&& use) {
  while (!bytes.AtEnd()) {
    const std::uint8_t* at = bytes.Take(4);
    if (at == nullptr) return false;
    const std::uint64_t length = GetLE(at, 4);
    if (length == 0 || length > kMaxEntryName) return false;
    const std::uint8_t* entry = bytes.Take(length + kSizesBytes);
    if (entry == nullptr) return false;
    use(std::string_view(reinterpret_cast<const char*>(entry), length), entry + length);
  }
  return true;
}

// The entries before the bytes end or turn out damaged.
std::size_t CountEntries(RecordBytes& bytes) {
  std::size_t count = 0;
  ForEachEntry(bytes, [&](std::string_view, const std::uint8_t*) { ++count; });
  return count;
}

// Appends the entries to record, which are count before the bytes end or turn out damaged.
bool DecodeEntries(RecordBytes& bytes, std::size_t count, CDirData& record) {
  // Reserved exactly: a wide directory's record holds tens of thousands of entries, and growing
  // by doubling would leave up to as much again unused for as long as the record lives.
  record.m_entries.reserve(record.m_entries.size() + count);
  return ForEachEntry(bytes, [&](std::string_view name, const std::uint8_t* sizes) {
    CDirInfo entry;
    entry.name.assign(name);
    for (int i = 0; i < 6; ++i) entry.sizes[i] = static_cast<std::int64_t>(GetLE(sizes + 8 * i, 8));
    record.m_entries.push_back(std::move(entry));
  });
}

// Opens the data file, waiting up to lockWait for another process's lock; for writing it is
// created when missing, for reading it is never changed.
cfb::HRESULT OpenDataFile(const std::string& file, bool forWriting, std::chrono::milliseconds lockWait,
                          cfb::Storage& root) {
  cfb::OpenOptions options;
  options.readOnly = !forWriting;
  options.create = forWriting;
  options.lockWait = lockWait;
  return cfb::StgOpenStorage(file, options, root);
}

// The statuses of a file that is not (or no longer) a readable compound file.
bool IsDamage(cfb::HRESULT hr) {
  return hr == cfb::STG_E_INVALIDHEADER || hr == cfb::STG_E_DOCFILECORRUPT || hr == cfb::STG_E_FILEALREADYEXISTS;
}

// "512 bytes", "12.3 KB", "4.0 MB", "1.5 GB".
std::string ByteCount(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

// Says that the disk holding the file is full: which disk, what the save needed (when known)
// and what is free.
std::string DiskFullNotice(const std::string& file, std::uint64_t needed) {
  const platform::MountTable mounts = platform::MountTable::Load();
  const platform::MountInfo* mount = mounts.MountOf(file);
  std::string disk = mount ? mount->mountPoint : file.substr(0, file.rfind('/') + 1);
  if (mount && !mount->source.empty() && mount->source != mount->mountPoint) disk += " (" + mount->source + ")";
  std::string text = "The disk " + disk + " is full: the scan data can not be saved in " + file + ".";
  platform::VolumeFigures volume;
  const bool known = platform::QueryVolume(file.substr(0, file.rfind('/') + 1), volume);
  if (needed > 0) {
    text += "  Saving needed " + ByteCount(needed) + " of free space";
    text += known ? ", and " + ByteCount(volume.freeBytes) + " is free." : ".";
  }
  return text + "  The rest of this scan is not saved; free some space on the disk and scan again.";
}

std::string UnreadableNotice(const std::string& file, cfb::HRESULT hr) {
  return "The data file " + file + " can not be read (" + cfb::StatusName(hr) + "): the scans saved in it are left out" +
         (IsDamage(hr) ? "; the next save replaces it." : ".");
}

// The exclusive lock that every opener of the file takes, polled until wait has passed.
bool LockWithin(int fd, std::chrono::milliseconds wait) {
  const auto until = std::chrono::steady_clock::now() + wait;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= until) return false;
    ::usleep(50 * 1000);
  }
  return true;
}

// Copies every storage and stream of from that can still be read into to; returns how many
// records (record streams) were copied.
int CopyReadable(cfb::Storage& from, cfb::Storage& to) {
  std::vector<cfb::ElementInfo> elements;
  if (cfb::Failed(from.EnumElements(elements))) return 0;
  int copied = 0;
  for (const cfb::ElementInfo& element : elements) {
    if (element.type == cfb::ElementType::Storage) {
      cfb::Storage source;
      cfb::Storage target;
      if (cfb::Succeeded(from.OpenStorage(element.name, source)) &&
          cfb::Succeeded(to.CreateStorage(element.name, target)))
        copied += CopyReadable(source, target);
      continue;
    }
    cfb::Stream source;
    cfb::Stream target;
    std::uint64_t size = 0;
    std::uint32_t got = 0;
    if (cfb::Failed(from.OpenStream(element.name, source)) || cfb::Failed(source.Size(&size)) || size > kMaxStreamSize)
      continue;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if ((size > 0 && (cfb::Failed(source.Read(bytes.data(), static_cast<std::uint32_t>(size), &got)) || got != size)) ||
        cfb::Failed(to.CreateStream(element.name, target)) ||
        cfb::Failed(target.Write(bytes.data(), static_cast<std::uint32_t>(size))))
      continue;
    if (element.name == kRecordStreamName) ++copied;
  }
  return copied;
}

// Reads a record bigger than a piece without holding its bytes: once to count its entries (so
// that they are reserved exactly), then again to take them in.
bool ReadRecordInPieces(cfb::Stream& stream, std::uint64_t size, CDirData& record) {
  std::uint8_t header[kHeaderSize];
  std::uint32_t got = 0;
  if (cfb::Failed(stream.Read(header, kHeaderSize, &got)) || got != kHeaderSize) return false;
  DecodeHeader(header, record);
  std::size_t count = 0;
  {
    RecordBytes counting(stream, size - kHeaderSize);
    count = CountEntries(counting);
  }
  if (cfb::Failed(stream.Seek(kHeaderSize, cfb::SeekOrigin::Begin))) return false;
  RecordBytes entries(stream, size - kHeaderSize);
  return DecodeEntries(entries, count, record);
}

// Reads the record stream into record (which holds its path); a damaged tail is traced and
// what was read before it is kept.
void ReadRecord(cfb::Stream& stream, CDirData& record) {
  std::uint64_t size = 0;
  bool whole = cfb::Succeeded(stream.Size(&size)) && size <= kMaxStreamSize;
  if (whole && size > kReadPiece) {
    whole = ReadRecordInPieces(stream, size, record);
  } else if (whole) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::uint32_t got = 0;
    whole = bytes.empty() || (cfb::Succeeded(stream.Read(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &got)) &&
                              got == bytes.size());
    whole = whole && DecodeRecord(bytes.data(), bytes.size(), record);
  }
  if (!whole) {
    VN_TRACE("Damaged record of %s: kept the %zu entries read before the damage\n",
             record.m_currentScanDir.c_str(), record.m_entries.size());
  }
}

// Deeper than any path the system accepts: only a damaged file nests storages further.
constexpr int kMaxWalkDepth = 2048;

// Visits the saved records of the subdirectories that the newest scan of record found, each
// followed by those below it. storage is record's own storage.
void WalkBelow(cfb::Storage& storage, const CDirData& record, const IScanStore::TreeVisitor& visit, int depth) {
  if (depth >= kMaxWalkDepth) return;
  for (const CDirInfo& entry : record.m_entries) {
    if (entry.sizes[0] == kNoSize || IsSpecialEntryName(entry.name) || entry.name == "." || entry.name == ".." ||
        entry.name.find('/') != std::string::npos)
      continue;
    cfb::Storage child;
    cfb::Stream stream;
    if (cfb::Failed(storage.OpenStorage(StorageName(storage, entry.name), child)) ||
        cfb::Failed(child.OpenStream(kRecordStreamName, stream)))
      continue;  // never saved on its own
    CDirData below;
    below.m_currentScanDir = record.m_currentScanDir + entry.name + "/";
    ReadRecord(stream, below);
    stream.Release();
    visit(below);
    WalkBelow(child, below, visit, depth + 1);
  }
}

}  // namespace

namespace {

std::size_t EncodedSize(const CDirData& record) {
  std::size_t size = kHeaderSize;
  for (const CDirInfo& entry : record.m_entries) size += 4 + entry.name.size() + kSizesBytes;
  return size;
}

void AppendHeader(std::vector<std::uint8_t>& out, const CDirData& record) {
  PutLE(out, static_cast<std::uint64_t>(record.m_markerA), 8);
  PutLE(out, static_cast<std::uint64_t>(record.m_markerB), 8);
  for (std::int32_t time : record.m_times) PutLE(out, static_cast<std::uint32_t>(time), 4);
  for (std::uint32_t word : record.m_reserved) PutLE(out, word, 4);
}

void AppendEntry(std::vector<std::uint8_t>& out, const CDirInfo& entry) {
  PutLE(out, entry.name.size(), 4);
  out.insert(out.end(), entry.name.begin(), entry.name.end());
  for (std::int64_t value : entry.sizes) PutLE(out, static_cast<std::uint64_t>(value), 8);
}

}  // namespace

std::vector<std::uint8_t> EncodeRecord(const CDirData& record) {
  std::vector<std::uint8_t> out;
  out.reserve(EncodedSize(record));
  AppendHeader(out, record);
  for (const CDirInfo& entry : record.m_entries) AppendEntry(out, entry);
  return out;
}

bool EncodeRecordInPieces(const CDirData& record, std::size_t pieceSize,
                          const std::function<bool(std::span<const std::uint8_t>)>& put) {
  std::vector<std::uint8_t> piece;
  piece.reserve(std::min(EncodedSize(record), pieceSize + 4 + kMaxEntryName + kSizesBytes));
  AppendHeader(piece, record);
  for (const CDirInfo& entry : record.m_entries) {
    AppendEntry(piece, entry);
    if (piece.size() < pieceSize) continue;
    if (!put(piece)) return false;
    piece.clear();
  }
  return piece.empty() || put(piece);
}

bool DecodeRecord(const std::uint8_t* data, std::size_t size, CDirData& record) {
  if (size == 0) return true;
  if (size < kHeaderSize) return false;
  DecodeHeader(data, record);
  RecordBytes counting(data + kHeaderSize, size - kHeaderSize);
  const std::size_t count = CountEntries(counting);
  RecordBytes entries(data + kHeaderSize, size - kHeaderSize);
  return DecodeEntries(entries, count, record);
}

CDataFile::CDataFile(std::string folder, std::chrono::milliseconds lockWait)
    : m_folder(std::move(folder)), m_lockWait(lockWait) {}

void CDataFile::SetFolder(const std::string& folder) {
  StopReading();
  m_pathStamp.reset();
  m_folder = folder;
}

std::string CDataFile::TakeNotice() { return std::exchange(m_notice, std::string()); }

cfb::HRESULT CDataFile::ReplaceDamagedFile(const std::string& file, cfb::Storage& root) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return cfb::STG_E_ACCESSDENIED;
  // Nobody reads or writes the file while it is replaced: openers wait, then find the new one.
  if (!LockWithin(fd, m_lockWait)) {
    ::close(fd);
    return cfb::STG_E_LOCKVIOLATION;
  }
  struct stat held {};
  struct stat named {};
  if (::fstat(fd, &held) != 0 || ::stat(file.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
      held.st_dev != named.st_dev) {
    ::close(fd);  // another run replaced it meanwhile
    return OpenDataFile(file, true, m_lockWait, root);
  }
  const std::optional<std::string> kept = platform::KeepDamagedCopy(file);
  if (!kept || ::unlink(file.c_str()) != 0) {
    ::close(fd);
    return cfb::STG_E_ACCESSDENIED;
  }
  cfb::HRESULT hr = OpenDataFile(file, true, m_lockWait, root);
  ::close(fd);
  if (cfb::Failed(hr)) return hr;
  int copied = 0;
  cfb::Storage damaged;
  cfb::OpenOptions readOnly;
  readOnly.readOnly = true;
  if (cfb::Succeeded(cfb::StgOpenStorage(*kept, readOnly, damaged))) copied = CopyReadable(damaged, root);
  damaged.Release();
  hr = root.Commit();
  m_notice = "The data file " + file + " was damaged. It has been kept as " + *kept + "; the " +
             std::to_string(copied) + " directory records that could still be read were copied into a new data file.";
  return hr;
}

std::string CDataFile::FilePath() const {
  std::string directory = m_folder;
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory + std::string(kDataFileName);
}

void CDataFile::BeginReads() { m_holdReads = true; }

void CDataFile::EndReads() {
  m_holdReads = false;
  StopReading();
}

void CDataFile::StopReading() {
  if (m_readingSince) m_path.Detach();  // the root goes with it
  m_readingSince.reset();
}

// Called with the file open and locked through a root: nobody changes it meanwhile.
std::optional<cfb::cache::Stamp> CDataFile::StampNow() const {
  const int fd = ::open(FilePath().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  cfb::cache::Stamp stamp;
  const bool read = cfb::cache::StampOf(fd, stamp);
  ::close(fd);  // another descriptor than the locked one: the lock stays
  return read ? std::optional(stamp) : std::nullopt;
}

void CDataFile::AttachPath(cfb::Storage root) {
  std::optional<cfb::cache::Stamp> now = StampNow();
  m_path.Attach(std::move(root), now && m_pathStamp && *now == *m_pathStamp);
  m_pathStamp = now;
}

void CDataFile::NoteWritten(bool committed) { m_pathStamp = committed ? StampNow() : std::nullopt; }

IScanStore::LoadResult CDataFile::OpenForReading() {
  if (m_readingSince) {
    if (std::chrono::steady_clock::now() - *m_readingSince < kHoldReadsFor) return LoadResult::Loaded;
    StopReading();  // another run may be waiting to save
    std::this_thread::sleep_for(kLetGoFor);
  }
  const std::string file = FilePath();
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return LoadResult::NoStorage;  // nothing was ever saved

  cfb::Storage root;
  cfb::HRESULT hr = OpenDataFile(file, false, m_lockWait, root);
  if (cfb::Failed(hr)) {
    VN_TRACE("LoadData cannot read %s (Error=0x%X)\n", file.c_str(), static_cast<unsigned>(hr));
    m_notice = UnreadableNotice(file, hr);
    return LoadResult::Failed;
  }
  AttachPath(std::move(root));
  m_readingSince = std::chrono::steady_clock::now();
  return LoadResult::Loaded;
}

IScanStore::LoadResult CDataFile::ReadThrough(const std::string& path, const RecordUse& use) {
  const LoadResult opened = OpenForReading();
  if (opened != LoadResult::Loaded) return opened;
  struct LetGo {  // outside a scan's reads the file is not kept open
    CDataFile& file;
    ~LetGo() {
      if (!file.m_holdReads) file.StopReading();
    }
  } letGo{*this};
  cfb::Storage* home = nullptr;
  cfb::Stream stream;
  cfb::HRESULT hr = m_path.Go(path, false, home);
  if (cfb::Succeeded(hr)) hr = home->OpenStream(kRecordStreamName, stream);
  if (hr == cfb::STG_E_PATHNOTFOUND) return LoadResult::NoStorage;
  if (hr == cfb::STG_E_FILENOTFOUND) return LoadResult::NoRecord;
  if (cfb::Failed(hr)) {
    VN_TRACE("LoadData cannot open the record of %s (Error=0x%X)\n", path.c_str(), static_cast<unsigned>(hr));
    // A reader checks only the part of the file it reads, so damage may show only here.
    if (IsDamage(hr)) m_notice = UnreadableNotice(FilePath(), hr);
    return LoadResult::Failed;
  }
  use(*home, stream);
  return LoadResult::Loaded;
}

IScanStore::LoadResult CDataFile::Read(CDirData& record) {
  return ReadThrough(record.m_currentScanDir, [&](cfb::Storage&, cfb::Stream& stream) { ReadRecord(stream, record); });
}

IScanStore::LoadResult CDataFile::Probe(const std::string& path) {
  return ReadThrough(path, [](cfb::Storage&, cfb::Stream&) {});
}

IScanStore::LoadResult CDataFile::ReadTree(const std::string& top, const TreeVisitor& visit) {
  return ReadThrough(top, [&](cfb::Storage& home, cfb::Stream& stream) {
    CDirData record;
    record.m_currentScanDir = top;
    ReadRecord(stream, record);
    stream.Release();
    visit(record);
    WalkBelow(home, record, visit, 0);
  });
}

const CDirData* CDataFile::OverWhatIsSaved(const CDirData& record, cfb::Stream& stream, CDirData& merged) {
  std::uint64_t size = 0;
  std::uint8_t header[kHeaderSize];
  std::uint32_t got = 0;
  if (cfb::Failed(stream.Size(&size)) || size < kHeaderSize || size > kMaxStreamSize ||
      cfb::Failed(stream.Read(header, kHeaderSize, &got)) || got != kHeaderSize)
    return &record;  // nothing saved that could be kept
  CDirData saved;
  DecodeRecord(header, kHeaderSize, saved);
  if (saved.m_times == record.m_savedTimes) return &record;  // nothing saved meanwhile
  // Written before by this object: its scans are in the file already. It replaces what it
  // wrote itself (changes other than scans are kept), never what holds other runs' scans.
  if (const std::optional<bool> own = m_written.StoredOwnScans(record.m_currentScanDir, record.m_times, record.m_savedTimes)) {
    const bool ownAsItWas = *own && saved.m_times == record.m_times;
    return ownAsItWas ? &record : nullptr;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (cfb::Failed(stream.Seek(0, cfb::SeekOrigin::Begin)) ||
      cfb::Failed(stream.Read(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &got)))
    return &record;
  saved.m_entries.clear();
  DecodeRecord(bytes.data(), got, saved);  // a damaged tail: what was read before it counts
  merged = record;
  MergeWithSaved(merged, saved, record.m_newScans);
  VN_TRACE("%s was saved by another run meanwhile: both scans are kept\n", record.m_currentScanDir.c_str());
  return &merged;
}

void CDataFile::Write(std::span<const CDirData> records, const FailureHandler& onFailure) {
  if (records.empty()) return;
  StopReading();  // a reader's lock would shut out this writer
  const std::string file = FilePath();
  cfb::Storage root;
  cfb::HRESULT hr = OpenDataFile(file, true, m_lockWait, root);
  bool replaced = false;
  if (IsDamage(hr)) {
    hr = ReplaceDamagedFile(file, root);
    replaced = true;
  }
  if (cfb::Failed(hr)) {
    if (hr == cfb::STG_E_MEDIUMFULL) m_notice = DiskFullNotice(file, 0);
    for (const CDirData& record : records) onFailure(record, hr);
    return;
  }
  std::vector<std::pair<const CDirData*, cfb::HRESULT>> failed;
  WriteBatch(root, records, failed);
  // Damage found inside the file: replaced once, and what failed is written into the new file.
  const bool damaged = std::any_of(failed.begin(), failed.end(), [](const auto& f) { return IsDamage(f.second); });
  if (damaged && !replaced) {
    root.Release();
    std::vector<CDirData> again;
    for (const auto& [record, status] : failed) again.push_back(*record);
    failed.clear();
    hr = ReplaceDamagedFile(file, root);
    if (cfb::Failed(hr)) {
      for (const CDirData& record : again) onFailure(record, hr);
      return;
    }
    std::vector<std::pair<const CDirData*, cfb::HRESULT>> failedAgain;
    WriteBatch(root, again, failedAgain);
    for (const auto& [record, status] : failedAgain) onFailure(*record, status);
    return;
  }
  for (const auto& [record, status] : failed) onFailure(*record, status);
}

void CDataFile::WriteBatch(cfb::Storage& root, std::span<const CDirData> records,
                           std::vector<std::pair<const CDirData*, cfb::HRESULT>>& failed) {
  cfb::HRESULT hr = cfb::S_OK;
  // Records of one batch are mostly neighbours: each storage is opened and listed about once.
  AttachPath(std::move(root));
  std::vector<std::pair<const CDirData*, std::array<std::int32_t, 6>>> written;  // with the times written
  for (const CDirData& record : records) {
    cfb::Storage* home = nullptr;
    hr = m_path.Go(record.m_currentScanDir, true, home);
    cfb::Stream stream;
    CDirData merged;
    const CDirData* content = &record;
    if (home) {
      hr = home->OpenStream(kRecordStreamName, stream);
      if (cfb::Succeeded(hr)) content = OverWhatIsSaved(record, stream, merged);
      if (hr == cfb::STG_E_FILENOTFOUND) hr = home->CreateStream(kRecordStreamName, stream);
    }
    if (home && cfb::Succeeded(hr) && !content) continue;  // saved whole already
    if (home && cfb::Succeeded(hr)) {
      // A large record goes into sectors of its own, which are written as it is encoded
      // instead of being held until the commit; the ones it had are freed by the commit.
      if (EncodedSize(*content) > kWritePiece) hr = stream.SetSize(0);
      if (cfb::Succeeded(hr)) hr = stream.Seek(0, cfb::SeekOrigin::Begin);
      std::uint64_t size = 0;
      // In pieces: a wide directory's record is megabytes, which the stream holds once already.
      if (cfb::Succeeded(hr))
        EncodeRecordInPieces(*content, kWritePiece, [&](std::span<const std::uint8_t> piece) {
          hr = stream.Write(piece.data(), static_cast<std::uint32_t>(piece.size()));
          size += piece.size();
          return cfb::Succeeded(hr);
        });
      if (cfb::Succeeded(hr)) hr = stream.SetSize(size);
    }
    if (cfb::Failed(hr)) {
      failed.emplace_back(&record, hr);
      continue;
    }
    written.emplace_back(&record, content->m_times);
  }
  root = m_path.Detach();
  std::uint64_t needed = 0;
  hr = root.Commit(&needed);
  NoteWritten(cfb::Succeeded(hr));
  if (hr == cfb::STG_E_MEDIUMFULL) m_notice = DiskFullNotice(FilePath(), needed);
  if (cfb::Failed(hr)) {
    for (const auto& [record, stored] : written) failed.emplace_back(record, hr);
    return;
  }
  for (const auto& [record, stored] : written)
    m_written.Note(record->m_currentScanDir, record->m_times, record->m_savedTimes, stored);
}

}  // namespace varnow
