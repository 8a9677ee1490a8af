// The settings page: its body split into lines, and what each line does. "REG" lines set one of
// the few values the page is allowed to set; "MSG" lines carry numbered messages shown once each.
// The page comes unauthenticated, often over plain HTTP, so every bound here protects the
// settings and the memory of the tracker from whoever answers in the maker's place.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "varnow/update/UpdateOwner.h"

namespace varnow {

// A longer line, or a longer body, ends the check as failed.
inline constexpr std::size_t kMaxInternetLineLength = 64 * 1024;
inline constexpr std::size_t kMaxInternetBodyLength = 1024 * 1024;

// Collects the body as it arrives and hands it out line by line. Carriage returns are dropped
// wherever they occur; a line feed ends a line and is not part of it.
class CInternetLineReader {
 public:
  // The next block of the body. False when the body or the line being collected has grown
  // beyond its bound; the reader is then spent.
  bool Append(std::string_view block);
  // The body has ended: a last line without a line feed becomes readable.
  void Finish();
  // The next whole line; false when none is ready (yet).
  bool ReadInternetLine(std::string& line);

 private:
  std::deque<std::string> m_lines;
  std::string m_partial;
  std::size_t m_bodyLength = 0;
};

// What the page's lines ask for, gathered as they are read and carried out once the whole page
// has come, so that a page of many lines costs one write per value and at most one box.
// "REG<c>Name-Value": Name, compared without regard to case, must be one of LatestMajor,
// LatestMinor, LatestBuild, DaysBetweenChecks, HomePage (an http or https address) and PageName;
// other names are ignored and traced. Value is written as an integer when it is exactly the
// decimal text of one ("75", "-3"; not "075" or "+3"), else as text; of several lines for one
// name the last wins. "MSGnn<c>Text" (nn two digits, <c> no digit): of the messages numbered
// above HighestMsgNum the newest (highest numbered, first of equals) is shown and its number
// becomes the highest. Any other line (markup around these) is ignored. Never throws.
class CSettingsPageLines {
 public:
  void ProcessInternetLineSetting(const std::string& line);
  // Writes the values and shows the message, if any, through owner.
  void Apply(IUpdateOwner& owner);

 private:
  void SetValueFromPage(const std::string& line);
  void NoteMessageFromPage(const std::string& line);

  std::vector<std::pair<std::string, std::string>> m_values;  // name, value; in first-set order
  int m_messageNumber = -1;
  std::string m_message;
};

}  // namespace varnow
