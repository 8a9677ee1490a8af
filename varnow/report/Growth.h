// Where the space went: the directories of a tree whose totals changed most between their two
// newest saved scans. Growth nests (a directory's growth is part of its parent's), so a
// directory whose whole change lies in one listed subdirectory is left out and the reader
// follows the growth down to where it happened. Pure computation on saved records: the caller
// hands in each record of the tree (see IScanStore::ReadTree) and gets the ranking.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "varnow/scan/DirData.h"

namespace varnow {

inline constexpr int kDefaultGrowthLines = 20;

// One directory's change between two of its scans.
struct CGrowthLine {
  std::string path;                // full path, ending in "/"
  std::int64_t before = kNoSize;   // total at the older scan; -1: the directory is new
  std::int64_t now = kNoSize;      // total at the newer scan; -1: the directory is gone
  std::int64_t ownFiles = 0;       // the part of the change in the directory's own files
  std::int32_t beforeTime = 0;     // the two scans compared
  std::int32_t nowTime = 0;

  std::int64_t Change() const { return (now == kNoSize ? 0 : now) - (before == kNoSize ? 0 : before); }
  // Change in per cent of the older total; false when there was none (new, or 0 bytes).
  bool Percent(double& percent) const;
};

struct CGrowthReport {
  std::string top;
  std::vector<CGrowthLine> grown;   // largest growth first
  std::vector<CGrowthLine> shrunk;  // largest fall first; removed directories too
  std::vector<CGrowthLine> added;   // directories that the newer scan found first, largest first
  // Why nothing could be compared; empty when at least top's record has two scans.
  std::string whyEmpty;
};

// The two scans of a record that a change is measured between: its two newest saved scans.
// False when there are not two.
bool NewestTwoScans(const CDirData& record, int& newer, int& older);

class CGrowthRanking {
 public:
  // top ends in "/"; each list of the report keeps at most limit lines.
  CGrowthRanking(std::string top, int limit);

  // Takes the saved record of top or of a directory below it, in any order.
  void Add(const CDirData& record);
  CGrowthReport Finish();

 private:
  struct Candidate {
    CGrowthLine line;
    std::string explainedBy;  // name of the child whose change equals the whole change, or ""
  };
  void AddChildren(const CDirData& record, int newer, int older, CGrowthLine& line, std::string& explainedBy);

  std::string m_top;
  int m_limit;
  bool m_topSeen = false;
  bool m_topCompared = false;
  std::vector<Candidate> m_changed;
  std::vector<CGrowthLine> m_added;
  std::vector<CGrowthLine> m_removed;
};

}  // namespace varnow
