#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/atomicfile.h"
#include "platform/regfile.h"
#include "platform/testtempfolder.h"

namespace {

using platform::Hive;
using platform::Registry;
using platform::RegType;
using platform::RegValue;

const std::string kKey = "Software\\Zentrel\\VARNOW";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_CONFIG_HOME", m_config.c_str(), 1); }
  static std::string HiveText(Hive hive = Hive::CurrentUser) {
    return platform::ReadWholeFile(Registry::HiveFile(hive)).value_or("<missing>");
  }
  static void WriteHiveText(const std::string& text) {
    ASSERT_TRUE(platform::MakeFolders(std::filesystem::path(Registry::HiveFile(Hive::CurrentUser)).parent_path()));
    std::ofstream(Registry::HiveFile(Hive::CurrentUser), std::ios::binary) << text;
  }
  static std::vector<std::string> KeptCopies() {
    std::vector<std::string> copies;
    const std::filesystem::path hive = Registry::HiveFile(Hive::CurrentUser);
    for (const auto& entry : std::filesystem::directory_iterator(hive.parent_path()))
      if (entry.path().filename().string().rfind(hive.filename().string() + ".damaged-", 0) == 0)
        copies.push_back(entry.path().string());
    return copies;
  }
  platform::test::CTempFolder m_tmp{"registry"};
  std::string m_config = m_tmp.Path() + "/config";
};

std::string Text(const std::optional<RegValue>& value) {
  return value && value->type == RegType::String ? value->text : "<not a string>";
}
std::vector<std::uint8_t> Bytes(const std::optional<RegValue>& value) {
  return value && value->type == RegType::Binary ? value->bytes : std::vector<std::uint8_t>{0xde, 0xad};
}
std::uint32_t Dword(const std::optional<RegValue>& value) {
  return value && value->type == RegType::Dword ? value->dword : 0xdeadbeef;
}

TEST_F(RegistryTest, FileLivesUnderConfigHomeInExportFormat) {
  EXPECT_EQ(Registry::HiveFile(Hive::CurrentUser), m_config + "/zentrel/registry/HKEY_CURRENT_USER.reg");
  EXPECT_EQ(Registry::HiveFile(Hive::LocalMachine), m_config + "/zentrel/registry/HKEY_LOCAL_MACHINE.reg");
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey + "\\Settings", "PreferredUnits", 10));
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, kKey + "\\Settings", "PrintFilePath", "C:\\a \"b\""));
  ASSERT_TRUE(Registry::SetBinary(Hive::CurrentUser, kKey + "\\Settings", "Font", {1, 2, 0xab}));
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, kKey + "\\FixedClusterSizes", "", "x"));
  EXPECT_EQ(HiveText(),
            "REGEDIT4\n\n"
            "[HKEY_CURRENT_USER\\Software]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Zentrel]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\\Settings]\n"
            "\"PreferredUnits\"=dword:0000000a\n"
            "\"PrintFilePath\"=\"C:\\\\a \\\"b\\\"\"\n"
            "\"Font\"=hex:01,02,ab\n\n"
            "[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\\FixedClusterSizes]\n"
            "@=\"x\"\n\n");
  EXPECT_EQ(HiveText(Hive::LocalMachine), "<missing>");  // hives are separate files
}

TEST_F(RegistryTest, TypedValuesRoundTripWithAnyCharacters) {
  const std::string odd = "a=b \"q\" back\\slash\nnew\rline\ttab \xc3\xa9 ;semi [x] @";
  const std::string withZero("nul\0byte", 8);
  std::vector<std::uint8_t> bytes(300);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, kKey, odd, odd));
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, kKey, withZero, withZero));
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, kKey, "", "default"));
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, kKey, "@", "at sign"));
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, kKey, "empty", ""));
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "max", 0xffffffffu));
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "zero", 0));
  ASSERT_TRUE(Registry::SetBinary(Hive::CurrentUser, kKey, "long", bytes));
  ASSERT_TRUE(Registry::SetBinary(Hive::CurrentUser, kKey, "none", {}));

  EXPECT_EQ(Text(Registry::GetValue(Hive::CurrentUser, kKey, odd)), odd);
  EXPECT_EQ(Text(Registry::GetValue(Hive::CurrentUser, kKey, withZero)), withZero);
  EXPECT_EQ(Text(Registry::GetValue(Hive::CurrentUser, kKey, "")), "default");
  EXPECT_EQ(Text(Registry::GetValue(Hive::CurrentUser, kKey, "@")), "at sign");
  EXPECT_EQ(Text(Registry::GetValue(Hive::CurrentUser, kKey, "empty")), "");
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "max")), 0xffffffffu);
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "zero")), 0u);
  auto binary = Registry::GetValue(Hive::CurrentUser, kKey, "long");
  ASSERT_TRUE(binary && binary->type == RegType::Binary);
  EXPECT_EQ(binary->bytes, bytes);
  auto none = Registry::GetValue(Hive::CurrentUser, kKey, "none");
  ASSERT_TRUE(none && none->type == RegType::Binary);
  EXPECT_TRUE(none->bytes.empty());

  // Long binary data wraps with "\" as the registry editor writes it.
  std::istringstream lines(HiveText());
  std::string line;
  int wrapped = 0;
  while (std::getline(lines, line))
    if (line.rfind("\"long\"", 0) == 0 || line.rfind("  ", 0) == 0) {
      EXPECT_LE(line.size(), 80u) << line;
      ++wrapped;
    }
  EXPECT_GT(wrapped, 10);

  // Changing the type of a value replaces it.
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "empty", 5));
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "empty")), 5u);
  EXPECT_FALSE(Registry::GetValue(Hive::CurrentUser, kKey, "missing"));
  EXPECT_FALSE(Registry::GetValue(Hive::CurrentUser, kKey + "\\Missing", "max"));
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepFirstSpelling) {
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey + "\\Settings", "FirstRun", 1));
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, "SOFTWARE\\zentrel\\varnow\\settings", "FIRSTRUN", 0));
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, "software\\ZENTREL\\Varnow\\Other", "x", 1));
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, "software\\zentrel\\VARNOW\\SETTINGS", "firstrun")), 0u);
  auto values = Registry::EnumValues(Hive::CurrentUser, kKey + "\\Settings");
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 1u);
  EXPECT_EQ((*values)[0].first, "FirstRun");
  EXPECT_EQ(Registry::EnumSubKeys(Hive::CurrentUser, "SOFTWARE\\ZENTREL\\VARNOW"),
            (std::vector<std::string>{"Settings", "Other"}));
  EXPECT_TRUE(Registry::KeyExists(Hive::CurrentUser, "\\software\\zentrel\\\\varnow\\other\\"));
  EXPECT_EQ(HiveText().find("ZENTREL"), std::string::npos);
  // Case folding is ASCII only: other bytes must match exactly.
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, kKey, "\xc3\xa9t\xc3\xa9", "summer"));
  EXPECT_FALSE(Registry::GetValue(Hive::CurrentUser, kKey, "\xc3\x89T\xc3\x89"));
}

TEST_F(RegistryTest, EnumerationKeepsFirstWrittenOrder) {
  for (const char* name : {"zeta", "alpha", "Mid", "beta"}) ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, name, 1));
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "ALPHA", 2));  // rewriting keeps its place
  ASSERT_TRUE(Registry::DeleteValue(Hive::CurrentUser, kKey, "mid"));
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "Mid", 3));  // written anew: last
  auto values = Registry::EnumValues(Hive::CurrentUser, kKey);
  ASSERT_TRUE(values);
  std::vector<std::string> names;
  for (const auto& [name, value] : *values) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"zeta", "alpha", "beta", "Mid"}));
  EXPECT_EQ((*values)[1].second.dword, 2u);

  for (const char* sub : {"Z", "A", "M"}) ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey + "\\" + sub + "\\Deep", "v", 1));
  EXPECT_EQ(Registry::EnumSubKeys(Hive::CurrentUser, kKey), (std::vector<std::string>{"Z", "A", "M"}));
  EXPECT_EQ(Registry::EnumSubKeys(Hive::CurrentUser, ""), (std::vector<std::string>{"Software"}));
  EXPECT_FALSE(Registry::EnumValues(Hive::CurrentUser, kKey + "\\Nope"));
  EXPECT_TRUE(Registry::EnumValues(Hive::CurrentUser, kKey + "\\Z")->empty());  // exists, no values
}

TEST_F(RegistryTest, DeleteKeyRemovesEverythingBelowOnly) {
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, "A\\Key\\Sub\\Deeper", "v", 1));
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, "A\\Key\\Sub2", "v", 1));
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, "A\\Keys", "v", 1));  // shares the prefix text
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, "A\\Key", "v", 1));
  EXPECT_TRUE(Registry::DeleteKey(Hive::CurrentUser, "a\\KEY"));
  EXPECT_FALSE(Registry::KeyExists(Hive::CurrentUser, "A\\Key"));
  EXPECT_FALSE(Registry::KeyExists(Hive::CurrentUser, "A\\Key\\Sub\\Deeper"));
  EXPECT_FALSE(Registry::KeyExists(Hive::CurrentUser, "A\\Key\\Sub2"));
  EXPECT_TRUE(Registry::KeyExists(Hive::CurrentUser, "A\\Keys"));
  EXPECT_EQ(Registry::EnumSubKeys(Hive::CurrentUser, "A"), (std::vector<std::string>{"Keys"}));
  EXPECT_FALSE(Registry::DeleteKey(Hive::CurrentUser, "A\\Key"));
  EXPECT_FALSE(Registry::DeleteKey(Hive::CurrentUser, ""));
  EXPECT_FALSE(Registry::DeleteValue(Hive::CurrentUser, "A\\Keys", "missing"));
  EXPECT_FALSE(Registry::DeleteValue(Hive::CurrentUser, "A\\Missing", "v"));
  EXPECT_TRUE(Registry::DeleteValue(Hive::CurrentUser, "A\\Keys", "V"));
  EXPECT_FALSE(Registry::GetValue(Hive::CurrentUser, "A\\Keys", "v"));
  EXPECT_FALSE(Registry::SetDword(Hive::CurrentUser, "A\\Line\nBreak", "v", 1));
}

TEST_F(RegistryTest, DamagedFilesReadWhatCanBeRead) {
  std::string damaged =
      "garbage before the header\n"
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW]\r\n"
      "\"good\"=dword:00000007\r\n"
      "\"unterminated=\"x\r\n"
      "\"baddword\"=dword:xyz\r\n"
      "\"toolong\"=dword:123456789\r\n"
      "\"badhex\"=hex:1,zz,3\r\n"
      "\"novalue\"\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n"
      "\"foreign\"=dword:00000001\r\n"
      "[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\r\n"  // no closing bracket
      "\"lost\"=dword:00000001\r\n"
      "[HKEY_CURRENT_USERX\\Software]\r\n"
      "\"lost2\"=dword:00000001\r\n"
      "[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW]\r\n"
      "\"text\"=\"kept\"\r\n"
      "\"huge\"=\"" + std::string(4 << 20, 'h') + "\"\r\n"
      "\"binary\"=hex:01,02,\\\r\n"
      "  03\r\n";
  damaged += std::string("\xff\xfe\0\x01 binary junk \0\n", 19);
  damaged += "\"cut\"=hex:0a,0b,\\";  // the file ends in the middle of a continued value
  WriteHiveText(damaged);
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "good")), 7u);
  EXPECT_EQ(Text(Registry::GetValue(Hive::CurrentUser, kKey, "text")), "kept");
  EXPECT_EQ(Text(Registry::GetValue(Hive::CurrentUser, kKey, "huge")).size(), 4u << 20);
  EXPECT_EQ(Bytes(Registry::GetValue(Hive::CurrentUser, kKey, "binary")), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(Bytes(Registry::GetValue(Hive::CurrentUser, kKey, "cut")), (std::vector<std::uint8_t>{10, 11}));
  for (const char* name : {"baddword", "toolong", "badhex", "novalue", "foreign", "lost", "lost2"})
    EXPECT_FALSE(Registry::GetValue(Hive::CurrentUser, kKey, name)) << name;
  EXPECT_FALSE(Registry::KeyExists(Hive::CurrentUser, "Software\\Elsewhere"));

  // A change rewrites the hive cleanly with what was readable, and keeps the damaged file.
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "new", 1));
  EXPECT_EQ(HiveText().rfind("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n", 0), 0u);
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "good")), 7u);
  std::vector<std::string> kept = KeptCopies();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(platform::ReadWholeFile(kept[0]), damaged);
  // The rewritten file is whole: later changes keep nothing more.
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "newer", 1));
  EXPECT_EQ(KeptCopies().size(), 1u);

  // Random bytes never crash the reader.
  std::mt19937 random(12345);
  for (int round = 0; round < 50; ++round) {
    std::string noise(static_cast<size_t>(random() % 4096), '\0');
    for (char& c : noise) c = "[]\"\\=@:,-hexdword\n\r \x01\xff"[random() % 20];
    WriteHiveText("REGEDIT4\n[HKEY_CURRENT_USER]\n" + noise);
    (void)Registry::EnumValues(Hive::CurrentUser, "");
    (void)Registry::EnumSubKeys(Hive::CurrentUser, "");
  }
}

TEST_F(RegistryTest, HiveWithoutHeaderIsKeptBeforeItIsReplaced) {
  const std::string foreign = "[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW]\n\"a\"=dword:00000001\n";
  WriteHiveText(foreign);
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "b", 2));
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "a")), 1u);
  const std::vector<std::string> kept = KeptCopies();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(platform::ReadWholeFile(kept[0]), foreign);
}

// Keys are looked up by hash: a hive this size reads in well under a second (it took hours
// when each key was found by a linear search).
TEST_F(RegistryTest, HundredThousandKeysReadAndWrite) {
  std::string text = "REGEDIT4\n\n";
  for (int i = 0; i < 100000; ++i)
    text += "[HKEY_CURRENT_USER\\Software\\Many\\Key" + std::to_string(i) + "]\n\"v\"=dword:" +
            std::to_string(10000000 + i) + "\n\n";
  WriteHiveText(text);
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, "software\\MANY\\key99999", "V")), 0x10099999u);
  EXPECT_EQ(Registry::EnumSubKeys(Hive::CurrentUser, "Software\\Many").size(), 100000u);
  ASSERT_TRUE(Registry::DeleteKey(Hive::CurrentUser, "Software\\Many\\Key5"));
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, "Software\\Many\\Key50", "v", 1));
  EXPECT_FALSE(Registry::KeyExists(Hive::CurrentUser, "Software\\Many\\Key5"));
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, "Software\\Many\\Key50", "v")), 1u);
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, "Software\\Many\\Key51", "v")), 0x10000051u);
  EXPECT_TRUE(KeptCopies().empty());
}

// Bytes this process has read through read(2) so far.
long long BytesRead() {
  const std::string io = platform::ReadWholeFile("/proc/self/io").value_or("");
  const size_t at = io.find("rchar: ");
  return at == std::string::npos ? -1 : std::atoll(io.c_str() + at + 7);
}

TEST_F(RegistryTest, ABatchOfReadsParsesTheFileOnce) {
  std::string text = "REGEDIT4\n\n";
  for (int i = 0; i < 10000; ++i)
    text += "[HKEY_CURRENT_USER\\Software\\Many\\Key" + std::to_string(i) + "]\n\"v\"=dword:00000001\n\n";
  WriteHiveText(text);
  ASSERT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, "Software\\Many\\Key1", "v")), 1u);
  const long long before = BytesRead();
  ASSERT_GE(before, 0);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, "Software\\Many\\Key" + std::to_string(i * 100), "v")), 1u);
    EXPECT_TRUE(Registry::KeyExists(Hive::CurrentUser, "Software\\Many\\Key" + std::to_string(i)));
  }
  EXPECT_LT(BytesRead() - before, static_cast<long long>(text.size()));
  // Its own writes do not make the process read the file again either.
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, "Software\\Many\\Key7", "v", 7));
  const long long afterWrite = BytesRead();
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, "Software\\Many\\Key7", "v")), 7u);
  EXPECT_LT(BytesRead() - afterWrite, static_cast<long long>(text.size()));
}

TEST_F(RegistryTest, ChangesByOthersAreSeenAtOnce) {
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "a", 1));
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "a")), 1u);
  // Another process changes the value within the same second: same size, same second.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(Registry::SetDword(Hive::CurrentUser, kKey, "a", 2) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "a")), 2u);
  // An editor that rewrites the file in place, keeping its length.
  std::string text = HiveText();
  const size_t at = text.find("dword:00000002");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 14, "dword:00000003");
  WriteHiveText(text);
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "a")), 3u);
  // A change made here builds on the other's, not on what this process saw before.
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "b", 4));
  EXPECT_NE(HiveText().find("\"a\"=dword:00000003"), std::string::npos);
  ASSERT_TRUE(platform::WriteFileAtomically(Registry::HiveFile(Hive::CurrentUser), "REGEDIT4\n\n"));
  EXPECT_FALSE(Registry::GetValue(Hive::CurrentUser, kKey, "a"));
}

TEST_F(RegistryTest, HiveOverSixtyFourMebibytesIsReadWhole) {
  std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW]\n\"big\"=\"";
  text.append(65u << 20, 'b');
  text += "\"\n\n[HKEY_CURRENT_USER\\Software\\After]\n\"past\"=dword:00000001\n\n";
  WriteHiveText(text);
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, "Software\\After", "past")), 1u);
  EXPECT_EQ(Text(Registry::GetValue(Hive::CurrentUser, kKey, "big")).size(), 65u << 20);
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "new", 1));
  EXPECT_TRUE(KeptCopies().empty());
  const platform::RegDocument written =
      platform::RegDocument::Parse(platform::ReadWholeFile(Registry::HiveFile(Hive::CurrentUser), SIZE_MAX).value(),
                                   "HKEY_CURRENT_USER");
  EXPECT_FALSE(written.Damaged());
  ASSERT_TRUE(written.FindKey("Software\\After"));
  ASSERT_TRUE(written.FindKey("Software\\Zentrel\\VARNOW"));
  EXPECT_EQ(platform::RegDocument::FindValue(*written.FindKey("Software\\Zentrel\\VARNOW"), "big")->text.size(), 65u << 20);
}

TEST_F(RegistryTest, DamagedHiveIsKeptOnceADay) {
  const std::string damaged = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW]\n\"a\"=dword:zz\n";
  WriteHiveText(damaged);
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "b", 1));
  ASSERT_EQ(KeptCopies().size(), 1u);
  // Something keeps damaging the file: it is repaired each time, but kept only once.
  for (int i = 0; i < 3; ++i) {
    WriteHiveText(damaged + std::string(static_cast<size_t>(i + 1), '\n') + "\"c\"=hex:q\n");
    ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "b", static_cast<std::uint32_t>(i + 2)));
    EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "b")), static_cast<std::uint32_t>(i + 2));
  }
  EXPECT_EQ(KeptCopies().size(), 1u);
  EXPECT_EQ(platform::ReadWholeFile(KeptCopies()[0]), damaged);
}

TEST_F(RegistryTest, UnreadableHiveIsNotOverwritten) {
  const std::string file = Registry::HiveFile(Hive::CurrentUser);
  ASSERT_TRUE(platform::MakeFolders(file));  // a folder where the file should be
  EXPECT_FALSE(Registry::SetDword(Hive::CurrentUser, kKey, "other", 1));
  EXPECT_FALSE(Registry::GetValue(Hive::CurrentUser, kKey, "other"));
  ASSERT_EQ(::rmdir(file.c_str()), 0);

  if (::geteuid() == 0) return;  // root reads every file: the mode test means nothing
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, kKey, "kept", 1));
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  EXPECT_FALSE(Registry::SetDword(Hive::CurrentUser, kKey, "other", 1));
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, kKey, "kept")), 1u);
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
  const int kWrites = 200;
  auto writeMany = [&](const std::string& prefix) {
    for (int i = 0; i < kWrites; ++i)
      if (!Registry::SetDword(Hive::CurrentUser, kKey + "\\Settings", prefix + std::to_string(i), static_cast<std::uint32_t>(i)))
        return false;
    return true;
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(writeMany("child") ? 0 : 1);
  std::thread thread([&] { EXPECT_TRUE(writeMany("thread")); });
  EXPECT_TRUE(writeMany("parent"));
  thread.join();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // A fresh process reads back every value.
  pid_t reader = ::fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) {
    auto values = Registry::EnumValues(Hive::CurrentUser, kKey + "\\Settings");
    bool ok = values && values->size() == 3u * kWrites;
    for (const char* prefix : {"child", "thread", "parent"})
      for (int i = 0; ok && i < kWrites; ++i)
        ok = Dword(Registry::GetValue(Hive::CurrentUser, kKey + "\\settings", prefix + std::to_string(i))) ==
             static_cast<std::uint32_t>(i);
    _exit(ok ? 0 : 1);
  }
  ASSERT_EQ(::waitpid(reader, &status, 0), reader);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // No temporary files are left behind.
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(Registry::HiveFile(Hive::CurrentUser)).parent_path()))
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(RegistryTest, ImportAndUndoOfEditorFiles) {
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, "Software\\Zentrel\\Keep", "mine", 1));
  ASSERT_TRUE(Registry::SetDword(Hive::CurrentUser, "Software\\Zentrel\\Old", "stale", 1));
  const std::string file = m_config + "/orvsched.reg";
  std::ofstream(file, std::ios::binary) << "\xef\xbb\xbfREGEDIT4\r\n\r\n"
                                           "[HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID\\{1}]\r\n"
                                           "@=\"OrvSched\"\r\n"
                                           "\"Flag\"=dword:00000001\r\n"
                                           "[-HKEY_CURRENT_USER\\Software\\Zentrel\\Old]\r\n"
                                           "[HKEY_CURRENT_USER\\Software\\Zentrel\\Keep]\r\n"
                                           "\"added\"=\"x\"\r\n";
  ASSERT_TRUE(Registry::ImportFile(file));
  EXPECT_EQ(Text(Registry::GetValue(Hive::LocalMachine, "Software\\Classes\\AppID\\{1}", "")), "OrvSched");
  EXPECT_EQ(Text(Registry::GetValue(Hive::CurrentUser, "Software\\Zentrel\\Keep", "added")), "x");
  EXPECT_FALSE(Registry::KeyExists(Hive::CurrentUser, "Software\\Zentrel\\Old"));
  EXPECT_EQ(HiveText(Hive::ClassesRoot), "<missing>");  // hives the file does not name stay untouched

  ASSERT_TRUE(Registry::UndoImportFile(file));
  EXPECT_FALSE(Registry::KeyExists(Hive::LocalMachine, "Software"));
  EXPECT_FALSE(Registry::GetValue(Hive::CurrentUser, "Software\\Zentrel\\Keep", "added"));
  EXPECT_EQ(Dword(Registry::GetValue(Hive::CurrentUser, "Software\\Zentrel\\Keep", "mine")), 1u);

  std::ofstream(file, std::ios::binary) << "[HKEY_CURRENT_USER\\Software]\n\"x\"=dword:1\n";
  EXPECT_FALSE(Registry::ImportFile(file));  // no header: not an editor file
  EXPECT_FALSE(Registry::ImportFile(m_config + "/missing.reg"));
  EXPECT_FALSE(Registry::GetValue(Hive::CurrentUser, "Software", "x"));
}

TEST(RegDocument, AppliesExportedFilesFromOtherEditors) {
  const std::string exported =
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\\Settings]\r\n"
      "\"Expand\"=hex(2):25,54,45,4d,50,25,00\r\n"
      "\"Typed\"=hex(4):0a,00,00,01\r\n"
      "\"Multi\"=hex(7):61,00,62,00,00\r\n"
      "\"Gone\"=dword:00000001\r\n"
      "\"Gone\"=-\r\n"
      "\"Spaced\" = \"yes\" ; comment\r\n"
      "; a comment line\r\n"
      "[HKEY_CURRENT_USER\\Software\\Zentrel\\Old\\Child]\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Zentrel\\Old]\r\n"
      "[-HKEY_CURRENT_USER]\r\n";  // a whole hive is never deleted
  platform::RegDocument document = platform::RegDocument::Parse(exported, "HKEY_CURRENT_USER");
  const platform::RegKeyRecord* key = document.FindKey("Software\\Zentrel\\VARNOW\\Settings");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(platform::RegDocument::FindValue(*key, "Expand")->text, "%TEMP%");
  EXPECT_EQ(platform::RegDocument::FindValue(*key, "Typed")->dword, 0x0100000au);
  EXPECT_EQ(platform::RegDocument::FindValue(*key, "Multi")->bytes.size(), 5u);
  EXPECT_EQ(platform::RegDocument::FindValue(*key, "Gone"), nullptr);
  EXPECT_EQ(platform::RegDocument::FindValue(*key, "Spaced")->text, "yes");
  EXPECT_EQ(document.FindKey("Software\\Zentrel\\Old"), nullptr);
  EXPECT_EQ(document.FindKey("Software\\Zentrel\\Old\\Child"), nullptr);
  EXPECT_NE(document.FindKey("Software\\Zentrel"), nullptr);
}

}  // namespace
