#include "platform/desktop.h"

#include "platform/asciicase.h"
#include "platform/atomicfile.h"
#include "platform/process.h"
#include "platform/xdgdirs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr char kGroupKey[] = "X-Setup-Group";
constexpr char kOwnerKey[] = "X-Setup-Owner";

struct CMenuCommand {
  std::string name;
  std::vector<std::string> arguments;  // as written, quotes included
};

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Quotes follow the command-line rule (platform/process.h): a lone quote opens or closes a
// quoted run, three in a row stand for one literal quote. QuoteAction tells what a run of n
// quotes does: its literal quotes, and whether it opens or closes.
struct CQuoteRun {
  std::size_t literals;
  bool toggles;
};
CQuoteRun QuoteAction(std::size_t run) { return {run / 3, run % 3 == 1}; }

// An argument as it reads: blanks around it dropped, quotes taken as the rule says.
std::string Unquoted(const std::string& argument) {
  const std::string text = Trimmed(argument);
  std::string value;
  std::size_t run = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] == '"') {
      ++run;
      continue;
    }
    value.append(QuoteAction(run).literals, '"');
    run = 0;
    if (i < text.size()) value += text[i];
  }
  return value;
}

// "[Name(arg,arg,...)][Name]..."; commas and parentheses inside double quotes belong to the
// argument. nullopt when the text does not follow this form.
std::optional<std::vector<CMenuCommand>> ParseCommands(const std::string& text) {
  std::vector<CMenuCommand> commands;
  std::size_t at = 0;
  auto skipBlanks = [&] {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n')) ++at;
  };
  for (skipBlanks(); at < text.size(); skipBlanks()) {
    if (text[at++] != '[') return std::nullopt;
    CMenuCommand command;
    while (at < text.size() && text[at] != '(' && text[at] != ']') command.name += text[at++];
    command.name = Trimmed(command.name);
    if (at < text.size() && text[at] == '(') {
      std::string argument;
      bool quoted = false;
      std::size_t run = 0;  // quotes in a row just read
      for (++at;; ++at) {
        if (at >= text.size()) return std::nullopt;
        const char c = text[at];
        if (c == '"') {
          ++run;
          argument += c;
          continue;
        }
        if (QuoteAction(run).toggles) quoted = !quoted;
        run = 0;
        if (!quoted && (c == ',' || c == ')')) {
          command.arguments.push_back(argument);
          argument.clear();
          if (c == ')') break;
          continue;
        }
        argument += c;
      }
      ++at;
      skipBlanks();
    }
    if (at >= text.size() || text[at++] != ']' || command.name.empty()) return std::nullopt;
    commands.push_back(std::move(command));
  }
  return commands;
}

std::string Argument(const CMenuCommand& command, std::size_t index) {
  return index < command.arguments.size() ? Unquoted(command.arguments[index]) : "";
}

// A file id: ASCII letters and digits in lower case, every run of other bytes one dash.
std::string IdOf(const std::string& name) {
  std::string id;
  for (const char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      id += c;
    } else if (c >= 'A' && c <= 'Z') {
      id += AsciiLower(c);
    } else if (!id.empty() && id.back() != '-') {
      id += '-';
    }
  }
  while (!id.empty() && id.back() == '-') id.pop_back();
  return id.empty() ? "unnamed" : id;
}

// A value of a desktop entry: backslashes and control characters escaped.
std::string EntryValue(const std::string& text) {
  std::string value;
  for (const char c : text) {
    switch (c) {
      case '\\': value += "\\\\"; break;
      case '\n': value += "\\n"; break;
      case '\t': value += "\\t"; break;
      case '\r': value += "\\r"; break;
      default: value += c;
    }
  }
  if (!value.empty() && value.front() == ' ') value = "\\s" + value.substr(1);
  return value;
}

}  // namespace

// One argument of Exec, quoted when it holds a character the launcher would interpret.
static std::string ExecArgument(const std::string& argument) {
  std::string text;
  for (const char c : argument) text += c == '%' ? std::string("%%") : std::string(1, c);
  if (!text.empty() && text.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string QuoteMenuArgument(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string DesktopExecValue(const std::vector<std::string>& arguments) {
  std::string exec;
  for (const std::string& argument : arguments) exec += (exec.empty() ? "" : " ") + ExecArgument(argument);
  return EntryValue(exec);
}

namespace {

std::string XmlText(const std::string& text) {
  std::string xml;
  for (const char c : text) {
    switch (c) {
      case '&': xml += "&amp;"; break;
      case '<': xml += "&lt;"; break;
      case '>': xml += "&gt;"; break;
      case '"': xml += "&quot;"; break;
      default: xml += c;
    }
  }
  return xml;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// An icon file beside the program with the program's name, else a theme icon for its kind.
std::string IconFor(const std::string& target, bool program) {
  if (program) {
    for (const char* extension : {".svg", ".png"})
      if (::access((target + extension).c_str(), R_OK) == 0) return target + extension;
    return "application-x-executable";
  }
  return EndsWithIgnoringCase(target, ".htm") || EndsWithIgnoringCase(target, ".html") ? "text-html" : "text-x-generic";
}

std::string CategoryOf(const std::string& group) { return "X-" + IdOf(group); }

bool WriteEntryFile(const std::string& path, const std::string& text) {
  return MakeFolders(fs::path(path).parent_path().string(), 0755) && WriteFileAtomically(path, text, 0644);
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

// A value of a desktop entry as it reads, its escapes taken back.
std::string EntryText(const std::string& value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      text += value[i];
      continue;
    }
    switch (const char c = value[++i]) {
      case 's': text += ' '; break;
      case 'n': text += '\n'; break;
      case 't': text += '\t'; break;
      case 'r': text += '\r'; break;
      default: text += c;
    }
  }
  return text;
}

// The owner stamp of an entry file's text as written (escaped); nullopt when it has none.
std::optional<std::string> OwnerIn(const std::string& text) {
  const std::string key = std::string("\n") + kOwnerKey + "=";
  const std::size_t at = text.find(key);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t start = at + key.size();
  return text.substr(start, text.find('\n', start) - start);
}

}  // namespace

CDesktopMenu::CDesktopMenu() : CDesktopMenu(ConfigHome(), DataHome()) {}

CDesktopMenu::CDesktopMenu(std::string configHome, std::string dataHome)
    : m_configHome(std::move(configHome)), m_dataHome(std::move(dataHome)) {}

std::string CDesktopMenu::MenuFilePath(const std::string& group) const {
  return m_configHome + "/menus/applications-merged/" + IdOf(group) + ".menu";
}

std::string CDesktopMenu::DirectoryFilePath(const std::string& group) const {
  return m_dataHome + "/desktop-directories/" + IdOf(group) + ".directory";
}

std::string CDesktopMenu::ItemFilePath(const std::string& group, const std::string& title) const {
  return m_dataHome + "/applications/" + IdOf(group) + "-" + IdOf(title) + ".desktop";
}

bool CDesktopMenu::Execute(const std::string& commands) {
  const auto parsed = ParseCommands(commands);
  if (!parsed) return false;
  for (const CMenuCommand& command : *parsed) {
    const std::string& name = command.name;
    bool applied = false;
    if (EqualsIgnoringCase(name, "CreateGroup")) {
      applied = CreateGroup(Argument(command, 0));
    } else if (EqualsIgnoringCase(name, "ShowGroup")) {
      applied = ShowGroup(Argument(command, 0));
    } else if (EqualsIgnoringCase(name, "ReplaceItem")) {
      applied = ReplaceItem(Argument(command, 0));
    } else if (EqualsIgnoringCase(name, "AddItem")) {
      applied = !command.arguments.empty() &&
                AddItem(Trimmed(command.arguments[0]), Argument(command, 1), Argument(command, 2), Argument(command, 6));
    } else if (EqualsIgnoringCase(name, "DeleteGroup")) {
      applied = DeleteGroup(Argument(command, 0));
    }
    if (!applied) return false;
  }
  return true;
}

bool CDesktopMenu::CreateGroup(const std::string& group) {
  if (group.empty()) return false;
  const std::string menu =
      "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/menu-spec/1.0/menu.dtd\">\n"
      "<Menu>\n"
      "  <Name>Applications</Name>\n"
      "  <Menu>\n"
      "    <Name>" + XmlText(group) + "</Name>\n"
      "    <Directory>" + IdOf(group) + ".directory</Directory>\n"
      "    <Include>\n"
      "      <Category>" + CategoryOf(group) + "</Category>\n"
      "    </Include>\n"
      "  </Menu>\n"
      "</Menu>\n";
  const std::string directory =
      "[Desktop Entry]\n"
      "Type=Directory\n"
      "Name=" + EntryValue(group) + "\n"
      "Icon=folder\n" + OwnerLine();
  if (!WriteEntryFile(DirectoryFilePath(group), directory) || !WriteEntryFile(MenuFilePath(group), menu)) return false;
  m_currentGroup = group;
  return true;
}

bool CDesktopMenu::ShowGroup(const std::string& group) {
  if (::access(MenuFilePath(group).c_str(), F_OK) != 0) return false;
  m_currentGroup = group;
  return true;
}

bool CDesktopMenu::ReplaceItem(const std::string& title) {
  if (m_currentGroup.empty() || title.empty()) return false;
  const std::string path = ItemFilePath(m_currentGroup, title);
  return !OwnedByOther(path) && RemoveFile(path);
}

bool CDesktopMenu::AddItem(const std::string& commandLine, std::string title, const std::string& iconPath,
                           const std::string& workDir) {
  std::vector<std::string> words;
  for (const CCommandToken& token : SplitCommandLine(commandLine)) words.push_back(token.text);
  if (m_currentGroup.empty() || words.empty()) return false;
  const std::string& target = words[0];
  if (title.empty()) title = fs::path(target).filename().string();
  const bool program = IsExecutableFile(target);

  const std::string path = ItemFilePath(m_currentGroup, title);
  if (OwnedByOther(path)) return false;
  const std::vector<std::string> exec = program ? words : std::vector<std::string>{"xdg-open", target};
  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Version=1.0\n"
      "Name=" + EntryValue(title) + "\n"
      "Exec=" + DesktopExecValue(exec) + "\n";
  if (!workDir.empty()) entry += "Path=" + EntryValue(workDir) + "\n";
  entry += "Icon=" + EntryValue(iconPath.empty() ? IconFor(target, program) : iconPath) + "\n";
  entry += "Terminal=false\n";
  entry += "Categories=" + EntryValue(m_itemCategories) + CategoryOf(m_currentGroup) + ";\n";
  entry += std::string(kGroupKey) + "=" + EntryValue(m_currentGroup) + "\n";
  entry += OwnerLine();
  return WriteEntryFile(path, entry);
}

bool CDesktopMenu::DeleteGroup(const std::string& group) {
  if (group.empty()) return false;
  // Only entries that name this group as theirs go, whatever their file names, and of those
  // only the ones the owner made.
  const std::string prefix = IdOf(group) + "-";
  const std::string mark = std::string("\n") + kGroupKey + "=" + EntryValue(group) + "\n";
  std::error_code error;
  bool removed = true;
  for (const auto& file : fs::directory_iterator(m_dataHome + "/applications", error)) {
    const std::string name = file.path().filename().string();
    if (name.rfind(prefix, 0) != 0 || !EndsWithIgnoringCase(name, ".desktop")) continue;
    const auto text = ReadWholeFile(file.path().string(), 1 << 20);
    if (text && text->find(mark) != std::string::npos && !OwnedByOther(file.path().string()))
      removed = RemoveFile(file.path().string()) && removed;
  }
  if (!OwnedByOther(DirectoryFilePath(group))) {
    removed = RemoveFile(MenuFilePath(group)) && removed;
    removed = RemoveFile(DirectoryFilePath(group)) && removed;
  }
  if (m_currentGroup == group) m_currentGroup.clear();
  return removed;
}

std::optional<std::string> CDesktopMenu::GroupOwner(const std::string& group) const {
  const auto text = ReadWholeFile(DirectoryFilePath(group), 1 << 20);
  if (!text) return std::nullopt;
  return EntryText(OwnerIn(*text).value_or(""));
}

bool CDesktopMenu::OwnedByOther(const std::string& path) const {
  if (m_owner.empty()) return false;
  const auto text = ReadWholeFile(path, 1 << 20);
  if (!text) return false;
  const auto owner = OwnerIn(*text);
  return owner && *owner != EntryValue(m_owner);
}

std::string CDesktopMenu::OwnerLine() const {
  return m_owner.empty() ? std::string() : std::string(kOwnerKey) + "=" + EntryValue(m_owner) + "\n";
}

}  // namespace platform
