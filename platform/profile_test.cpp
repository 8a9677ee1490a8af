#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/atomicfile.h"
#include "platform/testtempfolder.h"

namespace {

using platform::GetPrivateProfileInt;
using platform::GetPrivateProfileKeys;
using platform::GetPrivateProfileSectionNames;
using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;
using Names = std::vector<std::string>;

class ProfileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(m_file, std::ios::binary) << text; }
  std::string Contents() const { return platform::ReadWholeFile(m_file).value_or("<missing>"); }
  platform::test::CTempFolder m_tmp{"profile"};
  std::string m_dir = m_tmp.Path();
  std::string m_file = m_dir + "/VNOWDATA.FAT";
};

const char kIndex[] =
    "; written by an older release\r\n"
    "[SourcePath]\r\n"
    "C:\\DATA\\=C:\\VARNOW\\QWERTYUI.DAT\r\n"
    "  d:\\Games\\ =  \"  quoted keeps blanks  \"  \r\n"
    "single='x'\r\n"
    "lonequote=\"abc\r\n"
    "mixed=\"abc'\r\n"
    "novalue\r\n"
    "c:\\data\\=duplicate, never read\r\n"
    ";C:\\COMMENTED\\=x\r\n"
    "inline=value ; not a comment\r\n"
    "\r\n"
    "[ DataFile ]\r\n"
    "C:\\VARNOW\\QWERTYUI.DAT=C:\\DATA\\\r\n"
    "[sourcepath]\r\n"
    "second=section of the same name\r\n"
    "[Numbers]\r\n"
    "plain=42\r\nneg=-7\r\nhex=0x1F\r\nword=abc\r\nlead=12abc\r\nempty=\r\nquoted=\"15\"\r\nbig=4294967297\r\n";

TEST_F(ProfileTest, ReadsValuesAsWindowsDoes) {
  Write(kIndex);
  EXPECT_EQ(GetPrivateProfileString("sourcepath", "c:\\DATA\\", "{none}", m_file), "C:\\VARNOW\\QWERTYUI.DAT");
  EXPECT_EQ(GetPrivateProfileString("SourcePath", " D:\\GAMES\\ ", "{none}", m_file), "  quoted keeps blanks  ");
  EXPECT_EQ(GetPrivateProfileString("SourcePath", "single", "", m_file), "x");
  EXPECT_EQ(GetPrivateProfileString("SourcePath", "lonequote", "", m_file), "\"abc");
  EXPECT_EQ(GetPrivateProfileString("SourcePath", "mixed", "", m_file), "\"abc'");
  EXPECT_EQ(GetPrivateProfileString("SourcePath", "novalue", "def", m_file), "");
  EXPECT_EQ(GetPrivateProfileString("SourcePath", "inline", "", m_file), "value ; not a comment");
  EXPECT_EQ(GetPrivateProfileString("SourcePath", ";C:\\COMMENTED\\", "{none}", m_file), "{none}");
  EXPECT_EQ(GetPrivateProfileString("SourcePath", "second", "{none}", m_file), "{none}");  // first section only
  EXPECT_EQ(GetPrivateProfileString("DataFile", "c:\\varnow\\qwertyui.dat", "{none}", m_file), "C:\\DATA\\");
  EXPECT_EQ(GetPrivateProfileString("Missing", "x", "{none}", m_file), "{none}");
  EXPECT_EQ(GetPrivateProfileString("SourcePath", "x", "{none}", m_dir + "/nofile.ini"), "{none}");

  EXPECT_EQ(GetPrivateProfileInt("Numbers", "plain", 5, m_file), 42);
  EXPECT_EQ(GetPrivateProfileInt("Numbers", "neg", 5, m_file), -7);
  EXPECT_EQ(GetPrivateProfileInt("Numbers", "hex", 5, m_file), 31);
  EXPECT_EQ(GetPrivateProfileInt("Numbers", "word", 5, m_file), 0);
  EXPECT_EQ(GetPrivateProfileInt("Numbers", "lead", 5, m_file), 12);
  EXPECT_EQ(GetPrivateProfileInt("Numbers", "empty", 5, m_file), 5);
  EXPECT_EQ(GetPrivateProfileInt("Numbers", "missing", 5, m_file), 5);
  EXPECT_EQ(GetPrivateProfileInt("Numbers", "quoted", 5, m_file), 15);
  EXPECT_EQ(GetPrivateProfileInt("Numbers", "big", 5, m_file), 1);  // 32 bits, as the system reader
}

// A file read once answers every lookup as the single reads do.
TEST_F(ProfileTest, SnapshotAnswersAsTheSingleReads) {
  Write(kIndex);
  const platform::CProfileSnapshot snapshot = platform::CProfileSnapshot::Read(m_file);
  ASSERT_TRUE(snapshot.Readable());
  const std::pair<const char*, const char*> lookups[] = {
      {"sourcepath", "c:\\DATA\\"}, {"SourcePath", " D:\\GAMES\\ "}, {"SourcePath", "single"},
      {"SourcePath", "lonequote"},   {"SourcePath", "mixed"},           {"SourcePath", "novalue"},
      {"SourcePath", "inline"},      {"SourcePath", ";C:\\COMMENTED\\"}, {"SourcePath", "second"},
      {" datafile ", "c:\\varnow\\qwertyui.dat"}, {"Missing", "x"}, {"Numbers", "quoted"}};
  for (const auto& [section, key] : lookups)
    EXPECT_EQ(snapshot.Value(section, key, "{none}"), GetPrivateProfileString(section, key, "{none}", m_file))
        << section << " / " << key;
  EXPECT_TRUE(snapshot.HasSection("DATAFILE"));
  EXPECT_FALSE(snapshot.HasSection("Missing"));
  EXPECT_EQ(snapshot.Value("SourcePath", "novalue"), std::optional<std::string>("")) << "present but empty";

  const platform::CProfileSnapshot none = platform::CProfileSnapshot::Read(m_dir + "/nofile.ini");
  EXPECT_FALSE(none.Readable());
  EXPECT_FALSE(none.Value("SourcePath", "single"));
}

TEST_F(ProfileTest, ListsKeysAndSections) {
  Write(kIndex);
  EXPECT_EQ(GetPrivateProfileKeys("SOURCEPATH", m_file),
            (Names{"C:\\DATA\\", "d:\\Games\\", "single", "lonequote", "mixed", "novalue", "inline"}));
  EXPECT_EQ(GetPrivateProfileKeys("Missing", m_file), Names{});
  EXPECT_EQ(GetPrivateProfileSectionNames(m_file), (Names{"SourcePath", "DataFile", "Numbers"}));
  EXPECT_EQ(GetPrivateProfileSectionNames(m_dir + "/nofile.ini"), Names{});
}

TEST_F(ProfileTest, WritesKeepTheRestOfTheFile) {
  Write("; head\r\n[A]\r\nKey=old\r\n\r\n[B]\r\nx=1\r\n");
  ASSERT_TRUE(WritePrivateProfileString("a", "KEY", "new", m_file));      // keeps the stored spelling
  ASSERT_TRUE(WritePrivateProfileString("A", "added", "2", m_file));      // before the blank line
  ASSERT_TRUE(WritePrivateProfileString("C", "k", "v w", m_file));        // a new section at the end
  EXPECT_EQ(Contents(), "; head\r\n[A]\r\nKey=new\r\nadded=2\r\n\r\n[B]\r\nx=1\r\n\r\n[C]\r\nk=v w\r\n");

  ASSERT_TRUE(WritePrivateProfileString("A", "key", std::nullopt, m_file));
  ASSERT_TRUE(WritePrivateProfileString("b", std::nullopt, std::nullopt, m_file));
  EXPECT_EQ(Contents(), "; head\r\n[A]\r\nadded=2\r\n\r\n[C]\r\nk=v w\r\n");

  // Deleting what is not there succeeds and leaves the file alone.
  EXPECT_TRUE(WritePrivateProfileString("A", "none", std::nullopt, m_file));
  EXPECT_TRUE(WritePrivateProfileString("None", std::nullopt, std::nullopt, m_file));
  EXPECT_TRUE(WritePrivateProfileString("None", "k", std::nullopt, m_dir + "/never.ini"));
  EXPECT_FALSE(std::filesystem::exists(m_dir + "/never.ini"));
}

TEST_F(ProfileTest, CreatesFilesAndRoundTripsValues) {
  const std::string file = m_dir + "/new.ini";
  ASSERT_TRUE(WritePrivateProfileString("SourcePath", "/home/ann/My Files/", "/data/ABCDEFGH.DAT", file));
  ASSERT_TRUE(WritePrivateProfileString("SourcePath", "/srv/\xc3\xa9t\xc3\xa9/", "x", file));
  ASSERT_TRUE(WritePrivateProfileString(" DataFile ", " /data/ABCDEFGH.DAT ", "/home/ann/My Files/", file));
  EXPECT_EQ(GetPrivateProfileString("sourcepath", "/home/ann/my files/", "", file), "/data/ABCDEFGH.DAT");
  EXPECT_EQ(GetPrivateProfileString("DataFile", "/data/ABCDEFGH.DAT", "", file), "/home/ann/My Files/");
  EXPECT_EQ(GetPrivateProfileKeys("SourcePath", file), (Names{"/home/ann/My Files/", "/srv/\xc3\xa9t\xc3\xa9/"}));
  EXPECT_EQ(platform::ReadWholeFile(file).value(),
            "[SourcePath]\n/home/ann/My Files/=/data/ABCDEFGH.DAT\n/srv/\xc3\xa9t\xc3\xa9/=x\n\n"
            "[DataFile]\n/data/ABCDEFGH.DAT=/home/ann/My Files/\n");
  // Duplicate sections all go when the section is deleted.
  Write("[S]\na=1\n[T]\n[s]\nb=2\n");
  ASSERT_TRUE(WritePrivateProfileString("S", std::nullopt, std::nullopt, m_file));
  EXPECT_EQ(Contents(), "[T]\n");
}

TEST_F(ProfileTest, RefusesWhatTheFormatCannotHold) {
  Write("[A]\nk=v\n");
  EXPECT_FALSE(WritePrivateProfileString("A", "k", "two\nlines", m_file));
  EXPECT_FALSE(WritePrivateProfileString("A", "a=b", "v", m_file));
  EXPECT_FALSE(WritePrivateProfileString("A", "[B]", "v", m_file));
  EXPECT_FALSE(WritePrivateProfileString("A", ";c", "v", m_file));
  EXPECT_FALSE(WritePrivateProfileString("A]x", "k", "v", m_file));
  EXPECT_FALSE(WritePrivateProfileString("A\r", std::nullopt, std::nullopt, m_file));
  EXPECT_EQ(Contents(), "[A]\nk=v\n");
  // A folder in the file's place cannot be read and is never replaced.
  const std::string folder = m_dir + "/folder.ini";
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  EXPECT_FALSE(WritePrivateProfileString("A", "k", "v", folder));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST_F(ProfileTest, DamagedFilesNeverCrash) {
  std::string junk = "[unclosed\nkey\n=\n[]\n=empty key\n\n[A]\n";
  junk += std::string("\0\xff\xfe=\x01", 5) + "\n" + std::string(1 << 20, 'k') + "=v\nlast=ok";  // no final newline
  Write(junk);
  EXPECT_EQ(GetPrivateProfileString("A", "last", "", m_file), "ok");
  EXPECT_EQ(GetPrivateProfileString("", "", "d", m_file), "empty key");
  EXPECT_EQ(GetPrivateProfileString("unclosed", "key", "d", m_file), "");
  EXPECT_EQ(GetPrivateProfileKeys("A", m_file).size(), 3u);
  ASSERT_TRUE(WritePrivateProfileString("A", "last", "changed", m_file));
  EXPECT_EQ(GetPrivateProfileString("A", "last", "", m_file), "changed");
  EXPECT_EQ(GetPrivateProfileKeys("A", m_file).size(), 3u);
}

}  // namespace
