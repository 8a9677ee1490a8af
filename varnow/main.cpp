// The tracker program: an automated run from the command line, or the window.
#include <QApplication>
#include <QCoreApplication>
#include <algorithm>
#include <csignal>
#include <QGuiApplication>
#include <cstdio>
#include <initializer_list>
#include <malloc.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/asciicase.h"
#include "platform/versionrecord.h"
#include "varnow/alerts/CommandLine.h"
#include "varnow/alerts/CommandLineUsage.h"
#include "varnow/alerts/DesktopNotification.h"
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
    if (platform::StartsWithIgnoringCase(argument, "/TREEMAP=")) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // One malloc arena for every thread: the scan's worker threads each got an arena of their own,
  // about 11 MB of a first scan's peak, and measured no faster for it.
  mallopt(M_ARENA_MAX, 1);
  // A fixed threshold: glibc's own rises with every large block freed, after which a wide
  // folder's listings and records went to the heap and their freed space stayed in the
  // process (9 to 16 MB of a wide folder's rescan).
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  // A file size limit (ulimit -f) makes a write past it fail with EFBIG, which the save reports
  // like any other write failure, instead of killing the program without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  auto given = [&arguments](std::initializer_list<std::string_view> names) {
    return std::any_of(arguments.begin(), arguments.end(), [names](const std::string& argument) {
      return std::find(names.begin(), names.end(), argument) != names.end();
    });
  };
  // The detached waiter that an alert's desktop notification left behind.
  if (!arguments.empty() && arguments[0] == varnow::kAwaitNotificationSwitch)
    return varnow::AwaitNotificationAction(argc, argv);
  if (given({"--help", "/?"})) {
    std::fputs(platform::HelpText(varnow::CommandLineUsage()).c_str(), stdout);
    return 0;
  }
  if (given({"--version"})) return PrintVersion();
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
