#include "varnow/report/Growth.h"

#include <algorithm>
#include <unordered_set>

namespace varnow {
namespace {

// Larger change first; on a tie the deeper directory, where the change happened.
bool ComesFirst(const CGrowthLine& a, const CGrowthLine& b, bool growing) {
  const std::int64_t ca = a.Change();
  const std::int64_t cb = b.Change();
  if (ca != cb) return growing ? ca > cb : ca < cb;
  if (a.path.size() != b.path.size()) return a.path.size() > b.path.size();
  return a.path < b.path;
}

void KeepFirst(std::vector<CGrowthLine>& lines, int limit, bool growing) {
  std::stable_sort(lines.begin(), lines.end(),
                   [growing](const CGrowthLine& a, const CGrowthLine& b) { return ComesFirst(a, b, growing); });
  if (lines.size() > static_cast<std::size_t>(limit)) lines.resize(static_cast<std::size_t>(limit));
}

}  // namespace

bool CGrowthLine::Percent(double& percent) const {
  if (before <= 0 || now == kNoSize) return false;
  percent = 100.0 * static_cast<double>(Change()) / static_cast<double>(before);
  return true;
}

bool NewestTwoScans(const CDirData& record, int& newer, int& older) {
  // Two scans within one second carry the same time and are still two scans.
  newer = 0;
  older = 1;
  return record.m_times[0] != 0 && record.m_times[1] != 0;
}

CGrowthRanking::CGrowthRanking(std::string top, int limit) : m_top(std::move(top)), m_limit(std::max(limit, 1)) {}

void CGrowthRanking::Add(const CDirData& record) {
  if (record.m_currentScanDir == m_top) m_topSeen = true;
  int newer = 0;
  int older = 0;
  const CDirInfo* total = record.FindEntry(kTotalUsed);
  if (!total || !NewestTwoScans(record, newer, older)) return;
  if (total->sizes[newer] == kNoSize || total->sizes[older] == kNoSize) return;  // a listing failed
  if (record.m_currentScanDir == m_top) m_topCompared = true;
  Candidate candidate;
  CGrowthLine& line = candidate.line;
  line.path = record.m_currentScanDir;
  line.before = total->sizes[older];
  line.now = total->sizes[newer];
  line.beforeTime = record.m_times[older];
  line.nowTime = record.m_times[newer];
  AddChildren(record, newer, older, line, candidate.explainedBy);
  if (line.Change() != 0) m_changed.push_back(std::move(candidate));
}

// Splits the record's change into its subdirectories' and its own files', and notes the
// subdirectories that appeared or went away between the two scans.
void CGrowthRanking::AddChildren(const CDirData& record, int newer, int older, CGrowthLine& line,
                                 std::string& explainedBy) {
  std::int64_t inChildren = 0;
  for (const CDirInfo& entry : record.m_entries) {
    if (IsSpecialEntryName(entry.name)) continue;
    const std::int64_t now = entry.sizes[newer];
    const std::int64_t before = entry.sizes[older];
    if (now == kNoSize && before == kNoSize) continue;
    CGrowthLine child{record.m_currentScanDir + entry.name + "/", before, now, 0, line.beforeTime, line.nowTime};
    child.ownFiles = child.Change();
    if (before == kNoSize) m_added.push_back(child);
    if (now == kNoSize) m_removed.push_back(child);
    inChildren += child.Change();
    if (child.Change() != 0 && child.Change() == line.Change() && explainedBy.empty()) explainedBy = entry.name;
  }
  line.ownFiles = line.Change() - inChildren;
}

CGrowthReport CGrowthRanking::Finish() {
  CGrowthReport report;
  report.top = m_top;
  if (!m_topSeen) {
    report.whyEmpty = "No scan of " + m_top + " is saved.";
  } else if (!m_topCompared && m_changed.empty()) {
    report.whyEmpty = "Only one scan of " + m_top +
                      " is saved: what changed shows once a second scan is saved (with /SAVESUBDIRS for "
                      "the directories below it).";
  }
  // Views of the paths, which stay where they are until the lines are moved out below.
  std::unordered_set<std::string_view> listed;
  for (const Candidate& candidate : m_changed) listed.insert(candidate.line.path);
  for (const CGrowthLine& line : m_removed) listed.insert(line.path);
  std::unordered_set<std::string_view> added;
  for (const CGrowthLine& line : m_added) added.insert(line.path);
  std::vector<bool> keep(m_changed.size());
  for (std::size_t i = 0; i < m_changed.size(); ++i) {
    const Candidate& candidate = m_changed[i];
    const std::string child = candidate.explainedBy.empty() ? std::string() : candidate.line.path + candidate.explainedBy + "/";
    const bool explained = !child.empty() && (listed.count(child) || added.count(child));
    // A path among the new ones is an old record of a directory made anew: listed as new.
    keep[i] = !explained && !added.count(candidate.line.path);
  }
  listed.clear();
  added.clear();
  for (std::size_t i = 0; i < m_changed.size(); ++i) {
    if (!keep[i]) continue;
    CGrowthLine& line = m_changed[i].line;
    (line.Change() > 0 ? report.grown : report.shrunk).push_back(std::move(line));
  }
  report.shrunk.insert(report.shrunk.end(), m_removed.begin(), m_removed.end());
  report.added = std::move(m_added);
  KeepFirst(report.grown, m_limit, true);
  KeepFirst(report.shrunk, m_limit, false);
  KeepFirst(report.added, m_limit, true);
  m_changed.clear();
  m_removed.clear();
  return report;
}

}  // namespace varnow
