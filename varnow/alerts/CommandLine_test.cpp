#include "varnow/alerts/CommandLine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

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
  EXPECT_EQ(mixed.printDestination, PrintDestination::kFile);
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
    EXPECT_EQ(owner.printDestination, PrintDestination::kPrinter);
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
  // Whatever is not a switch is refused by name, for cron to report.
  EXPECT_THAT(flags.errors, ElementsAre("x/SCAN: unknown switch", "-/PRINT=LPT1: unknown switch", "/FOO: unknown switch",
                                        "/BAR=1: unknown switch"));
}

// A typing error must not pass silently: every token is one of the switches, spelt out whole,
// with "=" exactly where the switch takes a value.
TEST(CommandLine, TyposAndUnknownArgumentsAreRefusedByName) {
  for (const std::string bad : {"/SCNA", "--dir=/srv", "-d", "/SCANX", "/SAVEX", "/SCAN=1", "/DIR", "/DIR/srv",
                                "/PRINT", "/NOTIFY", "/ALERTPERCENT", "/SAVESUBDIR", "scan", "/GROWTHS", "/DEBUG"}) {
    FakeOwner owner;
    const CRunFlags flags = Parse("/DIR=/d /SCAN " + bad, owner);
    EXPECT_THAT(flags.errors, ElementsAre(bad + ": unknown switch")) << bad;
  }
  // The first pass says nothing of them: each is told once.
  CRunFlags first;
  ParseCommandLine("/SCNA /SCAN", first, nullptr);
  EXPECT_THAT(first.errors, IsEmpty());
  EXPECT_EQ(first.scan, 1);
  // Empty arguments (an unset shell variable in quotes) are no switch and no error.
  FakeOwner owner;
  EXPECT_THAT(Parse(JoinCommandLine({"/DIR=/d", "", "/SCAN"}), owner).errors, IsEmpty());
}

TEST(CommandLine, NumbersMustBeWholeAndSizesTakeAUnit) {
  const struct {
    const char* line;
    std::int64_t size;  // /ALERTSIZE= or /FREEALERT= in bytes
  } sizes[] = {
      {"/ALERTSIZE=5", 5 * 1024},       {"/ALERTSIZE=5K", 5 * 1024},       {"/ALERTSIZE=5k", 5 * 1024},
      {"/ALERTSIZE=3M", 3LL << 20},     {"/ALERTSIZE=2g", 2LL << 30},      {"/ALERTSIZE=1T", 1LL << 40},
      {"/FREEALERT=10G", 10LL << 30},   {"/FREEALERT=10485760", 10LL << 30}, {"/FREEALERT=0", 0},
  };
  for (const auto& c : sizes) {
    FakeOwner owner;
    const CRunFlags flags = Parse(std::string("/DIR=/d ") + c.line, owner);
    EXPECT_THAT(flags.errors, IsEmpty()) << c.line;
    EXPECT_EQ(flags.alertSize ? owner.fields.sizeThreshold : owner.fields.freeMinimum, c.size) << c.line;
  }
  for (const std::string bad : {"/ALERTPERCENT=10GB", "/ALERTPERCENT=abc", "/ALERTPERCENT=", "/ALERTPERCENT=1.5",
                                "/ALERTPERCENT=99999999999", "/ALERTSIZE=10GB", "/ALERTSIZE=M", "/ALERTSIZE=1 ",
                                "/ALERTSIZE=9999999T", "/FREEALERT=", "/FREEALERT=x", "/FREEALERT=12abc",
                                "/FREEALERT=99999999999999999999"}) {
    FakeOwner owner;
    const CRunFlags flags = Parse(JoinCommandLine({"/DIR=/d", bad}), owner);
    EXPECT_THAT(flags.errors, ElementsAre(HasSubstr(bad + ": not a whole number in range; write digits only ("))) << bad;
  }
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

TEST(CommandLine, NumbersThatDoNotFitAreRefusedNotSaturated) {
  FakeOwner owner;
  CRunFlags flags = Parse("/ALERTPERCENT=2147483647 /ALERTSIZE=9007199254740991 /FREEALERT=9007199254740992", owner);
  EXPECT_EQ(owner.fields.percentThreshold, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(owner.fields.sizeThreshold, 9007199254740991LL * 1024);
  EXPECT_THAT(flags.errors, ElementsAre(HasSubstr("/FREEALERT=9007199254740992: not a whole number in range")));
  EXPECT_EQ(owner.fields.freeMinimum, 0);  // a refused value sets nothing
  EXPECT_EQ(LeadingInt32("15%"), 15);      // the alert dialog's fields are read leniently
}

TEST(CommandLine, ValuesThatCannotBeRightAreErrors) {
  FakeOwner negative;
  CRunFlags flags = Parse("/DIR=/d /ALERTSIZE=-1 /ALERTPERCENT=-0 /FREEALERT=-2M", negative);
  EXPECT_THAT(flags.errors, ElementsAre("/ALERTSIZE=-1: a threshold cannot be negative",
                                        "/FREEALERT=-2M: a threshold cannot be negative"));
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
  // Character devices take a report and end at once; FIFOs and folders do not.
  for (const std::string& value : std::vector<std::string>{"LPT1", "lpt1", "FILE=-", "FILE=" + folder + "/not yet there.txt",
                                                           "FILE=/dev/null", "FILE=/dev/stdout"}) {
    FakeOwner owner;
    EXPECT_THAT(Parse(JoinCommandLine({"/DIR=/d", "/SCAN", "/ALERTSIZE=0", "/PRINT=" + value}), owner).errors, IsEmpty())
        << value;
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
  for (const std::string bad : {"/GROWTH=0", "/GROWTH=", "/GROWTH=-3", "/GROWTH=1O", "/GROWTH=9999999999",
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

TEST(CommandLine, ALineReadOnlyInPartIsRefusedNotRun) {
  // An owner that fails half-way: the run must not go on with what was read before.
  class CFailingOwner : public FakeOwner {
    void SetScanDirectory(const std::string&) override { throw std::runtime_error("no session"); }
  } owner;
  const CRunFlags flags = Parse("/DIR=/tmp /SCAN", owner);
  EXPECT_THAT(flags.errors, ElementsAre("the command line could not be read"));
  FakeOwner healthy;
  EXPECT_THAT(Parse("/DIR=/tmp /SCAN", healthy).errors, IsEmpty());
  EXPECT_THAT(Parse("", healthy).errors, IsEmpty()) << "an empty line is read, not failed";
}

TEST(CommandLine, PrintDestinations) {
  FakeOwner file;
  CRunFlags flags = Parse("/DIR=/d /PRINT=FILE=/tmp/out.txt", file);
  EXPECT_EQ(flags.print, 1);
  EXPECT_EQ(file.printDestination, PrintDestination::kFile);
  EXPECT_EQ(file.printFilePath, "/tmp/out.txt");

  FakeOwner other;  // neither printer nor file: nothing is printed (and the run is refused)
  flags = Parse("/DIR=/d /PRINT=LPT2", other);
  EXPECT_EQ(flags.print, 0);
  EXPECT_EQ(flags.automated, 0);
  EXPECT_FALSE(other.printDestination);
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

  // A command that a program runs keeps its empty arguments; the join writes them as "".
  std::vector<std::string> kept;
  for (const CCommandToken& token : SplitCommandLine("prog \"\" x  \"\"", true)) kept.push_back(token.text);
  EXPECT_THAT(kept, ElementsAre("prog", "", "x", ""));
  EXPECT_EQ(JoinCommandLine({"prog", "", "a b", ""}), "prog \"\" \"a b\" \"\"");
  EXPECT_THAT(texts(JoinCommandLine({"prog", "", "x"})), ElementsAre("prog", "x"));
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
  const std::string line = "/DEBUG=" + trace + " /SCAN /dir=/Data /alertpercent=7 /NOTIFY=a b";
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
  EXPECT_THAT(text, HasSubstr("Automated /ALERT%=7 (CommandLine, "));
  EXPECT_THAT(text, HasSubstr("Automated /NOTIFY=a b (CommandLine, "));
  EXPECT_EQ(text.find("NOTIFY was passed"), std::string::npos);
}

TEST(CommandLine, MetricsExportAndImportSwitches) {
  {
    FakeOwner owner;  // metrics read saved records: no directory and no scan needed
    CRunFlags flags = Parse("/METRICS=/tmp/v.prom /metricsdepth=0", owner);
    EXPECT_THAT(flags.errors, IsEmpty());
    EXPECT_EQ(flags.metrics, 1);
    EXPECT_EQ(flags.automated, 1);
    EXPECT_EQ(owner.fields.metricsFile, "/tmp/v.prom");
    EXPECT_EQ(owner.fields.metricsDepth, 0);
  }
  {
    FakeOwner owner;
    CRunFlags flags = Parse("/DIR=/d /SCAN /SAVESUBDIRS /EXPORT=- /METRICS=-", owner);
    EXPECT_THAT(flags.errors, IsEmpty());
    EXPECT_EQ(owner.fields.exportFile, "-");
    EXPECT_EQ(owner.fields.metricsDepth, 3);
  }
  {
    FakeOwner owner;  // an import names its directory itself
    CRunFlags flags = Parse("/IMPORT=/tmp/old.json /SAVE", owner);
    EXPECT_THAT(flags.errors, IsEmpty());
    EXPECT_EQ(flags.automated, 1);
    EXPECT_EQ(flags.dirGiven, 0);
    EXPECT_EQ(owner.fields.importFile, "/tmp/old.json");
  }
  {
    FakeOwner owner;  // a growth alert scans, and an import takes that scan's place
    EXPECT_THAT(Parse("/DIR=/d /IMPORT=- /ALERTPERCENT=5", owner).errors, IsEmpty());
  }
  const std::string folder = ::testing::TempDir();
  for (const std::string& line :
       std::vector<std::string>{"/DIR=/d /EXPORT=/tmp/t.json", "/DIR=/d /SCAN /IMPORT=/tmp/t.json",
                                "/DIR=/d /SCAN /EXPORT=/tmp/a.json /IMPORT=/tmp/b.json", "/METRICS=",
                                "/METRICS=" + folder, "/DIR=/d /SCAN /EXPORT=" + folder, "/IMPORT=",
                                "/METRICS=- /METRICSDEPTH=-1", "/METRICS=- /METRICSDEPTH=3x", "/METRICS=- /METRICSDEPTH="}) {
    FakeOwner owner;
    EXPECT_THAT(Parse(line, owner).errors, ::testing::Not(IsEmpty())) << line;
  }
}

}  // namespace
}  // namespace varnow
