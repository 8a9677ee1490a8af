// Time to fill the directory grid with a record of many subdirectories, for each sort method,
// offscreen: the model's rebuild alone, and until the view has painted its first page.
//   grid_fill_bench [ENTRIES] [RUNS]     (defaults 100000 and 5; prints the median of the runs)
#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "varnow/report/EntryOrder.h"
#include "varnow/report/FormatSize.h"
#include "varnow/ui/Grid.h"

namespace {

using namespace varnow;

CDirData BigRecord(int entries) {
  CDirData record;
  record.m_currentScanDir = "/bench/";
  record.m_times = {1764950400, 1764345600, 1763740800, 1763136000, 1762531200, 1761926400};
  std::mt19937_64 random(42);
  record.m_entries.reserve(static_cast<std::size_t>(entries) + 2);
  for (int i = 0; i < entries; ++i) {
    CDirInfo entry{"dir-" + std::to_string(random() % 1000000000) + "-" + std::to_string(i)};
    for (std::int64_t& size : entry.sizes) size = static_cast<std::int64_t>(random() % (std::int64_t{1} << 36));
    entry.sizes[5] = kNoSize;
    record.m_entries.push_back(std::move(entry));
  }
  record.m_entries.push_back(CDirInfo{std::string(kTotalUsed), {1, 1, 1, 1, 1, 1}});
  record.m_entries.push_back(CDirInfo{std::string(kTotalFree), {2, 2, 2, 2, 2, 2}});
  return record;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const CDirData record = BigRecord(entries);
  CDirData small;

  CGrid grid;
  grid.resize(1000, 600);
  grid.show();
  std::printf("grid fill, %d subdirectories, median of %d runs\n", entries, runs);
  for (SortMethod method : {SortMethod::kBySize, SortMethod::kByName, SortMethod::kByChange}) {
    std::vector<double> fill, painted;
    for (int run = 0; run < runs; ++run) {
      grid.FillInGrid(small, SizeUnit::kSmart, method);  // start from an empty grid each time
      QApplication::processEvents();
      QElapsedTimer timer;
      timer.start();
      grid.FillInGrid(record, SizeUnit::kSmart, method);
      fill.push_back(timer.nsecsElapsed() / 1e9);
      grid.viewport()->repaint();
      QApplication::processEvents();
      painted.push_back(timer.nsecsElapsed() / 1e9);
    }
    std::printf("sort method %d: fill %.3f s, fill and first paint %.3f s\n", method, Median(fill), Median(painted));
  }
  return 0;
}
