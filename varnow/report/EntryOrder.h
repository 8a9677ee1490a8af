// The order in which a directory record's entries are shown: by size, by name or by change in
// size, with the two summary rows always last ("[Total Used]" before "[Total Free]"). The grid
// and the reports share it, so a printed report lists its rows as the window does.
#pragma once

#include <vector>

#include "varnow/scan/DirData.h"
#include "varnow/settings/Settings.h"  // SortMethod, which the settings keep

namespace varnow {

// Negative when a comes first, positive when b does, 0 when the method does not tell them apart.
int CompareEntries(const CDirInfo& a, const CDirInfo& b, SortMethod sortMethod);

// Pointers to the record's entries in display order; the record itself is left as it is.
// Entries that compare equal keep their record order.
std::vector<const CDirInfo*> SortedEntries(const CDirData& record, SortMethod sortMethod);

// An order the grid's headings choose besides the sort methods: the sizes of one scan, largest
// first, and either order the other way round. The summary rows stay last whichever it is.
struct CEntryOrder {
  SortMethod sortMethod = SortMethod::kBySize;
  int sizeIndex = -1;  // 0 to 5: by the sizes of that scan instead of by the sort method
  bool reversed = false;

  bool operator==(const CEntryOrder&) const = default;
};
std::vector<const CDirInfo*> SortedEntries(const CDirData& record, const CEntryOrder& order);

}  // namespace varnow
