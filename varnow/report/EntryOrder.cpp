#include "varnow/report/EntryOrder.h"

#include <algorithm>

namespace varnow {
namespace {

// Positive when a is the given summary row and b is not, so that it goes after b.
int SummaryLast(const CDirInfo& a, const CDirInfo& b, std::string_view summary) {
  return (a.name == summary ? 1 : 0) - (b.name == summary ? 1 : 0);
}

int Descending(std::int64_t a, std::int64_t b) { return a > b ? -1 : (a < b ? 1 : 0); }

std::int64_t NoSizeAsZero(std::int64_t size) { return size == kNoSize ? 0 : size; }

int SummaryRowsLast(const CDirInfo& a, const CDirInfo& b) {
  if (int order = SummaryLast(a, b, kTotalFree)) return order;
  return SummaryLast(a, b, kTotalUsed);
}

// The order of two entries that are not summary rows.
int CompareBodies(const CDirInfo& a, const CDirInfo& b, SortMethod sortMethod) {
  switch (sortMethod) {
    case SortMethod::kBySize:
      return Descending(NoSizeAsZero(a.sizes[0]), NoSizeAsZero(b.sizes[0]));
    case SortMethod::kByName:
      return a.name.compare(b.name) < 0 ? -1 : (a.name == b.name ? 0 : 1);
    case SortMethod::kByChange:
      // A size missing from this scan stays -1; only a missing earlier size counts as 0.
      return Descending(a.sizes[0] - NoSizeAsZero(a.sizes[1]), b.sizes[0] - NoSizeAsZero(b.sizes[1]));
    default:
      return 0;
  }
}

template <typename Compare>
std::vector<const CDirInfo*> Sorted(const CDirData& record, Compare compare) {
  std::vector<const CDirInfo*> order;
  order.reserve(record.m_entries.size());
  for (const CDirInfo& entry : record.m_entries) order.push_back(&entry);
  std::stable_sort(order.begin(), order.end(),
                   [&compare](const CDirInfo* a, const CDirInfo* b) { return compare(*a, *b) < 0; });
  return order;
}

}  // namespace

int CompareEntries(const CDirInfo& a, const CDirInfo& b, SortMethod sortMethod) {
  if (int order = SummaryRowsLast(a, b)) return order;
  return CompareBodies(a, b, sortMethod);
}

std::vector<const CDirInfo*> SortedEntries(const CDirData& record, SortMethod sortMethod) {
  return Sorted(record, [sortMethod](const CDirInfo& a, const CDirInfo& b) { return CompareEntries(a, b, sortMethod); });
}

std::vector<const CDirInfo*> SortedEntries(const CDirData& record, const CEntryOrder& order) {
  const bool bySize = order.sizeIndex >= 0 && order.sizeIndex < static_cast<int>(std::tuple_size_v<SizeHistory>);
  return Sorted(record, [&order, bySize](const CDirInfo& a, const CDirInfo& b) {
    if (int summary = SummaryRowsLast(a, b)) return summary;
    const auto k = static_cast<std::size_t>(order.sizeIndex);
    const int body = bySize ? Descending(NoSizeAsZero(a.sizes[k]), NoSizeAsZero(b.sizes[k]))
                            : CompareBodies(a, b, order.sortMethod);
    return order.reversed ? -body : body;
  });
}

}  // namespace varnow
