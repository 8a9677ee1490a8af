// A scan started from the window, with its progress display and the refresh of the status fields
// and the grid, against the same scan unattended (no progress display, as an automated run does
// it), in one process and on the same tree; nothing is saved. A heartbeat timer on the GUI thread
// measures the longest time that thread handled no events during the window's scans: while the
// progress display was up (the walk), and over the whole click (the refresh after it included).
//   window_scan_bench TREE [RUNS]     (default 5 runs each, alternating; prints the medians)
// Runs on whatever display Qt finds: under Xvfb for a real X server, or QT_QPA_PLATFORM=offscreen.
// Settings and data folder come from the environment: point HOME and the XDG folders elsewhere.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "varnow/ui/HeadlessPrompts.h"
#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/ScanProgressDialog.h"
#include "varnow/ui/VarnowDlg.h"
#include "varnow/ui/VarnowWindow.h"

namespace {

using namespace varnow;

void Wait(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

void SaveNothing(CVarnowDlg& dlg) {
  dlg.SetAutoSave(0);
  dlg.SetSubDirSave(0);
}

// threads: how many threads read the file system (0: as many as an automated run uses).
double Unattended(const std::string& tree, int threads, long& directories) {
  CHeadlessPrompts prompts;
  CScanOptions options;
  options.scanThreads = threads;
  CVarnowDlg dlg(prompts, nullptr, options);
  SaveNothing(dlg);
  dlg.CommandLineFields().automatedRun = 1;
  dlg.SetDirectoryText(tree);
  QElapsedTimer timer;
  timer.start();
  dlg.OnScan();
  const double seconds = timer.nsecsElapsed() / 1e9;
  directories = dlg.Session().DirectoriesScanned();
  return seconds;
}

// The largest gaps between two beats of a 5 ms timer on the GUI thread.
class CHeartbeat {
 public:
  CHeartbeat() {
    m_timer.setInterval(5);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Beat(); });
  }
  void Start() {
    m_last.start();
    m_timer.start();
  }
  void Stop() {
    Beat();
    m_timer.stop();
  }
  double LongestMs() const { return m_longest / 1e6; }
  double LongestWhileShownMs() const { return m_longestShown / 1e6; }
  long BeatsShown() const { return m_beatsShown; }
  long GapsOver50MsShown() const { return m_over50Shown; }

 private:
  void Beat() {
    const qint64 gap = m_last.nsecsElapsed();
    m_last.start();
    m_longest = std::max(m_longest, gap);
    // A gap between two beats that both saw the display lay within the walk; the first one after
    // the display came up also holds the work before it (the directory set, the display made).
    const bool shown = qobject_cast<CScanProgressDialog*>(QApplication::activeModalWidget()) != nullptr;
    if (shown && m_shownBefore) {
      m_longestShown = std::max(m_longestShown, gap);
      ++m_beatsShown;
      if (gap > 50'000'000) ++m_over50Shown;
    }
    m_shownBefore = shown;
  }
  QTimer m_timer;
  QElapsedTimer m_last;
  qint64 m_longest = 0;
  qint64 m_longestShown = 0;
  bool m_shownBefore = false;
  long m_beatsShown = 0;
  long m_over50Shown = 0;
};

double FromWindow(const std::string& tree, long& directories, CHeartbeat* heartbeat = nullptr) {
  CQtPrompts prompts;
  CVarnowDlg dlg(prompts);
  SaveNothing(dlg);
  CVarnowWindow window(dlg, prompts);
  window.OnInitDialog();
  window.show();
  Wait(2300);  // until the splash has gone
  window.DirectoryField()->setText(QString::fromStdString(tree));
  QApplication::processEvents();
  QElapsedTimer timer;
  timer.start();
  if (heartbeat) heartbeat->Start();
  window.CommandButton(CVarnowWindow::kScan)->click();  // returns when the grid is filled
  window.Grid()->viewport()->repaint();
  if (heartbeat) heartbeat->Stop();
  const double seconds = timer.nsecsElapsed() / 1e9;
  directories = dlg.Session().DirectoriesScanned();
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_scan_bench TREE [RUNS]\n");
    return 2;
  }
  std::string tree = argv[1];
  if (tree.back() != '/') tree += '/';
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

  long directories = 0;
  Unattended(tree, 0, directories);  // warms the cache
  std::vector<double> unattended, oneThread, window;
  CHeartbeat heartbeat;
  for (int run = 0; run < runs; ++run) {
    unattended.push_back(Unattended(tree, 0, directories));
    oneThread.push_back(Unattended(tree, 1, directories));
    long shown = 0;
    window.push_back(FromWindow(tree, shown, &heartbeat));
    if (shown != directories) std::fprintf(stderr, "the window scanned %ld directories, unattended %ld\n", shown, directories);
  }
  const double u = Median(unattended), u1 = Median(oneThread), w = Median(window);
  std::printf("scan of %s (%ld directories), median of %d runs, platform %s\n", tree.c_str(), directories, runs,
              qPrintable(QGuiApplication::platformName()));
  std::printf("unattended %.3f s (one reading thread %.3f s), from the window %.3f s, ratio %.2f\n", u, u1, w,
              w / u);
  std::printf("GUI thread blocked at most %.1f ms during the walks (%ld of %ld gaps over 50 ms), %.1f ms over the "
              "whole click\n",
              heartbeat.LongestWhileShownMs(), heartbeat.GapsOver50MsShown(), heartbeat.BeatsShown(), heartbeat.LongestMs());
  return 0;
}
