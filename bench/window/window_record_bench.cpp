// The window showing the saved record of a directory, no scan: from the request (as a typed
// directory makes it) until the grid holds the record and has painted, with nothing of the data
// file parsed before in this process. One measurement per run of the program, so that each
// starts as a user's start of the window does.
//   window_record_bench DIRECTORY       (prints the seconds, and the entries shown)
// Settings and data folder come from the environment: point HOME and the XDG folders elsewhere.
#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <string>

#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/VarnowDlg.h"
#include "varnow/ui/VarnowWindow.h"
#include "varnow/ui/Grid.h"

int main(int argc, char** argv) {
  using namespace varnow;
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_record_bench DIRECTORY\n");
    return 2;
  }
  CQtPrompts prompts;
  CVarnowDlg dlg(prompts);
  CVarnowWindow window(dlg, prompts);
  window.show();
  QApplication::processEvents();
  QElapsedTimer timer;
  timer.start();
  dlg.Session().SetScanDir(argv[1]);  // reads the record and refreshes the grid
  window.Grid()->viewport()->repaint();
  const double seconds = timer.nsecsElapsed() / 1e9;
  std::printf("%.4f s, %zu entries\n", seconds, dlg.Session().dd.m_entries.size());
  return dlg.Session().dd.m_entries.empty() ? 1 : 0;
}
