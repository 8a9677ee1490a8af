#include "platform/profile.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/asciicase.h"
#include "platform/atomicfile.h"

namespace platform {
namespace {

bool SameName(std::string_view a, std::string_view b) { return EqualsIgnoringCase(a, b); }

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\r";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// One line of the file as read, and what it is.
struct Line {
  enum Kind { Other, Section, Entry } kind = Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // entry value, trimmed, quotes kept
};

Line Classify(std::string_view raw) {
  std::string_view text = Trim(raw);
  Line line;
  if (text.empty() || text[0] == ';') return line;
  if (text[0] == '[') {
    size_t close = text.find(']');
    line.kind = Line::Section;
    line.name = Trim(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return line;
  }
  size_t equals = text.find('=');
  line.kind = Line::Entry;
  line.name = Trim(text.substr(0, equals));
  if (equals != std::string_view::npos) line.value = Trim(text.substr(equals + 1));
  return line;
}

// The file split into lines (without their terminators), remembering its line break style.
struct IniText {
  std::vector<std::string> lines;
  std::string newline = "\n";

  static IniText From(const std::string& text) {
    IniText ini;
    if (text.find("\r\n") != std::string::npos) ini.newline = "\r\n";
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ini.lines.push_back(std::move(line));
      start = end + 1;
    }
    return ini;
  }

  std::string Join() const {
    std::string out;
    for (const std::string& line : lines) out += line + newline;
    return out;
  }

  // [first, last) lines of the first section named so, after its header; nullopt when absent.
  std::optional<std::pair<size_t, size_t>> FindSection(std::string_view section, size_t from = 0) const {
    for (size_t i = from; i < lines.size(); ++i) {
      Line line = Classify(lines[i]);
      if (line.kind != Line::Section || !SameName(line.name, section)) continue;
      size_t end = i + 1;
      while (end < lines.size() && Classify(lines[end]).kind != Line::Section) ++end;
      return std::make_pair(i + 1, end);
    }
    return std::nullopt;
  }

  std::optional<size_t> FindKey(std::pair<size_t, size_t> range, std::string_view key) const {
    for (size_t i = range.first; i < range.second; ++i) {
      Line line = Classify(lines[i]);
      if (line.kind == Line::Entry && SameName(line.name, key)) return i;
    }
    return std::nullopt;
  }
};

std::optional<IniText> ReadIni(const std::string& file) {
  std::optional<std::string> text = ReadWholeFile(file);
  if (!text) return std::nullopt;
  return IniText::From(*text);
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

bool Storable(std::string_view section, std::optional<std::string_view> key, std::optional<std::string_view> value) {
  auto hasBreak = [](std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; };
  if (hasBreak(section) || section.find(']') != std::string_view::npos) return false;
  if (key) {
    std::string_view name = Trim(*key);
    if (hasBreak(*key) || key->find('=') != std::string_view::npos) return false;
    if (!name.empty() && (name[0] == '[' || name[0] == ';')) return false;
  }
  return !(value && hasBreak(*value));
}

bool DeleteSection(IniText& ini, std::string_view section) {
  bool removed = false;
  while (auto range = ini.FindSection(section)) {
    ini.lines.erase(ini.lines.begin() + static_cast<std::ptrdiff_t>(range->first - 1),
                    ini.lines.begin() + static_cast<std::ptrdiff_t>(range->second));
    removed = true;
  }
  return removed;
}

bool DeleteKey(IniText& ini, std::string_view section, std::string_view key) {
  auto range = ini.FindSection(section);
  if (!range) return false;
  bool removed = false;
  while (auto index = ini.FindKey(*range, key)) {
    ini.lines.erase(ini.lines.begin() + static_cast<std::ptrdiff_t>(*index));
    --range->second;
    removed = true;
  }
  return removed;
}

void SetKey(IniText& ini, std::string_view section, std::string_view key, std::string_view value) {
  std::string entry(Trim(key));
  entry.append("=").append(value);
  auto range = ini.FindSection(section);
  if (!range) {
    if (!ini.lines.empty() && !Trim(ini.lines.back()).empty()) ini.lines.emplace_back();
    ini.lines.push_back(std::string("[").append(Trim(section)).append("]"));
    ini.lines.push_back(std::move(entry));
    return;
  }
  if (auto index = ini.FindKey(*range, key)) {
    std::string_view existing = Trim(ini.lines[*index]);
    std::string replaced(Trim(existing.substr(0, existing.find('='))));
    ini.lines[*index] = replaced.append("=").append(value);
    return;
  }
  size_t insert = range->second;  // after the section's last line that is not blank
  while (insert > range->first && Trim(ini.lines[insert - 1]).empty()) --insert;
  ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(insert), std::move(entry));
}

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& file) {
  section = Trim(section);
  key = Trim(key);
  std::optional<IniText> ini = ReadIni(file);
  if (!ini) return std::string(defaultValue);
  auto range = ini->FindSection(section);
  std::optional<size_t> index = range ? ini->FindKey(*range, key) : std::nullopt;
  if (!index) return std::string(defaultValue);
  return std::string(StripQuotes(Classify(ini->lines[*index]).value));
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue, const std::string& file) {
  std::string text = GetPrivateProfileString(section, key, "", file);
  if (text.empty()) return defaultValue;
  const char* start = text.c_str();
  bool negative = *start == '-';
  if (*start == '-' || *start == '+') ++start;
  int base = 10;
  if (start[0] == '0' && (start[1] == 'x' || start[1] == 'X')) {
    base = 16;
    start += 2;
  }
  unsigned long long magnitude = std::strtoull(start, nullptr, base);
  if (!std::isxdigit(static_cast<unsigned char>(*start))) magnitude = 0;  // no digits, or a sign strtoull took
  unsigned value = static_cast<unsigned>(magnitude);                      // wraps like the 32-bit reader
  return static_cast<int>(negative ? 0u - value : value);
}

std::vector<std::string> GetPrivateProfileKeys(std::string_view section, const std::string& file) {
  std::vector<std::string> keys;
  section = Trim(section);
  std::optional<IniText> ini = ReadIni(file);
  auto range = ini ? ini->FindSection(section) : std::nullopt;
  if (!range) return keys;
  for (size_t i = range->first; i < range->second; ++i) {
    Line line = Classify(ini->lines[i]);
    if (line.kind != Line::Entry) continue;
    if (std::none_of(keys.begin(), keys.end(), [&](const std::string& known) { return SameName(known, line.name); }))
      keys.emplace_back(line.name);
  }
  return keys;
}

std::vector<std::string> GetPrivateProfileSectionNames(const std::string& file) {
  std::vector<std::string> names;
  std::optional<IniText> ini = ReadIni(file);
  if (!ini) return names;
  for (const std::string& text : ini->lines) {
    Line line = Classify(text);
    if (line.kind != Line::Section) continue;
    if (std::none_of(names.begin(), names.end(), [&](const std::string& known) { return SameName(known, line.name); }))
      names.emplace_back(line.name);
  }
  return names;
}

bool WritePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value, const std::string& file) {
  if (!Storable(section, key, value)) return false;
  section = Trim(section);
  if (key) key = Trim(*key);
  std::optional<IniText> ini = ReadIni(file);
  if (!ini) {
    if (::access(file.c_str(), F_OK) == 0) return false;  // there, but unreadable: never clobber it
    ini.emplace();
  }
  if (!key || !value) {
    bool removed = key ? DeleteKey(*ini, section, *key) : DeleteSection(*ini, section);
    return !removed || WriteFileAtomically(file, ini->Join(), 0644);
  }
  SetKey(*ini, section, *key, *value);
  return WriteFileAtomically(file, ini->Join(), 0644);
}

namespace {
std::string LowerName(std::string_view name) { return ToAsciiLower(name); }
std::string ValueKey(std::string_view section, std::string_view key) {
  return LowerName(Trim(section)) + '\n' + LowerName(Trim(key));
}
}  // namespace

CProfileSnapshot CProfileSnapshot::Read(const std::string& file) {
  CProfileSnapshot snapshot;
  std::optional<IniText> ini = ReadIni(file);
  if (!ini) return snapshot;
  snapshot.m_readable = true;
  std::string current;  // empty: before the first section, or in a later copy of one
  for (const std::string& text : ini->lines) {
    const Line line = Classify(text);
    if (line.kind == Line::Section) {
      // Only the first section of a name counts, as for the single lookups.
      const bool first = snapshot.m_sections.insert(LowerName(line.name)).second;
      current = first ? LowerName(line.name) + '\n' : std::string();
    } else if (line.kind == Line::Entry && !current.empty()) {
      snapshot.m_values.emplace(current + LowerName(line.name), std::string(StripQuotes(line.value)));
    }
  }
  return snapshot;
}

bool CProfileSnapshot::HasSection(std::string_view section) const {
  return m_sections.count(LowerName(Trim(section))) != 0;
}

std::optional<std::string> CProfileSnapshot::Value(std::string_view section, std::string_view key) const {
  const auto found = m_values.find(ValueKey(section, key));
  if (found == m_values.end()) return std::nullopt;
  return found->second;
}

std::string CProfileSnapshot::Value(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  return Value(section, key).value_or(std::string(defaultValue));
}

}  // namespace platform
