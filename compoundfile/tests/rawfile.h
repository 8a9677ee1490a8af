// Byte-level access to a compound file for tests that inspect the layout the library wrote
// or damage a file on purpose. Trusts the file: use it on files whose structure is known.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cftest {

inline constexpr std::uint32_t kFreeSect = 0xFFFFFFFFu;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
inline constexpr std::uint32_t kFatSect = 0xFFFFFFFDu;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFFu;

// Header offsets.
enum HeaderField : std::size_t {
  kMajorVersion = 0x1A,
  kSectorShift = 0x1E,
  kMiniSectorShift = 0x20,
  kNumDirSectors = 0x28,
  kNumFatSectors = 0x2C,
  kFirstDirSector = 0x30,
  kMiniCutoff = 0x38,
  kFirstMiniFatSector = 0x3C,
  kNumMiniFatSectors = 0x40,
  kFirstDifatSector = 0x44,
  kNumDifatSectors = 0x48,
  kHeaderDifat = 0x4C,
};

// Offsets inside a 128-byte directory entry.
enum EntryField : std::size_t {
  kNameLength = 0x40,
  kType = 0x42,
  kColor = 0x43,
  kLeft = 0x44,
  kRight = 0x48,
  kChild = 0x4C,
  kStart = 0x74,
  kSize = 0x78,
};

class RawFile {
 public:
  explicit RawFile(std::string bytes);
  static RawFile Load(const std::string& path);
  void Save(const std::string& path) const;
  std::string& bytes() {
    m_fatKnown = m_dirKnown = false;
    return m_bytes;
  }

  std::uint32_t U16(std::size_t offset) const;
  std::uint32_t U32(std::size_t offset) const;
  std::uint64_t U64(std::size_t offset) const;
  void SetU8(std::size_t offset, std::uint8_t value);
  void SetU16(std::size_t offset, std::uint16_t value);
  void SetU32(std::size_t offset, std::uint32_t value);
  void SetU64(std::size_t offset, std::uint64_t value);

  std::size_t SectorSize() const { return std::size_t{1} << U16(kSectorShift); }
  std::size_t SectorOffset(std::uint32_t sector) const { return (sector + std::size_t{1}) * SectorSize(); }

  std::uint32_t Fat(std::uint32_t sector) const;
  void SetFat(std::uint32_t sector, std::uint32_t next);
  std::vector<std::uint32_t> Chain(std::uint32_t start) const;  // stops at 100,000 links

  std::uint32_t EntryCount() const;
  std::size_t EntryOffset(std::uint32_t id) const;
  std::u16string EntryName(std::uint32_t id) const;
  std::uint32_t EntryU32(std::uint32_t id, EntryField field) const { return U32(EntryOffset(id) + field); }
  std::uint8_t EntryU8(std::uint32_t id, EntryField field) const {
    return static_cast<std::uint8_t>(m_bytes[EntryOffset(id) + field]);
  }
  void SetEntryU32(std::uint32_t id, EntryField field, std::uint32_t v) { SetU32(EntryOffset(id) + field, v); }
  // The id of the first entry with that name and a non-empty type; kNoStream when none.
  std::uint32_t FindEntry(std::u16string_view name) const;

 private:
  const std::vector<std::uint32_t>& FatSectors() const;
  const std::vector<std::uint32_t>& DirChain() const;
  std::string m_bytes;
  // Derived from m_bytes on demand; every change of the bytes drops them.
  mutable std::vector<std::uint32_t> m_fatSectors, m_dirChain;
  mutable bool m_fatKnown = false, m_dirKnown = false;
};

}  // namespace cftest

namespace cftest {

// The format's order of sibling names: shorter first, then unit by unit after upper-casing
// (the simple mapping; the tests' names stay within Latin-1).
int CompareNames(std::u16string_view a, std::u16string_view b);

// Checks the sibling tree below the storage entry storageId: every link in range and visited
// once, names in the format's order, a red-black tree (black root, no red child of a red
// node, the same number of black nodes on every path) and so of logarithmic height.
// Returns a description of the first fault, or an empty string. count receives the size.
std::string CheckSiblingTree(const RawFile& file, std::uint32_t storageId, std::size_t* count = nullptr);

}  // namespace cftest
