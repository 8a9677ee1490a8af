// The application object: the order in which the tracker comes up, runs (unattended, or with
// its window) and ends.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "varnow/alerts/CommandLine.h"
#include "varnow/scan/Prompts.h"

namespace varnow {

class CVarnowDlg;

// The exit status of a run whose main window object or window could not be made.
inline constexpr int kExitCannotStart = 1;

class CVarnowApp {
 public:
  // Shows the main window for the object until the user ends the session.
  using InteractiveRun = std::function<void(CVarnowDlg&)>;
  // Makes the main window object; throws when it cannot.
  using MainWindowMaker = std::function<std::unique_ptr<CVarnowDlg>(IPrompts&)>;

  // prompts: how this run asks and tells (windows or standard error), chosen once by main.
  // interactive: the window; without one, an interactive start says that it cannot open one.
  // make: the main window object; by default one with the data file of the settings.
  // Reads the program's version numbers (0 when its version record cannot be read).
  explicit CVarnowApp(IPrompts& prompts, InteractiveRun interactive = nullptr, MainWindowMaker make = nullptr);

  // The whole run for the command line (the part after the program name). Returns false: no
  // message loop follows.
  bool InitInstance(const std::string& commandLine);

  const CRunFlags& RunFlags() const { return m_flags; }
  // The process's exit status: 1 when the main window object or the window could not be made
  // (the user is told), 2 when the command line was refused, for an automated run 3 when an
  // alert fired and 4 when the data file failed, 0 otherwise.
  int ExitStatus() const { return m_exitStatus; }
  // The main window object while InitInstance runs, else nullptr.
  CVarnowDlg* MainWindow() const { return m_mainWindow; }
  unsigned short m_major = 0;
  unsigned short m_minor = 0;
  unsigned short m_build = 0;

 private:
  void RunInteractive(CVarnowDlg& dlg);
  std::unique_ptr<CVarnowDlg> MakeMainWindow();
  // Tells the user that what could not be made and ends the run with kExitCannotStart.
  void CannotStart(const std::string& what, const std::string& why);

  IPrompts& m_prompts;
  InteractiveRun m_interactive;
  MainWindowMaker m_make;
  CRunFlags m_flags;
  int m_exitStatus = 0;
  CVarnowDlg* m_mainWindow = nullptr;
};

}  // namespace varnow
