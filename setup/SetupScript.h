// The setup script SETUP.INI beside the setup program: the product's settings, the list of files
// to install, and the registry keys to remove on uninstall.
//
// A file value is "source,destination[,REG[,ICON,title]]": commas separate, a run of commas
// counts as one. The destination starts with APP (the application directory), SYS (the user's
// program folder on PATH) or WIN (the user's data folder), followed by the rest of the path;
// any other start is taken as the path itself. Paths use "/"; a "\" is read as "/" too.
//
// The script is read once (platform::CProfileSnapshot) and every reader below takes that copy.
#pragma once

#include "platform/profile.h"

#include <cstddef>
#include <string>
#include <vector>

namespace setup {

enum class SetupMode { kInstall, kUninstall };

struct CSetupSettings {
  std::string title = "Shareware Program";
  std::string group = "Shareware Program";
  std::string readMe;  // empty: none
  std::string run;     // empty: none
  bool uninstall = false;
  // The menu categories of the program group's items, besides the group's own.
  std::string categories = "Utility;";
  // The user's data, which the uninstall keeps and names (a destination as in the file list).
  std::string dataFile;
};

struct CFileEntry {
  std::string source;       // full path
  std::string destination;  // as written until ExpandDestinations
  bool registerFlag = false;
  bool iconFlag = false;
  std::string itemTitle;
  std::string line;  // "File<n>=value" as the script has it, for messages; empty for an added entry
};

// The folders that the three destination prefixes stand for.
struct CBaseFolders {
  std::string app;
  std::string sys;
  std::string win;
};

// The name of the uninstall entries' script and the destination of the setup program's copy.
inline constexpr char kScriptName[] = "SETUP.INI";

CSetupSettings ReadSetupSettings(const platform::CProfileSnapshot& script);

// Whether the script lists at least one file (File1, ... with a source and a destination). An
// empty, cut-off, binary or section-less script has none.
bool HasFileList(const platform::CProfileSnapshot& script);

// The fields of one FileList value (at most five, none empty).
std::vector<std::string> SplitFileValue(const std::string& value);

// File1, File2, ... up to the first missing number. In uninstall mode entries bound for SYS or
// WIN are left out. With uninstall support the script and the setup program (setupProgramName in
// setupFolder) are added unless the list already installs them into APP.
std::vector<CFileEntry> ReadFileList(const platform::CProfileSnapshot& script, const std::string& setupFolder,
                                     const std::string& setupProgramName, SetupMode mode, bool uninstallSupport);

// The entry that installs the setup program into APP (the uninstall item starts it), or npos.
std::size_t FindSetupEntry(const std::vector<CFileEntry>& entries, const std::string& setupProgramName);

// Replaces the APP/, SYS/ and WIN/ prefixes of every destination by their folders.
void ExpandDestinations(std::vector<CFileEntry>& entries, const CBaseFolders& folders);

// The directory as the user typed it: one trailing "/" removed, then leading and trailing blanks.
std::string TrimTypedDirectory(std::string text);

// The application directory from the typed text: trimmed, a leading "~" standing for the home
// folder. Empty when the result is not an absolute path other than "/" (files would otherwise
// land in the current folder or at the root).
std::string ApplicationDirectoryFrom(const std::string& typed, const std::string& home);

// Key1, Key2, ... of RegCleanup up to the first missing number.
std::vector<std::string> ReadRegCleanup(const platform::CProfileSnapshot& script);

}  // namespace setup
