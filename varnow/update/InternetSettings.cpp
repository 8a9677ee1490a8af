#include "varnow/update/InternetSettings.h"

#include <QUrl>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

#include "platform/asciicase.h"
#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/settings/Settings.h"

namespace varnow {

namespace {

// The values the page may set, spelt as the settings store spells them.
constexpr std::array kPageSettableValues{setting::kLatestMajor,          setting::kLatestMinor,
                                         setting::kLatestBuild,          setting::kDaysBetweenChecks.name,
                                         setting::kHomePage.name,        setting::kPageName.name};

std::optional<std::string> PageSettableName(const std::string& name) {
  for (const char* allowed : kPageSettableValues)
    if (platform::EqualsIgnoringCase(name, allowed)) return std::string(allowed);
  return std::nullopt;
}

// The integer whose "%d" text is exactly value.
std::optional<int> ExactInteger(const std::string& value) {
  if (value.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(value.c_str(), &end, 10);
  if (errno != 0 || number < INT_MIN || number > INT_MAX) return std::nullopt;
  if (std::to_string(number) != value) return std::nullopt;
  return static_cast<int>(number);
}

// The home page is also the About box's link and the next check's host: only a web address.
bool IsWebAddress(const std::string& text) {
  const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
  return url.isValid() && (url.scheme() == "http" || url.scheme() == "https") && !url.host().isEmpty();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void WriteValueFromPage(const std::string& name, const std::string& value) {
  if (const std::optional<int> number = ExactInteger(value)) {
    WriteProfileInt(kSettingsSection, name, *number);
  } else {
    WriteProfileString(kSettingsSection, name, value);
  }
}

}  // namespace

bool CInternetLineReader::Append(std::string_view block) {
  m_bodyLength += block.size();
  if (m_bodyLength > kMaxInternetBodyLength) return false;
  for (const char c : block) {
    if (c == '\r') continue;
    if (c == '\n') {
      m_lines.push_back(std::move(m_partial));
      m_partial.clear();
      continue;
    }
    if (m_partial.size() == kMaxInternetLineLength) return false;
    m_partial += c;
  }
  return true;
}

void CInternetLineReader::Finish() {
  if (!m_partial.empty()) m_lines.push_back(std::move(m_partial));
  m_partial.clear();
}

bool CInternetLineReader::ReadInternetLine(std::string& line) {
  if (m_lines.empty()) return false;
  line = std::move(m_lines.front());
  m_lines.pop_front();
  return true;
}

void CSettingsPageLines::ProcessInternetLineSetting(const std::string& line) {
  platform::Guarded("ProcessInternetLineSetting", [&] {
    if (line.compare(0, 3, "REG") == 0) {
      SetValueFromPage(line);
    } else if (line.compare(0, 3, "MSG") == 0) {
      NoteMessageFromPage(line);
    }
  });
}

void CSettingsPageLines::SetValueFromPage(const std::string& line) {
  if (line.size() < 4) return;
  const std::string rest = line.substr(4);
  const std::size_t dash = rest.find('-');
  if (dash == std::string::npos) return;
  const std::string requested = rest.substr(0, dash);
  std::string value = rest.substr(dash + 1);
  const std::optional<std::string> name = PageSettableName(requested);
  if (!name) {
    VN_TRACE("Settings page may not set %s; ignored", requested.c_str());
    return;
  }
  if (*name == setting::kHomePage.name && !IsWebAddress(value)) {
    VN_TRACE("Settings page's HomePage is no web address; ignored");
    return;
  }
  const auto same = std::find_if(m_values.begin(), m_values.end(), [&](const auto& v) { return v.first == *name; });
  if (same != m_values.end())
    same->second = std::move(value);
  else
    m_values.emplace_back(*name, std::move(value));
}

void CSettingsPageLines::NoteMessageFromPage(const std::string& line) {
  if (line.size() < 5 || !IsDigit(line[3]) || !IsDigit(line[4])) return;
  // "MSG12345 text" is no message 12 with the text "45 text".
  if (line.size() > 5 && IsDigit(line[5])) return;
  const int number = (line[3] - '0') * 10 + (line[4] - '0');
  if (number <= m_messageNumber) return;
  m_messageNumber = number;
  m_message = line.size() > 6 ? line.substr(6) : std::string();
}

void CSettingsPageLines::Apply(IUpdateOwner& owner) {
  platform::Guarded("ProcessInternetLineSetting", [&] {
    for (const auto& [name, value] : m_values) WriteValueFromPage(name, value);
    if (m_messageNumber < 0) return;
    const auto highest = static_cast<unsigned short>(GetProfileIntEx(setting::kHighestMsgNum));
    if (m_messageNumber <= highest) return;
    // Recorded first: a message is shown at most once, even when its box is still open at the
    // next check.
    WriteProfileInt(kSettingsSection, setting::kHighestMsgNum.name, m_messageNumber);
    owner.ShowUpdateMessage(m_message);
  });
}

}  // namespace varnow
