#include "orvsched/usage.h"

namespace orvsched {

const platform::CUsage& ServerUsage() {
  static const platform::CUsage usage{
      .program = "orvsched",
      .summary = "scheduler service that runs the disk space tracker's alerts at set times",
      .synopsis = {"orvsched [-RegServer | -UnregServer | -Startup | -Silent]", "orvsched --version",
                   "orvsched --help"},
      .description =
          {"orvsched keeps a list of timed tasks and starts their command lines when they are "
           "due, directly as a program with arguments, never through a shell. It serves the list "
           "on the session bus as com.zentrel.OrvSched, object /OrvTaskMgr, interface "
           "com.zentrel.IOrvTaskMgr; the tracker's Alerts dialog adds, changes and removes "
           "tasks there. The bus starts the server on the first call.",
           "While it has tasks, the server keeps an autostart entry so that it starts at log-on. "
           "It ends when its list is empty and no client holds it; only one server runs per "
           "session.",
           "Installed from a package, the server is known to the bus already. A copy elsewhere "
           "registers itself once with -RegServer."},
      .options =
          {{"-RegServer", "write the bus activation file that starts this copy of the server, "
                          "install the interface description, and end"},
           {"-UnregServer", "remove the activation file and the autostart entry, and end"},
           {"-Startup", "serve when there are tasks, else end (the autostart entry's STARTUP)"},
           {"-Silent", "serve without messages; followed by -regserver or -unregserver (as "
                       "installers write it) it registers and serves, or unregisters"},
           {"--version", "print the program's version and end"},
           {"--help", "print this text and end"}},
      .exitStatus = {{"0", "the switch did what it says, or the server ended normally"},
                     {"1", "the registration files could not be written or removed"}},
      .environment =
          {{"ORVSCHED_DATA_DIR", "the folder of the task store, instead of the default"},
           {"XDG_DATA_HOME", "where the activation file and the task store's default folder are "
                             "(default ~/.local/share)"},
           {"XDG_CONFIG_HOME", "where the autostart entry is (default ~/.config)"}},
      .files = {{"$XDG_DATA_HOME/orvsched/ORVSCHED.DAT",
                 "the task store (beside the program instead when its folder is writable)"},
                {"$XDG_DATA_HOME/dbus-1/services/com.zentrel.OrvSched.service",
                 "the activation file that -RegServer writes"},
                {"$XDG_CONFIG_HOME/autostart/orvsched.desktop", "the log-on entry while there are tasks"},
                {"/usr/share/dbus-1/interfaces/com.zentrel.IOrvTaskMgr.xml", "the interface description"}},
      .examples = {"gdbus call --session -d com.zentrel.OrvSched -o /OrvTaskMgr -m com.zentrel.IOrvTaskMgr.GetNumTasks"},
      .seeAlso = {"varnow(1)", "dbus-daemon(1)"},
  };
  return usage;
}

}  // namespace orvsched
