#include "compoundfile/tests/rawfile.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

namespace cftest {

RawFile::RawFile(std::string bytes) : m_bytes(std::move(bytes)) {}

RawFile RawFile::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return RawFile(std::string(std::istreambuf_iterator<char>(in), {}));
}

void RawFile::Save(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(m_bytes.data(), static_cast<std::streamsize>(m_bytes.size()));
}

static void Check(std::size_t offset, std::size_t width, std::size_t size) {
  if (offset + width > size) throw std::out_of_range("offset past the end of the test file");
}

std::uint32_t RawFile::U16(std::size_t offset) const {
  Check(offset, 2, m_bytes.size());
  std::uint16_t v;
  std::memcpy(&v, m_bytes.data() + offset, 2);
  return v;
}

std::uint32_t RawFile::U32(std::size_t offset) const {
  Check(offset, 4, m_bytes.size());
  std::uint32_t v;
  std::memcpy(&v, m_bytes.data() + offset, 4);
  return v;
}

std::uint64_t RawFile::U64(std::size_t offset) const {
  Check(offset, 8, m_bytes.size());
  std::uint64_t v;
  std::memcpy(&v, m_bytes.data() + offset, 8);
  return v;
}

void RawFile::SetU8(std::size_t offset, std::uint8_t value) {
  m_fatKnown = m_dirKnown = false;
  Check(offset, 1, m_bytes.size());
  m_bytes[offset] = static_cast<char>(value);
}

void RawFile::SetU16(std::size_t offset, std::uint16_t value) {
  m_fatKnown = m_dirKnown = false;
  Check(offset, 2, m_bytes.size());
  std::memcpy(m_bytes.data() + offset, &value, 2);
}

void RawFile::SetU32(std::size_t offset, std::uint32_t value) {
  m_fatKnown = m_dirKnown = false;
  Check(offset, 4, m_bytes.size());
  std::memcpy(m_bytes.data() + offset, &value, 4);
}

void RawFile::SetU64(std::size_t offset, std::uint64_t value) {
  m_fatKnown = m_dirKnown = false;
  Check(offset, 8, m_bytes.size());
  std::memcpy(m_bytes.data() + offset, &value, 8);
}

const std::vector<std::uint32_t>& RawFile::FatSectors() const {
  if (m_fatKnown) return m_fatSectors;
  std::vector<std::uint32_t>& sectors = m_fatSectors;
  sectors.clear();
  const std::uint32_t count = U32(kNumFatSectors);
  for (std::uint32_t i = 0; i < 109 && sectors.size() < count; ++i)
    sectors.push_back(U32(kHeaderDifat + 4 * i));
  std::uint32_t difat = U32(kFirstDifatSector);
  const std::size_t perSector = SectorSize() / 4 - 1;
  for (std::uint32_t n = 0; sectors.size() < count && difat < kFatSect && n < 100000; ++n) {
    for (std::size_t i = 0; i < perSector && sectors.size() < count; ++i)
      sectors.push_back(U32(SectorOffset(difat) + 4 * i));
    difat = U32(SectorOffset(difat) + 4 * perSector);
  }
  m_fatKnown = true;
  return sectors;
}

const std::vector<std::uint32_t>& RawFile::DirChain() const {
  if (!m_dirKnown) {
    m_dirChain = Chain(U32(kFirstDirSector));
    m_dirKnown = true;
  }
  return m_dirChain;
}

std::uint32_t RawFile::Fat(std::uint32_t sector) const {
  const std::size_t perSector = SectorSize() / 4;
  return U32(SectorOffset(FatSectors().at(sector / perSector)) + 4 * (sector % perSector));
}

void RawFile::SetFat(std::uint32_t sector, std::uint32_t next) {
  const std::size_t perSector = SectorSize() / 4;
  SetU32(SectorOffset(FatSectors().at(sector / perSector)) + 4 * (sector % perSector), next);
}

std::vector<std::uint32_t> RawFile::Chain(std::uint32_t start) const {
  std::vector<std::uint32_t> chain;
  for (std::uint32_t s = start; s < kFatSect && chain.size() < 100000; s = Fat(s)) chain.push_back(s);
  return chain;
}

std::uint32_t RawFile::EntryCount() const {
  return static_cast<std::uint32_t>(DirChain().size() * (SectorSize() / 128));
}

std::size_t RawFile::EntryOffset(std::uint32_t id) const {
  const std::size_t perSector = SectorSize() / 128;
  return SectorOffset(DirChain().at(id / perSector)) + 128 * (id % perSector);
}

std::u16string RawFile::EntryName(std::uint32_t id) const {
  const std::size_t offset = EntryOffset(id);
  const std::uint32_t length = U16(offset + kNameLength);
  std::u16string name;
  for (std::uint32_t i = 0; i + 2 < length && i < 64; i += 2)
    name.push_back(static_cast<char16_t>(U16(offset + i)));
  return name;
}

std::uint32_t RawFile::FindEntry(std::u16string_view name) const {
  const std::uint32_t count = EntryCount();
  for (std::uint32_t id = 0; id < count; ++id)
    if (EntryU8(id, kType) != 0 && EntryName(id) == name) return id;
  return kNoStream;
}

}  // namespace cftest

namespace cftest {

static char16_t SimpleUpper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c == 0xB5) return 0x39C;
  return c;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char16_t x = SimpleUpper(a[i]), y = SimpleUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

namespace {
struct TreeWalk {
  const RawFile& file;
  std::uint32_t entries;
  std::vector<bool> seen;
  std::vector<std::u16string> inOrder;
  std::string fault;

  // Returns the black height of the subtree at id, or -1 after recording a fault.
  int Visit(std::uint32_t id, bool parentRed, std::size_t depth) {
    if (id == kNoStream) return 1;
    if (id >= entries) return Fail("link out of range: " + std::to_string(id));
    if (seen[id]) return Fail("entry reached twice: " + std::to_string(id));
    if (depth > 200) return Fail("tree deeper than 200");
    seen[id] = true;
    const bool red = file.EntryU8(id, kColor) == 0;
    if (red && parentRed) return Fail("red child of a red node at entry " + std::to_string(id));
    const int left = Visit(file.EntryU32(id, kLeft), red, depth + 1);
    if (left < 0) return -1;
    inOrder.push_back(file.EntryName(id));
    const int right = Visit(file.EntryU32(id, kRight), red, depth + 1);
    if (right < 0) return -1;
    if (left != right) return Fail("black heights differ below entry " + std::to_string(id));
    return left + (red ? 0 : 1);
  }
  int Fail(std::string text) {
    if (fault.empty()) fault = std::move(text);
    return -1;
  }
};
}  // namespace

std::string CheckSiblingTree(const RawFile& file, std::uint32_t storageId, std::size_t* count) {
  TreeWalk walk{file, file.EntryCount(), {}, {}, {}};
  walk.seen.assign(walk.entries, false);
  const std::uint32_t top = file.EntryU32(storageId, kChild);
  if (top != kNoStream && top < walk.entries && file.EntryU8(top, kColor) == 0)
    return "red root of the sibling tree";
  if (walk.Visit(top, false, 0) < 0) return walk.fault;
  for (std::size_t i = 1; i < walk.inOrder.size(); ++i)
    if (CompareNames(walk.inOrder[i - 1], walk.inOrder[i]) >= 0)
      return "siblings out of order at position " + std::to_string(i);
  if (count) *count = walk.inOrder.size();
  return {};
}

}  // namespace cftest
