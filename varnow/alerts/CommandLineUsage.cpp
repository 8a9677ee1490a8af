#include "varnow/alerts/CommandLineUsage.h"

namespace varnow {

const platform::CUsage& CommandLineUsage() {
  static const platform::CUsage usage{
      .program = "varnow",
      .summary = "disk space tracker that shows which directories grow, scan after scan",
      .synopsis = {"varnow [/DIR=directory] [/SCAN] [/SAVE] [/SAVESUBDIRS] [/DEBUG=tracefile] "
                   "[/ALERTPERCENT=n] [/ALERTSIZE=k] [/FREEALERT=k] [/FULLALERT=days] "
                   "[/GROWTH[=n]] [/PRINT=LPT1 | /PRINT=FILE=path] [/METRICS=file [/METRICSDEPTH=n]] "
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
      .options =
          {{"/DIR=directory", "the directory to scan, check or report on"},
           {"/SCAN", "scan the directory"},
           {"/SAVE", "save the scan into the data file, so later scans compare with it"},
           {"/SAVESUBDIRS", "save the record of every subdirectory too (implies /SAVE)"},
           {"/DEBUG=tracefile", "write a trace log of the run to that file"},
           {"/ALERTPERCENT=n", "alert when the directory grew by more than n % since the last saved scan"},
           {"/ALERTSIZE=k", "alert when the directory grew by more than k K (1024 bytes) since then"},
           {"/FREEALERT=k", "alert when its disk has less than k K free (without /DIR=: the current "
                            "directory's disk)"},
           {"/FULLALERT=days", "alert when, at the rate its free space falls, the directory's disk "
                               "fills in fewer than that many days"},
           {"/GROWTH[=n]", "list the n directories (default 20) below the directory that grew most "
                           "between their two newest saved scans, instead of the report"},
           {"/PRINT=LPT1", "print the report on the default printer"},
           {"/PRINT=FILE=path", "write the report to a file; /PRINT=FILE=- writes it to standard output"},
           {"/METRICS=file", "write the saved figures of the directory and its saved subdirectories "
                             "for Prometheus (the text exposition format), atomically"},
           {"/METRICSDEPTH=n", "how many levels of saved subdirectories /METRICS= lists (default 3)"},
           {"/EXPORT=file.json", "write the scan's tree, files included, in ncdu's JSON export "
                                 "format (- for standard output); needs /SCAN"},
           {"/IMPORT=file.json", "take an ncdu export (- for standard input) as a scan of the "
                                 "directory made at the export's time; without /DIR= the export's "
                                 "root is the directory"},
           {"/NOTIFY=command ...",
            "the command to run when an alert fires: everything after /NOTIFY= to the end of the "
            "line, split into arguments like words in double quotes but never run by a shell; "
            "$DIR$, $SIZE$ and $MSG$ (any case) are replaced inside each argument"},
           {"--version", "print the program's version and end"},
           {"--help", "print this text and end"}},
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
