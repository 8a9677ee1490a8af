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

}  // namespace

CChildNames::CChildNames(const cfb::Storage& storage) {
  std::vector<cfb::ElementInfo> elements;
  if (cfb::Failed(storage.EnumElements(elements))) return;
  m_byFolded.reserve(elements.size());
  for (cfb::ElementInfo& element : elements) {
    if (element.type == cfb::ElementType::Storage) AddStorage(std::move(element.name));
    else AddStream(std::move(element.name));
  }
}

void CChildNames::AddStorage(std::u16string name) {
  std::u16string folded = Folded(name);
  m_byFolded[std::move(folded)].storages.push_back(std::move(name));
}

void CChildNames::AddStream(std::u16string name) { m_byFolded[Folded(name)].stream = true; }

bool CChildNames::Clashes(std::u16string_view name) const {
  const auto alike = m_byFolded.find(Folded(name));
  if (alike == m_byFolded.end()) return false;
  const std::vector<std::u16string>& storages = alike->second.storages;
  return alike->second.stream ||
         std::any_of(storages.begin(), storages.end(), [&](const std::u16string& storage) { return storage != name; });
}

std::u16string CChildNames::StorageName(std::string_view component) const {
  const bool plain = component.size() <= kMaxStorageName && std::none_of(component.begin(), component.end(), IsForbidden);
  std::u16string wide = cfb::WidenBytes(component);
  // The record stream's name is taken in every storage, even before the stream is created.
  static const std::u16string kRecordStreamFolded = Folded(kRecordStreamName);
  if (plain && Folded(wide) != kRecordStreamFolded && !Clashes(wide)) return wide;
  std::string hashed(component.substr(0, kHashedPrefix));
  std::replace_if(hashed.begin(), hashed.end(), IsForbidden, '_');
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "*%08x", Fnv1a(component));
  return cfb::WidenBytes(hashed + suffix);
}

std::u16string StorageName(std::string_view component, const std::vector<std::u16string>& siblingNames,
                           const std::vector<std::u16string>& siblingStreams) {
  CChildNames siblings;
  for (const std::u16string& name : siblingNames) siblings.AddStorage(name);
  for (const std::u16string& name : siblingStreams) siblings.AddStream(name);
  return siblings.StorageName(component);
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
      m_levels.back().children.reset();
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
    if (!parent.children) parent.children.emplace(parent.storage);
    Level child{std::string(components[i]), parent.children->StorageName(components[i]), cfb::Storage(), {}};
    cfb::HRESULT hr = parent.storage.OpenStorage(child.name, child.storage);
    if (hr == cfb::STG_E_FILENOTFOUND && !create) return cfb::STG_E_PATHNOTFOUND;
    if (hr == cfb::STG_E_FILENOTFOUND) {
      hr = parent.storage.CreateStorage(child.name, child.storage);
      child.children.emplace();  // new: no children yet
      if (cfb::Succeeded(hr)) parent.children->AddStorage(child.name);
    }
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
