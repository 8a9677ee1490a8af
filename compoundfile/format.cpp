#include "compoundfile/format.h"

#include <clocale>
#include <cstring>
#include <cwctype>
#include <locale.h>

#include "compoundfile/compoundfile.h"

namespace cfb::format {

std::int32_t ParseHeader(const std::uint8_t* b, Header& h) {
  if (std::memcmp(b, kSignature.data(), kSignature.size()) != 0) return STG_E_INVALIDHEADER;
  h.minorVersion = Get16(b + 0x18);
  h.majorVersion = Get16(b + 0x1A);
  if (Get16(b + 0x1C) != 0xFFFE) return STG_E_INVALIDHEADER;
  h.sectorShift = Get16(b + 0x1E);
  h.miniSectorShift = Get16(b + 0x20);
  h.numDirSectors = Get32(b + 0x28);
  h.numFatSectors = Get32(b + 0x2C);
  h.firstDirSector = Get32(b + 0x30);
  h.transaction = Get32(b + 0x34);
  h.miniStreamCutoff = Get32(b + 0x38);
  h.firstMiniFatSector = Get32(b + 0x3C);
  h.numMiniFatSectors = Get32(b + 0x40);
  h.firstDifatSector = Get32(b + 0x44);
  h.numDifatSectors = Get32(b + 0x48);
  for (std::uint32_t i = 0; i < kHeaderDifatSlots; ++i) h.difat[i] = Get32(b + 0x4C + 4 * i);

  const bool v3 = h.majorVersion == 3 && h.sectorShift == 9;
  const bool v4 = h.majorVersion == 4 && h.sectorShift == 12;
  if (!v3 && !v4) return STG_E_DOCFILECORRUPT;
  if (h.miniSectorShift != 6 || h.miniStreamCutoff != kMiniStreamCutoff)
    return STG_E_DOCFILECORRUPT;
  return S_OK;
}

void SerializeHeader(const Header& h, std::uint8_t* b) {
  std::memset(b, 0, kHeaderSize);
  std::memcpy(b, kSignature.data(), kSignature.size());
  Put16(b + 0x18, h.minorVersion);
  Put16(b + 0x1A, h.majorVersion);
  Put16(b + 0x1C, 0xFFFE);
  Put16(b + 0x1E, h.sectorShift);
  Put16(b + 0x20, h.miniSectorShift);
  Put32(b + 0x28, h.majorVersion == 3 ? 0 : h.numDirSectors);
  Put32(b + 0x2C, h.numFatSectors);
  Put32(b + 0x30, h.firstDirSector);
  Put32(b + 0x34, h.transaction);
  Put32(b + 0x38, h.miniStreamCutoff);
  Put32(b + 0x3C, h.firstMiniFatSector);
  Put32(b + 0x40, h.numMiniFatSectors);
  Put32(b + 0x44, h.firstDifatSector);
  Put32(b + 0x48, h.numDifatSectors);
  for (std::uint32_t i = 0; i < kHeaderDifatSlots; ++i) Put32(b + 0x4C + 4 * i, h.difat[i]);
}

void ParseEntry(const std::uint8_t* b, bool version3, DirEntry& e) {
  // The stored length counts bytes including the terminator. A damaged one is clamped to the
  // 32 units the field can hold; the name is the units before the terminator's place, whether
  // a zero stands there or not (as other readers take it), and ends at a zero unit before it.
  std::uint32_t units = Get16(b + 0x40) / 2;
  if (units > 32) units = 32;
  units = units == 0 ? 0 : units - 1;
  e.name.clear();
  for (std::uint32_t i = 0; i < units; ++i) {
    const char16_t c = static_cast<char16_t>(Get16(b + 2 * i));
    if (c == 0) break;
    e.name.push_back(c);
  }
  e.type = b[0x42];
  e.color = b[0x43];
  e.left = Get32(b + 0x44);
  e.right = Get32(b + 0x48);
  e.child = Get32(b + 0x4C);
  std::memcpy(e.clsid.data(), b + 0x50, 16);
  e.stateBits = Get32(b + 0x60);
  e.created = Get64(b + 0x64);
  e.modified = Get64(b + 0x6C);
  e.start = Get32(b + 0x74);
  e.size = version3 ? Get32(b + 0x78) : Get64(b + 0x78);
}

void SerializeEntry(const DirEntry& e, std::uint8_t* b) {
  std::memset(b, 0, kEntrySize);
  if (e.type == kEmpty) {
    Put32(b + 0x44, kNoStream);
    Put32(b + 0x48, kNoStream);
    Put32(b + 0x4C, kNoStream);
    return;
  }
  const std::size_t units = std::min<std::size_t>(e.name.size(), kMaxNameUnits);
  for (std::size_t i = 0; i < units; ++i) Put16(b + 2 * i, static_cast<std::uint16_t>(e.name[i]));
  Put16(b + 0x40, static_cast<std::uint16_t>((units + 1) * 2));
  b[0x42] = e.type;
  b[0x43] = e.color;
  Put32(b + 0x44, e.left);
  Put32(b + 0x48, e.right);
  Put32(b + 0x4C, e.child);
  std::memcpy(b + 0x50, e.clsid.data(), 16);
  Put32(b + 0x60, e.stateBits);
  Put64(b + 0x64, e.created);
  Put64(b + 0x6C, e.modified);
  Put32(b + 0x74, e.start);
  Put64(b + 0x78, e.size);
}

namespace {

// The C.UTF-8 locale carries the full Unicode case tables; the process's own locale may not.
locale_t UnicodeLocale() {
  static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return loc;
}

char16_t UpperLatin1(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c == 0xB5) return 0x39C;
  return c;
}

}  // namespace

char16_t UpperUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const locale_t loc = UnicodeLocale();
  if (loc == static_cast<locale_t>(0)) return UpperLatin1(c);
  const wint_t up = towupper_l(static_cast<wint_t>(c), loc);
  // A mapping that leaves the basic plane cannot be stored in one unit; keep the unit.
  return up <= 0xFFFF ? static_cast<char16_t>(up) : c;
}

std::u16string UpperName(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) c = UpperUnit(c);
  return out;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char16_t x = UpperUnit(a[i]);
    const char16_t y = UpperUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool IsValidName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxNameUnits) return false;
  for (char16_t c : name) {
    if (c == u'/' || c == u'\\' || c == u':' || c == u'!' || c == 0) return false;
  }
  return true;
}

}  // namespace cfb::format
