#include "platform/usage.h"

#include "platform/asciicase.h"

#include <sstream>

namespace platform {
namespace {

constexpr std::size_t kWidth = 79;
constexpr std::size_t kTermIndent = 2;
constexpr std::size_t kTextColumn = 24;

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// `text` filled into lines of at most kWidth columns: the first line continues `lead` (already
// written by the caller, `leadWidth` columns wide), the others start with `indent` blanks.
std::string Fill(const std::string& text, std::size_t leadWidth, std::size_t indent) {
  std::string out;
  std::size_t column = leadWidth;
  bool lineEmpty = true;
  for (const std::string& word : Words(text)) {
    if (!lineEmpty && column + 1 + word.size() > kWidth) {
      out += '\n';
      out.append(indent, ' ');
      column = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    lineEmpty = false;
  }
  return out + '\n';
}

std::string Items(const std::string& heading, const std::vector<CUsageItem>& items) {
  if (items.empty()) return {};
  std::string out = "\n" + heading + ":\n";
  for (const CUsageItem& item : items) {
    std::string line(kTermIndent, ' ');
    line += item.term;
    if (line.size() + 2 > kTextColumn) {
      out += line + '\n';
      line.assign(kTextColumn, ' ');
    } else {
      line.resize(kTextColumn, ' ');
    }
    out += line + Fill(item.text, kTextColumn, kTextColumn);
  }
  return out;
}

// Text as roff reads it literally: backslashes and hyphens escaped, and no line that starts
// with a control character.
std::string Roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (const char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

std::string ManItems(const std::string& heading, const std::vector<CUsageItem>& items) {
  if (items.empty()) return {};
  std::string out = ".SH " + heading + "\n";
  for (const CUsageItem& item : items) out += ".TP\n\\fB" + Roff(item.term) + "\\fR\n" + Roff(item.text) + "\n";
  return out;
}

// A synopsis form: the command's name in bold, the rest as written.
std::string ManSynopsis(const std::string& program, const std::string& form) {
  if (form.compare(0, program.size(), program) != 0) return Roff(form);
  return "\\fB" + Roff(program) + "\\fR" + Roff(form.substr(program.size()));
}

}  // namespace

std::string HelpText(const CUsage& usage) {
  std::string out;
  const std::string lead = "Usage: ";
  for (std::size_t i = 0; i < usage.synopsis.size(); ++i) {
    const std::string& form = usage.synopsis[i];
    const std::size_t indent = lead.size() + usage.program.size() + 1;
    out += i == 0 ? lead : std::string(lead.size(), ' ');
    out += Fill(form, lead.size(), indent);
  }
  for (const std::string& paragraph : usage.description) out += '\n' + Fill(paragraph, 0, 0);
  out += Items("Switches", usage.options);
  out += Items("Exit status", usage.exitStatus);
  if (!usage.examples.empty()) {
    out += "\nExamples:\n";
    for (const std::string& example : usage.examples) out += "  " + example + '\n';
  }
  return out;
}

std::string ManPage(const CUsage& usage, const std::string& date, const std::string& source) {
  std::string out = ".TH " + ToAsciiUpper(usage.program) + " 1 " + date + " \"" + Roff(source) +
                    "\" \"User Commands\"\n";
  out += ".nh\n";  // paths and switches read badly when hyphenated
  out += ".SH NAME\n" + Roff(usage.program) + " \\- " + Roff(usage.summary) + "\n";
  out += ".SH SYNOPSIS\n";
  for (std::size_t i = 0; i < usage.synopsis.size(); ++i)
    out += (i == 0 ? "" : ".br\n") + ManSynopsis(usage.program, usage.synopsis[i]) + "\n";
  out += ".SH DESCRIPTION\n";
  for (std::size_t i = 0; i < usage.description.size(); ++i)
    out += (i == 0 ? "" : ".PP\n") + Roff(usage.description[i]) + "\n";
  out += ManItems("OPTIONS", usage.options);
  out += ManItems("EXIT STATUS", usage.exitStatus);
  out += ManItems("ENVIRONMENT", usage.environment);
  out += ManItems("FILES", usage.files);
  if (!usage.examples.empty()) {
    out += ".SH EXAMPLES\n.nf\n";
    for (const std::string& example : usage.examples) out += Roff(example) + "\n";
    out += ".fi\n";
  }
  if (!usage.seeAlso.empty()) {
    out += ".SH SEE ALSO\n";
    for (std::size_t i = 0; i < usage.seeAlso.size(); ++i) {
      const std::string& page = usage.seeAlso[i];
      const std::size_t paren = page.find('(');
      out += "\\fB" + Roff(page.substr(0, paren)) + "\\fR" + (paren == std::string::npos ? "" : page.substr(paren)) +
             (i + 1 < usage.seeAlso.size() ? ",\n" : "\n");
    }
  }
  return out;
}

}  // namespace platform
