#include "varnow/store/DataFile.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "varnow/scan/Scaninfo.h"
#include "varnow/scan/scandir.h"
#include "varnow/testsupport/ScanTestSupport.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using test::FakeOwner;
using test::TempDir;

constexpr std::int64_t N = kNoSize;

std::string Hex(std::string_view bytes) {
  std::string out;
  char pair[3];
  for (unsigned char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", c);
    out += pair;
  }
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  int rc = ::pclose(pipe);
  if (status) *status = rc;
  return output;
}

// The bytes of one stream as olefile reads them; storage names are given as their bytes.
std::string OlefileStream(const std::string& file, const std::vector<std::string>& storages) {
  std::string command =
      "/usr/bin/python3 -c 'import olefile,sys; o=olefile.OleFileIO(sys.argv[1]); "
      "p=[bytes.fromhex(h).decode(\"latin-1\") for h in sys.argv[2:]]; "
      "sys.stdout.write(o.openstream(p).read().hex())' '" + file + "'";
  for (const std::string& storage : storages) command += " " + Hex(storage);
  command += " " + Hex("KOB[VNData]");
  std::string hex = RunCommand(command);
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

class DataFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner.dataDirectory = data.Path();
    owner.preferredCluster = ClusterModeFromStored(9);
  }
  std::string FilePath() const { return data.Path() + "VNDATA.DB"; }
  std::vector<std::int32_t> Write(CDataFile& file, const std::vector<CDirData>& records) {
    std::vector<std::int32_t> failures;
    file.Write(records, [&](const CDirData&, std::int32_t status) { failures.push_back(status); });
    return failures;
  }
  CDirData Record(const std::string& path, std::vector<CDirInfo> entries) {
    CDirData record;
    record.m_currentScanDir = path;
    record.m_entries = std::move(entries);
    return record;
  }

  TempDir data;
  FakeOwner owner;
};

TEST_F(DataFileTest, StreamHoldsExactlyTheRecordBytesAsAnIndependentReaderSeesThem) {
  CDataFile file(owner.DataDirectory());
  CDirData record = Record("/data/MY DOCS/", {CDirInfo{"DOCS", {10, N, N, N, N, N}},
                                             CDirInfo{std::string(kTotalUsed), {10, N, N, N, N, N}}});
  record.m_times = {0x01020304, 7, 0, 0, 0, -2};
  EXPECT_THAT(Write(file, {record}), ElementsAre());

  std::string expected;
  auto put = [&](std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) expected += static_cast<char>(value >> (8 * i));
  };
  put(1, 8);
  put(1, 8);
  for (std::int32_t time : record.m_times) put(static_cast<std::uint32_t>(time), 4);
  expected.append(56, '\0');
  put(4, 4);
  expected += "DOCS";
  put(10, 8);
  for (int i = 0; i < 5; ++i) put(UINT64_MAX, 8);
  put(16, 4);
  expected += "KOB*[Total Used]";
  put(10, 8);
  for (int i = 0; i < 5; ++i) put(UINT64_MAX, 8);
  ASSERT_EQ(expected.size(), 220u);
  EXPECT_EQ(Hex(OlefileStream(FilePath(), {"data", "MY DOCS"})), Hex(expected));

  // A shorter record replaces the stream whole.
  record.m_entries.pop_back();
  Write(file, {record});
  EXPECT_EQ(OlefileStream(FilePath(), {"data", "MY DOCS"}).size(), 96u + 4 + 4 + 48);

  int status = 0;
  RunCommand("gsf list '" + FilePath() + "' 2>&1", &status);
  EXPECT_EQ(status, 0);
}

TEST_F(DataFileTest, RecordsRoundTripUnderTheirOwnStoragesAndTheRootRecordInTheRoot) {
  CDataFile file(owner.DataDirectory());
  std::vector<CDirData> records = {
      Record("/", {CDirInfo{"home", {5, 4, 3, 2, 1, 0}}}),
      Record("/home/Foo/", {CDirInfo{"a", {1, N, N, N, N, N}}}),
      Record("/home/FOO/", {CDirInfo{"b", {2, N, N, N, N, N}}}),  // same name for the file format
      Record("/home/" + std::string(40, 'L') + "/", {CDirInfo{"c", {3, N, N, N, N, N}}}),
      Record("/home/a:b*c/", {CDirInfo{"d", {4, N, N, N, N, N}}}),
      Record("/home/Grüße \xff/", {CDirInfo{"e\xfe", {5, N, N, N, N, N}}}),
  };
  records[0].m_times = {9, 8, 7, 6, 5, 4};
  records[0].m_reserved[13] = 0xdeadbeef;
  EXPECT_THAT(Write(file, records), ElementsAre());
  for (const CDirData& saved : records) {
    CDirData loaded;
    loaded.m_currentScanDir = saved.m_currentScanDir;
    EXPECT_EQ(file.Read(loaded), IScanStore::LoadResult::Loaded) << saved.m_currentScanDir;
    CDirData expected = saved;
    expected.m_total = loaded.m_total;
    EXPECT_EQ(loaded, expected) << saved.m_currentScanDir;
  }
  EXPECT_EQ(OlefileStream(FilePath(), {}).size(), 96u + 4 + 4 + 48);
  EXPECT_EQ(OlefileStream(FilePath(), {"home", "Foo"}).size(), 96u + 4 + 1 + 48);

  CDirData missing;
  missing.m_currentScanDir = "/home/other/";
  EXPECT_EQ(file.Read(missing), IScanStore::LoadResult::NoStorage);
  missing.m_currentScanDir = "/home/";
  EXPECT_EQ(file.Read(missing), IScanStore::LoadResult::NoRecord);
  EXPECT_TRUE(missing.m_entries.empty());
}

TEST_F(DataFileTest, TreeWalkVisitsEverySavedRecordTheNewestScansFoundParentsFirst) {
  CDataFile file(owner.DataDirectory());
  const std::string longName(40, 'L');
  EXPECT_THAT(Write(file, {
                  Record("/t/", {CDirInfo{"Foo", {1, 1, N, N, N, N}}, CDirInfo{"FOO", {1, N, N, N, N, N}},
                                 CDirInfo{longName, {1, N, N, N, N, N}}, CDirInfo{"gone", {N, 7, N, N, N, N}},
                                 CDirInfo{"unsaved", {1, N, N, N, N, N}}, CDirInfo{std::string(kTotalUsed), {3, 1, N, N, N, N}}}),
                  Record("/t/Foo/", {CDirInfo{"a:b", {1, N, N, N, N, N}}}),
                  Record("/t/Foo/a:b/", {}),
                  Record("/t/FOO/", {}),
                  Record("/t/" + longName + "/", {}),
                  Record("/t/gone/", {}),       // saved once, absent from the newest scan of /t/
                  Record("/outside/", {}),
              }),
              ElementsAre());
  std::vector<std::string> visited;
  EXPECT_EQ(file.ReadTree("/t/", [&](const CDirData& record) { visited.push_back(record.m_currentScanDir); }),
            IScanStore::LoadResult::Loaded);
  EXPECT_THAT(visited, ElementsAre("/t/", "/t/Foo/", "/t/Foo/a:b/", "/t/FOO/", "/t/" + longName + "/"));

  // The root's record lives in the root storage; a tree whose top was never saved gives nothing.
  visited.clear();
  EXPECT_EQ(file.ReadTree("/nothing/", [&](const CDirData& record) { visited.push_back(record.m_currentScanDir); }),
            IScanStore::LoadResult::NoStorage);
  EXPECT_EQ(file.ReadTree("/t/unsaved/", [&](const CDirData& record) { visited.push_back(record.m_currentScanDir); }),
            IScanStore::LoadResult::NoStorage);
  EXPECT_TRUE(visited.empty());
  CDataFile none(owner.DataDirectory() + "missing/");
  EXPECT_EQ(none.ReadTree("/t/", [&](const CDirData&) { ADD_FAILURE(); }), IScanStore::LoadResult::NoStorage);
}

TEST_F(DataFileTest, StorageNamesArePlainOnlyWhenTheFormatCanHoldThemUnambiguously) {
  EXPECT_EQ(StorageName("Docs", {}), u"Docs");
  EXPECT_EQ(StorageName("Docs", {u"Docs", u"other"}), u"Docs");
  std::u16string hashed = StorageName("DOCS", {u"Docs"});
  EXPECT_EQ(hashed.substr(0, 5), u"DOCS*");
  EXPECT_EQ(hashed.size(), 13u);
  EXPECT_NE(StorageName("docs", {u"Docs"}), hashed);
  EXPECT_EQ(StorageName("\xe9t\xe9", {u"\u00c9T\u00c9"}).size(), 12u);  // Latin-1 letters fold too
  EXPECT_EQ(StorageName(std::string(31, 'x'), {}).size(), 31u);
  std::u16string longName = StorageName(std::string(32, 'x'), {});
  EXPECT_EQ(longName.substr(0, 23), std::u16string(22, u'x') + u"*");
  EXPECT_EQ(StorageName("a:b", {}), u"a_b*08bd8540");  // 32-bit FNV-1a of the bytes
  // Names the format counts as equal to a stream's are hashed, the record stream's always.
  for (const char* recordName : {"KOB[VNData]", "kob[vndata]", "Kob[VnData]"})
    EXPECT_EQ(StorageName(recordName, {}).substr(0, 12), cfb::WidenBytes(recordName) + u"*") << recordName;
  EXPECT_EQ(StorageName("notes", {}, {u"NOTES"}).size(), 14u);
  EXPECT_EQ(StorageName("notes", {}, {u"notes"}).size(), 14u);
}

TEST_F(DataFileTest, StorageNamesAmongAStoragesChildrenFollowTheFilesOwnNameComparison) {
  const std::string path = owner.DataDirectory() + "names.db";
  cfb::Storage root, child;
  cfb::Stream stream;
  cfb::OpenOptions create;
  create.create = true;
  ASSERT_EQ(cfb::StgOpenStorage(path, create, root), cfb::S_OK);
  ASSERT_EQ(root.CreateStorage(u"Docs", child), cfb::S_OK);
  ASSERT_EQ(root.CreateStream(u"NOTES", stream), cfb::S_OK);
  // A sibling another program named with a letter whose upper case is plain ASCII: the file
  // counts "ix" as its name, so "ix" must not open it.
  ASSERT_EQ(root.CreateStorage(u"\u0131x", child), cfb::S_OK);
  EXPECT_EQ(StorageName(root, "Docs"), u"Docs");
  EXPECT_EQ(StorageName(root, "DOCS"), StorageName("DOCS", {u"Docs"}));
  EXPECT_EQ(StorageName(root, "notes").size(), 14u);
  EXPECT_EQ(StorageName(root, "KOB[VNData]").substr(0, 12), u"KOB[VNData]*");
  EXPECT_EQ(StorageName(root, "ix").substr(0, 3), u"ix*");
  EXPECT_EQ(StorageName(root, "new"), u"new");
}

TEST_F(DataFileTest, FolderNamedLikeTheRecordStreamLeavesItsParentSavable) {
  CDataFile file(owner.DataDirectory());
  // Child first: its storage exists before the parent's stream is created.
  const std::vector<CDirData> records = {Record("/p/KOB[VNData]/", {CDirInfo{"x", {1, N, N, N, N, N}}}),
                                         Record("/p/kob[vndata]/", {CDirInfo{"y", {2, N, N, N, N, N}}}),
                                         Record("/p/", {CDirInfo{"KOB[VNData]", {3, N, N, N, N, N}}})};
  EXPECT_THAT(Write(file, records), ElementsAre());
  EXPECT_THAT(Write(file, records), ElementsAre());  // and again, over what is there
  for (const CDirData& saved : records) {
    CDirData loaded;
    loaded.m_currentScanDir = saved.m_currentScanDir;
    ASSERT_EQ(file.Read(loaded), IScanStore::LoadResult::Loaded) << saved.m_currentScanDir;
    EXPECT_EQ(loaded.m_entries, saved.m_entries) << saved.m_currentScanDir;
  }
}

// Two scans of one directory built on the same saved record: the one saved second is laid
// over the first, and both are kept in time order.
TEST(MergeWithSaved, KeepsTheScansOfBothInTimeOrder) {
  CDirData base;
  base.m_currentScanDir = "/d/";
  base.m_times = {100, 50, 0, 0, 0, 0};
  base.m_entries = {CDirInfo{"a", {10, 5, N, N, N, N}}, CDirInfo{"old", {N, 7, N, N, N, N}}};
  CDirData first = base;  // saved at 200 by another process
  first.m_times = {200, 100, 50, 0, 0, 0};
  first.m_entries = {CDirInfo{"a", {20, 10, 5, N, N, N}}, CDirInfo{"old", {N, N, 7, N, N, N}},
                     CDirInfo{"new", {1, N, N, N, N, N}}};
  CDirData second = base;  // this process's scan, finished in the same second
  second.m_times = {200, 100, 50, 0, 0, 0};
  second.m_entries = {CDirInfo{"a", {30, 10, 5, N, N, N}}, CDirInfo{"old", {N, N, 7, N, N, N}}};
  MergeWithSaved(second, first, 1);
  EXPECT_EQ(second.m_times, (std::array<std::int32_t, 6>{200, 200, 100, 50, 0, 0}));
  EXPECT_THAT(second.m_entries, ElementsAre(CDirInfo{"a", {30, 20, 10, 5, N, N}}, CDirInfo{"old", {N, N, N, 7, N, N}},
                                            CDirInfo{"new", {N, 1, N, N, N, N}}));

  // An older scan saved later goes behind the newer ones; the oldest scan falls off the end.
  CDirData late = base;
  late.m_times = {150, 100, 50, 0, 0, 0};
  late.m_entries = {CDirInfo{"a", {15, 10, 5, N, N, N}}};
  CDirData full = first;
  full.m_times = {600, 500, 400, 300, 200, 100};
  full.m_entries = {CDirInfo{"a", {60, 50, 40, 30, 20, 10}}};
  MergeWithSaved(late, full, 1);
  EXPECT_EQ(late.m_times, (std::array<std::int32_t, 6>{600, 500, 400, 300, 200, 150}));
  EXPECT_THAT(late.m_entries, ElementsAre(CDirInfo{"a", {60, 50, 40, 30, 20, 15}}));

  // A record that added no scan takes what is saved.
  CDirData unscanned = base;
  MergeWithSaved(unscanned, first, 0);
  EXPECT_EQ(unscanned.m_times, first.m_times);
  EXPECT_EQ(unscanned.m_entries, first.m_entries);
}

// Saved twice, a record adds its scans once, even when another run saved in between.
TEST_F(DataFileTest, RecordSavedAgainAddsItsScanOnce) {
  CDataFile file(owner.DataDirectory());
  CDirData base = Record("/d/", {CDirInfo{"a", {10, N, N, N, N, N}}});
  base.m_times = {100, 0, 0, 0, 0, 0};
  ASSERT_THAT(Write(file, {base}), ElementsAre());
  CDirData mine = base;
  mine.m_savedTimes = base.m_times;
  mine.m_newScans = 1;
  mine.m_times = {200, 100, 0, 0, 0, 0};
  mine.m_entries = {CDirInfo{"a", {20, 10, N, N, N, N}}};
  CDirData theirs = mine;
  theirs.m_entries = {CDirInfo{"a", {30, 10, N, N, N, N}}};
  ASSERT_THAT(Write(file, {mine}), ElementsAre());
  CDataFile other(owner.DataDirectory());
  ASSERT_THAT(Write(other, {theirs}), ElementsAre());  // another run built on the same record
  ASSERT_THAT(Write(file, {mine}), ElementsAre());     // the first run saves its record again
  ASSERT_THAT(Write(file, {mine}), ElementsAre());
  CDirData loaded;
  loaded.m_currentScanDir = "/d/";
  ASSERT_EQ(file.Read(loaded), IScanStore::LoadResult::Loaded);
  EXPECT_EQ(loaded.m_times, (std::array<std::int32_t, 6>{200, 200, 100, 0, 0, 0}));
  EXPECT_THAT(loaded.m_entries, ElementsAre(CDirInfo{"a", {30, 20, 10, N, N, N}}));
}

TEST_F(DataFileTest, LoadingNeverWrites) {
  CDataFile file(owner.DataDirectory());
  CDirData record;
  record.m_currentScanDir = "/somewhere/";
  EXPECT_EQ(file.Read(record), IScanStore::LoadResult::NoStorage);
  EXPECT_FALSE(platform::PathExists(FilePath()));

  Write(file, {Record("/a/", {CDirInfo{"x", {1, N, N, N, N, N}}})});
  std::string before = ReadFile(FilePath());
  for (std::string path : {"/a/b/c/", "/", "/a/", "/z/"}) {
    CDirData loaded;
    loaded.m_currentScanDir = path;
    file.Read(loaded);
  }
  EXPECT_EQ(ReadFile(FilePath()), before);
}

// A save encodes a record a piece at a time: the pieces put together are the record's bytes,
// each but the last at least the piece size, and a piece refused ends the encoding.
TEST_F(DataFileTest, ARecordEncodedInPiecesIsTheSameBytes) {
  CDirData wide = Record("/w/", {});
  for (int i = 0; i < 1000; ++i) wide.m_entries.push_back(CDirInfo{"entry " + std::to_string(i), {i, N, N, N, N, N}});
  wide.m_entries.push_back(CDirInfo{std::string(255, 'n'), {INT64_MAX, INT64_MIN, N, N, N, N}});
  for (const CDirData& record : {Record("/e/", {}), Record("/o/", {CDirInfo{"one", {1, N, N, N, N, N}}}), wide}) {
    std::vector<std::uint8_t> joined;
    std::vector<std::size_t> sizes;
    EXPECT_TRUE(EncodeRecordInPieces(record, 4096, [&](std::span<const std::uint8_t> piece) {
      joined.insert(joined.end(), piece.begin(), piece.end());
      sizes.push_back(piece.size());
      return true;
    }));
    EXPECT_EQ(joined, EncodeRecord(record)) << record.m_currentScanDir;
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_GE(sizes[i], 4096u);
  }
  int pieces = 0;
  EXPECT_FALSE(EncodeRecordInPieces(wide, 4096, [&](std::span<const std::uint8_t>) { return ++pieces < 2; }));
  EXPECT_EQ(pieces, 2);
}

TEST_F(DataFileTest, DamagedStreamsKeepWhatWasReadBeforeTheDamage) {
  CDirData record = Record("/d/", {CDirInfo{"first", {1, N, N, N, N, N}}, CDirInfo{"second", {2, N, N, N, N, N}}});
  std::vector<std::uint8_t> bytes = EncodeRecord(record);
  const std::size_t firstEnd = 96 + 4 + 5 + 48;

  CDirData out;
  EXPECT_TRUE(DecodeRecord(bytes.data(), bytes.size(), out));
  EXPECT_EQ(out.m_entries, record.m_entries);
  EXPECT_EQ(out.m_entries.capacity(), 2u);  // room for exactly what the bytes hold

  for (std::size_t cut : {bytes.size() - 1, firstEnd + 2, firstEnd + 4 + 3}) {
    CDirData truncated;
    EXPECT_FALSE(DecodeRecord(bytes.data(), cut, truncated)) << cut;
    EXPECT_THAT(truncated.m_entries, ElementsAre(record.m_entries[0])) << cut;
    EXPECT_EQ(truncated.m_entries.capacity(), 1u) << cut;
  }
  for (std::uint32_t length : {0u, 260u, 0xffffffffu}) {
    std::vector<std::uint8_t> damaged = bytes;
    std::memcpy(damaged.data() + firstEnd, &length, 4);
    CDirData kept;
    EXPECT_FALSE(DecodeRecord(damaged.data(), damaged.size(), kept)) << length;
    EXPECT_EQ(kept.m_entries.size(), 1u);
  }
  CDirData header;
  EXPECT_FALSE(DecodeRecord(bytes.data(), 50, header));
  EXPECT_TRUE(header.m_entries.empty());
  EXPECT_TRUE(DecodeRecord(bytes.data(), 0, header));  // a new, empty stream
}

TEST_F(DataFileTest, ARecordLargerThanAReadPieceIsReadWholeAndItsDamageKeepsWhatCameBefore) {
  // Names of every length, so that entries end at every place of a piece.
  CDirData wide = Record("/wide/", {});
  for (int i = 0; i < 3000; ++i) {
    const std::size_t length = 1 + i % kMaxEntryName;
    std::string name = std::to_string(i) + "-" + std::string(length, 'x');
    name.resize(length);
    wide.m_entries.push_back(CDirInfo{name, {i, INT64_MAX, N, N, N, i == 7 ? INT64_MIN : N}});
  }
  wide.m_entries[2500].name = "DAMAGEHERE";
  wide.m_times = {5, 4, 3, 2, 1, 0};
  CDataFile file(owner.DataDirectory());
  ASSERT_THAT(Write(file, {wide}), ElementsAre());
  ASSERT_GT(EncodeRecord(wide).size(), 4u * (64 << 10));

  CDirData loaded;
  loaded.m_currentScanDir = "/wide/";
  ASSERT_EQ(file.Read(loaded), IScanStore::LoadResult::Loaded);
  loaded.m_total = wide.m_total;
  EXPECT_EQ(loaded, wide);
  EXPECT_EQ(loaded.m_entries.capacity(), wide.m_entries.size());

  std::string bytes = ReadFile(FilePath());
  const std::size_t at = bytes.find("DAMAGEHERE");
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(bytes.substr(at - 4, 4), std::string("\x0a\0\0\0", 4));
  bytes[at - 4] = 0;  // an entry without a name
  std::ofstream(FilePath(), std::ios::binary | std::ios::trunc) << bytes;
  CDirData damaged;
  damaged.m_currentScanDir = "/wide/";
  CDataFile again(owner.DataDirectory());
  EXPECT_EQ(again.Read(damaged), IScanStore::LoadResult::Loaded);
  ASSERT_EQ(damaged.m_entries.size(), 2500u);
  EXPECT_TRUE(std::equal(damaged.m_entries.begin(), damaged.m_entries.end(), wide.m_entries.begin()));
  EXPECT_EQ(damaged.m_times, wide.m_times);
}

TEST_F(DataFileTest, FileThatIsNoCompoundFileIsKeptAsideAndReplacedAtTheNextSave) {
  std::ofstream(FilePath()) << "this is not a compound file, just some text that is long enough to matter\n";
  std::string before = ReadFile(FilePath());
  {
    CScanInfo session(&owner, &owner, std::make_unique<CDataFile>(owner.DataDirectory()));
    CDirData record;
    record.m_currentScanDir = "/a/";
    session.LoadData(record);
    EXPECT_TRUE(record.m_entries.empty());
    EXPECT_EQ(ReadFile(FilePath()), before);  // loading never writes
    record.m_entries.push_back(CDirInfo{"x", {1, N, N, N, N, N}});
    session.SaveOutData(&record);
    EXPECT_TRUE(session.DataFileFailed());
  }
  ASSERT_EQ(owner.Messages().size(), 2u);
  EXPECT_THAT(owner.Messages()[0], HasSubstr("VNDATA.DB can not be read (STG_E_"));
  EXPECT_THAT(owner.Messages()[1], HasSubstr("VNDATA.DB was damaged. It has been kept as " + FilePath() +
                                             ".damaged-"));
  EXPECT_THAT(owner.Messages()[1], HasSubstr("the 0 directory records that could still be read"));
  const std::string kept = owner.Messages()[1].substr(owner.Messages()[1].find(FilePath() + ".damaged-"));
  EXPECT_EQ(ReadFile(kept.substr(0, kept.find(';'))), before);
  CDataFile file(owner.DataDirectory());
  CDirData saved;
  saved.m_currentScanDir = "/a/";
  ASSERT_EQ(file.Read(saved), IScanStore::LoadResult::Loaded);
  EXPECT_EQ(saved.m_entries.size(), 1u);

  owner.dataDirectory = data.Path() + "no such folder/";
  CDataFile missingFolder(owner.DataDirectory());
  EXPECT_THAT(Write(missingFolder, {Record("/a/", {})}), ::testing::SizeIs(1));
}

TEST_F(DataFileTest, DamagedCompoundFileNeverCrashesALoadOrASave) {
  CDataFile file(owner.DataDirectory());
  std::vector<CDirData> records;
  for (int i = 0; i < 40; ++i)
    records.push_back(Record("/d" + std::to_string(i) + "/x/", {CDirInfo{"e", {i, N, N, N, N, N}}}));
  ASSERT_THAT(Write(file, records), ElementsAre());
  const std::string good = ReadFile(FilePath());
  // Garbage over the allocation tables, the directory and the data in turn.
  for (std::size_t offset = 512; offset + 700 < good.size(); offset += good.size() / 7) {
    std::string damaged = good;
    for (std::size_t i = offset; i < offset + 700; ++i) damaged[i] = static_cast<char>(0xA5 ^ i);
    std::ofstream(FilePath(), std::ios::binary | std::ios::trunc) << damaged;
    CScanInfo session(&owner, &owner, std::make_unique<CDataFile>(owner.DataDirectory()));
    for (const CDirData& saved : records) {
      CDirData loaded;
      loaded.m_currentScanDir = saved.m_currentScanDir;
      session.LoadData(loaded);  // empty or what survived, never a crash
      EXPECT_LE(loaded.m_entries.size(), 1u);
    }
    session.SaveOutData(&records[0]);  // written, if need be into a new file
    CDirData back;
    back.m_currentScanDir = records[0].m_currentScanDir;
    session.LoadData(back);
    EXPECT_EQ(back.m_entries, records[0].m_entries) << offset;
  }
}

// A reader checks only what it reads, so damage below one directory shows when that record is
// read: the user is told once, the other records still load, and the next save replaces the file.
TEST_F(DataFileTest, DamageFoundOnlyByOneRecordsReadIsToldAndTheNextSaveReplacesTheFile) {
  {
    CDataFile file(owner.DataDirectory());
    std::vector<CDirData> records;
    for (int i = 0; i < 40; ++i) records.push_back(Record("/d" + std::to_string(i) + "/", {CDirInfo{"e", {i, N, N, N, N, N}}}));
    records.push_back(Record("/deepdamage/", {CDirInfo{"e", {7, N, N, N, N, N}}}));
    ASSERT_THAT(Write(file, records), ElementsAre());
  }
  std::string bytes = ReadFile(FilePath());
  const std::u16string name = u"deepdamage";
  const std::size_t entry = bytes.find(std::string(reinterpret_cast<const char*>(name.data()), name.size() * 2));
  ASSERT_NE(entry, std::string::npos);
  ASSERT_EQ((entry - 512) % 128, 0u);
  const std::uint32_t farAway = 0x00FFFFFF;  // the storage's child: no such entry
  std::memcpy(bytes.data() + entry + 0x4C, &farAway, 4);
  std::ofstream(FilePath(), std::ios::binary | std::ios::trunc) << bytes;

  CScanInfo session(&owner, &owner, std::make_unique<CDataFile>(owner.DataDirectory()));
  for (const char* path : {"/deepdamage/", "/d3/", "/deepdamage/"}) {
    CDirData loaded;
    loaded.m_currentScanDir = path;
    session.LoadData(loaded);
    EXPECT_EQ(loaded.m_entries.size(), std::string(path) == "/d3/" ? 1u : 0u) << path;
  }
  ASSERT_EQ(owner.Messages().size(), 1u);
  EXPECT_THAT(owner.Messages()[0], HasSubstr("VNDATA.DB can not be read (STG_E_DOCFILECORRUPT)"));
  EXPECT_THAT(owner.Messages()[0], HasSubstr("the next save replaces it."));
  CDirData record = Record("/deepdamage/", {CDirInfo{"e", {8, N, N, N, N, N}}});
  session.SaveOutData(&record);
  ASSERT_EQ(owner.Messages().size(), 2u);
  EXPECT_THAT(owner.Messages()[1], HasSubstr("VNDATA.DB was damaged. It has been kept as "));
}

TEST_F(DataFileTest, SecondProcessWaitsForTheLockAndSucceedsWhenReleased) {
  CDataFile file(owner.DataDirectory(), std::chrono::seconds(30));
  Write(file, {Record("/first/", {})});
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  if (child == 0) {
    cfb::Storage root;
    cfb::OpenOptions options;
    cfb::HRESULT hr = cfb::StgOpenStorage(FilePath(), options, root);
    char byte = cfb::Succeeded(hr) ? 'y' : 'n';
    if (::write(ready[1], &byte, 1) != 1) _exit(2);
    ::usleep(800 * 1000);
    root.Release();
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  CDataFile impatient(owner.DataDirectory(), std::chrono::milliseconds(0));
  EXPECT_THAT(Write(impatient, {Record("/never/", {})}), ElementsAre(cfb::STG_E_LOCKVIOLATION));
  EXPECT_THAT(Write(file, {Record("/second/", {CDirInfo{"x", {1, N, N, N, N, N}}})}), ElementsAre());
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  CDirData loaded;
  loaded.m_currentScanDir = "/second/";
  EXPECT_EQ(file.Read(loaded), IScanStore::LoadResult::Loaded);
  EXPECT_EQ(loaded.m_entries.size(), 1u);
  ::close(ready[0]);
  ::close(ready[1]);
}

// The reads of a scan keep one document open: they give what single reads give in any order,
// see what a write between them saved, and let the file go now and then for another run's save.
TEST_F(DataFileTest, HeldReadsGiveWhatSingleReadsGiveAndLetOtherRunsSave) {
  const std::vector<std::string> paths = {"/t/",        "/t/Docs/",   "/t/DOCS/", "/t/docs/",
                                          "/t/Docs/in/", "/t/KOB[VNData]/", "/t/" + std::string(40, 'l') + "/",
                                          "/t/a:b/",    "/u/x/"};
  std::vector<CDirData> records;
  for (std::size_t i = 0; i < paths.size(); ++i)
    records.push_back(Record(paths[i], {CDirInfo{"e" + std::to_string(i), {std::int64_t(i), N, N, N, N, N}}}));
  CDataFile file(owner.DataDirectory());
  // Two batches: the second names its storages among siblings listed from the file.
  ASSERT_THAT(Write(file, {records.begin(), records.begin() + 2}), ElementsAre());
  ASSERT_THAT(Write(file, {records.begin() + 2, records.end()}), ElementsAre());

  std::vector<std::string> probes = paths;
  for (std::string missing : {"/u/", "/t/none/", "/t/Docs/in/deeper/", "/t/dOCS/", "/"}) probes.push_back(missing);
  auto readAll = [&](CDataFile& reader, const std::vector<std::string>& order) {
    std::map<std::string, std::pair<IScanStore::LoadResult, std::vector<CDirInfo>>> got;
    for (const std::string& path : order) {
      CDirData record;
      record.m_currentScanDir = path;
      got[path] = {reader.Read(record), record.m_entries};
    }
    return got;
  };
  // Another run, started now so that it holds none of this process's open files: it saves when
  // told to, while this one keeps reading.
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    char byte = 0;
    if (::read(go[0], &byte, 1) != 1) _exit(2);
    CDataFile other(owner.DataDirectory(), std::chrono::seconds(20));
    bool failed = false;
    other.Write(std::vector{Record("/other/", {})}, [&](const CDirData&, std::int32_t) { failed = true; });
    _exit(failed ? 1 : 0);
  }

  CDataFile single(owner.DataDirectory());
  const auto expected = readAll(single, probes);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(expected.at(paths[i]).first, IScanStore::LoadResult::Loaded) << paths[i];
    EXPECT_EQ(expected.at(paths[i]).second, records[i].m_entries) << paths[i];
  }
  EXPECT_EQ(expected.at("/u/").first, IScanStore::LoadResult::NoRecord);
  EXPECT_EQ(expected.at("/t/none/").first, IScanStore::LoadResult::NoStorage);
  CDataFile held(owner.DataDirectory());
  held.BeginReads();
  EXPECT_EQ(readAll(held, probes), expected);
  std::vector<std::string> reversed(probes.rbegin(), probes.rend());
  EXPECT_EQ(readAll(held, reversed), expected);
  EXPECT_THAT(Write(held, {Record("/t/Docs/new/", {CDirInfo{"n", {1, N, N, N, N, N}}})}), ElementsAre());
  EXPECT_EQ(readAll(held, {"/t/Docs/new/"}).at("/t/Docs/new/").second.size(), 1u);

  ASSERT_EQ(::write(go[1], "g", 1), 1);
  int status = -1;
  for (int i = 0; i < 2000 && ::waitpid(child, &status, WNOHANG) == 0; ++i) {
    readAll(held, {"/t/Docs/in/"});
    ::usleep(5000);
  }
  EXPECT_EQ(status, 0);
  held.EndReads();
  EXPECT_EQ(readAll(single, {"/other/"}).at("/other/").first, IScanStore::LoadResult::Loaded);
  ::close(go[0]);
  ::close(go[1]);
}

// What one run learnt of a storage's children holds only while nobody else changed the file:
// a sibling another run saved meanwhile is seen when naming the next one.
TEST_F(DataFileTest, SiblingSavedByAnotherRunBetweenTwoWritesIsSeen) {
  CDataFile mine(owner.DataDirectory());
  CDataFile theirs(owner.DataDirectory());
  ASSERT_THAT(Write(mine, {Record("/t/", {CDirInfo{"top", {1, N, N, N, N, N}}})}), ElementsAre());
  ASSERT_THAT(Write(theirs, {Record("/t/DOCS/", {CDirInfo{"theirs", {2, N, N, N, N, N}}})}), ElementsAre());
  ASSERT_THAT(Write(mine, {Record("/t/Docs/", {CDirInfo{"mine", {3, N, N, N, N, N}}})}), ElementsAre());
  mine.BeginReads();
  for (const auto& [path, name] : {std::pair{"/t/DOCS/", "theirs"}, {"/t/Docs/", "mine"}, {"/t/", "top"}}) {
    CDirData record;
    record.m_currentScanDir = path;
    ASSERT_EQ(mine.Read(record), IScanStore::LoadResult::Loaded) << path;
    ASSERT_EQ(record.m_entries.size(), 1u) << path;
    EXPECT_EQ(record.m_entries[0].name, name) << path;
  }
  mine.EndReads();
}

// A rescan that keeps the file open for its reads saves what one that opens the file for every
// directory saves.
TEST_F(DataFileTest, RescanWithOneOpenDocumentSavesWhatOneOpenPerDirectorySaves) {
  class OpenPerRead : public CDataFile {
   public:
    using CDataFile::CDataFile;
    void BeginReads() override {}
  };
  TempDir tree;
  const std::vector<std::string> dirs = {"", "a/", "a/b/", "a/b/c/", "a/B/", "Docs/", "DOCS/", "z/", "z/\xc3\xbc/"};
  for (const std::string& relative : dirs) tree.MakeDir(relative);
  // Written files: the scan counts the blocks they hold, here whole 4,096-byte units.
  tree.MakeDataFile("a/b/c/f", 10000);
  tree.MakeDataFile("DOCS/g", 5000);
  owner.autoSave = owner.subDirSave = 1;
  auto scanInto = [&](std::unique_ptr<IScanStore> store) {
    CScanInfo session(&owner, &owner, std::move(store));
    session.SetScanDir(tree.Path());
    CDirData copy = session.dd;
    EXPECT_NE(session.DoScan(1, copy, true), -1);
  };
  scanInto(std::make_unique<CDataFile>(data.Path()));
  TempDir other;
  {
    std::ifstream from(FilePath(), std::ios::binary);
    std::ofstream to(other.Path() + "VNDATA.DB", std::ios::binary);
    to << from.rdbuf();
  }
  tree.MakeDataFile("a/b/new", 5000);
  tree.MakeDir("a/b/c/d");
  scanInto(std::make_unique<CDataFile>(data.Path()));
  scanInto(std::make_unique<OpenPerRead>(other.Path()));
  CDataFile mine(data.Path());
  CDataFile theirs(other.Path());
  for (const std::string relative : {"", "a/", "a/b/", "a/b/c/", "a/b/c/d/", "a/B/", "Docs/", "DOCS/", "z/", "z/\xc3\xbc/"}) {
    CDirData a;
    CDirData b;
    a.m_currentScanDir = b.m_currentScanDir = tree.Path() + relative;
    ASSERT_EQ(mine.Read(a), IScanStore::LoadResult::Loaded) << relative;
    ASSERT_EQ(theirs.Read(b), IScanStore::LoadResult::Loaded) << relative;
    ASSERT_NE(a.FindEntry(kTotalFree), nullptr);
    a.FindEntry(kTotalFree)->sizes[0] = b.FindEntry(kTotalFree)->sizes[0];  // the two scans' free space differ
    EXPECT_EQ(a.m_entries, b.m_entries) << relative;
    EXPECT_EQ(std::count(a.m_times.begin(), a.m_times.end(), 0), std::count(b.m_times.begin(), b.m_times.end(), 0));
  }
  CDirData top;
  top.m_currentScanDir = tree.Path() + "a/";
  mine.Read(top);
  EXPECT_EQ(top.FindEntry("b")->sizes[1], 12288);  // the rescan was built on the first scan
}

// Runs that scan and save one directory at the same time each build on the record saved
// before: none may drop the scan of another.
TEST_F(DataFileTest, ConcurrentSavesOfOneDirectoryKeepEveryScan) {
  TempDir tree;
  tree.MakeDir("sub");
  tree.MakeFile("sub/f", 1);
  owner.autoSave = 1;
  constexpr int kTrials = 20;
  constexpr int kRuns = 4;
  int lostColumns = 0;
  auto scanAndSave = [&] {
    CScanInfo session(&owner, &owner, std::make_unique<CDataFile>(owner.DataDirectory()));
    session.SetScanDir(tree.Path());
    CDirData copy = session.dd;
    session.DoScan(1, copy, true);
    session.SaveOutData();
  };
  for (int trial = 0; trial < kTrials; ++trial) {
    std::remove(FilePath().c_str());
    scanAndSave();  // the record every run starts from
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> runs;
    for (int i = 0; i < kRuns; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        char go = 0;
        if (::read(start[0], &go, 1) != 1) _exit(2);
        scanAndSave();
        _exit(0);
      }
      runs.push_back(pid);
    }
    ASSERT_EQ(::write(start[1], "gogo", kRuns), kRuns);  // all at once
    for (pid_t pid : runs) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      EXPECT_EQ(status, 0);
    }
    ::close(start[0]);
    ::close(start[1]);
    CDataFile reader(owner.DataDirectory());
    CDirData saved;
    saved.m_currentScanDir = tree.Path();
    ASSERT_EQ(reader.Read(saved), IScanStore::LoadResult::Loaded);
    const CDirInfo* sub = saved.FindEntry("sub");
    ASSERT_NE(sub, nullptr);
    const int columns = static_cast<int>(std::count_if(sub->sizes.begin(), sub->sizes.end(), [](std::int64_t s) { return s != N; }));
    EXPECT_EQ(std::count(saved.m_times.begin(), saved.m_times.end(), 0), 6 - columns);
    lostColumns += 1 + kRuns - columns;
  }
  std::printf("%d trials of %d concurrent saves: %d history columns lost\n", kTrials, kRuns, lostColumns);
  EXPECT_EQ(lostColumns, 0);
}

TEST_F(DataFileTest, SavedScanOfATreeLoadsBackAtEveryLevel) {
  TempDir tree;
  tree.MakeDir("a/b/c");
  tree.MakeDir("a/Blank name/ü");
  tree.MakeDir("z");
  tree.MakeDataFile("a/b/c/f", 10000);  // written: it holds three 4,096-byte units
  tree.MakeDataFile("z/g", 1);
  owner.autoSave = owner.subDirSave = 1;
  std::vector<CDirData> scanned;
  {
    CScanInfo session(&owner, &owner, std::make_unique<CDataFile>(owner.DataDirectory()));
    session.SetScanDir(tree.Path());
    CDirData copy = session.dd;
    ASSERT_EQ(session.DoScan(1, copy, true), 12288 + 4096);
    // Queued, then loaded: the queued content comes back and reaches the file at once.
    CDirData queued;
    queued.m_currentScanDir = tree.Path() + "a/b/";
    session.LoadData(queued);
    EXPECT_EQ(queued.FindEntry("c")->sizes[0], 12288);
    CDataFile reader(owner.DataDirectory());
    CDirData direct;
    direct.m_currentScanDir = queued.m_currentScanDir;
    EXPECT_EQ(reader.Read(direct), IScanStore::LoadResult::Loaded);
    EXPECT_EQ(direct.m_entries, queued.m_entries);
  }  // the final flush writes the rest
  owner.autoSave = owner.subDirSave = 0;
  CScanInfo session(&owner, &owner, std::make_unique<CDataFile>(owner.DataDirectory()));
  for (std::string relative : {"", "a/", "a/b/", "a/b/c/", "a/Blank name/", "a/Blank name/ü/", "z/"}) {
    CDirData loaded;
    loaded.m_currentScanDir = tree.Path() + relative;
    session.LoadData(loaded);
    EXPECT_NE(loaded.FindEntry(kTotalUsed), nullptr) << relative;
    EXPECT_NE(loaded.m_times[0], 0) << relative;
  }
  CDirData top;
  top.m_currentScanDir = tree.Path();
  session.LoadData(top);
  EXPECT_EQ(top.m_total, 12288 + 4096);  // subdirectories plus own files (none)
  EXPECT_EQ(top.FindEntry("a")->sizes[0], 12288);

  // The next saved scan sees the saved one in sizes[1].
  owner.autoSave = 1;
  session.SetScanDir(tree.Path());
  CDirData copy = session.dd;
  session.DoScan(1, copy, true);
  EXPECT_EQ(copy.FindEntry("z")->sizes[1], 4096);
}

}  // namespace
}  // namespace varnow
