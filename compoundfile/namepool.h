// The names of a model's entries, kept one after the other in one array of units: an entry
// holds where its name starts and how long it is, instead of a string of its own. A name equal
// to one added lately is shared, so a name every storage repeats is kept about once.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace cfb {

class NamePool {
 public:
  struct Ref {
    std::uint32_t at = 0;
    std::uint8_t length = 0;
  };

  // Where name (at most 255 units) is kept. std::bad_alloc when the pool is full.
  Ref Add(std::u16string_view name);
  // Valid until the next Add or Clear.
  std::u16string_view View(std::uint32_t at, std::uint8_t length) const {
    return {m_units.data() + at, length};
  }
  std::size_t Units() const { return m_units.size(); }
  void Clear();

 private:
  static constexpr std::size_t kRecent = 1024;  // a power of two
  static std::size_t Slot(std::u16string_view name);

  std::vector<char16_t> m_units;
  std::array<Ref, kRecent> m_recent{};  // the name added last for each slot (length 0: none)
};

}  // namespace cfb
