#include "varnow/scan/DirData.h"

#include <algorithm>

namespace varnow {

bool IsSpecialEntryName(std::string_view name) { return name.starts_with(kSpecialPrefix); }

CDirInfo* CDirData::FindEntry(std::string_view name) {
  auto it = std::find_if(m_entries.begin(), m_entries.end(),
                         [name](const CDirInfo& entry) { return entry.name == name; });
  return it == m_entries.end() ? nullptr : &*it;
}

const CDirInfo* CDirData::FindEntry(std::string_view name) const {
  return const_cast<CDirData*>(this)->FindEntry(name);
}

CDirInfo& CDirData::FindOrAddEntry(std::string_view name) {
  if (CDirInfo* entry = FindEntry(name)) return *entry;
  m_entries.push_back(CDirInfo{std::string(name), kEmptyHistory});
  return m_entries.back();
}

bool CDirData::operator==(const CDirData& other) const {
  return m_currentScanDir == other.m_currentScanDir && m_markerA == other.m_markerA &&
         m_markerB == other.m_markerB && m_times == other.m_times && m_reserved == other.m_reserved &&
         m_total == other.m_total && m_entries == other.m_entries;
}

}  // namespace varnow

#include <QString>
#include <QUtf8StringView>
#include <unordered_map>

namespace varnow {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  QUtf8StringView ua(a.data(), static_cast<qsizetype>(a.size()));
  QUtf8StringView ub(b.data(), static_cast<qsizetype>(b.size()));
  if (ua.isValidUtf8() && ub.isValidUtf8())
    return QString::compare(ua.toString(), ub.toString(), Qt::CaseInsensitive) == 0;
  auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
           return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
         });
}

void MergeScannedSubdirectories(CDirData& record,
                                const std::vector<std::pair<std::string, std::int64_t>>& found) {
  auto& entries = record.m_entries;
  std::vector<bool> claimed(entries.size(), false);
  std::vector<std::size_t> slot(found.size(), SIZE_MAX);

  std::unordered_map<std::string_view, std::size_t> byName;
  byName.reserve(entries.size());
  for (std::size_t i = entries.size(); i-- > 0;) byName[entries[i].name] = i;  // first one wins
  for (std::size_t f = 0; f < found.size(); ++f) {
    auto it = byName.find(found[f].first);
    if (it != byName.end() && !claimed[it->second]) {
      claimed[it->second] = true;
      slot[f] = it->second;
    }
  }
  for (std::size_t f = 0; f < found.size(); ++f) {
    if (slot[f] != SIZE_MAX) continue;
    for (std::size_t i = 0; i < claimed.size(); ++i) {
      if (!claimed[i] && !IsSpecialEntryName(entries[i].name) &&
          SameNameIgnoringCase(entries[i].name, found[f].first)) {
        claimed[i] = true;
        slot[f] = i;
        break;
      }
    }
  }
  for (std::size_t f = 0; f < found.size(); ++f) {
    if (slot[f] == SIZE_MAX) {
      slot[f] = entries.size();
      entries.push_back(CDirInfo{found[f].first, kEmptyHistory});
    }
    entries[slot[f]].sizes[0] = found[f].second;
  }
}

}  // namespace varnow
