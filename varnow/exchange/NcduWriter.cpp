#include "varnow/exchange/NcduWriter.h"

#include <QIODevice>

#include <charconv>

namespace varnow {
namespace {

constexpr std::size_t kFlushSize = 1 << 16;

// "/srv/data/" is written "/srv/data" for the top and "data" below it, as ncdu names them.
std::string_view DirectoryName(const std::string& path, bool top) {
  std::string_view name(path);
  if (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
  if (top) return name;
  const std::size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
}

CNcduWriter::CNcduWriter(QIODevice& out, std::string_view programVersion, std::int64_t timestamp) : m_out(out) {
  m_buffer.reserve(kFlushSize + 4096);
  m_buffer += R"([1,2,{"progname":"varnow","progver":")";
  AppendJsonString(m_buffer, programVersion);
  m_buffer += '"';
  AppendNumber("timestamp", static_cast<std::uint64_t>(timestamp < 0 ? 0 : timestamp));
  m_buffer += "}";
}

void CNcduWriter::BeginItem() { m_buffer += ",\n"; }

void CNcduWriter::AppendName(std::string_view name) {
  m_buffer += R"({"name":")";
  AppendJsonString(m_buffer, name);
  m_buffer += '"';
}

void CNcduWriter::AppendNumber(std::string_view key, std::uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  m_buffer += ",\"";
  m_buffer += key;
  m_buffer += "\":";
  m_buffer.append(digits, end);
}

void CNcduWriter::OnDirectoryBegin(const std::string& path, bool opened, dev_t device, ino_t inode) {
  const bool top = m_devices.empty();
  if (top && m_rootDone) {
    m_failed = true;  // one tree per document
    return;
  }
  BeginItem();
  m_buffer += '[';
  AppendName(DirectoryName(path, top));
  // The device is written where it changes; readers take a directory's from its parent.
  if (top || (device != 0 && device != m_devices.back())) AppendNumber("dev", device);
  if (inode != 0) AppendNumber("ino", inode);
  if (!opened) m_buffer += ",\"read_error\":true";
  m_buffer += '}';
  m_devices.push_back(device != 0 || top ? device : m_devices.back());
  if (m_buffer.size() >= kFlushSize) Flush();
}

void CNcduWriter::OnFile(const platform::DirEntry& entry, std::int64_t size) {
  if (m_devices.empty()) return;
  BeginItem();
  AppendName(entry.name);
  AppendNumber("asize", entry.length);
  AppendNumber("dsize", static_cast<std::uint64_t>(size < 0 ? 0 : size));
  if (entry.links > 1) {
    // Every link is written in full; readers count a file with the same identity once.
    AppendNumber("ino", entry.inode);
    m_buffer += ",\"hlnkc\":true";
    AppendNumber("nlink", entry.links);
  }
  m_buffer += '}';
  if (m_buffer.size() >= kFlushSize) Flush();
}

void CNcduWriter::OnSkippedDirectory(const std::string& name) {
  if (m_devices.empty()) return;
  BeginItem();
  AppendName(name);
  m_buffer += R"(,"excluded":"kernfs"})";
}

void CNcduWriter::OnDirectoryEnd() {
  if (m_devices.empty()) {
    m_failed = true;
    return;
  }
  m_buffer += ']';
  m_devices.pop_back();
  if (m_devices.empty()) m_rootDone = true;
}

void CNcduWriter::Flush() {
  if (m_buffer.empty() || m_failed) return;
  if (m_out.write(m_buffer.data(), static_cast<qint64>(m_buffer.size())) != static_cast<qint64>(m_buffer.size()))
    m_failed = true;
  m_buffer.clear();
}

bool CNcduWriter::Finish() {
  if (!m_rootDone || !m_devices.empty()) m_failed = true;
  m_buffer += "]\n";
  Flush();
  return !m_failed;
}

}  // namespace varnow
