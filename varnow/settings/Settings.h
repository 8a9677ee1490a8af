// The settings store: the per-user registry key "Software\Zentrel\VARNOW", one subkey per
// section ("Settings", "FixedClusterSizes"). Integers are double words, texts are strings.
// Readers never fail: a missing value, a value of another type or an unreadable hive gives the
// default.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace varnow {

inline constexpr char kSettingsSection[] = "Settings";
inline constexpr char kFixedClusterSizesSection[] = "FixedClusterSizes";

// The registry key of a section.
std::string SettingsKey(const std::string& section);

// Plain readers and writers.
int GetProfileInt(const std::string& section, const std::string& entry, int defaultValue);
std::string GetProfileString(const std::string& section, const std::string& entry, const std::string& defaultValue);
bool WriteProfileInt(const std::string& section, const std::string& entry, int value);
bool WriteProfileString(const std::string& section, const std::string& entry, const std::string& value);

// Read, and when the value in effect is the default, write it back: after a run every value
// read this way is present in the store.
int GetProfileIntEx(const std::string& section, const std::string& entry, int defaultValue);
std::string GetProfileStringEx(const std::string& section, const std::string& entry, const std::string& defaultValue);

// The cluster size override of a scan root in "FixedClusterSizes": a value named exactly like the
// root, a double word or a text that starts with a digit. 0 when there is none.
std::uint32_t GetFixedClusterSize(const std::string& root);
// An integer kept as decimal text, as the overrides are.
bool WriteProfileIntAsText(const std::string& section, const std::string& entry, int value);
// Every override in the order the store lists them, values with an empty name left out; the size
// is 0 for a value that is not a number.
std::vector<std::pair<std::string, std::uint32_t>> GetFixedClusterSizes();
// Replaces the whole override list: the section is deleted, then every pair is written in order
// as decimal text. Empty names are written too (readers skip them); of equal names the last wins.
bool WriteFixedClusterSizes(const std::vector<std::pair<std::string, int>>& overrides);

// Where a print goes, by its stored code. A code that names neither (a hand-edited store) is
// kept as it is, to be written back unchanged: no destination is checked for it in the print
// options, and a print with it goes to the file.
enum class PrintDestination : int { kPrinter = 1, kFile = 2 };
// The one conversion each way between the stored code and the value in memory.
constexpr PrintDestination PrintDestinationFromStored(int code) { return static_cast<PrintDestination>(code); }
constexpr int StoredCode(PrintDestination destination) { return static_cast<int>(destination); }

// The display unit of sizes (see FormatSize), by its stored code. A code that names none is kept
// as it is and written back unchanged: sizes then show undivided and without a unit, and no unit
// is checked in the preferences.
enum class SizeUnit : int { kBytes = 1, kK = 2, kMB = 3, kGB = 4, kSmart = 5 };
constexpr SizeUnit SizeUnitFromStored(int code) { return static_cast<SizeUnit>(code); }
constexpr int StoredCode(SizeUnit unit) { return static_cast<int>(unit); }

// The order of a directory's entries (see EntryOrder), by its stored code. A code that names none
// is kept as it is: the entries then stay in their record order.
enum class SortMethod : int { kBySize = 1, kByName = 2, kByChange = 3 };
constexpr SortMethod SortMethodFromStored(int code) { return static_cast<SortMethod>(code); }
constexpr int StoredCode(SortMethod method) { return static_cast<int>(method); }

// How a scan counts sizes: the volume's allocation unit, a small assumed one, the small one only
// on a compressed volume, or plain lengths. A code that names none is kept as it is: a scan then
// keeps the cluster size and counting it had.
enum class ClusterMode : int { kNormal = 1, kCompressed = 2, kSmart = 3, kIgnore = 4 };
constexpr ClusterMode ClusterModeFromStored(int code) { return static_cast<ClusterMode>(code); }
constexpr int StoredCode(ClusterMode mode) { return static_cast<int>(mode); }

// Names and defaults of the values of the "Settings" section.
namespace setting {
struct Int {
  const char* name;
  int defaultValue;
};
struct Text {
  const char* name;
  const char* defaultValue;
};
inline constexpr Int kPreferredUnits{"PreferredUnits", 2};         // 1 bytes, 2 K, 3 MB, 4 GB, 5 smart
inline constexpr Int kPreferredClusterSetting{"PreferredClusterSetting", 1};  // 1 normal .. 4 ignore
inline constexpr Int kPreferredSortMethod{"PreferredSortMethod", 2};  // 1 size, 2 name, 3 change
inline constexpr Text kDataDirectory{"DataDirectory", "APPDIR"};
inline constexpr Int kFirstRun{"FirstRun", 1};
inline constexpr Int kAutoSave{"AutoSave", 1};
inline constexpr Int kSubDirSave{"SubDirSave", 1};
inline constexpr Int kCommaDelimited{"CommaDelimited", 0};
inline constexpr Int kEnhancedPrinting{"EnhancedPrinting", 1};
inline constexpr Text kPrintFilePath{"PrintFilePath", "DIRSIZE.TXT"};
inline constexpr Int kPrintDestination{"PrintDestination", 1};  // 1 default printer, 2 file
inline constexpr Int kScanOnClick{"ScanOnClick", 0};
inline constexpr Int kPrintColumns{"PrintColumns", 3};
inline constexpr Int kNeverAskClusterSize{"NeverAskClusterSize", 1};
inline constexpr Int kUserDefaultClusterSize{"UserDefaultClusterSize", 16};
inline constexpr Int kDirNameWidth{"DirNameWidth", 170};
inline constexpr Int kDontAskNonExistantDir{"DontAskNonExistantDir", 0};
inline constexpr Int kDaysBetweenChecks{"DaysBetweenChecks", 30};
inline constexpr Int kLastUpdateCheck0{"LastUpdateCheck0", 0};
inline constexpr Int kLastUpdateCheck1{"LastUpdateCheck1", 0};
inline constexpr const char* kLatestMajor = "LatestMajor";  // default: the program's own version
inline constexpr const char* kLatestMinor = "LatestMinor";
inline constexpr const char* kLatestBuild = "LatestBuild";
inline constexpr Int kHighestMsgNum{"HighestMsgNum", 0};
inline constexpr Text kHomePage{"HomePage", "https://varnow.zentrel.example/"};  // see README
inline constexpr Text kPageName{"PageName", "settings.htm"};
inline constexpr Text kEMailAddr{"EMailAddr", "varnow@zentrel.example"};
inline constexpr const char* kFont = "Font";  // binary, written by the preferences
}  // namespace setting

inline int GetProfileIntEx(const setting::Int& value) {
  return GetProfileIntEx(kSettingsSection, value.name, value.defaultValue);
}
inline std::string GetProfileStringEx(const setting::Text& value) {
  return GetProfileStringEx(kSettingsSection, value.name, value.defaultValue);
}

// The copies of the settings that the main window object owns, read once at its construction.
struct CVarnowSettings {
  SizeUnit preferredUnits = SizeUnitFromStored(setting::kPreferredUnits.defaultValue);
  ClusterMode preferredClusterSetting = ClusterModeFromStored(setting::kPreferredClusterSetting.defaultValue);
  SortMethod preferredSortMethod = SortMethodFromStored(setting::kPreferredSortMethod.defaultValue);
  std::string dataDirectory;  // resolved, ends in "/"
  int firstRun = setting::kFirstRun.defaultValue;
  int autoSave = setting::kAutoSave.defaultValue;
  int subDirSave = setting::kSubDirSave.defaultValue;
  int commaDelimited = setting::kCommaDelimited.defaultValue;
  int enhancedPrinting = setting::kEnhancedPrinting.defaultValue;
  std::string printFilePath = setting::kPrintFilePath.defaultValue;
  PrintDestination printDestination = PrintDestinationFromStored(setting::kPrintDestination.defaultValue);
  int scanOnClick = setting::kScanOnClick.defaultValue;
  int printColumns = setting::kPrintColumns.defaultValue;
};

// Reads the window-owned settings in their order, with their trace lines; while the trace log
// is on also the two values that are only traced. The data folder is resolved last.
CVarnowSettings ReadWindowSettings();

// Writes the window-owned settings back at the end of an interactive session, in their order:
// the column widths (name column first, then Col1Width..Col6Width, already bounded by the
// caller), the preferences, the data folder ("APPDIR" unless the user chose another) and
// FirstRun = 0.
void WriteWindowSettings(const CVarnowSettings& settings, const std::array<int, 7>& columnWidths);

// The default data folder, $XDG_DATA_HOME/varnow/, wherever the program runs from: a folder
// beside the program goes when a build tree or a package is removed, the data must not.
std::string DefaultDataDirectory();
// The data folder for a stored DataDirectory value: "APPDIR" (exactly) or an empty value stands
// for the default folder (created); any other folder gets a "/" appended when it lacks one.
std::string ResolveDataDirectory(const std::string& stored);
// What DataDirectory keeps for a folder in effect: "APPDIR" for the default folder (so that it
// follows $XDG_DATA_HOME), the folder itself otherwise.
std::string StoredDataDirectory(const std::string& folder);

}  // namespace varnow
