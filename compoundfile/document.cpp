// How a batch reaches the file.
//
// Every change of a batch stays in memory: new and changed data sectors in m_dirtySectors,
// the FAT, MiniFAT, DIFAT and directory as the parsed Model with lists of what changed. Space
// is allocated at once (so a full file is reported by the Write or SetSize that fills it), and
// sectors freed earlier in the batch are reused first. Commit then
//   1. serialises only the changed directory, FAT, MiniFAT and DIFAT sectors and the header,
//   2. saves the bytes these writes will overwrite (and any tail the file loses) in a rollback
//      journal beside the file and syncs it (see journal.h),
//   3. writes everything in place, sets the file's length, syncs, and removes the journal.
// A writer killed at any instant therefore leaves either no journal (the file is as before or
// as after the batch) or a journal that the next opener, holding the lock, rolls back before
// reading. A new file is written whole under a temporary name and linked into place, so a
// half-created file is never seen either.
#include "compoundfile/document.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "compoundfile/journal.h"
#include "compoundfile/modelcache.h"

namespace cfb {

using namespace format;

namespace {

// A version 3 file never grows past 2 GB: the last sector must end by then.
constexpr std::uint64_t kVersion3Limit = 0x80000000ull;

std::uint64_t Units(std::uint64_t bytes, std::uint32_t unit) {
  return bytes / unit + (bytes % unit != 0);
}

void SortUnique(std::vector<std::uint32_t>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

// Creates the file whole under a temporary name, then links it into place; when another
// opener linked one first, theirs stands. A leftover journal of an earlier file of this name
// is removed while the new file is locked, so it can never be applied to the new one.
HRESULT CreateFile(const std::string& path) {
  std::string temp = path + ".newXXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return io::StatusFromErrno(errno) == STG_E_FILENOTFOUND ? STG_E_PATHNOTFOUND
                                                                       : io::StatusFromErrno(errno);
  ::fchmod(fd, 0644);
  const std::vector<std::uint8_t> image = NewFileImage();
  HRESULT hr = io::WriteAt(fd, 0, image.data(), image.size());
  if (Succeeded(hr)) hr = io::Sync(fd);
  if (Succeeded(hr) && ::flock(fd, LOCK_EX) != 0) hr = STG_E_LOCKVIOLATION;
  if (Succeeded(hr)) {
    if (::link(temp.c_str(), path.c_str()) == 0) {
      hr = journal::Remove(path);
    } else if (errno != EEXIST) {
      hr = io::StatusFromErrno(errno);
    }
  }
  ::unlink(temp.c_str());
  ::close(fd);
  return hr;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Opening and closing

HRESULT Document::Open(const std::string& path, const OpenOptions& options,
                       std::shared_ptr<Document>& out) {
  if (path.empty()) return STG_E_INVALIDNAME;
  std::shared_ptr<Document> doc(new Document);
  doc->m_path = path;
  doc->m_readOnly = options.readOnly;

  struct stat st {};
  if (options.create && !options.readOnly && ::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
    HRESULT hr = CreateFile(path);
    if (Failed(hr)) return hr;
  }

  for (int attempt = 0;; ++attempt) {
    if (attempt == 4) return STG_E_LOCKVIOLATION;
    if (options.readOnly && journal::Exists(path)) {
      // Rolling back needs the file open for writing and locked exclusively.
      io::LockedFile writer;
      HRESULT hr = writer.Open(path, false, options.lockWait);
      if (Failed(hr)) return hr;
      hr = journal::Recover(path, writer.fd());
      if (Failed(hr)) return hr;
    }
    HRESULT hr = doc->m_file.Open(path, options.readOnly, options.lockWait);
    if (Failed(hr)) return hr;
    if (!journal::Exists(path)) break;
    if (options.readOnly) {
      doc->m_file.Close();
      continue;
    }
    hr = journal::Recover(path, doc->m_file.fd());
    if (Failed(hr)) return hr;
    break;
  }

  const int fd = doc->m_file.fd();
  if (options.create && !options.readOnly && ::fstat(fd, &st) == 0 && st.st_size == 0) {
    // An empty file given to create in is made a compound file; it held nothing to lose.
    const std::vector<std::uint8_t> image = NewFileImage();
    HRESULT hr = io::WriteAt(fd, 0, image.data(), image.size());
    if (Succeeded(hr)) hr = io::Sync(fd);
    if (Failed(hr)) return hr;
  }

  cache::Stamp stamp;
  if (cache::StampOf(fd, stamp)) doc->m_model = cache::Take(stamp);
  if (!doc->m_model) {
    auto model = std::make_unique<Model>();
    HRESULT hr = LoadModel(fd, *model);
    if (Failed(hr)) return hr;
    doc->m_model = std::move(model);
  }
  out = std::move(doc);
  return S_OK;
}

Document::~Document() {
  if (!m_model) return;
  if (m_changed && !m_broken) Commit();
  cache::Stamp stamp;
  if (!m_broken && !m_changed && cache::StampOf(m_file.fd(), stamp))
    cache::Put(stamp, std::move(m_model));
  m_file.Close();
}

HRESULT Document::CheckWritable() const {
  if (m_readOnly) return STG_E_ACCESSDENIED;
  if (m_broken) return STG_E_REVERTED;
  return S_OK;
}

bool Document::IsLive(std::uint32_t id, std::uint32_t generation) const {
  return id < m_model->nodes.size() && m_model->nodes[id].generation == generation &&
         m_model->nodes[id].entry.type != kEmpty;
}

// ---------------------------------------------------------------------------------------------
// Names and the directory

void Document::EnsureIndex(Node& storage) {
  if (storage.index) return;
  storage.index = std::make_unique<std::unordered_map<std::u16string, std::uint32_t>>();
  storage.index->reserve(storage.children.size());
  for (std::uint32_t id : storage.children)
    storage.index->emplace(UpperName(m_model->nodes[id].entry.name), id);
}

HRESULT Document::Find(std::uint32_t storage, std::u16string_view name, std::uint32_t& id) {
  if (!IsValidName(name)) return STG_E_INVALIDNAME;
  Node& s = m_model->nodes[storage];
  EnsureIndex(s);
  const auto it = s.index->find(UpperName(name));
  if (it == s.index->end()) return STG_E_FILENOTFOUND;
  id = it->second;
  return S_OK;
}

HRESULT Document::Create(std::uint32_t storage, std::u16string_view name, std::uint8_t type,
                         bool replace, std::uint32_t& id) {
  HRESULT hr = CheckWritable();
  if (Failed(hr)) return hr;
  std::uint32_t existing = 0;
  hr = Find(storage, name, existing);
  if (Succeeded(hr)) {
    if (!replace) return STG_E_FILEALREADYEXISTS;
    hr = Destroy(storage, name);
    if (Failed(hr)) return hr;
  } else if (hr != STG_E_FILENOTFOUND) {
    return hr;
  }
  hr = AllocEntry(id);
  if (Failed(hr)) return hr;
  Node& n = m_model->nodes[id];
  n.entry = DirEntry{};
  n.entry.name = std::u16string(name);
  n.entry.type = type;
  n.entry.start = type == kStream ? kEndOfChain : 0;
  n.parent = storage;
  Node& parent = m_model->nodes[storage];
  parent.children.push_back(id);
  EnsureIndex(parent);
  parent.index->emplace(UpperName(name), id);
  if (!parent.treeDirty) {
    parent.treeDirty = true;
    m_dirtyTrees.push_back(storage);
  }
  MarkEntry(id);
  m_changed = true;
  return S_OK;
}

HRESULT Document::Destroy(std::uint32_t storage, std::u16string_view name) {
  HRESULT hr = CheckWritable();
  if (Failed(hr)) return hr;
  std::uint32_t id = 0;
  hr = Find(storage, name, id);
  if (Failed(hr)) return hr;
  std::vector<Node>& nodes = m_model->nodes;
  Node& parent = nodes[storage];
  parent.children.erase(std::find(parent.children.begin(), parent.children.end(), id));
  parent.index->erase(UpperName(nodes[id].entry.name));
  if (!parent.treeDirty) {
    parent.treeDirty = true;
    m_dirtyTrees.push_back(storage);
  }
  std::vector<std::uint32_t> pending{id};
  while (!pending.empty()) {
    const std::uint32_t cur = pending.back();
    pending.pop_back();
    Node& n = nodes[cur];
    pending.insert(pending.end(), n.children.begin(), n.children.end());
    if (n.entry.type == kStream) Truncate(n.chain, 0, n.entry.size < kMiniStreamCutoff);
    FreeEntry(cur);
  }
  m_changed = true;
  return S_OK;
}

HRESULT Document::Enumerate(std::uint32_t storage, std::vector<ElementInfo>& out) {
  Node& s = m_model->nodes[storage];
  if (s.treeDirty) {
    // The tree is rebuilt in sorted order when the batch is written; list it that way now.
    std::sort(s.children.begin(), s.children.end(), [&](std::uint32_t a, std::uint32_t b) {
      return CompareNames(m_model->nodes[a].entry.name, m_model->nodes[b].entry.name) < 0;
    });
  }
  out.clear();
  out.reserve(s.children.size());
  for (std::uint32_t id : s.children) {
    const DirEntry& e = m_model->nodes[id].entry;
    ElementInfo info;
    info.name = e.name;
    info.type = e.type == kStorage ? ElementType::Storage : ElementType::Stream;
    info.size = e.type == kStream ? e.size : 0;
    out.push_back(std::move(info));
  }
  return S_OK;
}

HRESULT Document::AllocEntry(std::uint32_t& out) {
  Model& m = *m_model;
  for (;;) {
    for (std::uint32_t i = m.freeEntryHint; i < m.nodes.size(); ++i) {
      if (m.nodes[i].entry.type == kEmpty) {
        m.freeEntryHint = i + 1;
        out = i;
        return S_OK;
      }
    }
    m.freeEntryHint = static_cast<std::uint32_t>(m.nodes.size());
    std::uint32_t s = 0;
    HRESULT hr = AllocSector(s);
    if (Failed(hr)) return hr;
    SetFat(m.dirChain.back(), s);
    m.dirChain.push_back(s);
    const std::size_t first = m.nodes.size();
    m.nodes.resize(first + m.EntriesPerSector());
    MarkEntry(static_cast<std::uint32_t>(first));  // writes the whole new sector
  }
}

void Document::FreeEntry(std::uint32_t id) {
  Node& n = m_model->nodes[id];
  const std::uint32_t generation = n.generation + 1;
  n = Node{};
  n.generation = generation;
  MarkEntry(id);
  m_model->freeEntryHint = std::min(m_model->freeEntryHint, id);
}

// Sorts a storage's children by the sibling rule and links them as a balanced tree, built by
// midpoints: every level black except the deepest, which is red when it is not full.
void Document::RebuildTree(std::uint32_t storage) {
  std::vector<Node>& nodes = m_model->nodes;
  Node& p = nodes[storage];
  p.treeDirty = false;
  if (p.entry.type != kStorage && p.entry.type != kRoot) return;  // destroyed meanwhile
  std::sort(p.children.begin(), p.children.end(), [&](std::uint32_t a, std::uint32_t b) {
    return CompareNames(nodes[a].entry.name, nodes[b].entry.name) < 0;
  });
  const std::size_t n = p.children.size();
  int deepest = 0;
  while ((std::size_t{2} << deepest) <= n) ++deepest;  // floor(log2 n)
  const bool full = n > 0 && ((n + 1) & n) == 0;
  auto set = [&](std::uint32_t id, std::uint32_t& field, std::uint32_t value) {
    if (field != value) {
      field = value;
      MarkEntry(id);
    }
  };
  auto build = [&](auto& self, std::ptrdiff_t lo, std::ptrdiff_t hi, int depth) -> std::uint32_t {
    if (lo > hi) return kNoStream;
    const std::ptrdiff_t mid = lo + (hi - lo) / 2;
    const std::uint32_t id = p.children[static_cast<std::size_t>(mid)];
    const std::uint32_t left = self(self, lo, mid - 1, depth + 1);
    const std::uint32_t right = self(self, mid + 1, hi, depth + 1);
    DirEntry& e = nodes[id].entry;
    set(id, e.left, left);
    set(id, e.right, right);
    const std::uint8_t color = (!full && depth == deepest) ? kRed : kBlack;
    if (e.color != color) {
      e.color = color;
      MarkEntry(id);
    }
    return id;
  };
  const std::uint32_t root = build(build, 0, static_cast<std::ptrdiff_t>(n) - 1, 0);
  set(storage, p.entry.child, root);
}

// ---------------------------------------------------------------------------------------------
// Sectors and chains

void Document::SetFat(std::uint32_t index, std::uint32_t value) {
  m_model->fat[index] = value;
  m_dirtyFat.push_back(index / m_model->IdsPerSector());
  if (value == kFreeSect) m_model->freeSectorHint = std::min(m_model->freeSectorHint, index);
}

void Document::SetMiniFat(std::uint32_t index, std::uint32_t value) {
  m_model->miniFat[index] = value;
  m_dirtyMiniFat.push_back(index / m_model->IdsPerSector());
  if (value == kFreeSect) m_model->freeMiniHint = std::min(m_model->freeMiniHint, index);
}

HRESULT Document::AllocSector(std::uint32_t& out) {
  Model& m = *m_model;
  for (;;) {
    for (std::uint32_t i = m.freeSectorHint; i < m.fat.size(); ++i) {
      if (m.fat[i] != kFreeSect) continue;
      const std::uint64_t end = m.SectorOffset(i) + m.sectorSize;
      if (i >= kMaxRegSect || (m.Version3() && end > kVersion3Limit)) return STG_E_MEDIUMFULL;
      SetFat(i, kEndOfChain);
      m.freeSectorHint = i + 1;
      out = i;
      return S_OK;
    }
    m.freeSectorHint = static_cast<std::uint32_t>(m.fat.size());
    HRESULT hr = GrowFat();
    if (Failed(hr)) return hr;
  }
}

// Answers early when a large request cannot fit below the version 3 limit, so that a hopeless
// SetSize fails at once instead of allocating sector after sector first.
bool Document::WouldFit(std::uint64_t sectors) const {
  const Model& m = *m_model;
  if (!m.Version3() || sectors < 4096) return true;
  const std::uint64_t limit = kVersion3Limit / m.sectorSize - 1;
  const std::uint64_t used = static_cast<std::uint64_t>(
      m.fat.size() - std::count(m.fat.begin(), m.fat.end(), kFreeSect));
  const std::uint64_t fatOverhead = sectors / (m.IdsPerSector() - 1) + 2;
  return used + sectors + fatOverhead <= limit;
}

// Adds a FAT sector at the first sector number the FAT does not cover yet (so it describes
// itself), and a DIFAT sector beside it when the header and the DIFAT are full.
HRESULT Document::GrowFat() {
  Model& m = *m_model;
  const std::uint64_t s = m.fat.size();
  if (s + 2 >= kMaxRegSect || (m.Version3() && m.SectorOffset(static_cast<std::uint32_t>(s)) +
                                                       2 * m.sectorSize > kVersion3Limit))
    return STG_E_MEDIUMFULL;
  const std::uint32_t sector = static_cast<std::uint32_t>(s);
  m.fat.resize(s + m.IdsPerSector(), kFreeSect);
  m.fatSectors.push_back(sector);
  SetFat(sector, kFatSect);
  const std::size_t difatCapacity =
      kHeaderDifatSlots + m.difatSectors.size() * (m.IdsPerSector() - 1);
  if (m.fatSectors.size() > difatCapacity) {
    SetFat(sector + 1, kDifSect);
    m.difatSectors.push_back(sector + 1);
  }
  m_difatDirty = true;
  return S_OK;
}

HRESULT Document::EnsureMiniStream(std::uint64_t bytes) {
  Model& m = *m_model;
  DirEntry& root = m.nodes[0].entry;
  const std::uint64_t need = Units(bytes, m.sectorSize);
  while (m.miniStreamChain.size() < need) {
    std::uint32_t s = 0;
    HRESULT hr = AllocSector(s);
    if (Failed(hr)) return hr;
    if (m.miniStreamChain.empty()) {
      m.nodes[0].entry.start = s;
    } else {
      SetFat(m.miniStreamChain.back(), s);
    }
    m.miniStreamChain.push_back(s);
    std::uint8_t* unused = nullptr;
    hr = WritableSector(s, true, unused);
    if (Failed(hr)) return hr;
    MarkEntry(0);
  }
  if (root.size < bytes) {
    m.nodes[0].entry.size = bytes;
    MarkEntry(0);
  }
  return S_OK;
}

HRESULT Document::AllocMini(std::uint32_t& out) {
  Model& m = *m_model;
  for (;;) {
    for (std::uint32_t i = m.freeMiniHint; i < m.miniFat.size(); ++i) {
      if (m.miniFat[i] != kFreeSect) continue;
      HRESULT hr = EnsureMiniStream((std::uint64_t{i} + 1) * kMiniSectorSize);
      if (Failed(hr)) return hr;
      SetMiniFat(i, kEndOfChain);
      m.freeMiniHint = i + 1;
      out = i;
      return S_OK;
    }
    m.freeMiniHint = static_cast<std::uint32_t>(m.miniFat.size());
    std::uint32_t s = 0;
    HRESULT hr = AllocSector(s);
    if (Failed(hr)) return hr;
    if (!m.miniFatChain.empty()) SetFat(m.miniFatChain.back(), s);
    m.miniFatChain.push_back(s);
    const std::size_t first = m.miniFat.size();
    m.miniFat.resize(first + m.IdsPerSector(), kFreeSect);
    m_dirtyMiniFat.push_back(static_cast<std::uint32_t>(first / m.IdsPerSector()));
  }
}

HRESULT Document::Extend(std::vector<std::uint32_t>& chain, std::size_t count, bool mini) {
  std::vector<std::uint32_t> added;
  added.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t s = 0;
    HRESULT hr = mini ? AllocMini(s) : AllocSector(s);
    if (Failed(hr)) {
      Truncate(added, 0, mini);
      return hr;
    }
    added.push_back(s);
    if (!mini && s < m_model->fileSectors) {
      // A reused sector must read as zero. One past the end of the file needs no buffer:
      // it reads as zero, and the file grows with zeros when the batch is written.
      std::uint8_t* unused = nullptr;
      hr = WritableSector(s, true, unused);
      if (Failed(hr)) return hr;
    }
  }
  for (std::uint32_t s : added) {
    if (!chain.empty()) mini ? SetMiniFat(chain.back(), s) : SetFat(chain.back(), s);
    chain.push_back(s);
  }
  return S_OK;
}

void Document::Truncate(std::vector<std::uint32_t>& chain, std::size_t count, bool mini) {
  for (std::size_t i = count; i < chain.size(); ++i) {
    if (mini) {
      SetMiniFat(chain[i], kFreeSect);
    } else {
      SetFat(chain[i], kFreeSect);
      m_dirtySectors.erase(chain[i]);
    }
  }
  chain.resize(std::min(count, chain.size()));
  if (!chain.empty()) mini ? SetMiniFat(chain.back(), kEndOfChain) : SetFat(chain.back(), kEndOfChain);
}

HRESULT Document::ReadSector(std::uint32_t s, std::uint8_t* out) {
  const auto it = m_dirtySectors.find(s);
  if (it != m_dirtySectors.end()) {
    std::memcpy(out, it->second.data(), m_model->sectorSize);
    return S_OK;
  }
  std::size_t got = 0;
  HRESULT hr = io::ReadAt(m_file.fd(), m_model->SectorOffset(s), out, m_model->sectorSize, &got);
  if (Succeeded(hr) && got < m_model->sectorSize) std::memset(out + got, 0, m_model->sectorSize - got);
  return hr;
}

HRESULT Document::WritableSector(std::uint32_t s, bool fresh, std::uint8_t*& out) {
  auto it = m_dirtySectors.find(s);
  if (it == m_dirtySectors.end()) {
    std::vector<std::uint8_t> bytes(m_model->sectorSize, 0);
    if (!fresh) {
      HRESULT hr = ReadSector(s, bytes.data());
      if (Failed(hr)) return hr;
    }
    it = m_dirtySectors.emplace(s, std::move(bytes)).first;
  }
  out = it->second.data();
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Stream contents

namespace {

// Where one piece of a stream lives: a sector and a range inside it.
struct Piece {
  std::uint32_t sector;
  std::uint32_t offset;
  std::uint32_t length;
};

Piece Locate(const Model& m, const Node& n, std::uint64_t pos, std::uint64_t left) {
  const bool mini = n.entry.size < kMiniStreamCutoff;
  const std::uint32_t unit = mini ? kMiniSectorSize : m.sectorSize;
  const std::uint32_t inUnit = static_cast<std::uint32_t>(pos % unit);
  const std::uint32_t length = static_cast<std::uint32_t>(std::min<std::uint64_t>(unit - inUnit, left));
  const std::uint32_t sector = n.chain[static_cast<std::size_t>(pos / unit)];
  if (!mini) return Piece{sector, inUnit, length};
  const std::uint64_t at = std::uint64_t{sector} * kMiniSectorSize + inUnit;
  return Piece{m.miniStreamChain[static_cast<std::size_t>(at / m.sectorSize)],
               static_cast<std::uint32_t>(at % m.sectorSize), length};
}

}  // namespace

HRESULT Document::CopyOut(const Node& n, std::uint64_t pos, std::uint8_t* out, std::size_t len) {
  std::vector<std::uint8_t> sector(m_model->sectorSize);
  while (len > 0) {
    const Piece p = Locate(*m_model, n, pos, len);
    HRESULT hr = ReadSector(p.sector, sector.data());
    if (Failed(hr)) return hr;
    std::memcpy(out, sector.data() + p.offset, p.length);
    out += p.length;
    pos += p.length;
    len -= p.length;
  }
  return S_OK;
}

HRESULT Document::CopyIn(Node& n, std::uint64_t pos, const std::uint8_t* in, std::size_t len) {
  while (len > 0) {
    const Piece p = Locate(*m_model, n, pos, len);
    std::uint8_t* sector = nullptr;
    HRESULT hr = WritableSector(p.sector, p.length == m_model->sectorSize, sector);
    if (Failed(hr)) return hr;
    if (in) {
      std::memcpy(sector + p.offset, in, p.length);
      in += p.length;
    } else {
      std::memset(sector + p.offset, 0, p.length);
    }
    pos += p.length;
    len -= p.length;
  }
  return S_OK;
}

HRESULT Document::ZeroRange(Node& n, std::uint64_t from, std::uint64_t to) {
  return from < to ? CopyIn(n, from, nullptr, static_cast<std::size_t>(to - from)) : S_OK;
}

HRESULT Document::ReadStream(std::uint32_t id, std::uint64_t pos, void* buffer, std::uint32_t cb,
                             std::uint32_t& got) {
  const Node& n = m_model->nodes[id];
  got = 0;
  if (pos >= n.entry.size) return S_OK;
  const std::uint32_t len = static_cast<std::uint32_t>(std::min<std::uint64_t>(cb, n.entry.size - pos));
  HRESULT hr = CopyOut(n, pos, static_cast<std::uint8_t*>(buffer), len);
  if (Succeeded(hr)) got = len;
  return hr;
}

HRESULT Document::WriteStream(std::uint32_t id, std::uint64_t pos, const void* buffer,
                              std::uint32_t cb) {
  HRESULT hr = CheckWritable();
  if (Failed(hr) || cb == 0) return hr;
  const std::uint64_t end = pos + cb;
  if (end < pos) return STG_E_MEDIUMFULL;
  if (end > m_model->nodes[id].entry.size) {
    hr = Resize(id, end);
    if (Failed(hr)) return hr;
  }
  m_changed = true;
  return CopyIn(m_model->nodes[id], pos, static_cast<const std::uint8_t*>(buffer), cb);
}

HRESULT Document::Resize(std::uint32_t id, std::uint64_t size) {
  HRESULT hr = CheckWritable();
  if (Failed(hr)) return hr;
  Model& m = *m_model;
  const std::uint64_t old = m.nodes[id].entry.size;
  if (size == old) return S_OK;
  if ((m.Version3() && size >= kVersion3Limit) || size / m.sectorSize >= kMaxRegSect)
    return STG_E_MEDIUMFULL;
  const bool oldMini = old < kMiniStreamCutoff;
  const bool newMini = size < kMiniStreamCutoff;
  const std::uint32_t unit = newMini ? kMiniSectorSize : m.sectorSize;
  if (!WouldFit(Units(size, m.sectorSize))) return STG_E_MEDIUMFULL;
  m_changed = true;

  if (old > 0 && size > 0 && oldMini != newMini) {
    // The stream moves between the mini stream and the FAT: the new chain is complete before
    // the old one is let go, so a full file loses nothing.
    const std::uint64_t keep = std::min(old, size);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(keep));
    hr = CopyOut(m.nodes[id], 0, data.data(), data.size());
    if (Failed(hr)) return hr;
    std::vector<std::uint32_t> chain;
    hr = Extend(chain, static_cast<std::size_t>(Units(size, unit)), newMini);
    if (Failed(hr)) return hr;
    Node& n = m.nodes[id];
    std::vector<std::uint32_t> previous = std::move(n.chain);
    n.chain = std::move(chain);
    n.entry.size = size;
    hr = CopyIn(n, 0, data.data(), data.size());
    if (Succeeded(hr) && newMini) hr = ZeroRange(n, keep, size);
    Truncate(previous, 0, oldMini);
  } else {
    const bool mini = size > 0 ? newMini : oldMini;
    const std::size_t need = static_cast<std::size_t>(Units(size, mini ? kMiniSectorSize : m.sectorSize));
    Node* n = &m.nodes[id];
    if (need > n->chain.size()) {
      std::vector<std::uint32_t> chain = std::move(n->chain);
      hr = Extend(chain, need - chain.size(), mini);
      n = &m.nodes[id];
      n->chain = std::move(chain);
      if (Failed(hr)) return hr;
    } else if (need < n->chain.size()) {
      Truncate(n->chain, need, mini);
    }
    n->entry.size = size;
    // New big sectors are zero already; only the rest of the old last unit and reused mini
    // sectors may hold earlier bytes.
    const std::uint64_t dirtyEnd = mini ? size : std::min(size, Units(old, m.sectorSize) * m.sectorSize);
    hr = ZeroRange(*n, old, dirtyEnd);
  }
  Node& n = m.nodes[id];
  n.entry.start = n.chain.empty() ? kEndOfChain : n.chain.front();
  MarkEntry(id);
  return hr;
}

// ---------------------------------------------------------------------------------------------
// Commit

HRESULT Document::Commit() {
  if (m_readOnly || !m_changed) return S_OK;
  if (m_broken) return STG_E_REVERTED;
  for (std::uint32_t s : m_dirtyTrees) RebuildTree(s);
  m_dirtyTrees.clear();
  m_model->header.transaction++;
  HRESULT hr;
  try {
    hr = WriteBatch();
  } catch (const std::bad_alloc&) {
    hr = STG_E_INSUFFICIENTMEMORY;
  }
  if (Failed(hr)) {
    // The file is as before the batch (or its journal still says how it was); memory is not.
    m_broken = true;
    journal::Recover(m_path, m_file.fd());
    return hr;
  }
  m_dirtySectors.clear();
  m_dirtyEntries.clear();
  m_dirtyFat.clear();
  m_dirtyMiniFat.clear();
  m_difatDirty = false;
  m_changed = false;
  return S_OK;
}

HRESULT Document::WriteBatch() {
  Model& m = *m_model;
  const std::uint32_t ss = m.sectorSize;
  const std::uint32_t ids = m.IdsPerSector();
  std::vector<journal::Extent> writes;
  auto sectorExtent = [&](std::uint32_t s) -> std::vector<std::uint8_t>& {
    writes.push_back(journal::Extent{m.SectorOffset(s), std::vector<std::uint8_t>(ss, 0)});
    return writes.back().bytes;
  };

  for (auto& [s, bytes] : m_dirtySectors) writes.push_back(journal::Extent{m.SectorOffset(s), bytes});

  const std::uint32_t perSector = m.EntriesPerSector();
  for (std::uint32_t& id : m_dirtyEntries) id /= perSector;
  SortUnique(m_dirtyEntries);
  for (std::uint32_t k : m_dirtyEntries) {
    std::vector<std::uint8_t>& b = sectorExtent(m.dirChain[k]);
    for (std::uint32_t i = 0; i < perSector; ++i)
      SerializeEntry(m.nodes[k * perSector + i].entry, b.data() + i * kEntrySize);
  }

  auto tableSectors = [&](std::vector<std::uint32_t>& dirty, const std::vector<std::uint32_t>& table,
                          const std::vector<std::uint32_t>& where) {
    SortUnique(dirty);
    for (std::uint32_t k : dirty) {
      std::vector<std::uint8_t>& b = sectorExtent(where[k]);
      for (std::uint32_t i = 0; i < ids; ++i) Put32(b.data() + 4 * i, table[k * ids + i]);
    }
  };
  tableSectors(m_dirtyFat, m.fat, m.fatSectors);
  tableSectors(m_dirtyMiniFat, m.miniFat, m.miniFatChain);

  Header& h = m.header;
  for (std::uint32_t i = 0; i < kHeaderDifatSlots; ++i)
    h.difat[i] = i < m.fatSectors.size() ? m.fatSectors[i] : kFreeSect;
  if (m_difatDirty) {
    for (std::size_t j = 0; j < m.difatSectors.size(); ++j) {
      std::vector<std::uint8_t>& b = sectorExtent(m.difatSectors[j]);
      for (std::uint32_t i = 0; i + 1 < ids; ++i) {
        const std::size_t f = kHeaderDifatSlots + j * (ids - 1) + i;
        Put32(b.data() + 4 * i, f < m.fatSectors.size() ? m.fatSectors[f] : kFreeSect);
      }
      Put32(b.data() + 4 * (ids - 1),
            j + 1 < m.difatSectors.size() ? m.difatSectors[j + 1] : kEndOfChain);
    }
  }
  h.numFatSectors = static_cast<std::uint32_t>(m.fatSectors.size());
  h.firstDifatSector = m.difatSectors.empty() ? kEndOfChain : m.difatSectors.front();
  h.numDifatSectors = static_cast<std::uint32_t>(m.difatSectors.size());
  h.firstDirSector = m.dirChain.front();
  h.numDirSectors = m.Version3() ? 0 : static_cast<std::uint32_t>(m.dirChain.size());
  h.firstMiniFatSector = m.miniFatChain.empty() ? kEndOfChain : m.miniFatChain.front();
  h.numMiniFatSectors = static_cast<std::uint32_t>(m.miniFatChain.size());
  writes.push_back(journal::Extent{0, std::vector<std::uint8_t>(kHeaderSize)});
  SerializeHeader(h, writes.back().bytes.data());

  // The file ends with the last sector in use.
  std::size_t last = m.fat.size();
  while (last > 0 && m.fat[last - 1] == kFreeSect) --last;
  const std::uint64_t newLength = m.SectorOffset(static_cast<std::uint32_t>(last));
  const std::uint64_t oldLength = m.fileLength;

  std::sort(writes.begin(), writes.end(),
            [](const journal::Extent& a, const journal::Extent& b) { return a.offset < b.offset; });
  std::vector<journal::Extent> saved;
  auto save = [&](std::uint64_t offset, std::uint64_t end) -> HRESULT {
    end = std::min(end, oldLength);
    if (offset >= end) return S_OK;
    journal::Extent e{offset, std::vector<std::uint8_t>(static_cast<std::size_t>(end - offset))};
    std::size_t got = 0;
    HRESULT hr = io::ReadAt(m_file.fd(), offset, e.bytes.data(), e.bytes.size(), &got);
    e.bytes.resize(got);
    saved.push_back(std::move(e));
    return hr;
  };
  for (const journal::Extent& w : writes) {
    HRESULT hr = save(w.offset, w.offset + w.bytes.size());
    if (Failed(hr)) return hr;
  }
  if (newLength < oldLength) {
    HRESULT hr = save(newLength, oldLength);
    if (Failed(hr)) return hr;
  }

  HRESULT hr = journal::Write(m_path, oldLength, saved);
  if (Failed(hr)) return hr;
  for (const journal::Extent& w : writes) {
    hr = io::WriteAt(m_file.fd(), w.offset, w.bytes.data(), w.bytes.size());
    if (Failed(hr)) return hr;
  }
  if (::ftruncate(m_file.fd(), static_cast<off_t>(newLength)) != 0) return STG_E_WRITEFAULT;
  hr = io::Sync(m_file.fd());
  if (Failed(hr)) return hr;
  hr = journal::Remove(m_path);
  if (Failed(hr)) return hr;
  m.fileLength = newLength;
  m.fileSectors = static_cast<std::uint32_t>(last);
  return S_OK;
}

}  // namespace cfb
