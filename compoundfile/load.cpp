// Parsing a compound file into a Model. Nothing in the file is trusted: every sector number is
// checked against the file, every chain is walked at most once per sector (a second visit is a
// cycle or a sector shared by two chains), and every allocation is bounded by the file's size.
// A partial parse reads the tables and the root only; entries follow on demand (document.cpp)
// under the same checks.
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "compoundfile/document.h"
#include "compoundfile/readcache.h"

namespace cfb {

using namespace format;

namespace {

class Loader {
 public:
  Loader(int fd, Model& m) : m_fd(fd), m(m) {}

  HRESULT Run(bool partial) {
    HRESULT hr = ReadHeader();
    if (Succeeded(hr)) hr = ReadFat();
    if (Succeeded(hr)) hr = partial ? ReadRoot() : ReadDirectory();
    if (Succeeded(hr)) hr = ReadMini();
    if (Succeeded(hr) && !partial) hr = WalkTree();
    if (Succeeded(hr)) SetHints();
    if (!partial) {
      // Every chain is known now; the claims are only needed to check chains read later.
      std::vector<bool>().swap(m.owned);
      std::vector<bool>().swap(m.miniOwned);
    }
    return hr;
  }

 private:
  HRESULT ReadHeader() {
    struct stat st {};
    if (io::Files().Stat(m_fd, st) != 0) return STG_E_READFAULT;
    m.fileLength = static_cast<std::uint64_t>(st.st_size);
    if (m.fileLength < kHeaderSize) return STG_E_INVALIDHEADER;
    std::uint8_t bytes[kHeaderSize];
    std::size_t got = 0;
    HRESULT hr = io::ReadAt(m_fd, 0, bytes, kHeaderSize, &got);
    if (Failed(hr)) return hr;
    if (got != kHeaderSize) return STG_E_INVALIDHEADER;
    hr = ParseHeader(bytes, m.header);
    if (Failed(hr)) return hr;
    m.sectorSize = m.header.SectorSize();
    const std::uint64_t body = m.fileLength > m.sectorSize ? m.fileLength - m.sectorSize : 0;
    // A file not padded to a whole sector still holds its last, partial sector.
    const std::uint64_t sectors = (body + m.sectorSize - 1) / m.sectorSize;
    if (sectors >= kMaxRegSect) return STG_E_DOCFILECORRUPT;
    m.fileSectors = static_cast<std::uint32_t>(sectors);
    m.owned.assign(m.fileSectors, false);
    return S_OK;
  }

  HRESULT Claim(std::uint32_t s) {
    if (s >= m.fileSectors || m.owned[s]) return STG_E_DOCFILECORRUPT;
    m.owned[s] = true;
    return S_OK;
  }

  HRESULT ReadSector(std::uint32_t s, std::uint8_t* out) {
    std::size_t got = 0;
    HRESULT hr = io::ReadAt(m_fd, m.SectorOffset(s), out, m.sectorSize, &got);
    if (Succeeded(hr) && got < m.sectorSize) std::memset(out + got, 0, m.sectorSize - got);
    return hr;
  }

  // Reads sectors [i, end) of a chain into target. Sectors that follow each other in the file,
  // or nearly (a writer interleaves the directory with the data it adds), are read with one
  // call through a bounded window, the bytes between them read and dropped.
  HRESULT ReadSectors(const std::vector<std::uint32_t>& chain, std::size_t i, std::size_t end,
                      std::uint8_t* target) {
    constexpr std::uint32_t kMaxGap = 16;             // sectors skipped inside one read
    constexpr std::size_t kWindowSectors = 2048;      // one read spans at most this many
    const std::size_t ss = m.sectorSize;
    std::uint8_t* const base = target - i * ss;
    while (i < end) {
      std::size_t j = i + 1;
      while (j < end && chain[j] > chain[j - 1] && chain[j] - chain[j - 1] <= kMaxGap &&
             chain[j] - chain[i] < kWindowSectors)
        ++j;
      const std::size_t span = chain[j - 1] - chain[i] + 1;
      std::uint8_t* into = base + i * ss;
      if (span != j - i) {
        m_window.resize(span * ss);
        into = m_window.data();
      }
      std::size_t got = 0;
      HRESULT hr = io::ReadAt(m_fd, m.SectorOffset(chain[i]), into, span * ss, &got);
      if (Failed(hr)) return hr;
      if (span != j - i) {
        std::memset(m_window.data() + got, 0, m_window.size() - got);
        for (std::size_t k = i; k < j; ++k)
          std::memcpy(base + k * ss, m_window.data() + (chain[k] - chain[i]) * ss, ss);
      } else if (got < span * ss) {
        std::memset(into + got, 0, span * ss - got);
      }
      i = j;
    }
    return S_OK;
  }

  // Reads the sectors of a chain into one buffer.
  HRESULT ReadChain(const std::vector<std::uint32_t>& chain, std::vector<std::uint8_t>& out) {
    out.assign(chain.size() * m.sectorSize, 0);
    return ReadSectors(chain, 0, chain.size(), out.data());
  }

  // Reads a chain in runs of at most kRunBytes, handing each run to consume(bytes, first
  // sector's place in the chain, sectors), so that a large chain is never in memory whole.
  template <class Consume>
  HRESULT ReadChainInRuns(const std::vector<std::uint32_t>& chain, Consume&& consume) {
    constexpr std::size_t kRunBytes = std::size_t{1} << 20;
    const std::size_t runSectors = std::max<std::size_t>(1, kRunBytes / m.sectorSize);
    std::vector<std::uint8_t> run(std::min(chain.size(), runSectors) * m.sectorSize);
    for (std::size_t i = 0; i < chain.size(); i += runSectors) {
      const std::size_t end = std::min(chain.size(), i + runSectors);
      HRESULT hr = ReadSectors(chain, i, end, run.data());
      if (Failed(hr)) return hr;
      consume(run.data(), i, end - i);
    }
    std::vector<std::uint8_t>().swap(m_window);
    return S_OK;
  }

  HRESULT ReadFat() {
    const Header& h = m.header;
    if (h.numFatSectors == 0 || h.numFatSectors > m.fileSectors ||
        h.numDifatSectors > m.fileSectors)
      return STG_E_DOCFILECORRUPT;
    for (std::uint32_t i = 0; i < kHeaderDifatSlots && m.fatSectors.size() < h.numFatSectors; ++i)
      m.fatSectors.push_back(h.difat[i]);
    std::vector<std::uint8_t> sector(m.sectorSize);
    std::uint32_t next = h.firstDifatSector;
    const std::uint32_t perDifat = m.IdsPerSector() - 1;
    for (std::uint32_t k = 0; k < h.numDifatSectors && m.fatSectors.size() < h.numFatSectors; ++k) {
      if (Failed(Claim(next))) return STG_E_DOCFILECORRUPT;
      m.difatSectors.push_back(next);
      HRESULT hr = ReadSector(next, sector.data());
      if (Failed(hr)) return hr;
      for (std::uint32_t i = 0; i < perDifat && m.fatSectors.size() < h.numFatSectors; ++i)
        m.fatSectors.push_back(Get32(sector.data() + 4 * i));
      next = Get32(sector.data() + 4 * perDifat);
    }
    if (m.fatSectors.size() < h.numFatSectors) return STG_E_DOCFILECORRUPT;
    for (std::uint32_t s : m.fatSectors)
      if (Failed(Claim(s))) return STG_E_DOCFILECORRUPT;

    // Read in place: a large file's FAT is megabytes.
    m.fat.resize(m.fatSectors.size() * std::size_t{m.IdsPerSector()});
    auto* bytes = reinterpret_cast<std::uint8_t*>(m.fat.data());
    HRESULT hr = ReadSectors(m.fatSectors, 0, m.fatSectors.size(), bytes);
    if (Failed(hr)) return hr;
    if constexpr (std::endian::native != std::endian::little)
      for (std::size_t i = 0; i < m.fat.size(); ++i) m.fat[i] = Get32(bytes + 4 * i);
    // The FAT must describe its own sectors; a writer that left them marked free would have us
    // hand them out as data and overwrite the FAT.
    auto reserve = [&](std::uint32_t s, std::uint32_t mark) {
      if (s >= m.fat.size()) return false;
      m.fat[s] = mark;
      return true;
    };
    for (std::uint32_t s : m.fatSectors)
      if (!reserve(s, kFatSect)) return STG_E_DOCFILECORRUPT;
    for (std::uint32_t s : m.difatSectors)
      if (!reserve(s, kDifSect)) return STG_E_DOCFILECORRUPT;
    return S_OK;
  }

  template <class Ids>
  HRESULT Walk(std::uint32_t start, bool mini, std::uint64_t needed, Ids& out) {
    return WalkChain(m, m_fd, start, mini, needed, out);
  }

  HRESULT ReadDirectory() {
    HRESULT hr = Walk(m.header.firstDirSector, false, 1, m.dirChain);
    if (Failed(hr)) return hr;
    const std::size_t perSector = m.EntriesPerSector();
    const std::size_t count = m.dirChain.size() * perSector;
    m.nodes.resize(count);
    m.entryCount = static_cast<std::uint32_t>(count);
    DirEntry parsed;
    hr = ReadChainInRuns(m.dirChain, [&](const std::uint8_t* bytes, std::size_t first, std::size_t sectors) {
      for (std::size_t i = 0; i < sectors * perSector; ++i) {
        const std::size_t id = first * perSector + i;
        ParseEntry(bytes + i * kEntrySize, m.Version3(), parsed);
        m.SetEntry(static_cast<std::uint32_t>(id), m.nodes[id], parsed);
      }
    });
    if (Failed(hr)) return hr;
    if (m.nodes[0].entry.type != kRoot) return STG_E_DOCFILECORRUPT;
    return S_OK;
  }

  // The directory's chain and its first entry, the root, only.
  HRESULT ReadRoot() {
    m.partial = true;
    HRESULT hr = Walk(m.header.firstDirSector, false, 1, m.dirChain);
    if (Failed(hr)) return hr;
    if (m.dirChain.size() > UINT32_MAX / m.EntriesPerSector()) return STG_E_DOCFILECORRUPT;
    m.entryCount = static_cast<std::uint32_t>(m.dirChain.size() * m.EntriesPerSector());
    std::vector<std::uint8_t> sector(m.sectorSize);
    hr = ReadSector(m.dirChain[0], sector.data());
    if (Failed(hr)) return hr;
    Node& root = m.loaded[0];
    DirEntry parsed;
    ParseEntry(sector.data(), m.Version3(), parsed);
    m.SetEntry(0, root, parsed);
    root.parent = kNoStream;  // in no storage's tree
    if (root.entry.type != kRoot) return STG_E_DOCFILECORRUPT;
    return S_OK;
  }

  HRESULT ReadMini() {
    const Entry& root = m.partial ? m.loaded[0].entry : m.nodes[0].entry;
    if (root.size == 0) {
      m.miniStreamChain.clear();
    } else {
      HRESULT hr = Walk(root.start, false, Units(root.size, m.sectorSize), m.miniStreamChain);
      if (Failed(hr)) return hr;
    }
    if (m.header.firstMiniFatSector != kEndOfChain || m.header.numMiniFatSectors != 0) {
      HRESULT hr = Walk(m.header.firstMiniFatSector, false, 1, m.miniFatChain);
      if (Failed(hr)) return hr;
      if (m.partial) {
        m.miniFatEntries = m.miniFatChain.size() * std::uint64_t{m.IdsPerSector()};
      } else {
        std::vector<std::uint8_t> bytes;
        hr = ReadChain(m.miniFatChain, bytes);
        if (Failed(hr)) return hr;
        m.miniFat.resize(bytes.size() / 4);
        for (std::size_t i = 0; i < m.miniFat.size(); ++i) m.miniFat[i] = Get32(bytes.data() + 4 * i);
        m.miniFatEntries = m.miniFat.size();
      }
    }
    m.miniOwned.assign(m.miniFatEntries, false);
    m.miniLimit = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(root.size, m.miniStreamChain.size() * std::uint64_t{m.sectorSize}) /
        kMiniSectorSize);
    return S_OK;
  }

  HRESULT Visit(std::uint32_t parent, std::uint32_t id, std::vector<std::uint32_t>& storages) {
    Node& n = m.nodes[id];
    n.slot = static_cast<std::uint32_t>(m.nodes[parent].children().size());
    m.nodes[parent].children().push_back(id);
    if (n.entry.type == kStorage) {
      storages.push_back(id);
      return S_OK;
    }
    if (n.entry.size == 0) return S_OK;  // any start, ENDOFCHAIN included, means no data
    const bool mini = n.entry.size < kMiniStreamCutoff;
    return Walk(n.entry.start, mini, Units(n.entry.size, mini ? kMiniSectorSize : m.sectorSize),
                n.chain());
  }

  // Walks every storage's sibling tree in order. Each entry may be reached once; a second
  // arrival means a cycle or an entry shared between trees.
  HRESULT WalkTree() {
    const std::size_t count = m.nodes.size();
    std::vector<std::uint8_t> seen(count, 0);
    seen[0] = 1;
    std::vector<std::uint32_t> storages{0};
    std::vector<std::uint32_t> stack;
    while (!storages.empty()) {
      const std::uint32_t s = storages.back();
      storages.pop_back();
      std::uint32_t cur = m.nodes[s].entry.child;
      while (cur != kNoStream || !stack.empty()) {
        while (cur != kNoStream) {
          if (cur >= count || seen[cur]) return STG_E_DOCFILECORRUPT;
          const std::uint8_t type = m.nodes[cur].entry.type;
          if (type != kStorage && type != kStream) return STG_E_DOCFILECORRUPT;
          seen[cur] = 1;
          stack.push_back(cur);
          cur = m.nodes[cur].entry.left;
        }
        cur = stack.back();
        stack.pop_back();
        HRESULT hr = Visit(s, cur, storages);
        if (Failed(hr)) return hr;
        cur = m.nodes[cur].entry.right;
      }
    }
    // Entries no tree reaches are left alone; only empty ones are reused.
    return S_OK;
  }

  void SetHints() {
    m.freeSectorHint = 0;
    m.freeMiniHint = 0;
    m.freeEntryHint = 1;
  }

  int m_fd;
  Model& m;
  std::vector<std::uint8_t> m_window;  // a read's span when it skips sectors
};

// The link after mini sector s (below m.miniFatEntries). A partial model reads it from the
// file (through the reader's cache), where a link past the end of the file reads as zero.
HRESULT NextMini(Model& m, int fd, ReadCache* cache, std::uint32_t s, std::uint32_t& next) {
  if (!m.partial) {
    next = m.miniFat[s];
    return S_OK;
  }
  const std::uint64_t at = m.SectorOffset(m.miniFatChain[s / m.IdsPerSector()]) + 4 * (s % m.IdsPerSector());
  std::uint8_t link[4] = {};
  std::size_t got = 0;
  HRESULT hr = cache ? cache->ReadAt(at, link, sizeof link, &got) : io::ReadAt(fd, at, link, sizeof link, &got);
  next = Get32(link);
  return hr;
}

}  // namespace

void Model::SetName(Node& n, std::u16string_view name) {
  nameUnits -= n.entry.nameLength;
  const NamePool::Ref ref = names.Add(name);
  n.entry.nameAt = ref.at;
  n.entry.nameLength = ref.length;
  nameUnits += ref.length;
  // Names replaced over a long session leave their units behind: past twice what the entries
  // use, the pool is written anew.
  constexpr std::uint64_t kSlack = 1 << 16;
  if (names.Units() <= 2 * nameUnits + kSlack) return;
  NamePool fresh;
  auto move = [&](Node& x) {
    const NamePool::Ref r = fresh.Add(NameOf(x));
    x.entry.nameAt = r.at;
    x.entry.nameLength = r.length;
  };
  for (Node& x : nodes) move(x);
  for (Node& x : loaded) move(x);
  names = std::move(fresh);
}

void Model::SetEntry(std::uint32_t id, Node& n, const DirEntry& e) {
  SetName(n, e.name);
  Entry& to = n.entry;
  to.type = e.type;
  to.color = e.color;
  to.left = e.left;
  to.right = e.right;
  to.child = e.child;
  to.start = e.start;
  to.size = e.size;
  static constexpr std::array<std::uint8_t, 16> kNoClass{};
  if (e.clsid != kNoClass || e.stateBits != 0 || e.created != 0 || e.modified != 0)
    extras[id] = EntryExtras{e.clsid, e.stateBits, e.created, e.modified};
  else if (!extras.empty())
    extras.erase(id);
}

void Model::GetEntry(std::uint32_t id, const Node& n, DirEntry& e) const {
  const Entry& from = n.entry;
  e.name.assign(NameOf(n));
  e.type = from.type;
  e.color = from.color;
  e.left = from.left;
  e.right = from.right;
  e.child = from.child;
  e.start = from.start;
  e.size = from.size;
  const auto it = extras.empty() ? extras.end() : extras.find(id);
  const EntryExtras x = it == extras.end() ? EntryExtras{} : it->second;
  e.clsid = x.clsid;
  e.stateBits = x.stateBits;
  e.created = x.created;
  e.modified = x.modified;
}

void Model::DropSideData(std::uint32_t id, Node& n) {
  nameUnits -= n.entry.nameLength;
  n.entry.nameLength = 0;
  if (!extras.empty()) extras.erase(id);
  if (!indexes.empty()) indexes.erase(id);
}

template <class Ids>
HRESULT WalkChain(Model& m, int fd, std::uint32_t start, bool mini, std::uint64_t needed, Ids& out,
                  ReadCache* cache) {
  out.clear();
  std::vector<bool>& owned = mini ? m.miniOwned : m.owned;
  const std::uint64_t limit = mini ? std::min<std::uint64_t>(m.miniLimit, m.miniFatEntries)
                                   : std::min<std::uint64_t>(m.fileSectors, m.fat.size());
  // Exactly as long as it must be, when the file holds that many sectors.
  if (needed <= limit) out.reserve(static_cast<std::size_t>(needed));
  std::uint32_t s = start;
  while (s != kEndOfChain) {
    if (s >= limit || s >= owned.size() || owned[s]) return STG_E_DOCFILECORRUPT;
    owned[s] = true;
    out.push_back(s);
    if (!mini) {
      s = m.fat[s];
    } else {
      HRESULT hr = NextMini(m, fd, cache, s, s);
      if (Failed(hr)) return hr;
    }
  }
  return out.size() >= needed ? S_OK : STG_E_DOCFILECORRUPT;
}

template HRESULT WalkChain(Model&, int, std::uint32_t, bool, std::uint64_t, std::vector<std::uint32_t>&,
                           ReadCache*);
template HRESULT WalkChain(Model&, int, std::uint32_t, bool, std::uint64_t, IdList&, ReadCache*);

HRESULT LoadModel(int fd, bool partial, Model& out) {
  try {
    return Loader(fd, out).Run(partial);
  } catch (const std::bad_alloc&) {
    return STG_E_INSUFFICIENTMEMORY;
  }
}

std::vector<std::uint8_t> NewFileImage() {
  Header h;
  h.numFatSectors = 1;
  h.firstDirSector = 1;
  h.difat.fill(kFreeSect);
  h.difat[0] = 0;
  std::vector<std::uint8_t> image(3 * 512, 0);
  SerializeHeader(h, image.data());
  std::uint8_t* fat = image.data() + 512;
  for (std::uint32_t i = 0; i < 128; ++i) Put32(fat + 4 * i, kFreeSect);
  Put32(fat, kFatSect);
  Put32(fat + 4, kEndOfChain);
  std::uint8_t* dir = image.data() + 1024;
  DirEntry root;
  root.name = u"Root Entry";
  root.type = kRoot;
  root.color = kBlack;
  root.start = kEndOfChain;
  SerializeEntry(root, dir);
  for (int i = 1; i < 4; ++i) SerializeEntry(DirEntry{}, dir + i * kEntrySize);
  return image;
}

}  // namespace cfb
