// On-disk layout of a compound file: the header, directory entries, special sector numbers,
// and the rule by which sibling names are ordered.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/bytes.h"

namespace cfb::format {

inline constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFAu;
inline constexpr std::uint32_t kDifSect = 0xFFFFFFFCu;
inline constexpr std::uint32_t kFatSect = 0xFFFFFFFDu;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
inline constexpr std::uint32_t kFreeSect = 0xFFFFFFFFu;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFFu;

inline constexpr std::uint32_t kHeaderSize = 512;
inline constexpr std::uint32_t kEntrySize = 128;
inline constexpr std::uint32_t kMiniSectorSize = 64;
inline constexpr std::uint32_t kMiniStreamCutoff = 4096;
inline constexpr std::uint32_t kHeaderDifatSlots = 109;
inline constexpr std::size_t kMaxNameUnits = 31;

inline constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                          0xA1, 0xB1, 0x1A, 0xE1};

enum EntryType : std::uint8_t { kEmpty = 0, kStorage = 1, kStream = 2, kRoot = 5 };
enum Color : std::uint8_t { kRed = 0, kBlack = 1 };

struct Header {
  std::uint16_t minorVersion = 0x003E;
  std::uint16_t majorVersion = 3;
  std::uint16_t sectorShift = 9;
  std::uint16_t miniSectorShift = 6;
  std::uint32_t numDirSectors = 0;  // always 0 in version 3
  std::uint32_t numFatSectors = 0;
  std::uint32_t firstDirSector = kEndOfChain;
  std::uint32_t transaction = 0;  // bumped by every commit; tells cached copies apart
  std::uint32_t miniStreamCutoff = kMiniStreamCutoff;
  std::uint32_t firstMiniFatSector = kEndOfChain;
  std::uint32_t numMiniFatSectors = 0;
  std::uint32_t firstDifatSector = kEndOfChain;
  std::uint32_t numDifatSectors = 0;
  std::array<std::uint32_t, kHeaderDifatSlots> difat{};

  std::uint32_t SectorSize() const { return 1u << sectorShift; }
};

// Parses the first 512 bytes. Returns S_OK, STG_E_INVALIDHEADER (not a compound file) or
// STG_E_DOCFILECORRUPT (a compound file with impossible geometry).
std::int32_t ParseHeader(const std::uint8_t* bytes, Header& out);
void SerializeHeader(const Header& h, std::uint8_t* bytes);  // writes 512 bytes

struct DirEntry {
  std::u16string name;
  std::uint8_t type = kEmpty;
  std::uint8_t color = kBlack;
  std::uint32_t left = kNoStream;
  std::uint32_t right = kNoStream;
  std::uint32_t child = kNoStream;
  std::array<std::uint8_t, 16> clsid{};
  std::uint32_t stateBits = 0;
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;
};

// Parses one 128-byte entry. Version 3 files only use the low half of the size.
void ParseEntry(const std::uint8_t* bytes, bool version3, DirEntry& out);
// Writes one 128-byte entry; an empty entry is written all zero with NOSTREAM links.
void SerializeEntry(const DirEntry& e, std::uint8_t* bytes);

// Upper case of one UTF-16 unit by the simple Unicode mapping (units that are not
// characters on their own, such as surrogates, map to themselves).
char16_t UpperUnit(char16_t c);
std::u16string UpperName(std::u16string_view name);
// The sibling order: shorter names first, then unit by unit on the upper-cased units.
// Negative, zero or positive like strcmp.
int CompareNames(std::u16string_view a, std::u16string_view b);
// True when the name may be stored: 1..31 units, none of / \ : !
bool IsValidName(std::u16string_view name);

// Little-endian field access, the platform's one codec (header-only: no link to platform).
using platform::Get16;
using platform::Get32;
using platform::Get64;
using platform::Put16;
using platform::Put32;
using platform::Put64;

}  // namespace cfb::format
