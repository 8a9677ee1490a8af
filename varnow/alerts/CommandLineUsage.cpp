#include "varnow/alerts/CommandLineUsage.h"

#include "varnow/alerts/CommandLine.h"

namespace varnow {

const platform::CUsage& CommandLineUsage() {
  static const platform::CUsage usage{
      .program = "varnow",
      .summary = "disk space tracker that shows which directories grow, scan after scan",
      .synopsis = {"varnow [/DIR=directory] [/SCAN] [/SAVE] [/SAVESUBDIRS] [/DEBUG=tracefile] "
                   "[/ALERTPERCENT=n] [/ALERTSIZE=size] [/FREEALERT=size] [/FULLALERT=days] "
                   "[/GROWTH[=n] | /LARGEST[=n]] [/TREEMAP=file [/TREEMAPSIZE=WxH]] "
                   "[/PRINT=LPT1 | /PRINT=FILE=path] [/METRICS=file [/METRICSDEPTH=n]] "
                   "[/EXPORT=file.json] [/IMPORT=file.json] [/NOTIFY=command ...]",
                   "varnow --version", "varnow --help"},
      .description =
          {"Varnow walks a directory tree and keeps, for every directory, the sizes of its "
           "subdirectories at the last six saved scans, its total and its disk's free space, in "
           "one data file. Every scan is compared with the ones before, so you see what grew.",
           "Without switches, or with /DIR= alone, the window opens (on that directory). With "
           "/DIR= and one of /SCAN, /PRINT= or an alert switch, or with /FREEALERT=, /FULLALERT= "
           "or /GROWTH alone (these take the current directory without /DIR=), the tracker runs "
           "unattended and ends without opening its window. The run does, in this order: the "
           "scan, the save, the alert checks, the report (or the growth list).",
           "Switch names may be written in any letter case, but only at the start of an "
           "argument; values keep their case. Quote a directory with blanks.",
           "An alert is shown as a desktop notification when the session has a notification "
           "service (its Show action opens the tracker on the directory), otherwise as a "
           "\"Varnow Alert\" message box; with /NOTIFY= the command is run instead. Without a "
           "display (no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM) every message, alerts "
           "included, goes to standard error, and every question takes its default answer."},
      .options = [] {
        std::vector<platform::CUsageItem> items = SwitchUsage();
        items.push_back({"--version", "print the program's version and end"});
        items.push_back({"--help", "print this text and end"});
        return items;
      }(),
      .exitStatus = {{"0", "the run ended normally"},
                     {"2", "a value on the command line cannot be right; nothing was done"},
                     {"3", "an alert fired"},
                     {"4", "the data file could not be read or written (4 wins over 5 and 3)"},
                     {"5", "a /METRICS= or /EXPORT= file could not be written (5 wins over 3)"}},
      .environment =
          {{"DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM",
            "when none is set, the tracker shows no window: messages go to standard error"},
           {"XDG_CONFIG_HOME", "where the settings live (default ~/.config)"},
           {"XDG_DATA_HOME", "where the data file lives unless the settings name a folder "
                             "(default ~/.local/share)"},
           {"XDG_RUNTIME_DIR", "where the identifiers of shown alert notifications are kept, so "
                               "that a repeated alert replaces its notification"},
           {"TMPDIR", "where report files for printing are made (default /tmp)"}},
      .files = {{"$XDG_DATA_HOME/varnow/VNDATA.DB", "the scan data file"},
                {"$XDG_CONFIG_HOME/zentrel/registry/HKEY_CURRENT_USER.reg",
                 "the settings, key Software\\Zentrel\\VARNOW, in the registry-editor export format"},
                {"/usr/share/doc/varnow/VNHELP.HTM", "the help page that the Help button opens"}},
      .examples = {"varnow /DIR=/srv/data /SCAN /SAVE",
                   "varnow /DIR=/srv/data /ALERTPERCENT=10",
                   "varnow /DIR=/srv/data /FREEALERT=10485760 /NOTIFY=notify-send \"Disk alert\" '$MSG$'",
                   "varnow /DIR=/srv/data /SCAN /PRINT=FILE=-",
                   "varnow /DIR=/srv/data /GROWTH=10"},
      .seeAlso = {"orvsched(1)", "cfb(1)", "zizeruv(1)", "du(1)"},
  };
  return usage;
}

}  // namespace varnow
