#include "varnow/exchange/NcduReader.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <vector>

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include "platform/asciicase.h"

namespace varnow {
namespace {

// Every file's space together stays below this, so no sum the scan makes of them can overflow.
constexpr std::uint64_t kMaxSpace = std::uint64_t{1} << 62;

// The document's bytes as the parser takes them (a RapidJSON input stream), read in blocks. A
// string or number longer than the limit ends the input there, so the parser stops at a
// truncated document instead of holding the token whole. Names are bytes: ncdu writes a name
// that is not valid UTF-8 byte for byte, and the parser hands such bytes on unchanged.
class CBoundedStream {
 public:
  using Ch = char;

  CBoundedStream(std::FILE* in, std::size_t maxToken) : m_in(in), m_maxToken(maxToken), m_buffer(kBlock + 1) {
    Fill();
  }
  Ch Peek() const { return *m_current; }
  Ch Take() {
    const Ch c = *m_current;
    if (m_current < m_last) ++m_current;
    else Fill();
    return c;
  }
  std::size_t Tell() const { return m_count + static_cast<std::size_t>(m_current - m_buffer.data()); }
  // Not an output stream; the parser never writes to its input without the in-place flag.
  void Put(Ch) {}
  void Flush() {}
  Ch* PutBegin() { return nullptr; }
  std::size_t PutEnd(Ch*) { return 0; }

  // At the end of what was read, not at a zero byte the parser takes for the end.
  bool AtEnd() const { return m_stopped && m_current == m_last; }
  bool TokenTooLong() const { return m_tooLong; }
  bool ReadFailed() const { return m_readFailed; }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 16;

  void Fill() {
    if (m_stopped) return;
    char* const buffer = m_buffer.data();
    m_count += m_length;
    const std::size_t length = std::fread(buffer, 1, kBlock, m_in);
    if (length < kBlock && std::ferror(m_in)) m_readFailed = true;
    const std::size_t kept = Bound(buffer, length);
    m_tooLong = kept < length;
    m_length = kept;
    m_current = buffer;
    if (length == kBlock && !m_tooLong) {
      m_last = buffer + length - 1;
      return;
    }
    // The end (or the cut): a zero byte after the last one, which the parser takes for the end.
    buffer[kept] = '\0';
    m_last = buffer + kept;
    m_stopped = true;
  }
  // How many bytes of the block keep every string and number within the limit; carries the
  // state of the text from block to block.
  std::size_t Bound(const char* block, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
      const char c = block[i];
      if (m_inString) {
        if (!m_escape) {
          // The bulk of a document: the plain bytes of a name.
          std::size_t plain = i;
          while (plain < length && block[plain] != '"' && block[plain] != '\\') ++plain;
          if (m_run + (plain - i) > m_maxToken) return i + (m_maxToken - m_run);
          m_run += plain - i;
          i = plain;
          if (i == length) break;
          if (block[i] == '"') {
            m_inString = false;
            continue;
          }
          m_escape = true;
        } else {
          m_escape = false;
        }
      } else if (c == '"') {
        m_inString = true;
        m_run = 0;
        continue;
      } else if (c == '[' || c == ']' || c == '{' || c == '}' || c == ',' || c == ':' || c == ' ' || c == '\n' ||
                 c == '\r' || c == '\t') {
        m_run = 0;
        continue;
      }
      if (++m_run > m_maxToken) return i;
    }
    return length;
  }

  std::FILE* m_in;
  const std::size_t m_maxToken;
  std::vector<char> m_buffer;
  char* m_current = nullptr;
  char* m_last = nullptr;
  std::size_t m_count = 0;  // bytes of the blocks before this one
  std::size_t m_length = 0;
  std::size_t m_run = 0;
  bool m_inString = false;
  bool m_escape = false;
  bool m_tooLong = false;
  bool m_stopped = false;
  bool m_readFailed = false;
};

// The room the parser decodes a string in (RapidJSON's allocator concept). RapidJSON's own
// allocator hands a failed allocation on as room to write to; this one throws, as new does.
struct CParserAllocator {
  [[maybe_unused]] static constexpr bool kNeedFree = true;
  void* Malloc(std::size_t size) { return size ? Checked(std::malloc(size)) : nullptr; }
  void* Realloc(void* block, std::size_t, std::size_t size) {
    if (size == 0) {
      std::free(block);
      return nullptr;
    }
    return Checked(std::realloc(block, size));
  }
  static void Free(void* block) { std::free(block); }

 private:
  static void* Checked(void* block) {
    if (!block) throw std::bad_alloc();
    return block;
  }
};

// One value of the document that is no object or array.
struct Scalar {
  enum Kind { Null, Bool, Unsigned, Negative, Float, String } kind = Null;
  bool boolean = false;
  std::uint64_t number = 0;
  std::string_view text;
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

  // Ready for the next entry; the names keep their room.
  void Reset() {
    name.clear();
    excluded.clear();
    hasName = hasDev = hasIno = hlnkc = readError = false;
    asize = dsize = dev = ino = nlink = 0;
  }
};

// Builds the listing from the parser's events. The document is [major, minor, {metadata},
// tree], a directory is [{its fields}, item, ...], an item is a file's {fields} or a directory.
class CExportHandler {
 public:
  CExportHandler(const CNcduImportTarget& target, CNcduTree& out, const CNcduImportLimits& limits)
      : m_target(target), m_out(out), m_limits(limits) {}

  // The parser's events (RapidJSON's handler concept).
  bool Null() { return OnScalar({}); }
  bool Bool(bool value) { return OnScalar({Scalar::Bool, value, 0, {}}); }
  bool Int(int value) { return Signed(value); }
  bool Int64(std::int64_t value) { return Signed(value); }
  bool Uint(unsigned value) { return Unsigned(value); }
  bool Uint64(std::uint64_t value) { return Unsigned(value); }
  bool Double(double) { return OnScalar({Scalar::Float, false, 0, {}}); }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return OnScalar({Scalar::Float, false, 0, {}}); }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    return OnScalar({Scalar::String, false, 0, std::string_view(text, length)});
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    m_key.assign(text, length);
    m_field = KeyOf(m_key);
    return true;
  }
  bool StartObject();
  bool EndObject(rapidjson::SizeType);
  bool StartArray();
  bool EndArray(rapidjson::SizeType);

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

  // The parser gives non-negative integers as unsigned ones, and -0 as a signed one.
  bool Signed(std::int64_t value) {
    return OnScalar({value < 0 ? Scalar::Negative : Scalar::Unsigned, false, static_cast<std::uint64_t>(value), {}});
  }
  bool Unsigned(std::uint64_t value) { return OnScalar({Scalar::Unsigned, false, value, {}}); }
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
  enum class FieldKey { Other, Name, Asize, Dsize, Dev, Ino, Nlink, Hlnkc, ReadError, Excluded, Notreg, Timestamp };
  // Called for every key of the document: its length picks the few candidates.
  static FieldKey KeyOf(std::string_view key) {
    const auto is = [key](std::string_view name) { return std::memcmp(key.data(), name.data(), name.size()) == 0; };
    switch (key.size()) {
      case 3:
        return is("dev") ? FieldKey::Dev : is("ino") ? FieldKey::Ino : FieldKey::Other;
      case 4:
        return is("name") ? FieldKey::Name : FieldKey::Other;
      case 5:
        return is("asize")   ? FieldKey::Asize
               : is("dsize") ? FieldKey::Dsize
               : is("nlink") ? FieldKey::Nlink
               : is("hlnkc") ? FieldKey::Hlnkc
                             : FieldKey::Other;
      case 6:
        return is("notreg") ? FieldKey::Notreg : FieldKey::Other;
      case 8:
        return is("excluded") ? FieldKey::Excluded : FieldKey::Other;
      case 9:
        return is("timestamp") ? FieldKey::Timestamp : FieldKey::Other;
      case 10:
        return is("read_error") ? FieldKey::ReadError : FieldKey::Other;
      default:
        return FieldKey::Other;
    }
  }
  bool IsKnownField() const { return m_field != FieldKey::Other && m_field != FieldKey::Timestamp; }

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
  FieldKey m_field = FieldKey::Other;
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
      if (m_field != FieldKey::Timestamp) return true;
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
    case FieldKey::Name:
    case FieldKey::Excluded:
      if (value.kind != Scalar::String) return Fail("the field " + QuotedForMessage(key) + " is no string");
      (m_field == FieldKey::Name ? f.name : f.excluded).assign(value.text);
      f.hasName = f.hasName || m_field == FieldKey::Name;
      return true;
    case FieldKey::Hlnkc:
    case FieldKey::ReadError:
    case FieldKey::Notreg:
      if (value.kind != Scalar::Bool) return Fail("the field " + QuotedForMessage(key) + " is no true or false");
      if (m_field == FieldKey::Hlnkc) f.hlnkc = value.boolean;
      if (m_field == FieldKey::ReadError) f.readError = value.boolean;
      return true;
    case FieldKey::Asize:
    case FieldKey::Dsize:
    case FieldKey::Dev:
    case FieldKey::Ino:
    case FieldKey::Nlink:
      break;
    case FieldKey::Other:
    case FieldKey::Timestamp:
      return true;
  }
  if (value.kind != Scalar::Unsigned)
    return Fail("the field " + QuotedForMessage(key) + " of " + QuotedForMessage(f.name) + " is no whole number of 0 or more");
  if ((m_field == FieldKey::Asize || m_field == FieldKey::Dsize) && value.number > kMaxSpace)
    return Fail("the size of " + QuotedForMessage(f.name) + " is larger than any file can be");
  if (m_field == FieldKey::Asize) f.asize = value.number;
  if (m_field == FieldKey::Dsize) f.dsize = value.number;
  if (m_field == FieldKey::Dev) f.dev = value.number, f.hasDev = true;
  if (m_field == FieldKey::Ino) f.ino = value.number, f.hasIno = true;
  if (m_field == FieldKey::Nlink) f.nlink = value.number;
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

bool CExportHandler::StartObject() {
  if (m_frames.empty()) return Fail("not an ncdu export: the document is no array");
  switch (m_frames.back()) {
    case Frame::Outer:
      return OuterValue(nullptr, Frame::Meta);
    case Frame::Directory:
      m_fields.Reset();
      m_key.clear();
      m_field = FieldKey::Other;
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

bool CExportHandler::EndObject(rapidjson::SizeType) {
  const Frame frame = m_frames.back();
  m_frames.pop_back();
  if (frame == Frame::Info) return OpenDirectoryOf(m_fields);
  if (frame == Frame::Item) return AddItem(m_fields);
  return true;
}

bool CExportHandler::StartArray() {
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

bool CExportHandler::EndArray(rapidjson::SizeType) {
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
    dir.node->Extras().linkedFiles.push_back({static_cast<dev_t>(device), static_cast<ino_t>(fields.ino), space});
  } else {
    dir.node->filesSize += space;
  }
  return true;
}

// The parser's message as a clause of ours.
std::string ParserMessage(rapidjson::ParseErrorCode code) {
  std::string text = rapidjson::GetParseError_En(code);
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (!text.empty()) text[0] = platform::AsciiLower(text[0]);
  return text;
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
  CBoundedStream input(in, limits.maxToken);
  CExportHandler handler(target, out, limits);
  rapidjson::ParseResult parsed;
  try {
    // Iterative: the parser does not recurse, and the handler bounds the depth.
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, CParserAllocator> reader;
    parsed = reader.Parse<rapidjson::kParseIterativeFlag>(input, handler);
  } catch (const std::exception& ex) {
    error = std::string("the export cannot be read: ") + ex.what();  // out of memory, say
    return false;
  }
  if (input.ReadFailed()) {
    error = "the file cannot be read";
  } else if (input.TokenTooLong()) {
    error = "the file holds a string or number longer than " + std::to_string(limits.maxToken) + " bytes";
  } else if (parsed.Code() == rapidjson::kParseErrorTermination && !handler.Error().empty()) {
    error = handler.Error();
  } else if (parsed.IsError()) {
    error = "the file is damaged or incomplete at byte " + std::to_string(parsed.Offset()) + ": " +
            ParserMessage(parsed.Code());
  } else if (!input.AtEnd()) {
    error = "the file is damaged at byte " + std::to_string(input.Tell()) + ": a zero byte";
  } else if (!handler.Complete()) {
    error = !handler.Error().empty() ? handler.Error()
            : !handler.HaveTimestamp() ? "the export does not tell when it was made (no timestamp)"
                                       : "the file is no complete ncdu export";
  } else {
    return true;
  }
  return false;
}

}  // namespace varnow
