#include "compoundfile/namepool.h"

#include <limits>
#include <new>
#include <string>

namespace cfb {

std::size_t NamePool::Slot(std::u16string_view name) {
  std::uint32_t h = 2166136261u;
  for (char16_t c : name) h = (h ^ c) * 16777619u;
  return (h ^ (h >> 15)) & (kRecent - 1);
}

NamePool::Ref NamePool::Add(std::u16string_view name) {
  if (name.size() > std::numeric_limits<std::uint8_t>::max()) throw std::bad_alloc();
  if (name.empty()) return Ref{};
  if (!m_units.empty() && name.data() >= m_units.data() && name.data() < m_units.data() + m_units.size()) {
    const std::u16string copy(name);  // the pool may move while it grows
    return Add(copy);
  }
  Ref& recent = m_recent[Slot(name)];
  if (recent.length == name.size() && View(recent.at, recent.length) == name) return recent;
  if (m_units.size() + name.size() > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  const Ref added{static_cast<std::uint32_t>(m_units.size()), static_cast<std::uint8_t>(name.size())};
  m_units.insert(m_units.end(), name.begin(), name.end());
  recent = added;
  return added;
}

void NamePool::Clear() {
  std::vector<char16_t>().swap(m_units);
  m_recent.fill(Ref{});
}

}  // namespace cfb
