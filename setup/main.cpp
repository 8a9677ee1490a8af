// setup: installs the product from the folder it runs from, as its SETUP.INI says, or removes it
// again when started with UNINSTALL from the installed folder. With /DIR=folder, or without a
// display, it runs unattended.
#include "setup/BusSchedulerCleanup.h"
#include "setup/CommandLine.h"
#include "setup/ConsolePrompts.h"
#include "setup/Setup.h"
#include "setup/WidgetPrompts.h"

#include "platform/process.h"
#include "platform/versionrecord.h"
#include "platform/xdgdirs.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

// The version record that a later setup compares with its own copy of this program.
[[gnu::used]] constexpr platform::CVersionRecordBytes kVersionRecord =
    platform::MakeVersionRecord(VARNOW_VERSION_MAJOR, VARNOW_VERSION_MINOR, VARNOW_VERSION_PATCH,
                                VARNOW_VERSION_BUILD, "setup");

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    if (const char* value = std::getenv(name); value && *value) return true;
  return false;
}

setup::CSetupContext ContextFor(setup::SetupMode mode) {
  const std::filesystem::path self = platform::ProgramPath();
  setup::CSetupContext context;
  context.mode = mode;
  context.setupFolder = self.parent_path().string();
  context.setupProgramName = self.filename().string();
  context.home = platform::HomeFolder();
  context.sysFolder = context.home + "/.local/bin";
  context.winFolder = platform::DataHome();
  return context;
}

}  // namespace

int main(int argc, char** argv) {
  // A file size limit then shows as a copy error instead of ending setup.
  std::signal(SIGXFSZ, SIG_IGN);
  const setup::CSetupCommandLine commandLine = setup::ParseSetupCommandLine(argc, argv);
  if (commandLine.action == setup::SetupAction::kUsage) {
    std::fputs(setup::SetupUsage().c_str(), stdout);
    return 2;
  }
  if (commandLine.action == setup::SetupAction::kBadArgument) {
    std::fprintf(stderr, "setup: unknown argument \"%s\"\n%s", commandLine.badArgument.c_str(),
                 setup::SetupUsage().c_str());
    return 2;
  }
  setup::CDetachedStarter starter;
  platform::CDesktopMenu menu;
  setup::CBusSchedulerCleanup scheduler;
  const setup::CSetupContext context = ContextFor(commandLine.mode);
  if (commandLine.directory || !HasDisplay()) {
    QCoreApplication app(argc, argv);  // for the session bus
    setup::CConsolePrompts prompts(commandLine.directory);
    return setup::CSetup(context, prompts, starter, menu, &scheduler).Run();
  }
  QApplication app(argc, argv);
  setup::CWidgetPrompts prompts;
  return setup::CSetup(context, prompts, starter, menu, &scheduler).Run();
}
