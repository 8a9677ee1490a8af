// The tracker program: an automated run from the command line, or the window.
#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/versionrecord.h"
#include "varnow/alerts/CommandLine.h"
#include "varnow/ui/HeadlessPrompts.h"
#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/Varnow.h"
#include "varnow/ui/VarnowWindow.h"
#include "varnow/ui/osinfo.h"

// The version record that GetProgramVersion (and the installer) read from this file.
[[gnu::used]] constexpr platform::CVersionRecordBytes kVersionRecord =
    platform::MakeVersionRecord(VARNOW_VERSION_MAJOR, VARNOW_VERSION_MINOR, VARNOW_VERSION_PATCH,
                              VARNOW_VERSION_BUILD, "Varnow");

namespace {

constexpr char kUsage[] =
    "Usage: varnow [/DIR=directory] [/SCAN] [/SAVE] [/SAVESUBDIRS] [/DEBUG=tracefile]\n"
    "              [/ALERTPERCENT=n] [/ALERTSIZE=k] [/FREEALERT=k] [/NOTIFY=command ...]\n"
    "              [/PRINT=LPT1 | /PRINT=FILE=path]\n"
    "              [/GROWTH[=n] | /LARGEST[=n]] [/TREEMAP=picture.png|.svg] [/TREEMAPSIZE=WxH]\n"
    "       varnow --version\n"
    "With /DIR= and /SCAN the tracker scans unattended and ends; /SAVE keeps the result.\n"
    "/PRINT=FILE=- writes the report to standard output. /LARGEST scans and lists the n\n"
    "largest files (default 20) instead of the report; /TREEMAP= draws the saved tree coloured\n"
    "by what changed (default size 1200x800). Exit status: 2 when a value on\n"
    "the command line cannot be right (nothing is done); for an unattended run 4 when the\n"
    "data file could not be read or written, 3 when an alert fired, otherwise 0.\n"
    "Switch names may be written in any case; quote a directory with blanks.\n";

int PrintVersion() {
  unsigned short major = 0, minor = 0, build = 0;
  if (!varnow::GetProgramVersion(&major, &minor, &build)) {
    std::fputs("varnow: the version record of this program cannot be read\n", stderr);
    return 1;
  }
  std::printf("Varnow Version %d.%d (Build %d)\n", major, minor, build);
  return 0;
}

// A picture's labels need fonts, which only a GUI application has: without a display the
// treemap is drawn on the offscreen platform.
bool WantsPicture(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    std::string head = argument.substr(0, 9);
    for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (head == "/TREEMAP=") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 1 && arguments[0] == "--version") return PrintVersion();
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "/?")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // Without a display only the automated paths can run, and they must not need one: messages go
  // to standard error and questions take their default answers.
  std::unique_ptr<QCoreApplication> application;
  std::unique_ptr<varnow::IPrompts> prompts;
  varnow::CVarnowApp::InteractiveRun window;
  if (varnow::DisplayAvailable()) {
    application = std::make_unique<QApplication>(argc, argv);
    auto qtPrompts = std::make_unique<varnow::CQtPrompts>();
    window = [&prompts = *qtPrompts](varnow::CVarnowDlg& dlg) {
      varnow::CVarnowWindow mainWindow(dlg, prompts);
      mainWindow.DoModal();
    };
    prompts = std::move(qtPrompts);
  } else if (WantsPicture(arguments)) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application = std::make_unique<QGuiApplication>(argc, argv);
    prompts = std::make_unique<varnow::CHeadlessPrompts>();
  } else {
    application = std::make_unique<QCoreApplication>(argc, argv);
    prompts = std::make_unique<varnow::CHeadlessPrompts>();
  }
  varnow::CVarnowApp app(*prompts, window);
  app.InitInstance(varnow::JoinCommandLine(arguments));
  return app.ExitStatus();
}
