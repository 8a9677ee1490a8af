#include "varnow/store/DataFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "platform/atomicfile.h"
#include "platform/tracelog.h"

namespace varnow {
namespace {

constexpr std::size_t kHeaderSize = 96;
constexpr std::size_t kSizesBytes = 48;
constexpr std::size_t kMaxStorageName = 31;
constexpr std::size_t kHashedPrefix = 22;
// A record bigger than this can only come from a damaged file.
constexpr std::uint64_t kMaxStreamSize = 256u << 20;

bool IsForbidden(char c) { return std::strchr("!\"*/:<>?\\|", c) != nullptr && c != '\0'; }

// Upper case of one widened byte as the compound file's name comparison sees it.
char16_t FoldUnit(char16_t unit) {
  if (unit >= u'a' && unit <= u'z') return unit - 0x20;
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return unit - 0x20;
  if (unit == 0xFF) return 0x178;
  if (unit == 0xB5) return 0x39C;
  return unit;
}

bool SameForTheFile(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return FoldUnit(x) == FoldUnit(y); });
}

std::uint32_t Fnv1a(std::string_view bytes) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 16777619u;
  }
  return hash;
}

std::vector<std::string_view> PathComponents(std::string_view path) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

void PutLE(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t GetLE(const std::uint8_t* data, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | data[i];
  return value;
}

// Names of the children of a storage, storages and streams apart.
struct ChildNames {
  std::vector<std::u16string> storages;
  std::vector<std::u16string> streams;
};

ChildNames ListChildren(const cfb::Storage& storage) {
  std::vector<cfb::ElementInfo> elements;
  ChildNames names;
  if (cfb::Failed(storage.EnumElements(elements))) return names;
  for (cfb::ElementInfo& element : elements)
    (element.type == cfb::ElementType::Storage ? names.storages : names.streams).push_back(std::move(element.name));
  return names;
}

// One storage of a write batch, opened once, with its children's names.
struct CachedStorage {
  cfb::Storage storage;
  ChildNames children;
  bool listed = false;
};

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

// Reads the record stream into record (which holds its path); a damaged tail is traced and
// what was read before it is kept.
void ReadRecord(cfb::Stream& stream, CDirData& record) {
  std::uint64_t size = 0;
  std::vector<std::uint8_t> bytes;
  std::uint32_t got = 0;
  if (cfb::Succeeded(stream.Size(&size))) {
    bytes.resize(static_cast<std::size_t>(std::min(size, kMaxStreamSize)));
    if (!bytes.empty() && cfb::Failed(stream.Read(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &got)))
      got = 0;
  }
  if (size > kMaxStreamSize || got != bytes.size() || !DecodeRecord(bytes.data(), got, record)) {
    VN_TRACE("Damaged record of %s: kept the %zu entries read before the damage\n",
             record.m_currentScanDir.c_str(), record.m_entries.size());
  }
}

// The children of a storage grouped by the name the file format sees (letter case folded), so
// that a component's storage name is found by comparing it with the few siblings that can
// clash with it instead of with all of them: a directory may hold many thousands.
class SiblingIndex {
 public:
  explicit SiblingIndex(const cfb::Storage& storage) {
    const ChildNames names = ListChildren(storage);
    for (const std::u16string& name : names.storages) m_storages[Folded(name)].push_back(name);
    for (const std::u16string& name : names.streams) m_streams[Folded(name)].push_back(name);
  }
  // As StorageName with all the children: only those that fold alike can change its answer.
  std::u16string NameOf(std::string_view component) const {
    const std::u16string key = Folded(cfb::WidenBytes(component));
    const auto storages = m_storages.find(key);
    const auto streams = m_streams.find(key);
    return StorageName(component, storages == m_storages.end() ? kNone : storages->second,
                       streams == m_streams.end() ? kNone : streams->second);
  }

 private:
  static std::u16string Folded(std::u16string name) {
    for (char16_t& unit : name) unit = FoldUnit(unit);
    return name;
  }
  inline static const std::vector<std::u16string> kNone;
  std::unordered_map<std::u16string, std::vector<std::u16string>> m_storages;
  std::unordered_map<std::u16string, std::vector<std::u16string>> m_streams;
};

// Deeper than any path the system accepts: only a damaged file nests storages further.
constexpr int kMaxWalkDepth = 2048;

// Visits the saved records of the subdirectories that the newest scan of record found, each
// followed by those below it. storage is record's own storage.
void WalkBelow(cfb::Storage& storage, const CDirData& record, const IScanStore::TreeVisitor& visit, int depth) {
  if (depth >= kMaxWalkDepth) return;
  std::optional<SiblingIndex> children;  // listed when the first subdirectory needs them
  for (const CDirInfo& entry : record.m_entries) {
    if (entry.sizes[0] == kNoSize || IsSpecialEntryName(entry.name) || entry.name == "." || entry.name == ".." ||
        entry.name.find('/') != std::string::npos)
      continue;
    if (!children) children.emplace(storage);
    cfb::Storage child;
    cfb::Stream stream;
    if (cfb::Failed(storage.OpenStorage(children->NameOf(entry.name), child)) ||
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

// Opens the storages down to path and its record stream.
IScanStore::LoadResult OpenRecord(cfb::Storage& root, const std::string& path, std::vector<cfb::Storage>& storages,
                                  cfb::Stream& stream) {
  const cfb::HRESULT hr = OpenDirStream(root, path, storages, stream);
  if (hr == cfb::STG_E_PATHNOTFOUND) return IScanStore::LoadResult::NoStorage;
  if (hr == cfb::STG_E_FILENOTFOUND) return IScanStore::LoadResult::NoRecord;
  if (cfb::Failed(hr)) {
    VN_TRACE("LoadData cannot open the record of %s (Error=0x%X)\n", path.c_str(), static_cast<unsigned>(hr));
    return IScanStore::LoadResult::Failed;
  }
  return IScanStore::LoadResult::Loaded;
}

}  // namespace

std::u16string StorageName(std::string_view component, const std::vector<std::u16string>& siblingNames,
                           const std::vector<std::u16string>& siblingStreams) {
  bool plain = component.size() <= kMaxStorageName && std::none_of(component.begin(), component.end(), IsForbidden);
  std::u16string wide = cfb::WidenBytes(component);
  // The record stream's name is taken in every storage, even before the stream is created.
  if (plain && !SameForTheFile(wide, kRecordStreamName)) {
    bool clash = std::any_of(siblingNames.begin(), siblingNames.end(), [&](const std::u16string& sibling) {
      return sibling != wide && SameForTheFile(sibling, wide);
    });
    clash = clash || std::any_of(siblingStreams.begin(), siblingStreams.end(),
                                 [&](const std::u16string& stream) { return SameForTheFile(stream, wide); });
    if (!clash) return wide;
  }
  std::string hashed(component.substr(0, kHashedPrefix));
  std::replace_if(hashed.begin(), hashed.end(), IsForbidden, '_');
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "*%08x", Fnv1a(component));
  return cfb::WidenBytes(hashed + suffix);
}

cfb::HRESULT OpenDirStream(cfb::Storage& root, const std::string& path, std::vector<cfb::Storage>& storages,
                           cfb::Stream& stream) {
  for (std::string_view component : PathComponents(path)) {
    cfb::Storage& parent = storages.empty() ? root : storages.back();
    const ChildNames siblings = ListChildren(parent);
    std::u16string name = StorageName(component, siblings.storages, siblings.streams);
    cfb::Storage child;
    cfb::HRESULT hr = parent.OpenStorage(name, child);
    if (hr == cfb::STG_E_FILENOTFOUND) return cfb::STG_E_PATHNOTFOUND;
    if (cfb::Failed(hr)) return hr;
    storages.push_back(std::move(child));
  }
  cfb::Storage& home = storages.empty() ? root : storages.back();
  return home.OpenStream(kRecordStreamName, stream);
}

std::vector<std::uint8_t> EncodeRecord(const CDirData& record) {
  std::vector<std::uint8_t> out;
  std::size_t size = kHeaderSize;
  for (const CDirInfo& entry : record.m_entries) size += 4 + entry.name.size() + kSizesBytes;
  out.reserve(size);
  PutLE(out, static_cast<std::uint64_t>(record.m_markerA), 8);
  PutLE(out, static_cast<std::uint64_t>(record.m_markerB), 8);
  for (std::int32_t time : record.m_times) PutLE(out, static_cast<std::uint32_t>(time), 4);
  for (std::uint32_t word : record.m_reserved) PutLE(out, word, 4);
  for (const CDirInfo& entry : record.m_entries) {
    PutLE(out, entry.name.size(), 4);
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    for (std::int64_t value : entry.sizes) PutLE(out, static_cast<std::uint64_t>(value), 8);
  }
  return out;
}

bool DecodeRecord(const std::uint8_t* data, std::size_t size, CDirData& record) {
  if (size == 0) return true;
  if (size < kHeaderSize) return false;
  record.m_markerA = static_cast<std::int64_t>(GetLE(data, 8));
  record.m_markerB = static_cast<std::int64_t>(GetLE(data + 8, 8));
  for (int i = 0; i < 6; ++i) record.m_times[i] = static_cast<std::int32_t>(GetLE(data + 16 + 4 * i, 4));
  for (int i = 0; i < 14; ++i) record.m_reserved[i] = static_cast<std::uint32_t>(GetLE(data + 40 + 4 * i, 4));
  std::size_t pos = kHeaderSize;
  while (pos < size) {
    if (size - pos < 4) return false;
    std::uint64_t length = GetLE(data + pos, 4);
    pos += 4;
    if (length == 0 || length > kMaxEntryName || size - pos < length + kSizesBytes) return false;
    CDirInfo entry;
    entry.name.assign(reinterpret_cast<const char*>(data + pos), length);
    pos += length;
    for (int i = 0; i < 6; ++i) entry.sizes[i] = static_cast<std::int64_t>(GetLE(data + pos + 8 * i, 8));
    pos += kSizesBytes;
    record.m_entries.push_back(std::move(entry));
  }
  return true;
}

CDataFile::CDataFile(std::string folder, std::chrono::milliseconds lockWait)
    : m_folder(std::move(folder)), m_lockWait(lockWait) {}

void CDataFile::SetFolder(const std::string& folder) { m_folder = folder; }

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

IScanStore::LoadResult CDataFile::OpenForReading(cfb::Storage& root, bool& nothingSaved) {
  const std::string file = FilePath();
  struct stat st {};
  nothingSaved = ::stat(file.c_str(), &st) != 0;
  if (nothingSaved) return LoadResult::NoStorage;
  const cfb::HRESULT hr = OpenDataFile(file, false, m_lockWait, root);
  if (cfb::Succeeded(hr)) return LoadResult::Loaded;
  VN_TRACE("LoadData cannot read %s (Error=0x%X)\n", file.c_str(), static_cast<unsigned>(hr));
  m_notice = "The data file " + file + " can not be read (" + cfb::StatusName(hr) +
             "): the scans saved in it are left out" + (IsDamage(hr) ? "; the next save replaces it." : ".");
  return LoadResult::Failed;
}

IScanStore::LoadResult CDataFile::Read(CDirData& record) {
  cfb::Storage root;
  bool nothingSaved = false;
  if (const LoadResult opened = OpenForReading(root, nothingSaved); opened != LoadResult::Loaded) return opened;
  std::vector<cfb::Storage> storages;
  cfb::Stream stream;
  const LoadResult found = OpenRecord(root, record.m_currentScanDir, storages, stream);
  if (found == LoadResult::Loaded) ReadRecord(stream, record);
  return found;
}

IScanStore::LoadResult CDataFile::ReadTree(const std::string& top, const TreeVisitor& visit) {
  cfb::Storage root;
  bool nothingSaved = false;
  if (const LoadResult opened = OpenForReading(root, nothingSaved); opened != LoadResult::Loaded) return opened;
  std::vector<cfb::Storage> storages;
  cfb::Stream stream;
  const LoadResult found = OpenRecord(root, top, storages, stream);
  if (found != LoadResult::Loaded) return found;
  CDirData record;
  record.m_currentScanDir = top;
  ReadRecord(stream, record);
  stream.Release();
  visit(record);
  WalkBelow(storages.empty() ? root : storages.back(), record, visit, 0);
  return found;
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
  const auto written = m_written.find(std::hash<std::string>()(record.m_currentScanDir));
  if (written != m_written.end() && written->second.times == record.m_times &&
      written->second.savedTimes == record.m_savedTimes) {
    const bool ownAsItWas = written->second.storedTimes == record.m_times && saved.m_times == record.m_times;
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

void CDataFile::Write(const std::vector<CDirData>& records, const FailureHandler& onFailure) {
  if (records.empty()) return;
  const std::string file = FilePath();
  cfb::Storage root;
  cfb::HRESULT hr = OpenDataFile(file, true, m_lockWait, root);
  bool replaced = false;
  if (IsDamage(hr)) {
    hr = ReplaceDamagedFile(file, root);
    replaced = true;
  }
  if (cfb::Failed(hr)) {
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

void CDataFile::WriteBatch(cfb::Storage& root, const std::vector<CDirData>& records,
                           std::vector<std::pair<const CDirData*, cfb::HRESULT>>& failed) {
  cfb::HRESULT hr = cfb::S_OK;
  // Records of one batch are mostly neighbours: each storage is opened and listed once.
  CachedStorage rootNode{std::move(root), {}, false};
  std::unordered_map<std::string, CachedStorage> cache;
  auto storageOf = [&](const std::vector<std::string_view>& components, cfb::HRESULT& status) -> cfb::Storage* {
    CachedStorage* parent = &rootNode;
    std::string key;
    for (std::string_view component : components) {
      key.append(component).push_back('/');
      auto found = cache.find(key);
      if (found == cache.end()) {
        if (!parent->listed) {
          parent->children = ListChildren(parent->storage);
          parent->listed = true;
        }
        std::u16string name = StorageName(component, parent->children.storages, parent->children.streams);
        CachedStorage node;
        status = parent->storage.OpenStorage(name, node.storage);
        if (status == cfb::STG_E_FILENOTFOUND) {
          status = parent->storage.CreateStorage(name, node.storage);
          node.listed = true;  // new: no children yet
          if (cfb::Succeeded(status)) parent->children.storages.push_back(name);
        }
        if (cfb::Failed(status)) return nullptr;
        found = cache.emplace(key, std::move(node)).first;
      }
      parent = &found->second;
    }
    status = cfb::S_OK;
    return &parent->storage;
  };

  std::vector<std::pair<const CDirData*, std::array<std::int32_t, 6>>> written;  // with the times written
  for (const CDirData& record : records) {
    std::vector<std::string_view> components = PathComponents(record.m_currentScanDir);
    cfb::Storage* home = storageOf(components, hr);
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
      std::vector<std::uint8_t> bytes = EncodeRecord(*content);
      hr = stream.Seek(0, cfb::SeekOrigin::Begin);
      if (cfb::Succeeded(hr)) hr = stream.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
      if (cfb::Succeeded(hr)) hr = stream.SetSize(bytes.size());
    }
    if (cfb::Failed(hr)) {
      failed.emplace_back(&record, hr);
      continue;
    }
    written.emplace_back(&record, content->m_times);
  }
  cache.clear();
  hr = rootNode.storage.Commit();
  root = std::move(rootNode.storage);
  if (cfb::Failed(hr)) {
    for (const auto& [record, stored] : written) failed.emplace_back(record, hr);
    return;
  }
  for (const auto& [record, stored] : written)
    m_written[std::hash<std::string>()(record->m_currentScanDir)] = {record->m_times, record->m_savedTimes, stored};
}

}  // namespace varnow
