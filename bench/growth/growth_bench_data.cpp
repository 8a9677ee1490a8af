// Writes a data file whose saved records form one tree of RECORDS directories below TOP, each
// with two saved scans a week apart and every tenth directory grown by its own files, for the
// growth report to walk.
//   growth_bench_data FOLDER TOP [RECORDS [FANOUT]]   (TOP ends in "/"; default 100000 records,
//                                                     10 subdirectories each)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "varnow/store/DataFile.h"

int main(int argc, char** argv) {
  using namespace varnow;
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER TOP [RECORDS]\n", argv[0]);
    return 2;
  }
  const std::string top = argv[2];
  const long count = argc > 3 ? std::atol(argv[3]) : 100000;
  const long kFanOut = argc > 4 ? std::max(1L, std::atol(argv[4])) : 10;
  constexpr std::int32_t kNewer = 1764950400;
  constexpr std::int32_t kOlder = kNewer - 7 * 86400;

  // Breadth first: record i has the children kFanOut*i+1 ... kFanOut*i+kFanOut.
  std::vector<std::string> paths{top};
  for (long i = 0; static_cast<long>(paths.size()) < count; ++i)
    for (long c = 0; c < kFanOut && static_cast<long>(paths.size()) < count; ++c)
      paths.push_back(paths[static_cast<std::size_t>(i)] + "dir " + std::to_string(c) + "/");
  // Totals from the leaves up: 4 K of own files each, 1 K more in every tenth directory.
  std::vector<std::int64_t> before(paths.size(), 4096), now(paths.size(), 4096);
  for (std::size_t i = 0; i < paths.size(); i += 10) now[i] += 1024;
  for (std::size_t i = paths.size() - 1; i > 0; --i) {
    before[(i - 1) / kFanOut] += before[i];
    now[(i - 1) / kFanOut] += now[i];
  }
  std::vector<CDirData> records;
  records.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    CDirData record;
    record.m_currentScanDir = paths[i];
    record.m_times = {kNewer, kOlder, 0, 0, 0, 0};
    for (std::size_t c = kFanOut * i + 1; c <= kFanOut * i + kFanOut && c < paths.size(); ++c)
      record.m_entries.push_back({"dir " + std::to_string((c - 1) % kFanOut), {now[c], before[c], -1, -1, -1, -1}});
    record.m_entries.push_back({std::string(kTotalUsed), {now[i], before[i], -1, -1, -1, -1}});
    record.m_entries.push_back({std::string(kTotalFree), {1LL << 36, 1LL << 37, -1, -1, -1, -1}});
    records.push_back(std::move(record));
  }
  CDataFile file(argv[1]);
  int failures = 0;
  file.Write(records, [&](const CDirData&, std::int32_t) { ++failures; });
  std::printf("%zu records written, %d failed\n", records.size(), failures);
  return failures == 0 ? 0 : 1;
}
