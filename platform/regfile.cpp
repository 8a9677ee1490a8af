#include "platform/regfile.h"

#include "platform/asciicase.h"
#include "platform/bytes.h"

#include <algorithm>
#include <cstdio>

namespace platform {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr size_t kWrapColumn = 78;  // binary data wraps as the registry editor does

std::string FoldCase(std::string_view text) { return ToAsciiLower(text); }

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\r";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string_view ParentOf(std::string_view path) {
  size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view LastComponent(std::string_view path) {
  size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// ---- reading ----

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// A quoted text starting at text[pos] == '"'; pos ends after the closing quote.
std::optional<std::string> ReadQuoted(std::string_view text, size_t& pos) {
  std::string out;
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return out;
    }
    if (c == '\\' && pos + 1 < text.size()) {
      c = text[++pos];
      out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == '0' ? '\0' : c;
    } else {
      out += c;
    }
  }
  return std::nullopt;  // no closing quote
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiLower(c);
  return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

std::optional<std::uint32_t> ReadDword(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::optional<std::vector<std::uint8_t>> ReadBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view token = Trim(text.substr(start, comma - start));
    if (!token.empty()) {
      if (token.size() > 2) return std::nullopt;
      int value = 0;
      for (char c : token) {
        int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + digit;
      }
      bytes.push_back(static_cast<std::uint8_t>(value));
    }
    start = comma + 1;
  }
  return bytes;
}

// hex(N) data of the kinds this store has no own type for: strings (1, 2) become String values
// (cut at their terminating zero), a four-byte dword (4) a Dword, anything else Binary.
RegValue FromTypedBytes(int kind, std::vector<std::uint8_t> bytes) {
  RegValue value;
  if (kind == 1 || kind == 2) {
    value.type = RegType::String;
    auto end = std::find(bytes.begin(), bytes.end(), 0);
    value.text.assign(bytes.begin(), end);
  } else if (kind == 4 && bytes.size() == 4) {
    value.type = RegType::Dword;
    value.dword = Get32(bytes.data());
  } else {
    value.type = RegType::Binary;
    value.bytes = std::move(bytes);
  }
  return value;
}

// hex:.. or hex(N):.. data; the bytes continue on following lines while a line ends in "\".
// index is left on the last line consumed.
std::optional<RegValue> ReadHexData(std::string_view data, const std::vector<std::string_view>& lines, size_t& index) {
  int kind = 3;  // plain "hex:" is binary
  size_t colon = data.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  if (colon > 3) {  // "hex(N):"
    std::string_view inner = data.substr(3, colon - 3);
    if (inner.size() < 3 || inner.front() != '(' || inner.back() != ')') return std::nullopt;
    auto number = ReadDword(inner.substr(1, inner.size() - 2));
    if (!number) return std::nullopt;
    kind = static_cast<int>(*number);
  }
  std::string joined(data.substr(colon + 1));
  while (!joined.empty() && joined.back() == '\\' && index + 1 < lines.size()) {
    joined.pop_back();
    joined += Trim(lines[++index]);
  }
  if (!joined.empty() && joined.back() == '\\') joined.pop_back();  // cut off at the end of the file
  auto bytes = ReadBytes(joined);
  if (!bytes) return std::nullopt;
  return FromTypedBytes(kind, std::move(*bytes));
}

// The data after "=": a quoted text, dword:, hex data, or "-" for a deletion (isDelete).
// nullopt when it cannot be read.
std::optional<RegValue> ReadData(std::string_view data, const std::vector<std::string_view>& lines, size_t& index,
                                 bool& isDelete) {
  RegValue value;
  data = Trim(data);
  isDelete = data == "-";
  if (isDelete) return value;
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    auto text = ReadQuoted(data, pos);
    if (!text) return std::nullopt;
    value.text = std::move(*text);
    return value;
  }
  if (StartsWithIgnoringCase(data, "dword:")) {
    auto dword = ReadDword(data.substr(6));
    if (!dword) return std::nullopt;
    value.type = RegType::Dword;
    value.dword = *dword;
    return value;
  }
  if (StartsWithIgnoringCase(data, "hex")) return ReadHexData(data, lines, index);
  return std::nullopt;
}

struct SectionLine {
  std::string path;
  bool remove = false;
};

// "[HIVE\\key]" or "[-HIVE\\key]"; nullopt for sections of other hives and unreadable ones.
std::optional<SectionLine> ReadSectionLine(std::string_view line, std::string_view hiveName) {
  size_t close = line.rfind(']');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view inner = line.substr(1, close - 1);
  SectionLine section;
  section.remove = !inner.empty() && inner[0] == '-';
  if (section.remove) inner.remove_prefix(1);
  if (!StartsWithIgnoringCase(inner, hiveName) || (inner.size() > hiveName.size() && inner[hiveName.size()] != '\\'))
    return std::nullopt;
  std::optional<std::string> path = NormaliseKeyPath(inner.substr(hiveName.size()));
  if (!path) return std::nullopt;
  section.path = std::move(*path);
  return section;
}

struct ValueLine {
  std::string name;
  RegValue value;
  bool isDelete = false;
};

// A line "name"=data or @=data; index moves on over continuation lines.
std::optional<ValueLine> ReadValueLine(std::string_view line, const std::vector<std::string_view>& lines, size_t& index) {
  ValueLine entry;
  size_t pos = 1;
  if (line[0] == '"') {
    pos = 0;
    std::optional<std::string> name = ReadQuoted(line, pos);
    if (!name) return std::nullopt;
    entry.name = std::move(*name);
  } else if (line[0] != '@') {
    return std::nullopt;
  }
  std::string_view rest = Trim(line.substr(pos));
  if (rest.empty() || rest[0] != '=') return std::nullopt;
  std::optional<RegValue> value = ReadData(rest.substr(1), lines, index, entry.isDelete);
  if (!value) return std::nullopt;
  entry.value = std::move(*value);
  return entry;
}

// ---- writing ----

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\0': out += "\\0"; break;
      default: out += c;
    }
  }
  return out + '"';
}

void AppendValue(std::string& out, const std::string& name, const RegValue& value) {
  std::string line = name.empty() ? std::string("@") : Quote(name);
  line += '=';
  switch (value.type) {
    case RegType::String:
      line += Quote(value.text);
      break;
    case RegType::Dword: {
      char digits[16];
      std::snprintf(digits, sizeof digits, "dword:%08x", value.dword);
      line += digits;
      break;
    }
    case RegType::Binary: {
      line += "hex:";
      for (size_t i = 0; i < value.bytes.size(); ++i) {
        char piece[4];
        std::snprintf(piece, sizeof piece, "%02x%s", value.bytes[i], i + 1 < value.bytes.size() ? "," : "");
        if (i > 0 && line.size() + 3 > kWrapColumn) {
          out += line + "\\\n";
          line = "  ";
        }
        line += piece;
      }
      break;
    }
  }
  out += line + '\n';
}

}  // namespace

std::optional<std::string> NormaliseKeyPath(std::string_view path) {
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('\\', start);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view component = path.substr(start, slash - start);
    if (component.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    if (!component.empty()) {
      if (!out.empty()) out += '\\';
      out.append(component);
    }
    start = slash + 1;
  }
  return out;
}

RegDocument RegDocument::Parse(std::string_view text, std::string_view hiveName) {
  RegDocument document;
  const bool header = text.empty() || Trim(text.substr(0, text.find('\n'))) == kHeader;
  document.m_damaged = !document.ApplyText(text, hiveName) || !header;
  return document;
}

bool RegDocument::MentionsHive(std::string_view text, std::string_view hiveName) {
  for (std::string_view line : SplitLines(text)) {
    line = Trim(line);
    if (line.empty() || line[0] != '[') continue;
    line.remove_prefix(line.size() > 1 && line[1] == '-' ? 2 : 1);
    if (StartsWithIgnoringCase(line, hiveName) && line.size() > hiveName.size() &&
        (line[hiveName.size()] == '\\' || line[hiveName.size()] == ']'))
      return true;
  }
  return false;
}

void RegDocument::Apply(std::string_view text, std::string_view hiveName) { ApplyText(text, hiveName); }

bool RegDocument::ApplyText(std::string_view text, std::string_view hiveName) {
  bool whole = true;
  std::vector<std::string_view> lines = SplitLines(text);
  std::string currentPath;
  bool inHive = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = Trim(lines[i]);
    if (line.empty() || line[0] == ';' || (i == 0 && line == kHeader)) continue;
    if (line[0] == '[') {
      std::optional<SectionLine> section = ReadSectionLine(line, hiveName);
      inHive = section && !section->remove;
      if (!section) {
        whole = false;
        continue;
      }
      currentPath = std::move(section->path);
      if (!section->remove)
        CreateKey(currentPath);
      else if (!currentPath.empty())  // the hive's own key is never deleted
        DeleteKey(currentPath);
      continue;
    }
    if (!inHive) {
      whole = false;
      continue;
    }
    std::optional<ValueLine> entry = ReadValueLine(line, lines, i);
    RegKeyRecord* key = entry ? FindKey(currentPath) : nullptr;
    if (!key) {
      whole = false;
      continue;
    }
    if (entry->isDelete)
      DeleteValue(*key, entry->name);
    else
      SetValue(*key, entry->name, std::move(entry->value));
  }
  return whole;
}

std::string RegDocument::Serialize(std::string_view hiveName) const {
  std::string out(kHeader);
  out += "\n\n";
  for (const RegKeyRecord& key : m_keys) {
    out += '[';
    out += hiveName;
    if (!key.path.empty()) out += '\\' + key.path;
    out += "]\n";
    for (const auto& [name, value] : key.values) AppendValue(out, name, value);
    out += '\n';
  }
  return out;
}

RegKeyRecord* RegDocument::FindKey(std::string_view path) {
  const auto found = m_index.find(FoldCase(path));
  return found == m_index.end() ? nullptr : &m_keys[found->second];
}

void RegDocument::RebuildIndex() {
  m_index.clear();
  for (size_t i = 0; i < m_keys.size(); ++i) m_index.emplace(FoldCase(m_keys[i].path), i);
}

const RegKeyRecord* RegDocument::FindKey(std::string_view path) const {
  return const_cast<RegDocument*>(this)->FindKey(path);
}

RegKeyRecord& RegDocument::CreateKey(std::string_view path) {
  if (RegKeyRecord* existing = FindKey(path)) return *existing;
  std::string spelled;
  if (!path.empty() && !ParentOf(path).empty()) {
    spelled = CreateKey(ParentOf(path)).path + '\\';
  }
  spelled.append(LastComponent(path));
  m_index.emplace(FoldCase(spelled), m_keys.size());
  m_keys.push_back(RegKeyRecord{spelled, {}});
  return m_keys.back();
}

bool RegDocument::DeleteKey(std::string_view path) {
  if (path.empty()) {  // the hive's own key: everything goes
    bool hadKeys = !m_keys.empty();
    m_keys.clear();
    m_index.clear();
    return hadKeys;
  }
  if (!FindKey(path)) return false;
  std::erase_if(m_keys, [&](const RegKeyRecord& key) {
    return EqualsIgnoringCase(key.path, path) ||
           (key.path.size() > path.size() && key.path[path.size()] == '\\' &&
            EqualsIgnoringCase(std::string_view(key.path).substr(0, path.size()), path));
  });
  RebuildIndex();
  return true;
}

std::vector<std::string> RegDocument::SubKeys(std::string_view path) const {
  std::vector<std::string> names;
  for (const RegKeyRecord& key : m_keys)
    if (!key.path.empty() && EqualsIgnoringCase(ParentOf(key.path), path))
      names.emplace_back(LastComponent(key.path));
  return names;
}

void RegDocument::SetValue(RegKeyRecord& key, std::string_view name, RegValue value) {
  for (auto& [existingName, existingValue] : key.values)
    if (EqualsIgnoringCase(existingName, name)) {
      existingValue = std::move(value);
      return;
    }
  key.values.emplace_back(std::string(name), std::move(value));
}

bool RegDocument::DeleteValue(RegKeyRecord& key, std::string_view name) {
  return std::erase_if(key.values, [&](const auto& entry) { return EqualsIgnoringCase(entry.first, name); }) > 0;
}

const RegValue* RegDocument::FindValue(const RegKeyRecord& key, std::string_view name) {
  for (const auto& [existingName, value] : key.values)
    if (EqualsIgnoringCase(existingName, name)) return &value;
  return nullptr;
}

}  // namespace platform
