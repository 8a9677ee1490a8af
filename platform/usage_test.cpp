#include "platform/usage.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using platform::CUsage;

CUsage Sample() {
  return CUsage{
      .program = "tool",
      .summary = "does one thing",
      .synopsis = {"tool [/A=value] [/B] [/CCCCCCCCCCCCCCCCCCCC=x] [/DDDDDDDDDDDDDDDDDDDDDDDDDDDD] "
                   "[/EEEEEEEEEEEEEEEEE] [/F]",
                   "tool --help"},
      .description = {"A paragraph long enough to need more than one line when it is filled into the "
                      "eighty columns of a terminal, with a word-with-hyphens and C:\\path.",
                      ".starts with a dot", "'starts with a quote"},
      .options = {{"/A=value", "short"},
                  {"/A-very-long-switch=with-value", "its text goes below the switch, since the "
                                                     "switch is too wide for the column"}},
      .exitStatus = {{"0", "fine"}},
      .environment = {{"TOOL_HOME", "where it lives"}},
      .files = {{"~/.tool", "its settings"}},
      .examples = {"tool /A=1 -x"},
      .seeAlso = {"other(1)", "more(5)"},
  };
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(UsageTest, HelpTextFitsEightyColumnsAndKeepsEveryWord) {
  const std::string help = platform::HelpText(Sample());
  for (const std::string& line : Lines(help)) EXPECT_LE(line.size(), 79u) << line;
  EXPECT_EQ(help.rfind("Usage: tool [/A=value]", 0), 0u) << help;
  // The synopsis continues under the first argument; the second form lines up with the first.
  EXPECT_NE(help.find("\n            [/"), std::string::npos) << help;
  EXPECT_NE(help.find("\n       tool --help\n"), std::string::npos) << help;
  EXPECT_NE(help.find("  /A=value              short\n"), std::string::npos) << help;
  EXPECT_NE(help.find("  /A-very-long-switch=with-value\n                        its text"), std::string::npos) << help;
  EXPECT_NE(help.find("Exit status:\n  0                     fine\n"), std::string::npos) << help;
  EXPECT_NE(help.find("  tool /A=1 -x\n"), std::string::npos) << help;
  // The manual page's own sections stay out of --help.
  EXPECT_EQ(help.find("TOOL_HOME"), std::string::npos);
  EXPECT_EQ(help.find("other(1)"), std::string::npos);
}

TEST(UsageTest, ManPageReadsEveryCharacterLiterally) {
  const std::string page = platform::ManPage(Sample(), "2026-12-08", "Tool 1.0");
  EXPECT_EQ(page.rfind(".TH TOOL 1 2026-12-08 \"Tool 1.0\" \"User Commands\"\n", 0), 0u) << page;
  EXPECT_NE(page.find(".SH NAME\ntool \\- does one thing\n"), std::string::npos) << page;
  EXPECT_NE(page.find("word\\-with\\-hyphens and C:\\epath."), std::string::npos) << page;
  // A paragraph that begins like a request is text, not a request.
  EXPECT_NE(page.find("\n\\&.starts with a dot\n"), std::string::npos) << page;
  EXPECT_NE(page.find("\n\\&'starts with a quote\n"), std::string::npos) << page;
  EXPECT_NE(page.find(".SH SYNOPSIS\n\\fBtool\\fR [/A=value]"), std::string::npos) << page;
  EXPECT_NE(page.find(".TP\n\\fB/A\\-very\\-long\\-switch=with\\-value\\fR\n"), std::string::npos) << page;
  for (const char* section : {".SH OPTIONS", ".SH EXIT STATUS", ".SH ENVIRONMENT", ".SH FILES", ".SH EXAMPLES"})
    EXPECT_NE(page.find(section), std::string::npos) << section;
  EXPECT_NE(page.find(".SH SEE ALSO\n\\fBother\\fR(1),\n\\fBmore\\fR(5)\n"), std::string::npos) << page;
}

}  // namespace
