#include "varnow/exchange/NcduReader.h"

#include <iterator>
#include <limits>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace varnow {
namespace {

using Json = nlohmann::json;

// Every file's space together stays below this, so no sum the scan makes of them can overflow.
constexpr std::uint64_t kMaxSpace = std::uint64_t{1} << 62;

// The document's bytes, read in blocks, as the parser is to see them:
// - A string or number longer than the limit ends the input there: the parser then stops at a
//   truncated document instead of buffering it whole.
// - Names are bytes, and ncdu writes a name that is not valid UTF-8 byte for byte. Inside a
//   string, each byte that is not part of valid UTF-8 is handed on as the code point
//   U+10FF00 + byte (private use), which the handler turns back into the byte; the text of a genuine
//   code point of that range would be taken for a byte, so such a string ends the input.
class CBoundedInput {
 public:
  CBoundedInput(std::FILE* in, std::size_t maxToken) : m_in(in), m_maxToken(maxToken), m_buffer(1 << 16) {
    Produce();
  }
  bool AtEnd() const { return m_outPos == m_outLen; }
  const char& Current() const { return m_out[m_outPos]; }
  void Advance() {
    if (++m_outPos == m_outLen) Produce();
  }
  bool TokenTooLong() const { return m_tooLong; }
  bool ReservedCodePoint() const { return m_reserved; }
  bool ReadFailed() const { return m_readFailed; }

 private:
  int RawByte() {
    if (m_pos == m_end) {
      m_pos = 0;
      m_end = std::fread(m_buffer.data(), 1, m_buffer.size(), m_in);
      if (m_end == 0) {
        if (std::ferror(m_in)) m_readFailed = true;
        return EOF;
      }
    }
    return static_cast<unsigned char>(m_buffer[m_pos++]);
  }
  // Fills the output with what the next raw bytes make (in blocks: the parser takes one byte
  // at a time).
  void Produce() {
    m_outPos = m_outLen = 0;
    while (m_outLen < kOutBlock && !m_stopped) {
      // Plain ASCII inside a string, the bulk of a document, goes straight through.
      if (m_pos < m_end && m_inString && m_need == 0 && !m_escape) {
        const auto b = static_cast<unsigned char>(m_buffer[m_pos]);
        if (b >= 0x20 && b < 0x80 && b != '"' && b != '\\') {
          ++m_pos;
          Emit(b);
          continue;
        }
      }
      const int c = RawByte();
      if (c == EOF) {
        EmitHeldAsBytes();
        m_stopped = true;
      } else {
        Feed(static_cast<unsigned char>(c));
      }
    }
  }
  void Emit(unsigned char byte) {
    if (++m_run > m_maxToken) {
      m_tooLong = m_stopped = true;
      m_outLen = 0;
      return;
    }
    m_out[m_outLen++] = static_cast<char>(byte);
  }
  void EmitByteCodePoint(unsigned char byte) {
    // U+10FF00 + byte in UTF-8.
    Emit(0xF4);
    Emit(0x8F);
    Emit(static_cast<unsigned char>(0xBC | (byte >> 6)));
    Emit(static_cast<unsigned char>(0x80 | (byte & 0x3F)));
  }
  void EmitHeldAsBytes() {
    for (int i = 0; i < m_held; ++i) EmitByteCodePoint(m_heldBytes[i]);
    m_held = m_need = 0;
  }
  void Feed(unsigned char b) {
    if (!m_inString) {
      if (b == '"') {
        m_inString = true;
        m_run = 0;
      } else if (b == '[' || b == ']' || b == '{' || b == '}' || b == ',' || b == ':' || b == ' ' || b == '\n' ||
                 b == '\r' || b == '\t') {
        m_run = 0;
        m_out[m_outLen++] = static_cast<char>(b);
        return;
      }
      Emit(b);
      return;
    }
    if (m_need > 0) {
      if (b >= m_low && b <= m_high) {
        m_heldBytes[m_held++] = b;
        m_low = 0x80, m_high = 0xBF;
        if (--m_need == 0) EmitHeldSequence();
        return;
      }
      EmitHeldAsBytes();  // cut short: the bytes so far are no character; b starts afresh
    }
    if (m_escape) {
      m_escape = false;
      Emit(b);
    } else if (b == '\\') {
      m_escape = true;
      Emit(b);
    } else if (b == '"') {
      m_inString = false;
      m_out[m_outLen++] = static_cast<char>(b);
    } else if (b < 0x80) {
      Emit(b);
    } else if (!StartSequence(b)) {
      EmitByteCodePoint(b);
    }
  }
  // A lead byte of UTF-8: held with the range of the byte that must follow it.
  bool StartSequence(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) m_need = 1, m_low = 0x80, m_high = 0xBF;
    else if (lead == 0xE0) m_need = 2, m_low = 0xA0, m_high = 0xBF;
    else if (lead == 0xED) m_need = 2, m_low = 0x80, m_high = 0x9F;
    else if (lead >= 0xE1 && lead <= 0xEF) m_need = 2, m_low = 0x80, m_high = 0xBF;
    else if (lead == 0xF0) m_need = 3, m_low = 0x90, m_high = 0xBF;
    else if (lead >= 0xF1 && lead <= 0xF3) m_need = 3, m_low = 0x80, m_high = 0xBF;
    else if (lead == 0xF4) m_need = 3, m_low = 0x80, m_high = 0x8F;
    else return false;
    m_heldBytes[0] = lead;
    m_held = 1;
    return true;
  }
  void EmitHeldSequence() {
    if (m_held == 4 && m_heldBytes[0] == 0xF4 && m_heldBytes[1] == 0x8F && m_heldBytes[2] >= 0xBC) {
      m_reserved = m_stopped = true;  // a genuine U+10FF00..U+10FFFF
      m_held = 0;
      m_outLen = 0;
      return;
    }
    for (int i = 0; i < m_held; ++i) Emit(m_heldBytes[i]);
    m_held = 0;
  }

  std::FILE* m_in;
  const std::size_t m_maxToken;
  std::vector<char> m_buffer;
  std::size_t m_pos = 0;
  std::size_t m_end = 0;
  // Room for a block and what one raw byte can add to it (three held bytes and itself, each
  // as four).
  static constexpr int kOutBlock = 4096;
  char m_out[kOutBlock + 16];
  int m_outPos = 0;
  int m_outLen = 0;
  unsigned char m_heldBytes[4] = {};
  int m_held = 0;
  int m_need = 0;
  unsigned char m_low = 0x80;
  unsigned char m_high = 0xBF;
  std::size_t m_run = 0;
  bool m_inString = false;
  bool m_escape = false;
  bool m_tooLong = false;
  bool m_reserved = false;
  bool m_stopped = false;
  bool m_readFailed = false;
};

// Turns the code points that stand for bytes (see CBoundedInput) back into the bytes.
void RestoreBytes(std::string& text) {
  if (text.find('\xF4') == std::string::npos) return;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    if (at(i) == 0xF4 && i + 3 < text.size() && at(i + 1) == 0x8F && at(i + 2) >= 0xBC) {
      out += static_cast<char>(((at(i + 2) & 3) << 6) | (at(i + 3) & 0x3F));
      i += 3;
    } else {
      out += text[i];
    }
  }
  text = std::move(out);
}

class CInputIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CInputIterator() = default;
  explicit CInputIterator(CBoundedInput* input) : m_input(input) {}
  reference operator*() const { return m_input->Current(); }
  CInputIterator& operator++() {
    m_input->Advance();
    return *this;
  }
  CInputIterator operator++(int) {
    CInputIterator before = *this;
    m_input->Advance();
    return before;
  }
  bool operator==(const CInputIterator& other) const { return Done() == other.Done(); }

 private:
  bool Done() const { return !m_input || m_input->AtEnd(); }
  CBoundedInput* m_input = nullptr;
};

// One value of the document that is no object or array.
struct Scalar {
  enum Kind { Null, Bool, Unsigned, Negative, Float, String } kind = Null;
  bool boolean = false;
  std::uint64_t number = 0;
  const std::string* text = nullptr;
};

// What an export says about one file or directory.
struct Fields {
  std::string name;
  bool hasName = false;
  std::uint64_t asize = 0;
  std::uint64_t dsize = 0;
  std::uint64_t dev = 0;
  bool hasDev = false;
  std::uint64_t ino = 0;
  bool hasIno = false;
  std::uint64_t nlink = 0;
  bool hlnkc = false;
  bool readError = false;
  std::string excluded;
};

// Builds the listing from the parser's events. The document is [major, minor, {metadata},
// tree], a directory is [{its fields}, item, ...], an item is a file's {fields} or a directory.
class CExportHandler : public nlohmann::json_sax<Json> {
 public:
  CExportHandler(const CNcduImportTarget& target, CNcduTree& out, const CNcduImportLimits& limits)
      : m_target(target), m_out(out), m_limits(limits) {}

  bool null() override { return OnScalar({}); }
  bool boolean(bool value) override { return OnScalar({Scalar::Bool, value, 0, nullptr}); }
  bool number_integer(number_integer_t value) override {
    // The parser gives non-negative integers as unsigned ones.
    return OnScalar({value < 0 ? Scalar::Negative : Scalar::Unsigned, false, static_cast<std::uint64_t>(value), nullptr});
  }
  bool number_unsigned(number_unsigned_t value) override { return OnScalar({Scalar::Unsigned, false, value, nullptr}); }
  bool number_float(number_float_t, const string_t&) override { return OnScalar({Scalar::Float, false, 0, nullptr}); }
  bool string(string_t& value) override {
    RestoreBytes(value);
    return OnScalar({Scalar::String, false, 0, &value});
  }
  bool binary(binary_t&) override { return Fail("binary data"); }
  bool key(string_t& value) override {
    m_key = std::move(value);
    m_field = KeyOf(m_key);
    return true;
  }
  bool start_object(std::size_t) override;
  bool end_object() override;
  bool start_array(std::size_t) override;
  bool end_array() override;
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override {
    std::string what = ex.what();
    if (const std::size_t end = what.find("] "); what.rfind("[json.", 0) == 0 && end != std::string::npos)
      what.erase(0, end + 2);
    return Fail("the file is damaged or incomplete at byte " + std::to_string(position) + ": " + what);
  }

  const std::string& Error() const { return m_error; }
  bool Complete() const { return m_done && m_haveTimestamp; }
  bool HaveTimestamp() const { return m_haveTimestamp; }

 private:
  enum class Frame { Outer, Meta, Directory, Info, Item, Skip };
  struct OpenDirectory {
    CListedDirectory* node;
    std::uint64_t device;
    bool readError;
    bool hasItems;
  };

  bool Fail(std::string message) {
    if (m_error.empty()) m_error = std::move(message);
    return false;
  }
  bool Push(Frame frame) {
    // Bounds the parser's own record of the nesting too.
    if (m_frames.size() > static_cast<std::size_t>(m_limits.maxDepth) + 8)
      return Fail("the tree is nested more than " + std::to_string(m_limits.maxDepth) + " levels deep");
    m_frames.push_back(frame);
    return true;
  }
  bool InFields() const { return !m_frames.empty() && (m_frames.back() == Frame::Info || m_frames.back() == Frame::Item); }
  enum class Key { Other, Name, Asize, Dsize, Dev, Ino, Nlink, Hlnkc, ReadError, Excluded, Notreg, Timestamp };
  static Key KeyOf(const std::string& key) {
    static const std::pair<std::string_view, Key> kFields[] = {
        {"name", Key::Name},   {"asize", Key::Asize},   {"dsize", Key::Dsize},         {"dev", Key::Dev},
        {"ino", Key::Ino},     {"nlink", Key::Nlink},   {"hlnkc", Key::Hlnkc},         {"read_error", Key::ReadError},
        {"excluded", Key::Excluded}, {"notreg", Key::Notreg}, {"timestamp", Key::Timestamp},
    };
    for (const auto& [name, field] : kFields)
      if (key == name) return field;
    return Key::Other;
  }
  bool IsKnownField() const { return m_field != Key::Other && m_field != Key::Timestamp; }

  bool OnScalar(const Scalar& value);
  bool OuterValue(const Scalar* value, Frame opened);
  bool Field(const Scalar& value);
  bool CheckName(const Fields& fields, bool top);
  bool OpenDirectoryOf(const Fields& fields);
  bool CloseDirectory();
  bool AddItem(const Fields& fields);

  const CNcduImportTarget& m_target;
  CNcduTree& m_out;
  const CNcduImportLimits& m_limits;
  std::vector<Frame> m_frames;
  std::vector<OpenDirectory> m_dirs;
  Fields m_fields;
  std::string m_key;
  Key m_field = Key::Other;
  std::string m_error;
  int m_outerIndex = 0;
  bool m_expectInfo = false;
  bool m_haveRoot = false;
  bool m_haveTimestamp = false;
  bool m_done = false;
  std::uint64_t m_space = 0;
  std::uint64_t m_linkedFiles = 0;
};

bool CExportHandler::OnScalar(const Scalar& value) {
  if (m_frames.empty()) return Fail("not an ncdu export: the document is no array");
  switch (m_frames.back()) {
    case Frame::Outer:
      return OuterValue(&value, Frame::Outer);
    case Frame::Meta:
      if (m_field != Key::Timestamp) return true;
      if (value.kind != Scalar::Unsigned || value.number == 0 ||
          value.number > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return Fail("the export's timestamp is no time this program can keep");
      m_out.timestamp = static_cast<std::int64_t>(value.number);
      m_haveTimestamp = true;
      return true;
    case Frame::Directory:
      return Fail("a directory holds a value that is neither a file nor a directory");
    case Frame::Info:
    case Frame::Item:
      return Field(value);
    case Frame::Skip:
      return true;
  }
  return true;
}

// The elements of the document's outer array: value for a scalar, otherwise the frame an
// object or array opens.
bool CExportHandler::OuterValue(const Scalar* value, Frame opened) {
  const int index = m_outerIndex++;
  if (index == 0) {
    if (!value || value->kind != Scalar::Unsigned || value->number != 1)
      return Fail("not an ncdu export of a version this program reads (major version 1)");
    return true;
  }
  if (index == 1) return value && value->kind == Scalar::Unsigned ? true : Fail("the export's minor version is no number");
  if (index == 2) return opened == Frame::Meta ? Push(Frame::Meta) : Fail("the export has no metadata object");
  if (index == 3) {
    if (opened != Frame::Directory) return Fail("the export's tree is no directory");
    m_expectInfo = true;
    return Push(Frame::Directory);
  }
  return Fail("unexpected value after the export's tree");
}

bool CExportHandler::Field(const Scalar& value) {
  Fields& f = m_fields;
  const std::string& key = m_key;
  switch (m_field) {
    case Key::Name:
    case Key::Excluded:
      if (value.kind != Scalar::String) return Fail("the field " + QuotedForMessage(key) + " is no string");
      (m_field == Key::Name ? f.name : f.excluded) = *value.text;
      f.hasName = f.hasName || m_field == Key::Name;
      return true;
    case Key::Hlnkc:
    case Key::ReadError:
    case Key::Notreg:
      if (value.kind != Scalar::Bool) return Fail("the field " + QuotedForMessage(key) + " is no true or false");
      if (m_field == Key::Hlnkc) f.hlnkc = value.boolean;
      if (m_field == Key::ReadError) f.readError = value.boolean;
      return true;
    case Key::Asize:
    case Key::Dsize:
    case Key::Dev:
    case Key::Ino:
    case Key::Nlink:
      break;
    case Key::Other:
    case Key::Timestamp:
      return true;
  }
  if (value.kind != Scalar::Unsigned)
    return Fail("the field " + QuotedForMessage(key) + " of " + QuotedForMessage(f.name) + " is no whole number of 0 or more");
  if ((m_field == Key::Asize || m_field == Key::Dsize) && value.number > kMaxSpace)
    return Fail("the size of " + QuotedForMessage(f.name) + " is larger than any file can be");
  if (m_field == Key::Asize) f.asize = value.number;
  if (m_field == Key::Dsize) f.dsize = value.number;
  if (m_field == Key::Dev) f.dev = value.number, f.hasDev = true;
  if (m_field == Key::Ino) f.ino = value.number, f.hasIno = true;
  if (m_field == Key::Nlink) f.nlink = value.number;
  return true;
}

bool CExportHandler::CheckName(const Fields& fields, bool top) {
  if (!fields.hasName || fields.name.empty()) return Fail("an entry of the export has no name");
  if (fields.name.find('\0') != std::string::npos)
    return Fail("the name " + QuotedForMessage(fields.name) + " holds a zero byte");
  if (top) return true;
  if (fields.name.find('/') != std::string::npos || fields.name == "." || fields.name == "..")
    return Fail(QuotedForMessage(fields.name) + " is no name of a directory entry");
  return true;
}

bool CExportHandler::start_object(std::size_t) {
  if (m_frames.empty()) return Fail("not an ncdu export: the document is no array");
  switch (m_frames.back()) {
    case Frame::Outer:
      return OuterValue(nullptr, Frame::Meta);
    case Frame::Directory:
      m_fields = Fields{};
      m_key.clear();
      m_field = Key::Other;
      return Push(m_expectInfo ? Frame::Info : Frame::Item);
    case Frame::Meta:
    case Frame::Info:
    case Frame::Item:
      if (InFields() && IsKnownField()) return Fail("the field " + QuotedForMessage(m_key) + " holds an object");
      return Push(Frame::Skip);
    case Frame::Skip:
      return Push(Frame::Skip);
  }
  return true;
}

bool CExportHandler::end_object() {
  const Frame frame = m_frames.back();
  m_frames.pop_back();
  if (frame == Frame::Info) return OpenDirectoryOf(m_fields);
  if (frame == Frame::Item) return AddItem(m_fields);
  return true;
}

bool CExportHandler::start_array(std::size_t) {
  if (m_frames.empty()) return Push(Frame::Outer);
  switch (m_frames.back()) {
    case Frame::Outer:
      return OuterValue(nullptr, Frame::Directory);
    case Frame::Directory:
      if (m_expectInfo) return Fail("a directory does not begin with its fields");
      m_expectInfo = true;
      return Push(Frame::Directory);
    case Frame::Meta:
    case Frame::Info:
    case Frame::Item:
      if (InFields() && IsKnownField()) return Fail("the field " + QuotedForMessage(m_key) + " holds an array");
      return Push(Frame::Skip);
    case Frame::Skip:
      return Push(Frame::Skip);
  }
  return true;
}

bool CExportHandler::end_array() {
  const Frame frame = m_frames.back();
  m_frames.pop_back();
  if (frame == Frame::Directory) return CloseDirectory();
  if (frame == Frame::Outer) {
    if (!m_haveRoot) return Fail("the export holds no tree");
    m_done = true;
  }
  return true;
}

bool CExportHandler::OpenDirectoryOf(const Fields& fields) {
  const bool top = m_dirs.empty();
  if (!CheckName(fields, top)) return false;
  if (static_cast<int>(m_dirs.size()) > m_limits.maxDepth)
    return Fail("the tree is nested more than " + std::to_string(m_limits.maxDepth) + " levels deep");
  if (++m_out.directories > m_limits.maxDirectories)
    return Fail("the export holds more than " + std::to_string(m_limits.maxDirectories) + " directories");
  CListedDirectory* node = &m_out.tree;
  std::uint64_t device = fields.dev;
  if (top) {
    m_out.root = fields.name;
    std::string refusal;
    if (m_target.acceptRoot && !m_target.acceptRoot(m_out.root, refusal)) return Fail(refusal);
  } else {
    OpenDirectory& parent = m_dirs.back();
    parent.hasItems = true;
    parent.node->subdirectories.push_back(fields.name);
    // Only the innermost directory grows, so the nodes of those still open stay where they are.
    node = &parent.node->children.emplace_back();
    if (!fields.hasDev) device = parent.device;
  }
  node->opened = !fields.readError;
  m_dirs.push_back({node, device, fields.readError, false});
  m_expectInfo = false;
  return true;
}

bool CExportHandler::CloseDirectory() {
  if (m_expectInfo) return Fail("a directory does not begin with its fields");
  OpenDirectory& dir = m_dirs.back();
  // A directory read in part still counts what was read of it.
  if (dir.readError && dir.hasItems) dir.node->opened = true;
  m_dirs.pop_back();
  if (m_dirs.empty()) m_haveRoot = true;
  return true;
}

bool CExportHandler::AddItem(const Fields& fields) {
  if (!CheckName(fields, false)) return false;
  OpenDirectory& dir = m_dirs.back();
  dir.hasItems = true;
  if (!fields.excluded.empty()) {
    // Another file system or a kernel one: a directory the scan does not enter. An entry left
    // out by a name pattern may have been a file or a directory, and is not counted.
    if (fields.excluded == "otherfs" || fields.excluded == "kernfs" || fields.excluded == "frmlnk") {
      if (++m_out.directories > m_limits.maxDirectories)
        return Fail("the export holds more than " + std::to_string(m_limits.maxDirectories) + " directories");
      dir.node->subdirectories.push_back(fields.name);
      dir.node->children.emplace_back().skipped = true;
    }
    return true;
  }
  const std::int64_t space = m_target.countFile(fields.asize, fields.dsize);
  if (space < 0 || static_cast<std::uint64_t>(space) > kMaxSpace - m_space)
    return Fail("the files of the export are larger together than any disk can be");
  m_space += static_cast<std::uint64_t>(space);
  ++m_out.files;
  ++dir.node->fileCount;
  if (fields.hasIno && (fields.hlnkc || fields.nlink > 1)) {
    if (++m_linkedFiles > m_limits.maxLinkedFiles)
      return Fail("the export holds more than " + std::to_string(m_limits.maxLinkedFiles) + " files with several links");
    const std::uint64_t device = fields.hasDev ? fields.dev : dir.device;
    dir.node->linkedFiles.push_back({static_cast<dev_t>(device), static_cast<ino_t>(fields.ino), space});
  } else {
    dir.node->filesSize += space;
  }
  return true;
}

}  // namespace

std::string QuotedForMessage(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : text.substr(0, 200)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + (text.size() > 200 ? "...\"" : "\"");
}

bool ReadNcduExport(std::FILE* in, const CNcduImportTarget& target, CNcduTree& out, std::string& error,
                    const CNcduImportLimits& limits) {
  out = CNcduTree{};
  CBoundedInput input(in, limits.maxToken);
  CExportHandler handler(target, out, limits);
  bool parsed = false;
  try {
    parsed = Json::sax_parse(CInputIterator(&input), CInputIterator(), &handler);
  } catch (const std::exception& ex) {
    error = std::string("the export cannot be read: ") + ex.what();  // out of memory, say
    return false;
  }
  if (input.ReadFailed()) {
    error = "the file cannot be read";
  } else if (input.ReservedCodePoint()) {
    error = "the file holds a character of U+10FF00 to U+10FFFF, which this program reads as a byte of a name";
  } else if (input.TokenTooLong()) {
    error = "the file holds a string or number longer than " + std::to_string(limits.maxToken) + " bytes";
  } else if (!parsed || !handler.Complete()) {
    error = !handler.Error().empty() ? handler.Error()
            : !handler.HaveTimestamp() ? "the export does not tell when it was made (no timestamp)"
                                       : "the file is no complete ncdu export";
  } else {
    return true;
  }
  return false;
}

}  // namespace varnow
