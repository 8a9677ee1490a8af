#include "varnow/store/LegacyData.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/profile.h"
#include "varnow/scan/Scaninfo.h"
#include "varnow/testsupport/ScanTestSupport.h"
#include "varnow/store/DataFile.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

namespace fs = std::filesystem;

void PutLE(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

// An old data file, byte by byte: markers, six times, fourteen reserved words, then per entry
// its name length, name and six sizes.
std::string OldFileBytes(const CDirData& record) {
  std::string out;
  PutLE(out, static_cast<std::uint64_t>(record.m_markerA), 8);
  PutLE(out, static_cast<std::uint64_t>(record.m_markerB), 8);
  for (std::int32_t time : record.m_times) PutLE(out, static_cast<std::uint32_t>(time), 4);
  for (std::uint32_t word : record.m_reserved) PutLE(out, word, 4);
  for (const CDirInfo& entry : record.m_entries) {
    PutLE(out, entry.name.size(), 4);
    out += entry.name;
    for (std::int64_t size : entry.sizes) PutLE(out, static_cast<std::uint64_t>(size), 8);
  }
  return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

CDirData OldRecord(const std::string& path, std::int32_t firstTime) {
  CDirData record;
  record.m_currentScanDir = path;
  record.m_times = {firstTime, firstTime - 86400, 0x7fffff00, -5, 0, 1};
  record.m_reserved[3] = 0xdeadbeef;  // kept verbatim, never interpreted
  record.m_entries.push_back({"docs", {4096, -1, 8192, 0, -1, 123456789012345}});
  record.m_entries.push_back({"caf\xe9 \"x\"", {1, 2, 3, 4, 5, 6}});
  record.m_entries.push_back({std::string(kTotalUsed), {10, 20, 30, -1, -1, -1}});
  record.m_entries.push_back({std::string(kTotalFree), {-1, -1, -1, -1, -1, -1}});
  return record;
}

class LegacyDataTest : public ::testing::Test {
 protected:
  void SetUp() override { m_owner.dataDirectory = m_data.Path(); }

  std::string Data(const std::string& name) const { return m_data.Path() + name; }

  // The index, as an earlier release wrote it, for the given directory -> file name pairs.
  void WriteIndex(const std::vector<std::pair<std::string, std::string>>& listed) {
    std::string text = "[SourcePath]\r\n";
    for (const auto& [dir, file] : listed) text += dir + "=" + Data(file) + "\r\n";
    text += "[DataFile]\r\n";
    for (const auto& [dir, file] : listed) text += Data(file) + "=" + dir + "\r\n";
    WriteFile(Data("VNOWDATA.FAT"), text);
  }

  // Two listed directories with their old files, an unlisted old file and a file of the user's.
  void WriteTwoDirectories() {
    WriteIndex({{"/srv/one/", "QWERTYUI.DAT"}, {"/srv/two/", "ASDFGHJK.DAT"}});
    WriteFile(Data("QWERTYUI.DAT"), OldFileBytes(m_one));
    WriteFile(Data("ASDFGHJK.DAT"), OldFileBytes(m_two));
    WriteFile(Data("ZXCVBNMQ.DAT"), OldFileBytes(OldRecord("/srv/gone/", 5)));
    WriteFile(Data("notes.dat"), "my own notes, not a record");
  }

  CLegacyConversion Convert(bool convert, bool cleanup) {
    CScanInfo session(&m_owner, &m_owner, std::make_unique<CDataFile>(m_owner.DataDirectory()));
    return ConvertLegacyData(session, m_data.Path(), convert, cleanup);
  }

  // The record of path in the data file, read by a reader of its own.
  IScanStore::LoadResult Stored(const std::string& path, CDirData& record) {
    CDataFile file(m_owner.DataDirectory());
    record.m_currentScanDir = path;
    return file.Read(record);
  }

  void ExpectConverted(const CDirData& old) {
    CDirData stored;
    ASSERT_EQ(Stored(old.m_currentScanDir, stored), IScanStore::LoadResult::Loaded);
    EXPECT_EQ(stored.m_times, old.m_times);
    EXPECT_EQ(stored.m_reserved, old.m_reserved);
    EXPECT_EQ(stored.m_entries, old.m_entries);
  }

  // The files beside the new data file (and the journal its saves keep for the next one).
  std::vector<std::string> DataFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_data.Path()))
      if (entry.path().filename() != "VNDATA.DB" && entry.path().filename() != "VNDATA.DB-journal")
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TempDir m_data;
  test::FakeOwner m_owner;
  CDirData m_one = OldRecord("/srv/one/", 1'600'000'000);
  CDirData m_two = OldRecord("/srv/two/", 1'700'000'000);
};

TEST_F(LegacyDataTest, ConvertAndCleanUp) {
  WriteTwoDirectories();
  ASSERT_TRUE(LegacyDataExists(m_data.Path()));
  const CLegacyConversion result = Convert(true, true);
  EXPECT_EQ(result.converted, 2);
  EXPECT_EQ(result.deleted, 3);
  ExpectConverted(m_one);
  ExpectConverted(m_two);
  // Only the user's own file is left; the unlisted old file went with the listed ones.
  EXPECT_THAT(DataFiles(), ElementsAre("notes.dat"));
  EXPECT_FALSE(LegacyDataExists(m_data.Path()));
  EXPECT_THAT(m_owner.Messages(), IsEmpty());
}

TEST_F(LegacyDataTest, ConvertWithoutCleanupLeavesTheOldLayout) {
  WriteTwoDirectories();
  const CLegacyConversion result = Convert(true, false);
  EXPECT_EQ(result.converted, 2);
  EXPECT_EQ(result.deleted, 0);
  ExpectConverted(m_one);
  ExpectConverted(m_two);
  EXPECT_THAT(DataFiles(), ElementsAre("ASDFGHJK.DAT", "QWERTYUI.DAT", "VNOWDATA.FAT", "ZXCVBNMQ.DAT",
                                       "notes.dat"));
  EXPECT_TRUE(LegacyDataExists(m_data.Path()));
}

TEST_F(LegacyDataTest, CleanupOnlyDiscardsWithoutConverting) {
  WriteTwoDirectories();
  const CLegacyConversion result = Convert(false, true);
  EXPECT_EQ(result.converted, 0);
  CDirData stored;
  EXPECT_NE(Stored("/srv/one/", stored), IScanStore::LoadResult::Loaded);
  EXPECT_THAT(DataFiles(), ElementsAre("notes.dat"));
}

TEST_F(LegacyDataTest, EmptySourcePathSectionStillCleansUp) {
  WriteIndex({});
  WriteFile(Data("QWERTYUI.DAT"), OldFileBytes(m_one));
  const CLegacyConversion result = Convert(true, true);
  EXPECT_EQ(result.converted, 0);
  EXPECT_EQ(result.deleted, 1);
  EXPECT_THAT(DataFiles(), IsEmpty());
}

TEST_F(LegacyDataTest, MissingDataFileIsSkipped) {
  WriteIndex({{"/srv/lost/", "LOSTLOST.DAT"}, {"/srv/one", "QWERTYUI.DAT"}});
  WriteFile(Data("QWERTYUI.DAT"), OldFileBytes(m_one));
  const CLegacyConversion result = Convert(true, true);
  EXPECT_EQ(result.missing, 1);
  EXPECT_EQ(result.converted, 1);
  ExpectConverted(m_one);  // the key without its final "/" names the same directory
  CDirData lost;
  EXPECT_NE(Stored("/srv/lost/", lost), IScanStore::LoadResult::Loaded);
  EXPECT_THAT(DataFiles(), IsEmpty());
  EXPECT_THAT(m_owner.Messages(), IsEmpty());
}

TEST_F(LegacyDataTest, AFailedWriteKeepsTheOldDataAndTheIndex) {
  WriteTwoDirectories();
  fs::create_directory(Data("VNDATA.DB"));  // the data file cannot be opened
  const CLegacyConversion result = Convert(true, true);
  EXPECT_EQ(result.converted, 0);
  EXPECT_EQ(result.failed, 2);
  EXPECT_THAT(DataFiles(), ElementsAre("ASDFGHJK.DAT", "QWERTYUI.DAT", "VNOWDATA.FAT", "notes.dat"));
  EXPECT_EQ(platform::GetPrivateProfileKeys("SourcePath", Data("VNOWDATA.FAT")).size(), 2u);
}

TEST_F(LegacyDataTest, GetDatFileNameListsNewDirectoriesInBothSections) {
  WriteIndex({{"/srv/one/", "QWERTYUI.DAT"}});
  EXPECT_EQ(GetDatFileName(m_data.Path(), "/SRV/ONE/"), Data("QWERTYUI.DAT"));  // keys ignore case

  const std::string name = GetDatFileName(m_data.Path(), "/srv/new/");
  ASSERT_EQ(name.substr(0, m_data.Path().size()), m_data.Path());
  EXPECT_THAT(name.substr(m_data.Path().size()), MatchesRegex("[A-Z]{8}\\.DAT"));
  EXPECT_NE(name, Data("QWERTYUI.DAT"));
  EXPECT_EQ(GetDatFileName(m_data.Path(), "/srv/new/"), name);
  EXPECT_EQ(platform::GetPrivateProfileString("DataFile", name, "", Data("VNOWDATA.FAT")), "/srv/new/");
  EXPECT_FALSE(fs::exists(name));  // a name only: nothing creates the file

  EXPECT_EQ(GetDatFileName("", "/srv/new/"), "");
}

TEST_F(LegacyDataTest, LoadOldDataReadsUpToDamage) {
  WriteIndex({{"/srv/one/", "QWERTYUI.DAT"}, {"/srv/lost/", "LOSTLOST.DAT"}});
  std::string bytes = OldFileBytes(m_one);
  WriteFile(Data("QWERTYUI.DAT"), bytes.substr(0, bytes.size() - 10));  // last entry cut short

  CDirData record = m_two;
  record.m_currentScanDir = "/srv/one/";
  ASSERT_TRUE(LoadOldData(m_data.Path(), record));
  EXPECT_EQ(record.m_currentScanDir, "/srv/one/");
  EXPECT_EQ(record.m_times, m_one.m_times);
  ASSERT_EQ(record.m_entries.size(), 3u);
  EXPECT_EQ(record.m_entries[2], m_one.m_entries[2]);

  record = m_two;
  record.m_currentScanDir = "/srv/lost/";
  EXPECT_FALSE(LoadOldData(m_data.Path(), record));
  EXPECT_EQ(record.m_currentScanDir, "/srv/lost/");
  EXPECT_THAT(record.m_entries, IsEmpty());
}

}  // namespace
}  // namespace varnow
