#include "varnow/alerts/CommandLine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/tracelog.h"
#include "varnow/testsupport/AlertTestSupport.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using test::Parse;
using FakeOwner = test::CFakeCommandLineOwner<ICommandLineOwner>;


TEST(CommandLine, SwitchesInAnyCaseValuesKeepTheirCase) {
  FakeOwner owner;
  CRunFlags flags = Parse("/dir=/tmp/Temp /scan", owner);
  EXPECT_THAT(owner.directories, ElementsAre("/tmp/Temp"));
  EXPECT_EQ(flags.scan, 1);
  EXPECT_EQ(flags.automated, 1);
  EXPECT_EQ(owner.autoSave, 0);

  FakeOwner mixed;
  flags = Parse("/Dir=/home/Ann/Mixed /ScAn /sAvE /print=file=/tmp/Report.TXT", mixed);
  EXPECT_THAT(mixed.directories, ElementsAre("/home/Ann/Mixed"));
  EXPECT_EQ(flags.save, 1);
  EXPECT_EQ(flags.print, 1);
  EXPECT_EQ(mixed.printDestination, 2);
  EXPECT_EQ(mixed.printFilePath, "/tmp/Report.TXT");
  EXPECT_EQ(mixed.autoSave, 1);
}

TEST(CommandLine, WhichRunsAreAutomated) {
  {
    FakeOwner owner;  // a directory and a save, but nothing to scan or print: the window opens
    CRunFlags flags = Parse("/DIR=/ /SAVE", owner);
    EXPECT_EQ(flags.automated, 0);
    EXPECT_EQ(flags.save, 1);
    EXPECT_THAT(owner.directories, ElementsAre("/"));
  }
  {
    FakeOwner owner;  // a free-space check needs no directory and no scan
    CRunFlags flags = Parse("/FREEALERT=10240", owner);
    EXPECT_EQ(flags.automated, 1);
    EXPECT_EQ(flags.freeAlert, 1);
    EXPECT_EQ(flags.scan, 0);
    EXPECT_EQ(owner.fields.freeMinimum, 10485760);
  }
  {
    FakeOwner owner;  // a scan without a directory is not automated
    EXPECT_EQ(Parse("/SCAN /SAVE", owner).automated, 0);
  }
  {
    FakeOwner owner;  // printing a given directory is
    CRunFlags flags = Parse("/DIR=/srv /PRINT=lpt1", owner);
    EXPECT_EQ(flags.automated, 1);
    EXPECT_EQ(owner.printDestination, 1);
  }
  {
    FakeOwner owner;  // an empty /DIR= names no directory
    CRunFlags flags = Parse("/DIR= /SCAN", owner);
    EXPECT_EQ(flags.automated, 0);
    EXPECT_THAT(owner.directories, IsEmpty());
  }
}

TEST(CommandLine, NotifyTakesTheRestOfTheLineOnlyAfterAnAlert) {
  FakeOwner owner;
  CRunFlags flags = Parse("/DIR=/d /ALERTPERCENT=10 /NOTIFY=NET SEND  ADMIN $MSG$ /SCAN", owner);
  EXPECT_EQ(owner.fields.notifyCommand, "NET SEND  ADMIN $MSG$ /SCAN");
  EXPECT_EQ(owner.fields.percentThreshold, 10);
  EXPECT_EQ(flags.alertPercent, 1);
  EXPECT_EQ(flags.scan, 1);
  EXPECT_EQ(flags.automated, 1);

  FakeOwner refused;
  flags = Parse("/NOTIFY=X /DIR=/d /ALERTSIZE=100", refused);
  EXPECT_EQ(refused.fields.notifyCommand, "");
  EXPECT_EQ(refused.fields.sizeThreshold, 102400);
  EXPECT_EQ(flags.alertSize, 1);
  EXPECT_EQ(flags.automated, 1);
  EXPECT_THAT(refused.directories, ElementsAre("/d"));
}

TEST(CommandLine, NotifyKeepsTheQuotingOfItsArguments) {
  FakeOwner owner;
  const std::string line =
      JoinCommandLine({"/DIR=/d", "/ALERTSIZE=1", "/NOTIFY=notify-send", "Disk alert", "$MSG$"});
  Parse(line, owner);
  EXPECT_EQ(owner.fields.notifyCommand, "notify-send \"Disk alert\" $MSG$");
  std::vector<std::string> arguments;
  for (const CCommandToken& token : SplitCommandLine(owner.fields.notifyCommand)) arguments.push_back(token.text);
  EXPECT_THAT(arguments, ElementsAre("notify-send", "Disk alert", "$MSG$"));

  FakeOwner whole;  // the command given as one argument
  Parse(JoinCommandLine({"/DIR=/d", "/FREEALERT=1", "/NOTIFY=mail -s \"low\" ann"}), whole);
  EXPECT_EQ(whole.fields.notifyCommand, "mail -s \"low\" ann");
}

TEST(CommandLine, SwitchesMatchOnlyAtTheStartOfAToken) {
  FakeOwner owner;
  CRunFlags flags = Parse("/DIR=/data/SCAN/SAVE x/SCAN -/PRINT=LPT1 /FOO /BAR=1", owner);
  EXPECT_THAT(owner.directories, ElementsAre("/data/SCAN/SAVE"));
  EXPECT_EQ(flags.scan, 0);
  EXPECT_EQ(flags.save, 0);
  EXPECT_EQ(flags.print, 0);
  EXPECT_EQ(flags.automated, 0);
}

TEST(CommandLine, SaveSubdirsAlsoSaves) {
  FakeOwner owner;
  CRunFlags flags = Parse("/DIR=/d /SCAN /SAVESUBDIRS", owner);
  EXPECT_EQ(flags.saveSubdirs, 1);
  EXPECT_EQ(flags.save, 1);
  EXPECT_EQ(owner.autoSave, 1);
}

TEST(CommandLine, DirectoriesWithBlanksAndUtf8) {
  FakeOwner quoted;
  Parse("\"/DIR=/tmp/my files/Ünïcödé dir/\" /SCAN", quoted);
  EXPECT_THAT(quoted.directories, ElementsAre("/tmp/my files/Ünïcödé dir/"));

  FakeOwner fromArgv;  // as the shell hands it over: one argv element
  Parse(JoinCommandLine({"/DIR=/tmp/a  b/\xff\xfe", "/SCAN"}), fromArgv);
  EXPECT_THAT(fromArgv.directories, ElementsAre("/tmp/a  b/\xff\xfe"));

  FakeOwner unquoted;  // without quotes the blank ends the value
  CRunFlags flags = Parse("/DIR=/tmp/a b/ /SCAN", unquoted);
  EXPECT_THAT(unquoted.directories, ElementsAre("/tmp/a"));
  EXPECT_EQ(flags.automated, 1);
}

TEST(CommandLine, NumbersFromLeadingDigitsWithoutOverflow) {
  FakeOwner owner;
  Parse("/ALERTPERCENT=12abc /ALERTSIZE=99999999999999999999 /FREEALERT=x", owner);
  EXPECT_EQ(owner.fields.percentThreshold, 12);
  EXPECT_EQ(owner.fields.sizeThreshold, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(owner.fields.freeMinimum, 0);

  FakeOwner big;
  Parse("/ALERTPERCENT=99999999999 /ALERTSIZE=-5 /FREEALERT=9007199254740993", big);
  EXPECT_EQ(big.fields.percentThreshold, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(big.fields.sizeThreshold, -5120);
  EXPECT_EQ(big.fields.freeMinimum, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(owner.fields.freeMinimum, 0);
}

TEST(CommandLine, ValuesThatCannotBeRightAreErrors) {
  FakeOwner negative;
  CRunFlags flags = Parse("/DIR=/d /ALERTSIZE=-1 /ALERTPERCENT=-0 /FREEALERT=-99999999999999999999", negative);
  EXPECT_THAT(flags.errors, ElementsAre("/ALERTSIZE=-1: a threshold cannot be negative",
                                        "/FREEALERT=-99999999999999999999: a threshold cannot be negative"));
  const std::string folder = ::testing::TempDir();
  const std::string fifo = folder + "/commandline_fifo_" + std::to_string(::getpid());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& value : std::vector<std::string>{"LPT2", "FILE=", "FILE=" + folder, "FILE=" + fifo}) {
    FakeOwner owner;
    flags = Parse("/DIR=/d /SCAN /PRINT=" + value, owner);
    ASSERT_EQ(flags.errors.size(), 1u) << value;
    EXPECT_THAT(flags.errors[0], HasSubstr("/PRINT=" + value + ": ")) << value;
  }
  std::remove(fifo.c_str());
  for (const std::string& value : std::vector<std::string>{"LPT1", "lpt1", "FILE=-", "FILE=" + folder + "/not yet there.txt"}) {
    FakeOwner owner;
    EXPECT_THAT(Parse("/DIR=/d /SCAN /ALERTSIZE=0 /PRINT=" + value, owner).errors, IsEmpty()) << value;
  }
  CRunFlags first;  // the first pass opens the trace log: one that cannot be created is a warning
  ParseCommandLine("/DEBUG=/no/such/folder/trace.txt /SCAN", first, nullptr);
  EXPECT_THAT(first.warnings, ElementsAre(HasSubstr("/DEBUG=/no/such/folder/trace.txt: ")));
  EXPECT_THAT(first.errors, IsEmpty());
}

TEST(CommandLine, GrowthAndFullAlertCountsAreCheckedLikeTheOtherValues) {
  {
    FakeOwner owner;  // both read saved records: automated without a directory or a scan
    CRunFlags flags = Parse("/growth /FULLALERT=30 /NOTIFY=notify $MSG$", owner);
    EXPECT_THAT(flags.errors, IsEmpty());
    EXPECT_EQ(flags.automated, 1);
    EXPECT_EQ(flags.scan, 0);
    EXPECT_EQ(flags.growth, 1);
    EXPECT_EQ(owner.fields.growthLines, 20);
    EXPECT_EQ(flags.fullAlert, 1);
    EXPECT_EQ(owner.fields.fullAlertDays, 30);
    EXPECT_EQ(owner.fields.notifyCommand, "notify $MSG$");  // /FULLALERT= counts as an alert
  }
  {
    FakeOwner owner;
    EXPECT_THAT(Parse("/DIR=/d /SCAN /GROWTH=5", owner).errors, IsEmpty());
    EXPECT_EQ(owner.fields.growthLines, 5);
  }
  for (const std::string bad : {"/GROWTH=0", "/GROWTH=", "/GROWTH=-3", "/GROWTH=1O", "/GROWTHS", "/GROWTH=9999999999",
                                "/FULLALERT", "/FULLALERT=", "/FULLALERT=0", "/FULLALERT=ten", "/FULLALERT=-1"}) {
    FakeOwner owner;
    const CRunFlags flags = Parse(bad, owner);
    EXPECT_THAT(flags.errors, ElementsAre(HasSubstr(bad + ": give the number of "))) << bad;
  }
}

TEST(CommandLine, TreemapAndLargestFilesRunUnattendedWithTheirValuesChecked) {
  {
    FakeOwner owner;  // the picture reads saved records: no scan, no directory needed
    const CRunFlags flags = Parse("/treemap=/tmp/Out.SVG /TreemapSize=640x480", owner);
    EXPECT_THAT(flags.errors, IsEmpty());
    EXPECT_EQ(flags.automated, 1);
    EXPECT_EQ(flags.scan, 0);
    EXPECT_EQ(flags.treemap, 1);
    EXPECT_EQ(owner.fields.treemapFile, "/tmp/Out.SVG");
    EXPECT_EQ(owner.fields.treemapWidth, 640);
    EXPECT_EQ(owner.fields.treemapHeight, 480);
  }
  {
    FakeOwner owner;  // the largest files come from a scan of this run
    const CRunFlags flags = Parse("/DIR=/d /LARGEST=7 /TREEMAP=a.png", owner);
    EXPECT_THAT(flags.errors, IsEmpty());
    EXPECT_EQ(flags.automated, 1);
    EXPECT_EQ(flags.scan, 1);
    EXPECT_EQ(flags.largest, 1);
    EXPECT_EQ(owner.fields.largestLines, 7);
    EXPECT_EQ(owner.fields.treemapWidth, 1200);
    EXPECT_EQ(owner.fields.treemapHeight, 800);
    EXPECT_EQ(Parse("/LARGEST", owner).errors.size(), 0u);
  }
  for (const std::string bad : {"/TREEMAP=", "/TREEMAP=a.jpg", "/TREEMAP=/tmp", "/TREEMAP=/tmp/.png/", "/TREEMAPX",
                                "/TREEMAPSIZE=", "/TREEMAPSIZE=800", "/TREEMAPSIZE=0x10", "/TREEMAPSIZE=100x99999",
                                "/TREEMAPSIZE=12ax40", "/LARGEST=0", "/LARGEST=101", "/LARGEST=x", "/LARGESTS",
                                "/GROWTH /LARGEST"}) {
    FakeOwner owner;
    EXPECT_EQ(Parse(bad, owner).errors.size(), 1u) << bad;
  }
  // A picture file that is a directory (a name with the right ending) is refused too.
  char folder[] = "/tmp/treemap-dir-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string dir = std::string(folder) + "/pic.png";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  FakeOwner owner;
  EXPECT_THAT(Parse("/TREEMAP=" + dir, owner).errors, ElementsAre(HasSubstr("regular file")));
  ::rmdir(dir.c_str());
  ::rmdir(folder);
}

TEST(CommandLine, PrintDestinations) {
  FakeOwner file;
  CRunFlags flags = Parse("/DIR=/d /PRINT=FILE=/tmp/out.txt", file);
  EXPECT_EQ(flags.print, 1);
  EXPECT_EQ(file.printDestination, 2);
  EXPECT_EQ(file.printFilePath, "/tmp/out.txt");

  FakeOwner other;  // neither printer nor file: nothing is printed (and the run is refused)
  flags = Parse("/DIR=/d /PRINT=LPT2", other);
  EXPECT_EQ(flags.print, 0);
  EXPECT_EQ(flags.automated, 0);
  EXPECT_EQ(other.printDestination, 0);
  EXPECT_EQ(flags.errors.size(), 1u);
}

TEST(CommandLine, BlankAndEmptyLinesDoNothing) {
  for (const char* line : {"", "   ", " \t  "}) {
    FakeOwner owner;
    CRunFlags flags = Parse(line, owner);
    EXPECT_EQ(flags.automated + flags.scan + flags.save + flags.print, 0) << '"' << line << '"';
    EXPECT_THAT(owner.directories, IsEmpty());
  }
  FakeOwner padded;
  CRunFlags flags = Parse("   /DIR=/d    /SCAN   ", padded);
  EXPECT_THAT(padded.directories, ElementsAre("/d"));
  EXPECT_EQ(flags.automated, 1);
}

TEST(CommandLine, FirstPassOnlyNotesSaveAndScan) {
  CRunFlags flags;
  ParseCommandLine("/DIR=/d /SCAN /SAVE /FREEALERT=5 /PRINT=LPT1 /ALERTSIZE=3", flags, nullptr);
  EXPECT_EQ(flags.scan, 1);
  EXPECT_EQ(flags.save, 1);
  EXPECT_EQ(flags.freeAlert + flags.print + flags.alertSize + flags.automated, 0);
}

TEST(SplitCommandLine, QuotingRules) {
  auto texts = [](const std::string& line) {
    std::vector<std::string> out;
    for (const CCommandToken& token : SplitCommandLine(line)) out.push_back(token.text);
    return out;
  };
  EXPECT_THAT(texts("a  \"b c\"\td"), ElementsAre("a", "b c", "d"));
  EXPECT_THAT(texts("say \"\"\"hi\"\"\" \"\" x\"y z\""), ElementsAre("say", "\"hi\"", "xy z"));
  EXPECT_THAT(texts("   "), IsEmpty());

  const std::vector<std::string> awkward = {"plain", "two words", "a\"quote", "\"", "\"\"\"", "tab\there",
                                            "new\nline", "Ünï", "\x80\xff"};
  EXPECT_EQ(texts(JoinCommandLine(awkward)), awkward);
}

// The scheduler keeps a tracker command line as one text and starts it through Qt's splitter;
// the tracker joins its argv and splits it again. Both must read every line the same way.
TEST(SplitCommandLine, ReadsLinesAsTheSchedulerDoes) {
  const std::vector<std::string> lines = {
      "/DIR=\"/srv/my data\" /ALERTSIZE=10 /NOTIFY=notify-send \"Disk alert\" $MSG$",
      "a  \"b c\"\td", "say \"\"\"hi\"\"\" \"\" x\"y z\"", "\"unclosed quote", "x\"\"\"\"y",
      JoinCommandLine({"two words", "a\"quote", "\"\"\"", "new\nline", "Ünï"})};
  for (const std::string& line : lines) {
    std::vector<std::string> ours, scheduler;
    for (const CCommandToken& token : SplitCommandLine(line)) ours.push_back(token.text);
    for (const QString& argument : QProcess::splitCommand(QString::fromStdString(line)))
      scheduler.push_back(argument.toStdString());
    EXPECT_EQ(ours, scheduler) << line;
  }
}

// Reads the whole trace file.
std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(CommandLine, TraceLinesOfBothPasses) {
  const std::string trace = ::testing::TempDir() + "cmdline_trace.txt";
  const std::string line = "/DEBUG=" + trace + " /SCAN /dir=/Data /alertpercent=7x /NOTIFY=a b";
  FakeOwner owner;
  Parse(line, owner);
  platform::TraceLog::Close();
  const std::string text = ReadFile(trace);
  // /SCAN after /DEBUG= is traced by both passes.
  std::size_t first = text.find("Automated /SCAN (CommandLine, ");
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_NE(text.find("Automated /SCAN (CommandLine, ", first + 1), std::string::npos) << text;
  EXPECT_THAT(text, HasSubstr("Command Line: " + line + " (CommandLine, "));
  EXPECT_THAT(text, HasSubstr("Automated /DIR=/Data (CommandLine, "));
  EXPECT_THAT(text, HasSubstr("Automated /ALERT%=7x (CommandLine, "));
  EXPECT_THAT(text, HasSubstr("Automated /NOTIFY=a b (CommandLine, "));
  EXPECT_EQ(text.find("NOTIFY was passed"), std::string::npos);
}

}  // namespace
}  // namespace varnow
