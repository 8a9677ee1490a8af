// Opening and closing a document, and the directory operations on it (names, creation,
// removal, enumeration, sibling trees).
#include "compoundfile/document.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unordered_set>

#include "compoundfile/journal.h"
#include "compoundfile/modelcache.h"
#include "compoundfile/readcache.h"
#include "compoundfile/sectors.h"
#include "compoundfile/tree.h"

namespace cfb {

using namespace format;

namespace {

// True for an empty file and for the start of a header that was never finished.
bool IsUnfinishedFile(int fd) {
  struct stat st {};
  if (io::Files().Stat(fd, st) != 0 || st.st_size >= static_cast<off_t>(kHeaderSize)) return false;
  std::uint8_t head[kSignature.size()] = {};
  std::size_t got = 0;
  if (Failed(io::ReadAt(fd, 0, head, sizeof head, &got))) return false;
  return std::memcmp(head, kSignature.data(), got) == 0;
}

// Writes the image of a new file and syncs it.
HRESULT WriteImage(int fd, const std::vector<std::uint8_t>& image) {
  HRESULT hr = io::WriteAt(fd, 0, image.data(), image.size());
  if (Succeeded(hr)) hr = io::Sync(fd);
  return hr;
}

// Creates the file directly; a crash part way leaves a short file, which an open with create
// takes for an empty one and an open without create reports as not a compound file.
HRESULT CreateInPlace(const std::string& path, const std::vector<std::uint8_t>& image) {
  io::FileSystem& files = io::Files();
  const int fd = io::OpenFile(path, O_RDWR | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return fd == -EEXIST ? S_OK : io::StatusFromErrno(-fd);
  HRESULT hr = io::LockFile(fd, LOCK_EX) == 0 ? journal::Remove(path) : STG_E_LOCKVIOLATION;
  if (Succeeded(hr)) hr = WriteImage(fd, image);
  if (Succeeded(hr)) hr = io::SyncFolderOf(path);
  files.Close(fd);
  return hr;
}

constexpr char kTempInfix[] = ".new";
constexpr std::size_t kTempSuffix = 6;  // random letters and digits
// A creator locks its temporary file at once; an unlocked one this old is no creator's.
constexpr std::time_t kUnlockedTempAge = 60;

// Writes and locks the image of a new file, then links it (reachable as `from`) into place;
// when another opener linked one first, theirs stands. A leftover journal of an earlier file
// of this name is removed while the new file is locked, so it can never be applied to it.
HRESULT PutInPlace(int fd, const std::string& from, bool follow, const std::string& path) {
  io::FileSystem& files = io::Files();
  ::fchmod(fd, 0644);
  // Locked while it is being made: an opener that finds a temporary file unlocked knows its
  // creator died.
  HRESULT hr = io::LockFile(fd, LOCK_EX) == 0 ? S_OK : STG_E_LOCKVIOLATION;
  const std::vector<std::uint8_t> image = NewFileImage();
  if (Succeeded(hr)) hr = WriteImage(fd, image);
  if (Failed(hr)) return hr;
  const int linked = files.Link(from, path, follow);
  if (linked == 0) {
    // The new name must last before anyone is told the file exists.
    hr = io::SyncFolderOf(path);
    return Succeeded(hr) ? journal::Remove(path) : hr;
  }
  if (linked == -EPERM || linked == -ENOTSUP || linked == -EMLINK) return CreateInPlace(path, image);  // no hard links
  return linked == -EEXIST ? S_OK : io::StatusFromErrno(-linked);
}

// Opens a new temporary file beside path, named path.newXXXXXX.
int OpenTemporary(const std::string& path, std::string& temp) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::atomic<std::uint64_t> s_serial{0};
  std::uint64_t seed = (static_cast<std::uint64_t>(::getpid()) << 32) ^
                       static_cast<std::uint64_t>(std::time(nullptr)) ^ (s_serial++ * 0x9E3779B97F4A7C15ull);
  int fd = -EEXIST;
  for (int attempt = 0; attempt < 100 && fd == -EEXIST; ++attempt) {
    temp = path + kTempInfix;
    for (std::size_t i = 0; i < kTempSuffix; ++i) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      temp += kLetters[(seed >> 33) % (sizeof kLetters - 1)];
    }
    fd = io::OpenFile(temp, O_RDWR | O_CREAT | O_EXCL, 0600);
  }
  return fd;
}

// Creates the file whole before it appears under its name: as an unnamed file where the file
// system has them (a kill leaves nothing behind), else under a temporary name.
HRESULT CreateFile(const std::string& path) {
  io::FileSystem& files = io::Files();
  const int unnamed = io::OpenFile(io::FolderOf(path), O_TMPFILE | O_RDWR, 0644);
  if (unnamed >= 0) {
    const HRESULT hr = PutInPlace(unnamed, "/proc/self/fd/" + std::to_string(unnamed), true, path);
    files.Close(unnamed);
    if (hr != STG_E_FILENOTFOUND) return hr;  // without /proc the unnamed file cannot be linked
  }
  std::string temp;
  const int fd = OpenTemporary(path, temp);
  if (fd < 0) return io::StatusFromErrno(-fd) == STG_E_FILENOTFOUND ? STG_E_PATHNOTFOUND : io::StatusFromErrno(-fd);
  const HRESULT hr = PutInPlace(fd, temp, false, path);
  files.Remove(temp);
  files.Close(fd);
  return hr;
}

// Removes the temporary files that creators of this file left when they were killed; called
// with the file itself open and locked (fd). A temporary file that its creator still holds
// locked, or that may have been made an instant ago and not yet locked, stays. One that is a
// second link to the file itself was left after it was put in place.
void RemoveStaleTemporaries(const std::string& path, int fd) {
  io::FileSystem& files = io::Files();
  struct stat self {};
  if (files.Stat(fd, self) != 0) return;
  const std::string folder = io::FolderOf(path);
  const std::size_t slash = path.rfind('/');
  const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + kTempInfix;
  std::vector<std::string> names;
  if (files.List(folder, names) != 0) return;
  const std::time_t now = std::time(nullptr);
  for (const std::string& name : names) {
    if (name.size() != prefix.size() + kTempSuffix || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string temp = folder + "/" + name;
    const int tempFd = io::OpenFile(temp, O_RDONLY | O_NOFOLLOW, 0);
    if (tempFd < 0) continue;
    struct stat st {};
    if (files.Stat(tempFd, st) == 0 && S_ISREG(st.st_mode)) {
      const bool linkToSelf = st.st_dev == self.st_dev && st.st_ino == self.st_ino;
      const bool abandoned = io::LockFile(tempFd, LOCK_EX | LOCK_NB) == 0 &&
                             (st.st_size > 0 || now - st.st_mtime > kUnlockedTempAge);
      if (linkToSelf || abandoned) files.Remove(temp);
    }
    files.Close(tempFd);
  }
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
  if (options.create && !options.readOnly && io::Files().StatPath(path, st) == -ENOENT) {
    HRESULT hr = CreateFile(path);
    if (Failed(hr)) return hr;
  }

  for (int attempt = 0;; ++attempt) {
    if (attempt == 4) return STG_E_LOCKVIOLATION;
    if (options.readOnly && journal::Pending(path)) {
      // Rolling back needs the file open for writing and locked exclusively.
      io::LockedFile writer;
      HRESULT hr = writer.Open(path, false, options.lockWait);
      if (Failed(hr)) return hr;
      hr = journal::Recover(path, writer.fd());
      if (Failed(hr)) return hr;
    }
    HRESULT hr = doc->m_file.Open(path, options.readOnly, options.lockWait);
    if (Failed(hr)) return hr;
    if (!journal::Pending(path)) break;
    if (options.readOnly) {
      doc->m_file.Close();
      continue;
    }
    hr = journal::Recover(path, doc->m_file.fd());
    if (Failed(hr)) return hr;
    break;
  }

  const int fd = doc->m_file.fd();
  if (!options.readOnly) RemoveStaleTemporaries(path, fd);
  if (options.create && !options.readOnly && IsUnfinishedFile(fd)) {
    // An empty file, or one cut short while being created, is made a compound file: it held
    // nothing to lose.
    HRESULT hr = WriteImage(fd, NewFileImage());
    if (Failed(hr)) return hr;
  }

  cache::Stamp stamp;
  if (cache::StampOf(fd, stamp)) doc->m_model = cache::Take(stamp);
  // A reader reads entries as it needs them; a writer works on all of them.
  if (doc->m_model && doc->m_model->partial && !options.readOnly) doc->m_model.reset();
  if (!doc->m_model) {
    auto model = std::make_unique<Model>();
    HRESULT hr = LoadModel(fd, options.readOnly, *model);
    if (Failed(hr)) return hr;
    doc->m_model = std::move(model);
  }
  if (options.readOnly) doc->m_readCache = std::make_unique<ReadCache>(fd);
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

SiblingTrees Document::Trees() { return SiblingTrees(*m_model, m_batch); }

bool Document::IsLive(std::uint32_t id, std::uint32_t generation) const {
  const Model& m = *m_model;
  if (m.partial ? !m.loaded.Holds(id) : id >= m.nodes.size()) return false;
  const Node& n = NodeAt(id);
  return n.generation == generation && n.entry.type != kEmpty;
}

// ---------------------------------------------------------------------------------------------
// Entries of a partial model, read on demand

HRESULT Document::LoadEntry(std::uint32_t id, std::uint32_t parent, Node*& out) {
  Model& m = *m_model;
  if (id >= m.entryCount) return STG_E_DOCFILECORRUPT;
  if (Node* known = m.loaded.Find(id)) {
    // An entry met in a second tree (the root included) makes the directory a graph.
    if (known->parent != parent) return STG_E_DOCFILECORRUPT;
    out = known;
    return S_OK;
  }
  std::uint8_t bytes[kEntrySize] = {};
  std::size_t got = 0;
  HRESULT hr = m_readCache->ReadAt(m.SectorOffset(m.dirChain[id / m.EntriesPerSector()]) +
                                       (id % m.EntriesPerSector()) * kEntrySize,
                                   bytes, sizeof bytes, &got);
  if (Failed(hr)) return hr;
  DirEntry parsed;
  ParseEntry(bytes, m.Version3(), parsed);
  if (parsed.type != kStorage && parsed.type != kStream) return STG_E_DOCFILECORRUPT;
  Node n;
  m.SetEntry(id, n, parsed);
  n.parent = parent;
  if (n.entry.type == kStream && n.entry.size > 0) {
    const bool mini = n.entry.size < kMiniStreamCutoff;
    hr = WalkChain(m, m_file.fd(), n.entry.start, mini,
                   Units(n.entry.size, mini ? kMiniSectorSize : m.sectorSize), n.chain(), m_readCache.get());
    if (Failed(hr)) return hr;
  }
  out = &m.loaded.Add(id, std::move(n));
  return S_OK;
}

// Reads a storage's whole sibling tree in order, as a full parse does.
HRESULT Document::ListChildren(std::uint32_t storage) {
  Node& s = NodeAt(storage);
  if (s.entry.listed) return S_OK;
  IdList children;
  std::unordered_set<std::uint32_t> seen;
  std::vector<std::uint32_t> stack;
  std::uint32_t cur = s.entry.child;
  while (cur != kNoStream || !stack.empty()) {
    while (cur != kNoStream) {
      if (!seen.insert(cur).second) return STG_E_DOCFILECORRUPT;  // a cycle
      Node* n = nullptr;
      HRESULT hr = LoadEntry(cur, storage, n);
      if (Failed(hr)) return hr;
      stack.push_back(cur);
      cur = n->entry.left;
    }
    cur = stack.back();
    stack.pop_back();
    children.push_back(cur);
    cur = NodeAt(cur).entry.right;
  }
  s.children() = std::move(children);
  s.entry.listed = true;
  return S_OK;
}

// Looks a name up along the sibling tree, reading only the entries on the way. A tree out of
// the sibling order (another writer's) may hide a name from this search, so a miss is
// confirmed against the whole list.
HRESULT Document::SearchTree(std::uint32_t storage, std::u16string_view name, std::uint32_t& id) {
  std::uint32_t cur = NodeAt(storage).entry.child;
  for (std::uint32_t steps = 0; cur != kNoStream; ++steps) {
    if (steps > m_model->entryCount) return STG_E_DOCFILECORRUPT;  // a cycle
    Node* n = nullptr;
    HRESULT hr = LoadEntry(cur, storage, n);
    if (Failed(hr)) return hr;
    const int order = CompareNames(name, m_model->NameOf(*n));
    if (order == 0) {
      id = cur;
      return S_OK;
    }
    cur = order < 0 ? n->entry.left : n->entry.right;
  }
  return ListChildren(storage);
}

// ---------------------------------------------------------------------------------------------
// Names and the directory

// Most storages hold a handful of children: these are looked up in their list, which costs
// no memory beyond it.
constexpr std::size_t kUnindexedChildren = 8;

NameIndex& Document::EnsureIndex(std::uint32_t storage) {
  const auto [it, made] = m_model->indexes.try_emplace(storage);
  if (made)
    for (std::uint32_t id : NodeAt(storage).children()) it->second.Insert(id, NameOf());
  return it->second;
}

HRESULT Document::Find(std::uint32_t storage, std::u16string_view name, std::uint32_t& id) {
  if (!IsValidName(name)) return STG_E_INVALIDNAME;
  if (m_model->partial && !NodeAt(storage).entry.listed) {
    id = kNoStream;
    HRESULT hr = SearchTree(storage, name, id);
    if (Failed(hr) || id != kNoStream) return hr;
  }
  Node& s = NodeAt(storage);
  id = kNoStream;
  if (s.children().size() > kUnindexedChildren || m_model->indexes.count(storage) != 0) {
    id = EnsureIndex(storage).Find(name, NameOf());
  } else {
    for (std::uint32_t child : s.children()) {
      if (CompareNames(m_model->NameOf(NodeAt(child)), name) == 0) {
        id = child;
        break;
      }
    }
  }
  return id == kNoStream ? STG_E_FILENOTFOUND : S_OK;
}

HRESULT Document::Create(std::uint32_t storage, std::u16string_view name, std::uint8_t type,
                         bool replace, std::uint32_t& id) {
  HRESULT hr = CheckWritable();
  if (Failed(hr)) return hr;
  std::uint32_t existing = 0;
  hr = Find(storage, name, existing);
  if (Succeeded(hr)) {
    if (!replace) return STG_E_FILEALREADYEXISTS;
    // The new element takes the old one's entry and so its place in the sibling tree.
    id = existing;
    Renew(id, name, type);
    m_changed = true;
    return S_OK;
  }
  if (hr != STG_E_FILENOTFOUND) return hr;
  hr = AllocEntry(id);
  if (Failed(hr)) return hr;
  Node& n = m_model->nodes[id];
  m_model->DropSideData(id, n);
  n.entry = Entry{};
  m_model->SetName(n, name);
  n.entry.type = type;
  n.entry.start = type == kStream ? kEndOfChain : 0;
  Node& parent = m_model->nodes[storage];
  n.slot = static_cast<std::uint32_t>(parent.children().size());
  parent.children().push_back(id);
  if (const auto index = m_model->indexes.find(storage); index != m_model->indexes.end())
    index->second.Insert(id, NameOf());
  MarkEntry(id);
  m_changed = true;
  if (!parent.entry.treeDirty && parent.children().size() > kIncrementalTree && Trees().IsValid(storage)) {
    Trees().Insert(storage, id);
  } else if (!parent.entry.treeDirty) {
    parent.entry.treeDirty = true;
    m_batch.trees.push_back(storage);
  }
  return S_OK;
}

// Frees the given entries with everything below them, and their streams' sectors.
void Document::FreeSubtrees(std::vector<std::uint32_t> pending) {
  NodeList& nodes = m_model->nodes;
  while (!pending.empty()) {
    const std::uint32_t cur = pending.back();
    pending.pop_back();
    Node& n = nodes[cur];
    if (n.IsStorage()) pending.insert(pending.end(), n.children().begin(), n.children().end());
    if (n.entry.type == kStream) Space().Truncate(n.chain(), 0, n.entry.size < kMiniStreamCutoff);
    FreeEntry(cur);
  }
}

// Frees what the element holds (a stream's sectors, a storage's children with everything
// below them) and makes it a new empty element of the given name and type. Handles of the old
// element see it reverted.
void Document::Renew(std::uint32_t id, std::u16string_view name, std::uint8_t type) {
  NodeList& nodes = m_model->nodes;
  if (nodes[id].entry.type == kStream)
    Space().Truncate(nodes[id].chain(), 0, nodes[id].entry.size < kMiniStreamCutoff);
  else
    FreeSubtrees({nodes[id].children().begin(), nodes[id].children().end()});
  Node& n = nodes[id];
  m_model->DropSideData(id, n);
  Entry entry;
  entry.type = type;
  entry.start = type == kStream ? kEndOfChain : 0;
  entry.left = n.entry.left;
  entry.right = n.entry.right;
  entry.color = n.entry.color;
  entry.treeDirty = n.entry.treeDirty;
  entry.listed = n.entry.listed;
  n.entry = entry;
  m_model->SetName(n, name);
  n.generation++;
  n.list.clear();
  n.entry.treeCheck = TreeCheck::kValid;  // empty
  MarkEntry(id);
}

HRESULT Document::Destroy(std::uint32_t storage, std::u16string_view name) {
  HRESULT hr = CheckWritable();
  if (Failed(hr)) return hr;
  std::uint32_t id = 0;
  hr = Find(storage, name, id);
  if (Failed(hr)) return hr;
  NodeList& nodes = m_model->nodes;
  Node& parent = nodes[storage];
  // The order of the children does not matter until the tree is rebuilt, which sorts them.
  const std::uint32_t slot = nodes[id].slot;
  parent.children()[slot] = parent.children().back();
  nodes[parent.children()[slot]].slot = slot;
  parent.children().pop_back();
  if (const auto index = m_model->indexes.find(storage); index != m_model->indexes.end())
    index->second.Erase(id, NameOf());
  if (!parent.entry.treeDirty) {
    parent.entry.treeDirty = true;
    m_batch.trees.push_back(storage);
  }
  FreeSubtrees({id});
  m_changed = true;
  return S_OK;
}

HRESULT Document::Enumerate(std::uint32_t storage, std::vector<ElementInfo>& out) {
  if (m_model->partial) {
    HRESULT hr = ListChildren(storage);
    if (Failed(hr)) return hr;
  }
  Node& s = NodeAt(storage);
  // A tree to be rebuilt is rebuilt in sorted order when the batch is written, and a sound
  // tree is in that order already (children added to it one at a time come last in the list):
  // list both that way. Another writer's tree is listed as it stands.
  if (s.entry.treeDirty || s.entry.treeCheck == TreeCheck::kValid) Trees().SortChildren(s);
  out.clear();
  out.reserve(s.children().size());
  for (std::uint32_t id : s.children()) out.push_back(Describe(id));
  return S_OK;
}

ElementInfo Document::Describe(std::uint32_t id) const {
  const Node& n = NodeAt(id);
  const Entry& e = n.entry;
  ElementInfo info;
  info.name = m_model->NameOf(n);
  info.type = e.type == kStorage ? ElementType::Storage : ElementType::Stream;
  info.size = e.type == kStream ? e.size : 0;
  return info;
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
    SectorSpace space = Space();
    HRESULT hr = space.AllocSector(s);
    if (Failed(hr)) return hr;
    space.SetFat(m.dirChain.back(), s);
    m.dirChain.push_back(s);
    const std::size_t first = m.nodes.size();
    m.nodes.resize(first + m.EntriesPerSector());
    MarkEntry(static_cast<std::uint32_t>(first));  // writes the whole new sector
  }
}

void Document::FreeEntry(std::uint32_t id) {
  Node& n = m_model->nodes[id];
  const std::uint32_t generation = n.generation + 1;
  m_model->DropSideData(id, n);
  n = Node{};
  n.generation = generation;
  MarkEntry(id);
  m_model->freeEntryHint = std::min(m_model->freeEntryHint, id);
}

}  // namespace cfb
