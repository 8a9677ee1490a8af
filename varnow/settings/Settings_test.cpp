#include "varnow/settings/Settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <vector>

#include "platform/registry.h"
#include "platform/tracelog.h"
#include "varnow/testsupport/TestHome.h"

namespace varnow {
namespace {

using platform::Hive;
using platform::Registry;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class SettingsTest : public ::testing::Test {
 protected:
  std::optional<platform::RegValue> Stored(const std::string& name, const std::string& section = kSettingsSection) {
    return Registry::GetValue(Hive::CurrentUser, SettingsKey(section), name);
  }
  test::CTestHome m_home;
};

TEST_F(SettingsTest, ExReadersWriteTheDefaultBack) {
  EXPECT_EQ(GetProfileIntEx(kSettingsSection, "PreferredUnits", 2), 2);
  auto units = Stored("PreferredUnits");
  ASSERT_TRUE(units);
  EXPECT_EQ(units->type, platform::RegType::Dword);
  EXPECT_EQ(units->dword, 2u);

  EXPECT_EQ(GetProfileStringEx(kSettingsSection, "PrintFilePath", "DIRSIZE.TXT"), "DIRSIZE.TXT");
  ASSERT_TRUE(Stored("PrintFilePath"));
  EXPECT_EQ(Stored("PrintFilePath")->text, "DIRSIZE.TXT");

  // A stored value that differs from the default is read and left alone; texts compare exactly.
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, SettingsKey(kSettingsSection), "PreferredSortMethod", 3));
  EXPECT_EQ(GetProfileIntEx(kSettingsSection, "PreferredSortMethod", 2), 3);
  EXPECT_EQ(Stored("PreferredSortMethod")->dword, 3u);
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, SettingsKey(kSettingsSection), "DataDirectory", "appdir"));
  EXPECT_EQ(GetProfileStringEx(kSettingsSection, "DataDirectory", "APPDIR"), "appdir");
  EXPECT_EQ(Stored("DataDirectory")->text, "appdir");

  // Negative numbers survive the double word.
  ASSERT_TRUE(WriteProfileInt(kSettingsSection, "Col1Width", -7));
  EXPECT_EQ(GetProfileInt(kSettingsSection, "Col1Width", 130), -7);
}

TEST_F(SettingsTest, ValueOfAnotherTypeGivesTheDefault) {
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, SettingsKey(kSettingsSection), "AutoSave", "0"));
  EXPECT_EQ(GetProfileInt(kSettingsSection, "AutoSave", 1), 1);
  EXPECT_EQ(GetProfileIntEx(kSettingsSection, "AutoSave", 1), 1);
  EXPECT_EQ(Stored("AutoSave")->type, platform::RegType::Dword);
  EXPECT_EQ(GetProfileString(kSettingsSection, "AutoSave", "x"), "x");
}

TEST_F(SettingsTest, ClusterSizeOverridesKeptAsText) {
  const std::string section = kFixedClusterSizesSection;
  EXPECT_EQ(GetFixedClusterSize("/mnt/data"), 0u);  // missing
  ASSERT_TRUE(WriteProfileIntAsText(section, "/mnt/data", 16384));
  EXPECT_EQ(Stored("/mnt/data", section)->type, platform::RegType::String);
  EXPECT_EQ(Stored("/mnt/data", section)->text, "16384");
  EXPECT_EQ(GetFixedClusterSize("/mnt/data"), 16384u);
  EXPECT_EQ(GetFixedClusterSize("/mnt/Data"), 0u);  // named exactly like the root

  WriteProfileString(section, "a", "4096 bytes");
  WriteProfileString(section, "b", "none");
  WriteProfileString(section, "c", "");
  WriteProfileString(section, "d", "-5");
  WriteProfileInt(section, "e", 512);
  EXPECT_EQ(GetFixedClusterSize("a"), 4096u);
  EXPECT_EQ(GetFixedClusterSize("b"), 0u);
  EXPECT_EQ(GetFixedClusterSize("c"), 0u);
  EXPECT_EQ(GetFixedClusterSize("d"), 0u);
  EXPECT_EQ(GetFixedClusterSize("e"), 512u);
  EXPECT_FALSE(Stored("zzz", section));  // nothing written back
}

TEST_F(SettingsTest, OverrideListInStoredOrderAndRewrittenWhole) {
  const std::string section = kFixedClusterSizesSection;
  EXPECT_TRUE(GetFixedClusterSizes().empty());  // no key
  WriteProfileString(section, "/srv/b", "8192");
  WriteProfileString(section, "", "0");
  WriteProfileString(section, "/srv/a", "x1");
  WriteProfileInt(section, "/mnt", 512);
  using List = std::vector<std::pair<std::string, std::uint32_t>>;
  EXPECT_EQ(GetFixedClusterSizes(), (List{{"/srv/b", 8192}, {"/srv/a", 0}, {"/mnt", 512}}));

  ASSERT_TRUE(WriteFixedClusterSizes({{"/z", 4096}, {"", 0}, {"/y", -1}, {"/z", 2048}, {"", 0}}));
  auto values = Registry::EnumValues(Hive::CurrentUser, SettingsKey(section));
  ASSERT_TRUE(values);
  std::vector<std::string> stored;
  for (const auto& [name, value] : *values) stored.push_back(name + "=" + value.text);
  EXPECT_THAT(stored, ElementsAre("/z=2048", "=0", "/y=-1"));
  EXPECT_EQ(GetFixedClusterSize("/y"), 0u);  // a negative text is no override
  ASSERT_TRUE(WriteFixedClusterSizes({}));
  EXPECT_TRUE(GetFixedClusterSizes().empty());
}

TEST_F(SettingsTest, FirstRunReadsEveryWindowSettingWithItsDefaultAndTracesIt) {
  const std::string data = m_home.MakeFolder("data-folder");
  // A stored folder without its trailing "/".
  ASSERT_TRUE(WriteProfileString(kSettingsSection, "DataDirectory", data.substr(0, data.size() - 1)));
  const std::string tracePath = m_home.Root() + "/trace.txt";
  ASSERT_TRUE(platform::TraceLog::Open(tracePath));
  CVarnowSettings s = ReadWindowSettings();
  platform::TraceLog::Close();

  EXPECT_EQ(s.dataDirectory, data);
  EXPECT_THAT(test::TraceLines(test::ReadWholeFile(tracePath)),
              ElementsAre("Settings: CurrentUnits=2", "Settings: Cluster=1", "Settings: Sort=2", "Settings: FirstRun=1",
                          "Settings: AutoSave=1", "Settings: SubDirSave=1", "Settings: CommaDelimited=0",
                          "Settings: EnhancedPrinting=1", "Settings: PrintPath=DIRSIZE.TXT",
                          "Settings: PrintDestination=1", "Settings: ScanOnClick=0", "Settings: PrintColumns=3",
                          "Settings: NeverAskClusterSize=1", "Settings: UserDefaultClusterSize=16",
                          "Settings: DataDir=" + data));

  auto values = Registry::EnumValues(Hive::CurrentUser, SettingsKey(kSettingsSection));
  ASSERT_TRUE(values);
  std::map<std::string, std::string> stored;
  for (const auto& [name, value] : *values)
    stored[name] = value.type == platform::RegType::Dword ? std::to_string(value.dword) : value.text;
  const std::map<std::string, std::string> expected = {
      {"PreferredUnits", "2"},   {"PreferredClusterSetting", "1"},   {"PreferredSortMethod", "2"},
      {"DataDirectory", data.substr(0, data.size() - 1)},            {"FirstRun", "1"},
      {"AutoSave", "1"},         {"SubDirSave", "1"},                {"CommaDelimited", "0"},
      {"EnhancedPrinting", "1"}, {"PrintFilePath", "DIRSIZE.TXT"},   {"PrintDestination", "1"},
      {"ScanOnClick", "0"},      {"PrintColumns", "3"},              {"NeverAskClusterSize", "1"},
      {"UserDefaultClusterSize", "16"}};
  EXPECT_EQ(stored, expected);
}

TEST_F(SettingsTest, TracedOnlyValuesAreNotCreatedWithoutTheTraceLog) {
  ASSERT_FALSE(platform::TraceLog::IsOpen());
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, SettingsKey(kSettingsSection), "PreferredUnits", 4));
  CVarnowSettings s = ReadWindowSettings();
  EXPECT_EQ(StoredCode(s.preferredUnits), 4);
  EXPECT_TRUE(Stored("PrintColumns"));
  EXPECT_FALSE(Stored("NeverAskClusterSize"));
  EXPECT_FALSE(Stored("UserDefaultClusterSize"));
}

// A print destination is read into memory and written back as the very code the store held,
// the two known ones and any other (which names neither and is kept for the user to see).
TEST_F(SettingsTest, EveryStoredPrintDestinationRoundTrips) {
  EXPECT_EQ(PrintDestinationFromStored(1), PrintDestination::kPrinter);
  EXPECT_EQ(PrintDestinationFromStored(2), PrintDestination::kFile);
  for (const int code : {1, 2, 0, 3, -1, 0x7fffffff}) {
    ASSERT_TRUE(WriteProfileInt(kSettingsSection, setting::kPrintDestination.name, code));
    const CVarnowSettings s = ReadWindowSettings();
    EXPECT_EQ(StoredCode(s.printDestination), code);
    const bool known = s.printDestination == PrintDestination::kPrinter || s.printDestination == PrintDestination::kFile;
    EXPECT_EQ(known, code == 1 || code == 2) << code;
    ASSERT_TRUE(WriteProfileInt(kSettingsSection, setting::kPrintDestination.name, 5));
    WriteWindowSettings(s, {170, 130, 130, 130, 130, 130, 130});
    EXPECT_EQ(GetProfileInt(kSettingsSection, setting::kPrintDestination.name, -7), code);
  }
}

// Each code, known or not, is read into memory and written back as it was stored.
template <typename Value>
void ExpectStoredCodesRoundTrip(const setting::Int& value, Value CVarnowSettings::*field, std::initializer_list<int> known) {
  std::vector<int> codes(known);
  codes.insert(codes.end(), {0, -1, 6, 9, 0x7fffffff});
  for (const int code : codes) {
    SCOPED_TRACE(std::string(value.name) + "=" + std::to_string(code));
    ASSERT_TRUE(WriteProfileInt(kSettingsSection, value.name, code));
    const CVarnowSettings s = ReadWindowSettings();
    EXPECT_EQ(StoredCode(s.*field), code);
    ASSERT_TRUE(WriteProfileInt(kSettingsSection, value.name, 77));
    WriteWindowSettings(s, {170, 130, 130, 130, 130, 130, 130});
    EXPECT_EQ(GetProfileInt(kSettingsSection, value.name, -7), code);
  }
}

TEST_F(SettingsTest, EveryStoredUnitSortMethodAndClusterModeRoundTrips) {
  EXPECT_EQ(SizeUnitFromStored(1), SizeUnit::kBytes);
  EXPECT_EQ(SizeUnitFromStored(2), SizeUnit::kK);
  EXPECT_EQ(SizeUnitFromStored(3), SizeUnit::kMB);
  EXPECT_EQ(SizeUnitFromStored(4), SizeUnit::kGB);
  EXPECT_EQ(SizeUnitFromStored(5), SizeUnit::kSmart);
  EXPECT_EQ(SortMethodFromStored(1), SortMethod::kBySize);
  EXPECT_EQ(SortMethodFromStored(2), SortMethod::kByName);
  EXPECT_EQ(SortMethodFromStored(3), SortMethod::kByChange);
  EXPECT_EQ(ClusterModeFromStored(1), ClusterMode::kNormal);
  EXPECT_EQ(ClusterModeFromStored(2), ClusterMode::kCompressed);
  EXPECT_EQ(ClusterModeFromStored(3), ClusterMode::kSmart);
  EXPECT_EQ(ClusterModeFromStored(4), ClusterMode::kIgnore);
  ExpectStoredCodesRoundTrip(setting::kPreferredUnits, &CVarnowSettings::preferredUnits, {1, 2, 3, 4, 5});
  ExpectStoredCodesRoundTrip(setting::kPreferredSortMethod, &CVarnowSettings::preferredSortMethod, {1, 2, 3});
  ExpectStoredCodesRoundTrip(setting::kPreferredClusterSetting, &CVarnowSettings::preferredClusterSetting, {1, 2, 3, 4});
  // The defaults are the codes the names give.
  const CVarnowSettings defaults;
  EXPECT_EQ(defaults.preferredUnits, SizeUnit::kK);
  EXPECT_EQ(defaults.preferredSortMethod, SortMethod::kByName);
  EXPECT_EQ(defaults.preferredClusterSetting, ClusterMode::kNormal);
}

TEST_F(SettingsTest, DamagedRegistryFileGivesDefaults) {
  const std::string hive = Registry::HiveFile(Hive::CurrentUser);
  for (const std::string& junk :
       {std::string("\x00\xff\xfe garbage \x01\x02", 14), std::string("REGEDIT4\n[HKEY_CURRENT_USER\\Software"),
        std::string("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\\Settings]\n\"AutoSave\"=dword:zz\n"
                    "\"PrintFilePath\"=\"unterminated\n\"PrintColumns\"=hex:0\n")}) {
    test::WriteWholeFile(hive, junk);
    CVarnowSettings s = ReadWindowSettings();
    EXPECT_EQ(s.autoSave, 1);
    EXPECT_EQ(s.printColumns, 3);
    EXPECT_EQ(StoredCode(s.preferredUnits), 2);
    EXPECT_FALSE(s.dataDirectory.empty());
    EXPECT_EQ(s.dataDirectory.back(), '/');
  }
}

TEST_F(SettingsTest, DataDirectoryIsTheUserDataFolderUnlessAnotherWasChosen) {
  EXPECT_EQ(ResolveDataDirectory("/srv/scans"), "/srv/scans/");
  EXPECT_EQ(ResolveDataDirectory("/srv/scans/"), "/srv/scans/");
  // "APPDIR" and an empty value stand for the default folder, created; the program's own folder
  // (writable here) is never used.
  const std::string folder = m_home.Root() + "/data/varnow/";
  EXPECT_EQ(DefaultDataDirectory(), folder);
  EXPECT_EQ(ResolveDataDirectory("APPDIR"), folder);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(ResolveDataDirectory(""), folder);
  // Only the exact word stands for the default folder.
  EXPECT_EQ(ResolveDataDirectory("AppDir"), "AppDir/");

  // Without XDG_DATA_HOME (or with a relative one) it is ~/.local/share/varnow/.
  setenv("XDG_DATA_HOME", "relative/dir", 1);
  EXPECT_EQ(ResolveDataDirectory("APPDIR"), m_home.Root() + "/.local/share/varnow/");
}

TEST_F(SettingsTest, WindowWritesBackAppdirUnlessTheUserChoseAFolder) {
  auto storedAfterSession = [](const std::string& folder) {
    CVarnowSettings s = ReadWindowSettings();
    s.dataDirectory = folder;
    WriteWindowSettings(s, {170, 130, 130, 130, 130, 130, 130});
    auto value = Registry::GetValue(Hive::CurrentUser, SettingsKey(kSettingsSection), "DataDirectory");
    return value ? value->text : std::string("(none)");
  };
  EXPECT_EQ(storedAfterSession(DefaultDataDirectory()), "APPDIR");
  EXPECT_EQ(storedAfterSession("/srv/scans/"), "/srv/scans/");
  // Stored as "APPDIR", the folder follows the data home: a moved home or a removed build tree
  // never strands the data.
  EXPECT_EQ(storedAfterSession(DefaultDataDirectory()), "APPDIR");
  setenv("XDG_DATA_HOME", (m_home.Root() + "/moved").c_str(), 1);
  EXPECT_EQ(ReadWindowSettings().dataDirectory, m_home.Root() + "/moved/varnow/");
}

}  // namespace
}  // namespace varnow
