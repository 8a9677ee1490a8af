// What one data file object wrote of each record, for the merge of concurrent saves: whether a
// record written again was written by this object on the same scans, and whether what it wrote
// then held just those scans. One open-addressing table of two words a record (a digest of the
// path, and one of the scan times with that flag), since a save of millions of directories
// keeps one entry for each of them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace varnow {

class CWrittenRecords {
 public:
  using Times = std::array<std::int32_t, 6>;

  // Notes that the record of path, built on savedTimes with the scans times, was written with
  // the scans stored (times, or more when other runs' scans were merged in). Replaces what was
  // noted of path before.
  void Note(std::string_view path, const Times& times, const Times& savedTimes, const Times& stored);

  // Whether the record of path with these scans, built on savedTimes, was written before by
  // this object: nothing when it was not (or on other scans), otherwise whether it was written
  // with exactly its own scans.
  std::optional<bool> StoredOwnScans(std::string_view path, const Times& times, const Times& savedTimes) const;

  std::size_t Size() const { return m_count; }

 private:
  struct Slot {
    std::uint64_t path = 0;
    std::uint64_t scans = 0;  // 0: free; otherwise the top bit is set
  };
  static std::uint64_t PathDigest(std::string_view path);
  static std::uint64_t ScansDigest(const Times& times, const Times& savedTimes, bool ownScans);
  std::size_t Home(std::uint64_t path) const { return static_cast<std::size_t>(path) & (m_slots.size() - 1); }
  // The slot that holds path, or the free one where it would go.
  std::size_t Find(std::uint64_t path) const;
  void Grow();

  std::vector<Slot> m_slots;  // a power of two long, at most three quarters used
  std::size_t m_count = 0;
};

}  // namespace varnow
