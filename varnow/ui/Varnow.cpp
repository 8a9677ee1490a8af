#include "varnow/ui/Varnow.h"

#include <cstdio>
#include <exception>
#include <memory>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/ui/AutomatedRun.h"
#include "varnow/ui/VarnowDlg.h"
#include "varnow/ui/osinfo.h"

namespace varnow {

namespace {

// Told on standard error whatever the display: they are about the command line that was typed.
void TellAboutCommandLine(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    std::fprintf(stderr, "varnow: %s\n", line.c_str());
    VN_TRACE("%s", line.c_str());
  }
}

constexpr char kNoWindow[] =
    "The Varnow window needs a display. Scan a directory from the command line: "
    "varnow /DIR=<directory> /SCAN /SAVE";
}

CVarnowApp::CVarnowApp(IPrompts& prompts, InteractiveRun interactive, MainWindowMaker make)
    : m_prompts(prompts), m_interactive(std::move(interactive)), m_make(std::move(make)) {}

bool CVarnowApp::InitInstance(const std::string& commandLine) {
  // Component library, grid control and 3D drawing need no set-up here; the settings key's
  // company part is fixed ("Software\Zentrel\VARNOW").
  std::unique_ptr<CVarnowDlg> dlg;
  platform::Guarded("InitInstance", [&] {
    ParseCommandLine(commandLine, m_flags, nullptr);
    TellAboutCommandLine(m_flags.warnings);
    dlg = MakeMainWindow();
    if (!dlg) return;
    m_mainWindow = dlg.get();
    ParseCommandLine(commandLine, m_flags, dlg.get());
    CheckUnattendedDirectory(m_flags);
    // Only for the trace: the record is found by reading through the program's file.
    if (platform::TraceLog::IsOpen()) {
      GetProgramVersion(&m_major, &m_minor, &m_build);
      VN_TRACE("Version: %d.%d Bld %d\n", m_major, m_minor, m_build);
    }
    if (!m_flags.errors.empty()) {
      TellAboutCommandLine(m_flags.errors);
      std::fputs(UsageText().c_str(), stderr);
      m_exitStatus = kExitBadCommandLine;  // nothing is scanned, saved or shown
    } else if (m_flags.automated) {
      m_exitStatus = RunAutomatedSequence(m_flags, *dlg);
    } else {
      RunInteractive(*dlg);
    }
  });
  // The object goes first, while the trace log is still open, so that the final flush of the
  // save queue and its failures are traced too.
  m_mainWindow = nullptr;
  dlg.reset();
  platform::TraceLog::Close();
  return false;
}

std::unique_ptr<CVarnowDlg> CVarnowApp::MakeMainWindow() {
  try {
    return m_make ? m_make(m_prompts) : std::make_unique<CVarnowDlg>(m_prompts);
  } catch (const std::exception& e) {
    CannotStart("its main window object", e.what());
  } catch (...) {
    CannotStart("its main window object", "");
  }
  return nullptr;
}

void CVarnowApp::CannotStart(const std::string& what, const std::string& why) {
  const std::string message = "Varnow could not start: " + what + " could not be made" +
                              (why.empty() ? std::string(".") : " (" + why + ").");
  VN_TRACE("%s", message.c_str());
  m_exitStatus = kExitCannotStart;
  m_prompts.ShowMessage(message, "Varnow");
}

void CVarnowApp::RunInteractive(CVarnowDlg& dlg) {
  if (!m_interactive) {
    m_prompts.ShowMessage(kNoWindow, "Varnow");
    return;
  }
  try {
    m_interactive(dlg);
  } catch (const std::exception& e) {
    VN_TRACE("** Exception in dlg->DoModal()");
    CannotStart("its window", e.what());
  } catch (...) {
    VN_TRACE("** Exception in dlg->DoModal()");
    CannotStart("its window", "");
  }
}

}  // namespace varnow
