// The children of one storage by name, letter case folded as the sibling order folds it.
// An open-addressing table of entry ids that hashes each name where the entry keeps it, so
// building the table copies no names and a lookup allocates nothing.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "compoundfile/format.h"

namespace cfb {

class NameIndex {
 public:
  // Every call is given nameOf(id), the name of an entry the table holds.

  // Adds id unless an entry of the same name is there already (that one stays).
  template <class NameOf>
  void Insert(std::uint32_t id, const NameOf& nameOf) {
    if ((m_count + 1) * 2 > m_slots.size()) Grow(nameOf);
    std::size_t i = Hash(nameOf(id)) & Mask();
    for (; m_slots[i] != kEmpty; i = (i + 1) & Mask())
      if (format::CompareNames(nameOf(m_slots[i]), nameOf(id)) == 0) return;
    m_slots[i] = id;
    ++m_count;
  }

  // The id of the entry of that name, or kNoStream.
  template <class NameOf>
  std::uint32_t Find(std::u16string_view name, const NameOf& nameOf) const {
    if (m_slots.empty()) return kEmpty;
    for (std::size_t i = Hash(name) & Mask(); m_slots[i] != kEmpty; i = (i + 1) & Mask())
      if (format::CompareNames(nameOf(m_slots[i]), name) == 0) return m_slots[i];
    return kEmpty;
  }

  // Removes id (nothing when the table does not hold it), closing the gap so that every
  // remaining id is still found from its home slot.
  template <class NameOf>
  void Erase(std::uint32_t id, const NameOf& nameOf) {
    if (m_slots.empty()) return;
    std::size_t i = Hash(nameOf(id)) & Mask();
    while (m_slots[i] != id) {
      if (m_slots[i] == kEmpty) return;
      i = (i + 1) & Mask();
    }
    for (std::size_t j = (i + 1) & Mask(); m_slots[j] != kEmpty; j = (j + 1) & Mask()) {
      const std::size_t home = Hash(nameOf(m_slots[j])) & Mask();
      // The id at j may move to the gap at i unless its home lies cyclically in (i, j].
      const bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
      if (!stays) {
        m_slots[i] = m_slots[j];
        i = j;
      }
    }
    m_slots[i] = kEmpty;
    --m_count;
  }

 private:
  static constexpr std::uint32_t kEmpty = format::kNoStream;

  static std::size_t Hash(std::u16string_view name) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (char16_t c : name) h = (h ^ format::UpperUnit(c)) * 0x100000001b3ull;
    return static_cast<std::size_t>(h ^ (h >> 29));
  }
  std::size_t Mask() const { return m_slots.size() - 1; }

  template <class NameOf>
  void Grow(const NameOf& nameOf) {
    std::vector<std::uint32_t> old(std::max<std::size_t>(16, m_slots.size() * 2), kEmpty);
    old.swap(m_slots);
    m_count = 0;
    for (std::uint32_t id : old)
      if (id != kEmpty) Insert(id, nameOf);
  }

  std::vector<std::uint32_t> m_slots;  // kEmpty where free; a power of two long
  std::size_t m_count = 0;
};

}  // namespace cfb
