#include "varnow/store/WrittenRecords.h"

#include <utility>

namespace varnow {
namespace {

constexpr std::uint64_t kUsed = 1ull << 63;
constexpr std::uint64_t kOwnScans = 1;

// 64-bit FNV-1a, finished by a multiply so that the low bits (the table's home) mix well.
std::uint64_t Mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  return h ^ (h >> 33);
}

void Add(std::uint64_t& h, std::uint32_t word) {
  for (int i = 0; i < 4; ++i) h = (h ^ ((word >> (8 * i)) & 0xff)) * 0x100000001b3ull;
}

}  // namespace

std::uint64_t CWrittenRecords::PathDigest(std::string_view path) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char byte : path) h = (h ^ byte) * 0x100000001b3ull;
  return Mix(h);
}

std::uint64_t CWrittenRecords::ScansDigest(const Times& times, const Times& savedTimes, bool ownScans) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::int32_t time : times) Add(h, static_cast<std::uint32_t>(time));
  for (std::int32_t time : savedTimes) Add(h, static_cast<std::uint32_t>(time));
  return kUsed | (Mix(h) << 1 >> 1 & ~kOwnScans) | (ownScans ? kOwnScans : 0);
}

std::size_t CWrittenRecords::Find(std::uint64_t path) const {
  std::size_t i = Home(path);
  while (m_slots[i].scans != 0 && m_slots[i].path != path) i = (i + 1) & (m_slots.size() - 1);
  return i;
}

void CWrittenRecords::Grow() {
  std::vector<Slot> old(m_slots.empty() ? 16 : m_slots.size() * 2);
  old.swap(m_slots);
  for (const Slot& slot : old)
    if (slot.scans != 0) m_slots[Find(slot.path)] = slot;
}

void CWrittenRecords::Note(std::string_view path, const Times& times, const Times& savedTimes, const Times& stored) {
  if ((m_count + 1) * 4 > m_slots.size() * 3) Grow();
  const std::uint64_t digest = PathDigest(path);
  Slot& slot = m_slots[Find(digest)];
  if (slot.scans == 0) ++m_count;
  slot = {digest, ScansDigest(times, savedTimes, stored == times)};
}

std::optional<bool> CWrittenRecords::StoredOwnScans(std::string_view path, const Times& times,
                                                    const Times& savedTimes) const {
  if (m_slots.empty()) return std::nullopt;
  const Slot& slot = m_slots[Find(PathDigest(path))];
  if (slot.scans == 0 || (slot.scans | kOwnScans) != (ScansDigest(times, savedTimes, true))) return std::nullopt;
  return (slot.scans & kOwnScans) != 0;
}

}  // namespace varnow
