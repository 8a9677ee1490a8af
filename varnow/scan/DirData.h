// The record of one scanned directory: its immediate subdirectories with a six-scan size
// history each, two summary rows, the scan times and the total. Records are plain values that
// travel by copy between the scan session, the save queue and the window.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnow {

// Summary rows; "*" cannot start a name the scan gives an entry, so they never collide.
inline constexpr std::string_view kTotalFree = "KOB*[Total Free]";
inline constexpr std::string_view kTotalUsed = "KOB*[Total Used]";
inline constexpr std::string_view kSpecialPrefix = "KOB*";
// Longest entry name the data file accepts.
inline constexpr std::size_t kMaxEntryName = 259;

constexpr std::int64_t kNoSize = -1;
using SizeHistory = std::array<std::int64_t, 6>;
inline constexpr SizeHistory kEmptyHistory{kNoSize, kNoSize, kNoSize, kNoSize, kNoSize, kNoSize};

struct CDirInfo {
  std::string name;  // one path component (bytes as listed) or a summary row's name
  // Newest first: [0] this scan, [1] the last saved one, ... -1 = no value.
  SizeHistory sizes = kEmptyHistory;

  bool operator==(const CDirInfo&) const = default;
};

// True for the summary rows (and anything else whose name starts with "KOB*").
bool IsSpecialEntryName(std::string_view name);

class CDirData {
 public:
  CDirData() = default;
  CDirData(const CDirData&) = default;
  CDirData(CDirData&&) noexcept = default;
  CDirData& operator=(const CDirData&) = default;
  CDirData& operator=(CDirData&&) noexcept = default;
  virtual ~CDirData() = default;

  // Full path of the directory, always ending in "/".
  std::string m_currentScanDir;

  // The 96-byte header, stored verbatim in the data file.
  std::int64_t m_markerA = 1;
  std::int64_t m_markerB = 1;
  std::array<std::int32_t, 6> m_times{};        // seconds since 1970 UTC, newest first, 0 = none
  std::array<std::uint32_t, 14> m_reserved{};

  // After a scan: the files directly inside plus the totals of all subdirectories.
  std::int64_t m_total = -1;
  // Not stored: the scan times of the saved record this one was loaded from (all 0: nothing
  // was saved), and how many scans were added since. A save compares the first with what is
  // saved by then.
  std::array<std::int32_t, 6> m_savedTimes{};
  int m_newScans = 0;
  std::vector<CDirInfo> m_entries;

  // Back to the state of a new record (path included).
  void Reset() { *this = CDirData(); }

  // The entry with exactly this name, or nullptr.
  CDirInfo* FindEntry(std::string_view name);
  const CDirInfo* FindEntry(std::string_view name) const;
  // The entry with this name, appended (with an empty history) when missing.
  CDirInfo& FindOrAddEntry(std::string_view name);

  bool operator==(const CDirData& other) const;
};

// Removes the entries that were absent from the last five scans, whatever the oldest slot holds.
void DropStaleEntries(CDirData& record);

// Lays the newScans leading scans of record over saved, the record of the same directory as
// saved now, when record was built on an older version (another process saved a scan of it
// meanwhile). Both sets of scans are kept in time order, newest first, six at most; an entry
// takes its sizes from the scan each column came from. The header words are record's.
void MergeWithSaved(CDirData& record, const CDirData& saved, int newScans);

// Letter case ignored; Unicode-aware for UTF-8 names, ASCII-only for other bytes.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// Names kept one after another in one string. A wide directory lists tens of thousands of
// subdirectories, whose names as strings of their own take twice the memory.
class CNameList {
 public:
  CNameList() = default;
  explicit CNameList(std::vector<std::string> names);

  std::size_t size() const { return m_ends.size(); }
  std::string_view operator[](std::size_t i) const {
    const std::uint32_t begin = i == 0 ? 0 : m_ends[i - 1];
    return std::string_view(m_chars).substr(begin, m_ends[i] - begin);
  }

 private:
  std::string m_chars;
  std::vector<std::uint32_t> m_ends;
};

// Puts the sizes a scan found for the listed subdirectories (names and sizes in listing order)
// into sizes[0] of their entries. A name keeps the entry that carries exactly its name; failing
// that, the entry whose name differs only in letter case, provided no other listed name claimed
// it; otherwise it gets a new entry at the end. A reserved name (a summary row's) gets none.
void MergeScannedSubdirectories(CDirData& record, const CNameList& names, const std::vector<std::int64_t>& sizes);

}  // namespace varnow
