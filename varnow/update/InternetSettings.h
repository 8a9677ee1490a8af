// The settings page: its body split into lines, and what each line does. "REG" lines set one of
// the few values the page is allowed to set; "MSG" lines carry numbered messages shown once each.
// The page comes unauthenticated, often over plain HTTP, so every bound here protects the
// settings and the memory of the tracker from whoever answers in the maker's place.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

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

// One line of the page. "REG<c>Name-Value": Name, compared without regard to case, must be one
// of LatestMajor, LatestMinor, LatestBuild, DaysBetweenChecks, HomePage (an http or https
// address) and PageName; other names are ignored and traced. Value is written as an integer
// when it is exactly the decimal text of one ("75", "-3"; not "075" or "+3"), else as text.
// "MSGnn<c>Text": when nn (two digits) is above HighestMsgNum, owner shows Text and nn becomes
// the highest. Any other line (markup around these) is ignored. Never throws.
void ProcessInternetLineSetting(const std::string& line, IUpdateOwner& owner);

}  // namespace varnow
