// The texts of the grid's scan-time headings: a long form ("Mar 5, 9:07 PM"), a short one for
// narrow columns ("03-05 21:07", with the year when it is not this year: the long form never
// has it) and a tooltip with the full local date and time. Two scans in the same minute show their seconds, so that their
// headings differ.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

namespace varnow {

struct CHeadingTime {
  std::string longText;
  std::string shortText;
  std::string toolTip;
};

// Empty texts for a time of 0 (no scan). now: tells this year from the others.
std::array<CHeadingTime, 6> HeadingTimes(const std::array<std::int32_t, 6>& times, std::time_t now);

}  // namespace varnow
