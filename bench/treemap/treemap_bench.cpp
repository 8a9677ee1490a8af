// The treemap's layout and painting over a data file's saved tree, as the window and /TREEMAP do
// them: reads the tree of TOP once, then lays it out and paints it into a WIDTHxHEIGHT picture
// RUNS times and prints the median.
//   treemap_bench FOLDER TOP [WIDTHxHEIGHT [RUNS]]   (FOLDER holds VNDATA.DB; default 1600x1000, 9)
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "varnow/store/DataFile.h"
#include "varnow/ui/Treemap.h"
#include "varnow/ui/TreemapPicture.h"

namespace {

// The CPU time of this thread: on a machine that others share, the wall time tells the load too.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace varnow;
  using Clock = std::chrono::steady_clock;
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER TOP [WIDTHxHEIGHT [RUNS]]\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  int width = 1600, height = 1000;
  if (argc > 3) std::sscanf(argv[3], "%dx%d", &width, &height);
  const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 9;
  const std::string top = argv[2];

  CDataFile file(argv[1]);
  const auto readStart = Clock::now();
  CTreemapTree tree;
  CDirData first;
  first.m_currentScanDir = top;
  if (file.Read(first) != IScanStore::LoadResult::Loaded) {
    std::fprintf(stderr, "no saved record of %s in %s\n", top.c_str(), argv[1]);
    return 1;
  }
  tree.SetTop(first);
  std::size_t records = 0;
  file.ReadTree(top, [&](const CDirData& record) {
    tree.Add(record);
    ++records;
  });
  const double readMs = std::chrono::duration<double, std::milli>(Clock::now() - readStart).count();

  QImage image(width, height, QImage::Format_RGB32);
  std::vector<double> layoutMs, paintMs, cpuMs;
  std::size_t tiles = 0;
  for (int run = 0; run < runs; ++run) {
    const double cpuStart = ThreadCpuMs();
    const auto start = Clock::now();
    CTreemapLayout layout;
    layout.Lay(tree, QRectF(0, 0, width, height));
    const auto laid = Clock::now();
    {
      QPainter painter(&image);
      PaintTreemapTiles(painter, tree, layout, {});
    }
    const auto painted = Clock::now();
    cpuMs.push_back(ThreadCpuMs() - cpuStart);
    tiles = layout.Tiles().size();
    layoutMs.push_back(std::chrono::duration<double, std::milli>(laid - start).count());
    paintMs.push_back(std::chrono::duration<double, std::milli>(painted - laid).count());
  }
  std::vector<double> total(layoutMs.size());
  for (std::size_t i = 0; i < total.size(); ++i) total[i] = layoutMs[i] + paintMs[i];
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("%zu records read in %.0f ms (%zu boxes); %dx%d: %zu tiles, layout %.1f ms + paint %.1f ms = "
              "%.1f ms wall, %.1f ms CPU, medians of %d\n",
              records, readMs, tree.Nodes().size(), width, height, tiles, median(layoutMs), median(paintMs),
              median(total), median(cpuMs), runs);
  return 0;
}
