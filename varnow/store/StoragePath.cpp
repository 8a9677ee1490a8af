#include "varnow/store/StoragePath.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace varnow {
namespace {

constexpr std::size_t kMaxStorageName = 31;
constexpr std::size_t kHashedPrefix = 22;

bool IsForbidden(char c) { return std::strchr("!\"*/:<>?\\|", c) != nullptr && c != '\0'; }

// Upper case of one widened byte as the compound file's name comparison sees it.
char16_t FoldUnit(char16_t unit) {
  if (unit >= u'a' && unit <= u'z') return unit - 0x20;
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return unit - 0x20;
  if (unit == 0xFF) return 0x178;
  if (unit == 0xB5) return 0x39C;
  return unit;
}

std::u16string Folded(std::u16string_view name) {
  std::u16string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(), FoldUnit);
  return folded;
}

std::uint32_t Fnv1a(std::string_view bytes) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 16777619u;
  }
  return hash;
}

// The naming rule, with clashes(name) telling whether a sibling rules name out.
template <class Clashes>
std::u16string ChooseName(std::string_view component, const Clashes& clashes) {
  const bool plain = component.size() <= kMaxStorageName && std::none_of(component.begin(), component.end(), IsForbidden);
  std::u16string wide = cfb::WidenBytes(component);
  // The record stream's name is taken in every storage, even before the stream is created.
  static const std::u16string kRecordStreamFolded = Folded(kRecordStreamName);
  if (plain && Folded(wide) != kRecordStreamFolded && !clashes(wide)) return wide;
  std::string hashed(component.substr(0, kHashedPrefix));
  std::replace_if(hashed.begin(), hashed.end(), IsForbidden, '_');
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "*%08x", Fnv1a(component));
  return cfb::WidenBytes(hashed + suffix);
}

// Whether a child of parent rules name out: a stream, or a storage spelt otherwise. A storage
// spelt so is opened into *opened when given; *absent tells that no child has the name.
bool Clashes(const cfb::Storage& parent, const std::u16string& name, cfb::Storage* opened, bool* absent) {
  cfb::ElementInfo alike;
  const cfb::HRESULT found = parent.Lookup(name, alike, opened);
  if (absent) *absent = found == cfb::STG_E_FILENOTFOUND;
  if (cfb::Failed(found)) return false;
  const bool clash = alike.type == cfb::ElementType::Stream || alike.name != name;
  if (clash && opened) opened->Release();
  return clash;
}

}  // namespace

std::u16string StorageName(const cfb::Storage& parent, std::string_view component) {
  return ChooseName(component,
                    [&](const std::u16string& name) { return Clashes(parent, name, nullptr, nullptr); });
}

namespace {

// The storage name of component below parent, with its storage opened into child when the
// search that chose the name found it, and STG_E_FILENOTFOUND when that search found nothing.
cfb::HRESULT ChooseAndOpen(cfb::Storage& parent, std::string_view component, std::u16string& name,
                           cfb::Storage& child) {
  bool absent = false;
  name = ChooseName(component,
                    [&](const std::u16string& plain) { return Clashes(parent, plain, &child, &absent); });
  if (child.IsOpen()) return cfb::S_OK;
  return absent ? cfb::STG_E_FILENOTFOUND : parent.OpenStorage(name, child);
}

}  // namespace

std::u16string StorageName(std::string_view component, const std::vector<std::u16string>& siblingNames,
                           const std::vector<std::u16string>& siblingStreams) {
  return ChooseName(component, [&](const std::u16string& name) {
    const std::u16string folded = Folded(name);
    const auto alike = [&](const std::u16string& sibling) { return Folded(sibling) == folded; };
    return std::any_of(siblingStreams.begin(), siblingStreams.end(), alike) ||
           std::any_of(siblingNames.begin(), siblingNames.end(),
                       [&](const std::u16string& sibling) { return alike(sibling) && sibling != name; });
  });
}

std::vector<std::string_view> PathComponents(std::string_view path) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

void CStoragePath::Attach(cfb::Storage root, bool keepNames) {
  if (m_levels.empty() || !keepNames) {
    m_levels.clear();
    m_levels.push_back(Level{});
  }
  m_levels.front().storage = std::move(root);
}

void CStoragePath::Reopen(std::size_t& count) {
  for (std::size_t i = 1; i <= count; ++i) {
    if (m_levels[i].storage.IsOpen()) continue;
    if (cfb::Failed(m_levels[i - 1].storage.OpenStorage(m_levels[i].name, m_levels[i].storage))) {
      // Not as this path knew it: the parent's children are listed again.
      m_levels.resize(i);
      count = i - 1;
      return;
    }
  }
}

cfb::HRESULT CStoragePath::Go(std::string_view path, bool create, cfb::Storage*& storage) {
  storage = nullptr;
  const std::vector<std::string_view> components = PathComponents(path);
  std::size_t shared = 0;
  while (shared < components.size() && shared + 1 < m_levels.size() &&
         m_levels[shared + 1].component == components[shared])
    ++shared;
  m_levels.resize(shared + 1);
  Reopen(shared);
  for (std::size_t i = shared; i < components.size(); ++i) {
    Level& parent = m_levels.back();
    Level child{std::string(components[i]), {}, cfb::Storage()};
    cfb::HRESULT hr = ChooseAndOpen(parent.storage, components[i], child.name, child.storage);
    if (hr == cfb::STG_E_FILENOTFOUND && !create) return cfb::STG_E_PATHNOTFOUND;
    if (hr == cfb::STG_E_FILENOTFOUND) hr = parent.storage.CreateStorage(child.name, child.storage);
    if (cfb::Failed(hr)) return hr;
    m_levels.push_back(std::move(child));
  }
  storage = &m_levels.back().storage;
  return cfb::S_OK;
}

cfb::Storage CStoragePath::Detach() {
  if (m_levels.empty()) return cfb::Storage();
  for (std::size_t i = m_levels.size(); i-- > 1;) m_levels[i].storage.Release();
  return std::move(m_levels.front().storage);
}

}  // namespace varnow
