// The application object: the order in which the tracker comes up, runs (unattended, or with
// its window) and ends.
#pragma once

#include <string>

#include "varnow/alerts/CommandLine.h"

namespace varnow {

class CVarnowDlg;

class CVarnowApp {
 public:
  // Reads the program's version numbers (0 when its version record cannot be read).
  CVarnowApp();

  // The whole run for the command line (the part after the program name). Returns false: no
  // message loop follows.
  bool InitInstance(const std::string& commandLine);

  const CRunFlags& RunFlags() const { return m_flags; }
  // The main window object while InitInstance runs, else nullptr.
  CVarnowDlg* MainWindow() const { return m_mainWindow; }
  unsigned short m_major = 0;
  unsigned short m_minor = 0;
  unsigned short m_build = 0;

 private:
  static void RunInteractive(CVarnowDlg& dlg);

  CRunFlags m_flags;
  CVarnowDlg* m_mainWindow = nullptr;
};

}  // namespace varnow
