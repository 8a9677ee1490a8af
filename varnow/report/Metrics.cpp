#include "varnow/report/Metrics.h"

#include <algorithm>

#include "varnow/report/FullProjection.h"

namespace varnow {
namespace {

// Length of the valid UTF-8 sequence at text[i], 0 when the bytes there are none.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return length;
}

void AppendMetric(std::string& out, std::string_view name, std::string_view help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += " gauge\n";
}

void AppendSample(std::string& out, std::string_view name, const std::string& path, std::int64_t value) {
  out += name;
  out += "{path=\"";
  out += PrometheusLabelValue(path);
  out += "\"} ";
  out += std::to_string(value);
  out += '\n';
}

}  // namespace

std::string PrometheusLabelValue(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() + 8);
  for (std::size_t i = 0; i < bytes.size();) {
    const char c = bytes[i];
    const std::size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) {
      const auto byte = static_cast<unsigned char>(c);
      out += "\\\\x";  // the text \xNN, its backslash escaped
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
      ++i;
      continue;
    }
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out.append(bytes.substr(i, length));
    i += length;
  }
  return out;
}

CMetricsBuilder::CMetricsBuilder(std::string top, int depth) : m_top(std::move(top)), m_depth(std::max(depth, 0)) {}

void CMetricsBuilder::Add(const CDirData& record) {
  const std::string& path = record.m_currentScanDir;
  if (path.compare(0, m_top.size(), m_top) != 0) return;
  const auto levels = std::count(path.begin() + static_cast<std::ptrdiff_t>(m_top.size()), path.end(), '/');
  if (levels > m_depth) return;
  const CDirInfo* used = record.FindEntry(kTotalUsed);
  if (!used || record.m_times[0] == 0 || used->sizes[0] == kNoSize) return;  // never listed
  Sample sample{path, used->sizes[0], kNoSize, record.m_times[0]};
  if (record.m_times[1] != 0) sample.previous = used->sizes[1];
  m_samples.push_back(std::move(sample));
  if (path != m_top) return;
  if (const CDirInfo* free = record.FindEntry(kTotalFree)) m_free = free->sizes[0];
  const CFullProjection projection = ProjectDiskFull(record);
  if (projection.outlook == CFullProjection::Fills) m_fullAt = projection.fullAt;
}

std::string CMetricsBuilder::Text() const {
  std::string out;
  AppendMetric(out, "varnow_directory_size_bytes", "Space the directory's tree takes at its newest saved scan.");
  for (const Sample& s : m_samples) AppendSample(out, "varnow_directory_size_bytes", s.path, s.size);
  AppendMetric(out, "varnow_directory_previous_size_bytes", "Space the directory's tree took at the saved scan before.");
  for (const Sample& s : m_samples)
    if (s.previous != kNoSize) AppendSample(out, "varnow_directory_previous_size_bytes", s.path, s.previous);
  AppendMetric(out, "varnow_directory_scan_timestamp_seconds", "Time of the directory's newest saved scan.");
  for (const Sample& s : m_samples) AppendSample(out, "varnow_directory_scan_timestamp_seconds", s.path, s.time);
  AppendMetric(out, "varnow_filesystem_avail_bytes", "Free space of the directory's file system at its newest saved scan.");
  if (m_free != kNoSize) AppendSample(out, "varnow_filesystem_avail_bytes", m_top, m_free);
  AppendMetric(out, "varnow_disk_full_timestamp_seconds", "When the directory's disk fills at the rate its free space falls.");
  if (m_fullAt != 0) AppendSample(out, "varnow_disk_full_timestamp_seconds", m_top, m_fullAt);
  return out;
}

}  // namespace varnow
