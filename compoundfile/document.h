// One open compound file: the parsed structure of the file (Model), the changes of the batch
// under way, and the operations the storage and stream handles perform on it.
#pragma once

#include <array>
#include <deque>
#include <memory>
#include <exception>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "compoundfile/compoundfile.h"
#include "compoundfile/fileio.h"
#include "compoundfile/format.h"
#include "compoundfile/idlist.h"
#include "compoundfile/nameindex.h"
#include "compoundfile/namepool.h"

namespace cfb {

// A version 3 file never grows past 2 GB: its last sector must end by then.
inline constexpr std::uint64_t kVersion3Limit = 0x80000000ull;

// How many units of the given size hold bytes.
inline std::uint64_t Units(std::uint64_t bytes, std::uint32_t unit) {
  return bytes / unit + (bytes % unit != 0);
}

// Whether a storage's sibling tree was found sound (see Document::TreeIsValid).
enum class TreeCheck : std::uint8_t { kUnknown, kValid, kInvalid };

// A storage with more children than this whose tree is sound takes new children into the tree
// one at a time; a smaller one has its tree rebuilt whole when a batch changed it.
inline constexpr std::size_t kIncrementalTree = 1024;

// The fields of a directory entry that every entry uses, as a model keeps them, and the
// library's notes on a storage in the byte left over. The name lies in the model's NamePool; a
// class id, state bits and times lie in Model::extras when any of them is not zero (they hardly
// ever are).
struct Entry {
  std::uint64_t size = 0;
  std::uint32_t left = format::kNoStream;
  std::uint32_t right = format::kNoStream;
  std::uint32_t child = format::kNoStream;
  std::uint32_t start = format::kEndOfChain;
  std::uint32_t nameAt = 0;
  std::uint8_t nameLength = 0;
  std::uint8_t type = format::kEmpty;
  std::uint8_t color = format::kBlack;
  bool treeDirty : 1 = false;            // storages: children changed, tree to rebuild
  bool listed : 1 = false;               // storages of a partial model: children read
  TreeCheck treeCheck : 2 = TreeCheck::kUnknown;
};

// The rarely used fields of an entry.
struct EntryExtras {
  std::array<std::uint8_t, 16> clsid{};
  std::uint32_t stateBits = 0;
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
};

// A directory entry with what the library keeps beside it in memory. A model holds one for
// every entry of the file, so it is kept small: the small members sit together where they need
// no padding, and one list serves as a storage's children and as a stream's chain.
struct Node {
  Entry entry;
  std::uint32_t generation = 0;          // bumped when the entry is freed; handles compare it
  union {
    std::uint32_t slot = 0;              // full models: where the parent's `children` lists it
    std::uint32_t parent;                // partial models: the storage whose tree holds it
  };
  IdList list;

  // Storages: in enumeration order once sorted.
  IdList& children() { return list; }
  const IdList& children() const { return list; }
  // Streams: sectors (mini sectors when small).
  IdList& chain() { return list; }
  const IdList& chain() const { return list; }
  bool IsStorage() const { return entry.type == format::kStorage || entry.type == format::kRoot; }
};

// The entries of a full model. A deque grows without moving what it holds: a vector's doubling
// kept the old and the new array of a large file's entries at once, half again as much memory as
// the entries take, and left up to as much unused after.
using NodeList = std::deque<Node>;
static_assert(sizeof(Entry) == 32 && sizeof(Node) <= 64, "a model holds one node per entry");

// The entries a partial model has read, by id: each id's place among the nodes read so far,
// which lie in the order they were read.
class LoadedNodes {
 public:
  Node* Find(std::uint32_t id) {
    return id < m_place.size() && m_place[id] != 0 ? &m_nodes[m_place[id] - 1] : nullptr;
  }
  const Node* Find(std::uint32_t id) const { return const_cast<LoadedNodes*>(this)->Find(id); }
  bool Holds(std::uint32_t id) const { return Find(id) != nullptr; }
  // The node of id, made (empty) when it was not read.
  Node& operator[](std::uint32_t id) {
    if (Node* n = Find(id)) return *n;
    return Add(id, Node{});
  }
  // Takes the node of an id not read yet.
  Node& Add(std::uint32_t id, Node&& n) {
    if (id >= m_place.size()) m_place.resize(std::size_t{id} + 1, 0);
    m_nodes.push_back(std::move(n));
    m_place[id] = static_cast<std::uint32_t>(m_nodes.size());
    return m_nodes.back();
  }
  std::size_t size() const { return m_nodes.size(); }
  auto begin() { return m_nodes.begin(); }
  auto end() { return m_nodes.end(); }

 private:
  std::vector<std::uint32_t> m_place;  // 1 + where the node of each id lies; 0: not read
  std::deque<Node> m_nodes;
};

// The parsed file, kept between opens while the file stays as it is.
struct Model {
  format::Header header;
  std::uint32_t sectorSize = 512;
  std::uint64_t fileLength = 0;     // bytes on disk
  std::uint32_t fileSectors = 0;    // sectors on disk after the header (a partial one counts)
  std::vector<std::uint32_t> fat;
  std::vector<std::uint32_t> fatSectors;    // where the FAT lives, in order
  std::vector<std::uint32_t> difatSectors;  // where the DIFAT continues past the header
  std::vector<std::uint32_t> miniFat;        // whole in a full model
  std::uint64_t miniFatEntries = 0;          // links the MiniFAT's sectors hold
  std::vector<std::uint32_t> miniFatChain;
  std::vector<std::uint32_t> dirChain;
  std::vector<std::uint32_t> miniStreamChain;
  NodeList nodes;                   // every entry (empty while partial)
  NamePool names;                   // the entries' names
  std::uint64_t nameUnits = 0;      // units the entries' names count together
  std::unordered_map<std::uint32_t, EntryExtras> extras;
  std::unordered_map<std::uint32_t, NameIndex> indexes;  // children by name, made at the first lookup
  // A model read for reading only is partial: it holds just the entries looked at so far (the
  // sibling trees on the way to them, the children of storages listed) in `loaded`, read from
  // the file on demand. The sectors of the chains read so far are claimed in `owned` and
  // `miniOwned`, so that a sector two chains share is found as it would be in a full parse.
  bool partial = false;
  std::uint32_t entryCount = 0;     // entries the directory holds
  LoadedNodes loaded;
  std::vector<bool> owned;
  std::vector<bool> miniOwned;
  std::uint32_t miniLimit = 0;      // mini sectors the mini stream holds
  std::uint32_t freeSectorHint = 0;
  std::uint32_t freeMiniHint = 0;
  std::uint32_t freeEntryHint = 1;

  std::u16string_view NameOf(const Node& n) const { return names.View(n.entry.nameAt, n.entry.nameLength); }
  // Gives an entry a name (a view into the pool may move).
  void SetName(Node& n, std::u16string_view name);
  // Takes a parsed entry's fields into the entry id.
  void SetEntry(std::uint32_t id, Node& n, const format::DirEntry& e);
  // The entry id as written to the file.
  void GetEntry(std::uint32_t id, const Node& n, format::DirEntry& e) const;
  // Forgets what lies beside the entry id outside its node (before it is freed or renewed).
  void DropSideData(std::uint32_t id, Node& n);

  bool Version3() const { return header.majorVersion == 3; }
  std::uint32_t EntriesPerSector() const { return sectorSize / format::kEntrySize; }
  std::uint32_t IdsPerSector() const { return sectorSize / 4; }
  std::uint64_t SectorOffset(std::uint32_t s) const {
    return static_cast<std::uint64_t>(s + 1) * sectorSize;
  }
};

// Parses the file open at fd, every entry or (partial) only the root. S_OK,
// STG_E_INVALIDHEADER or STG_E_DOCFILECORRUPT.
HRESULT LoadModel(int fd, bool partial, Model& out);
// Follows a chain of the FAT (or of the MiniFAT when mini) from start to ENDOFCHAIN, claiming
// its sectors; at least `needed` links. STG_E_DOCFILECORRUPT for a chain that leaves the file,
// loops or runs into a sector claimed already. Ids is std::vector<std::uint32_t> (the model's
// own chains) or IdList (an entry's).
class ReadCache;
template <class Ids>
HRESULT WalkChain(Model& m, int fd, std::uint32_t start, bool mini, std::uint64_t needed, Ids& out,
                  ReadCache* cache = nullptr);
// The bytes of a new empty file (header, FAT and a directory holding the root).
std::vector<std::uint8_t> NewFileImage();

// Thrown by NodeAt for an entry the model does not hold; the handles report it as
// STG_E_DOCFILECORRUPT.
struct MissingEntry : std::exception {
  const char* what() const noexcept override { return "directory entry not in the model"; }
};

// An entry the model holds (in a partial model, one read already); MissingEntry for any
// other id, which only a file damaged in a way the reader did not foresee can lead to.
inline Node& NodeAt(Model& m, std::uint32_t id) {
  if (m.partial) {
    Node* n = m.loaded.Find(id);
    if (!n) throw MissingEntry();
    return *n;
  }
  if (id >= m.nodes.size()) throw MissingEntry();
  return m.nodes[id];
}

// The batch under way: changed data sectors, and which metadata must be written again.
struct Batch {
  std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> sectors;
  // Sectors of stream chains the batch took that the committed file does not use: their bytes
  // go to the file as they are written, since no rollback needs what they held, so a large
  // stream is never held in memory. Each with whether it was written yet (until then it reads
  // as zero, and the commit writes it as zero).
  std::unordered_map<std::uint32_t, bool> direct;
  // Sectors the committed file uses that the batch freed (by sector, and the lowest): not taken
  // again before the commit, so that a rollback finds them as they were.
  std::vector<bool> freed;
  std::uint32_t lowestFreed = UINT32_MAX;
  bool Freed(std::uint32_t s) const { return s < freed.size() && freed[s]; }
  std::vector<std::uint32_t> entries;
  std::vector<std::uint32_t> fat;      // FAT entry indices changed
  std::vector<std::uint32_t> miniFat;  // MiniFAT entry indices changed
  std::vector<std::uint32_t> trees;    // storages whose sibling tree must be rebuilt
  bool difat = false;
};

class SectorSpace;
class SiblingTrees;

class Document {
 public:
  static HRESULT Open(const std::string& path, const OpenOptions& options,
                      std::shared_ptr<Document>& out);
  ~Document();  // commits the batch, keeps the parsed file for the next open, unlocks

  std::mutex& Mutex() { return m_mutex; }

  // Every call below expects the mutex held.
  bool IsLive(std::uint32_t id, std::uint32_t generation) const;
  std::uint32_t Generation(std::uint32_t id) const { return NodeAt(id).generation; }
  std::uint8_t TypeOf(std::uint32_t id) const { return NodeAt(id).entry.type; }

  HRESULT Find(std::uint32_t storage, std::u16string_view name, std::uint32_t& id);
  HRESULT Create(std::uint32_t storage, std::u16string_view name, std::uint8_t type,
                 bool replace, std::uint32_t& id);
  HRESULT Destroy(std::uint32_t storage, std::u16string_view name);
  HRESULT Enumerate(std::uint32_t storage, std::vector<ElementInfo>& out);
  // What the handles tell of an entry the model holds.
  ElementInfo Describe(std::uint32_t id) const;

  std::uint64_t StreamSize(std::uint32_t id) const { return NodeAt(id).entry.size; }
  HRESULT ReadStream(std::uint32_t id, std::uint64_t pos, void* buffer, std::uint32_t cb,
                     std::uint32_t& got);
  HRESULT WriteStream(std::uint32_t id, std::uint64_t pos, const void* buffer, std::uint32_t cb);
  HRESULT Resize(std::uint32_t id, std::uint64_t size);
  // *spaceNeeded (when given) receives the free space the batch took or would have taken on
  // the file's disk.
  HRESULT Commit(std::uint64_t* spaceNeeded = nullptr);

 private:
  Document() = default;
  HRESULT CheckWritable() const;

  Node& NodeAt(std::uint32_t id) const { return cfb::NodeAt(*m_model, id); }
  // The sectors of the file and the sibling trees, as this document's model and batch have
  // them.
  SectorSpace Space();
  SiblingTrees Trees();
  // Partial models: reads entry id, met in the sibling tree of parent, unless it was read.
  HRESULT LoadEntry(std::uint32_t id, std::uint32_t parent, Node*& out);
  HRESULT ListChildren(std::uint32_t storage);
  HRESULT SearchTree(std::uint32_t storage, std::u16string_view name, std::uint32_t& id);

  // Directory entries.
  HRESULT AllocEntry(std::uint32_t& out);
  void FreeEntry(std::uint32_t id);
  void MarkEntry(std::uint32_t id) { m_batch.entries.push_back(id); }
  NameIndex& EnsureIndex(std::uint32_t storage);
  auto NameOf() const {
    return [this](std::uint32_t id) { return m_model->NameOf(NodeAt(id)); };
  }
  void Renew(std::uint32_t id, std::u16string_view name, std::uint8_t type);
  void FreeSubtrees(std::vector<std::uint32_t> pending);
  // Writes into a stream; a failure leaves the batch half changed, so the document is broken.
  HRESULT CopyIn(Node& n, std::uint64_t pos, const std::uint8_t* in, std::size_t len);
  HRESULT ZeroRange(Node& n, std::uint64_t from, std::uint64_t to);
  HRESULT WriteBatch(std::uint64_t* spaceNeeded);
  std::uint64_t SpaceNeeded();

  std::string m_path;
  bool m_readOnly = false;
  io::LockedFile m_file;
  std::unique_ptr<Model> m_model;
  bool m_broken = false;  // a failed commit or write left memory ahead of the file
  bool m_diskFull = false;  // what broke it was a full disk
  std::mutex m_mutex;
  // A reader's reads of entries, links and streams, which lie near each other in the file.
  std::unique_ptr<ReadCache> m_readCache;

  Batch m_batch;
  bool m_changed = false;
};

}  // namespace cfb
