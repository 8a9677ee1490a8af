#include "varnow/scan/DirData.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "platform/asciicase.h"

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

void DropStaleEntries(CDirData& record) {
  std::erase_if(record.m_entries, [](const CDirInfo& entry) {
    return std::all_of(entry.sizes.begin(), entry.sizes.begin() + 5,
                       [](std::int64_t size) { return size == kNoSize; });
  });
}

void MergeWithSaved(CDirData& record, const CDirData& saved, int newScans) {
  constexpr std::size_t kColumns = std::tuple_size_v<SizeHistory>;
  const std::size_t added = std::min<std::size_t>(std::max(newScans, 0), kColumns);
  // Each column of the result: which record it comes from and its index there.
  struct Column {
    const CDirData* from;
    std::size_t index;
  };
  std::vector<Column> columns;
  std::size_t mine = 0;
  std::size_t theirs = 0;
  while (columns.size() < kColumns) {
    const bool takeMine = mine < added && (theirs == kColumns || record.m_times[mine] >= saved.m_times[theirs]);
    if (takeMine) columns.push_back({&record, mine++});
    else columns.push_back({&saved, theirs++});
  }
  std::unordered_map<std::string_view, const CDirInfo*> own;
  std::unordered_map<std::string_view, const CDirInfo*> other;
  for (const CDirInfo& entry : record.m_entries) own.emplace(entry.name, &entry);
  for (const CDirInfo& entry : saved.m_entries) other.emplace(entry.name, &entry);
  std::vector<const std::string*> names;  // record's order, then what only saved has
  for (const CDirInfo& entry : record.m_entries) names.push_back(&entry.name);
  for (const CDirInfo& entry : saved.m_entries)
    if (!own.count(entry.name)) names.push_back(&entry.name);
  CDirData merged = record;
  merged.m_entries.clear();
  for (const std::string* name : names) {
    CDirInfo entry{*name, kEmptyHistory};
    for (std::size_t c = 0; c < kColumns; ++c) {
      const auto& index = columns[c].from == &record ? own : other;
      const auto found = index.find(*name);
      if (found != index.end()) entry.sizes[c] = found->second->sizes[columns[c].index];
    }
    merged.m_entries.push_back(std::move(entry));
  }
  for (std::size_t c = 0; c < kColumns; ++c) merged.m_times[c] = columns[c].from->m_times[columns[c].index];
  merged.m_savedTimes = saved.m_times;
  merged.m_newScans = 0;
  DropStaleEntries(merged);
  record = std::move(merged);
}

bool CDirData::operator==(const CDirData& other) const {
  return m_currentScanDir == other.m_currentScanDir && m_markerA == other.m_markerA &&
         m_markerB == other.m_markerB && m_times == other.m_times && m_reserved == other.m_reserved &&
         m_total == other.m_total && m_entries == other.m_entries;
}

}  // namespace varnow

#include <QString>
#include <QUtf8StringView>
#include <cstdint>
#include <unordered_map>

namespace varnow {

namespace {

bool IsUtf8(std::string_view name) {
  return QUtf8StringView(name.data(), static_cast<qsizetype>(name.size())).isValidUtf8();
}

std::string AsciiFolded(std::string_view name) { return platform::ToAsciiLower(name); }

std::string UnicodeFolded(std::string_view name) {
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded().toStdString();
}

// A key that two names share when SameNameIgnoringCase holds for them: UTF-8 names by their
// Unicode case folding, other names by ASCII letter case (which never makes a UTF-8 name equal
// to one that is not: it changes ASCII letters only).
std::string CaseBlindKey(std::string_view name) {
  return IsUtf8(name) ? "u" + UnicodeFolded(name) : "b" + AsciiFolded(name);
}

// The entries a name can match ignoring case, found by key instead of by comparing with every
// entry. Indices ascend in each bucket.
class CCaseBlindIndex {
 public:
  explicit CCaseBlindIndex(const std::vector<CDirInfo>& entries) : m_entries(entries) {
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (!IsSpecialEntryName(entries[i].name)) m_byKey[CaseBlindKey(entries[i].name)].push_back(i);
  }

  // The first entry not claimed yet whose name matches name ignoring case; SIZE_MAX if none.
  std::size_t FirstUnclaimed(std::string_view name, const std::vector<bool>& claimed) const {
    const auto bucket = m_byKey.find(CaseBlindKey(name));
    if (bucket == m_byKey.end()) return SIZE_MAX;
    for (std::size_t i : bucket->second)
      if (!claimed[i] && SameNameIgnoringCase(m_entries[i].name, name)) return i;
    return SIZE_MAX;
  }

 private:
  const std::vector<CDirInfo>& m_entries;
  std::unordered_map<std::string, std::vector<std::size_t>> m_byKey;
};

}  // namespace

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  QUtf8StringView ua(a.data(), static_cast<qsizetype>(a.size()));
  QUtf8StringView ub(b.data(), static_cast<qsizetype>(b.size()));
  if (ua.isValidUtf8() && ub.isValidUtf8())
    return QString::compare(ua.toString(), ub.toString(), Qt::CaseInsensitive) == 0;
  return platform::EqualsIgnoringCase(a, b);
}

namespace {

// The entries' indices in name order, equal names in entry order: a name's exact match is found
// by halving, in a fifth of the memory a hash map of a wide directory's names took.
std::vector<std::uint32_t> IndicesByName(const std::vector<CDirInfo>& entries) {
  std::vector<std::uint32_t> order(entries.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&entries](std::uint32_t a, std::uint32_t b) { return entries[a].name < entries[b].name; });
  return order;
}

// The first entry named exactly name (entry order), or SIZE_MAX.
std::size_t ExactMatch(const std::vector<CDirInfo>& entries, const std::vector<std::uint32_t>& byName,
                       std::string_view name) {
  auto it = std::lower_bound(byName.begin(), byName.end(), name,
                             [&entries](std::uint32_t i, std::string_view n) { return entries[i].name < n; });
  return it != byName.end() && entries[*it].name == name ? *it : SIZE_MAX;
}

}  // namespace

CNameList::CNameList(std::vector<std::string> names) {
  std::size_t chars = 0;
  for (const std::string& name : names) chars += name.size();
  if (chars > UINT32_MAX) throw std::length_error("names too long");
  m_chars.reserve(chars);
  m_ends.reserve(names.size());
  for (std::string& name : names) {
    m_chars += name;
    m_ends.push_back(static_cast<std::uint32_t>(m_chars.size()));
    std::string().swap(name);  // each name's memory goes as soon as it is copied
  }
}

void MergeScannedSubdirectories(CDirData& record, const CNameList& names, const std::vector<std::int64_t>& sizes) {
  auto& entries = record.m_entries;
  std::vector<bool> claimed(entries.size(), false);
  std::vector<std::size_t> slot(names.size(), SIZE_MAX);
  std::vector<bool> reserved(names.size(), false);
  bool unmatched = false;
  {
    const std::vector<std::uint32_t> byName = IndicesByName(entries);
    for (std::size_t f = 0; f < names.size(); ++f) {
      reserved[f] = IsSpecialEntryName(names[f]);
      if (reserved[f]) continue;
      const std::size_t match = ExactMatch(entries, byName, names[f]);
      if (match != SIZE_MAX && !claimed[match]) {
        claimed[match] = true;
        slot[f] = match;
      } else {
        unmatched = true;
      }
    }
  }
  if (unmatched && !entries.empty()) {
    const CCaseBlindIndex caseBlind(entries);
    for (std::size_t f = 0; f < names.size(); ++f) {
      if (slot[f] != SIZE_MAX || reserved[f]) continue;
      slot[f] = caseBlind.FirstUnclaimed(names[f], claimed);
      if (slot[f] != SIZE_MAX) claimed[slot[f]] = true;
    }
  }
  std::size_t added = 0;
  for (std::size_t f = 0; f < names.size(); ++f) added += slot[f] == SIZE_MAX && !reserved[f];
  // Grown once: doubling would leave a wide directory's record with up to as much unused.
  entries.reserve(entries.size() + added);
  for (std::size_t f = 0; f < names.size(); ++f) {
    if (reserved[f]) continue;
    if (slot[f] == SIZE_MAX) {
      slot[f] = entries.size();
      entries.push_back(CDirInfo{std::string(names[f]), kEmptyHistory});
    }
    entries[slot[f]].sizes[0] = sizes[f];
  }
}

}  // namespace varnow
