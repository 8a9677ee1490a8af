// The saved figures of a directory tree in the Prometheus text exposition format, for
// node_exporter's textfile collector: each directory's total at its newest and previous saved
// scan and that scan's time, and for the top its disk's free space and the projected date the
// disk fills. Pure computation on saved records (see IScanStore::ReadTree).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "varnow/scan/DirData.h"

namespace varnow {

inline constexpr int kDefaultMetricsDepth = 3;

class CMetricsBuilder {
 public:
  // top ends in "/"; directories more than depth levels below it are left out.
  CMetricsBuilder(std::string top, int depth);

  // Takes the saved record of top or of a directory below it; parents before children keeps
  // the file in tree order.
  void Add(const CDirData& record);
  // The whole exposition, every metric with its HELP and TYPE lines.
  std::string Text() const;

 private:
  struct Sample {
    std::string path;
    std::int64_t size = kNoSize;
    std::int64_t previous = kNoSize;
    std::int32_t time = 0;
  };
  std::string m_top;
  int m_depth;
  std::vector<Sample> m_samples;
  std::int64_t m_free = kNoSize;
  std::int64_t m_fullAt = 0;  // 0: no projected date
};

// A label value as the format writes it between its quotes: backslash, double quote and line
// feed escaped, and each byte that is not part of valid UTF-8 as the text \xNN, so the file
// always parses.
std::string PrometheusLabelValue(std::string_view bytes);

}  // namespace varnow
