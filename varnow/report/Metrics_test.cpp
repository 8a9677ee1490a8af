#include <gtest/gtest.h>

#include "varnow/report/Metrics.h"

namespace varnow {
namespace {

constexpr std::int32_t kDay = 86400;
constexpr std::int32_t kNewest = 1764547200;  // 2025-12-01 00:00 UTC

// A saved record of path with its totals and free space, newest scan first, a day apart.
CDirData Saved(const std::string& path, std::vector<std::int64_t> used, std::vector<std::int64_t> free = {}) {
  CDirData record;
  record.m_currentScanDir = path;
  CDirInfo usedRow{std::string(kTotalUsed)};
  CDirInfo freeRow{std::string(kTotalFree)};
  for (std::size_t i = 0; i < used.size(); ++i) {
    record.m_times[i] = kNewest - static_cast<std::int32_t>(i) * kDay;
    usedRow.sizes[i] = used[i];
    if (i < free.size()) freeRow.sizes[i] = free[i];
  }
  record.m_entries = {usedRow, freeRow};
  return record;
}

TEST(Metrics, LabelValuesAreEscapedAndInvalidBytesWrittenAsText) {
  EXPECT_EQ(PrometheusLabelValue("/srv/data/"), "/srv/data/");
  EXPECT_EQ(PrometheusLabelValue("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
  EXPECT_EQ(PrometheusLabelValue("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
  // A stray continuation byte, a cut sequence, an overlong form and an encoded surrogate.
  EXPECT_EQ(PrometheusLabelValue("\x80x\xc3"), "\\\\x80x\\\\xc3");
  EXPECT_EQ(PrometheusLabelValue("\xc0\xaf"), "\\\\xc0\\\\xaf");
  EXPECT_EQ(PrometheusLabelValue("\xed\xa0\x80"), "\\\\xed\\\\xa0\\\\x80");
}

TEST(Metrics, EachDirectoryDownToTheDepthWithItsTwoNewestScans) {
  CMetricsBuilder metrics("/srv/", 1);
  metrics.Add(Saved("/srv/", {3000, 2000, 1000}, {1000, 1100, 1200}));
  metrics.Add(Saved("/srv/a/", {1500}));
  metrics.Add(Saved("/srv/a/deeper/", {700, 600}));  // below the depth
  metrics.Add(Saved("/elsewhere/", {1}));
  const std::string text = metrics.Text();
  EXPECT_NE(text.find("# TYPE varnow_directory_size_bytes gauge\n"
                      "varnow_directory_size_bytes{path=\"/srv/\"} 3000\n"
                      "varnow_directory_size_bytes{path=\"/srv/a/\"} 1500\n"
                      "# HELP"),
            std::string::npos)
      << text;
  // /srv/a/ has no scan before its newest one.
  EXPECT_NE(text.find("# TYPE varnow_directory_previous_size_bytes gauge\n"
                      "varnow_directory_previous_size_bytes{path=\"/srv/\"} 2000\n# HELP"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("varnow_directory_scan_timestamp_seconds{path=\"/srv/a/\"} 1764547200\n"), std::string::npos);
  EXPECT_NE(text.find("varnow_filesystem_avail_bytes{path=\"/srv/\"} 1000\n"), std::string::npos);
  // Free space falls by 100 bytes a day: zero in 10 days.
  EXPECT_NE(text.find("varnow_disk_full_timestamp_seconds{path=\"/srv/\"} " + std::to_string(kNewest + 10 * kDay) + "\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("deeper"), std::string::npos);
  EXPECT_EQ(text.find("elsewhere"), std::string::npos);
}

TEST(Metrics, NoProjectionAndNoScanNoSample) {
  CMetricsBuilder metrics("/srv/", 3);
  metrics.Add(Saved("/srv/", {10, 10}, {500, 400}));  // free space grows: no date
  CDirData never;
  never.m_currentScanDir = "/srv/never/";
  metrics.Add(never);
  const std::string text = metrics.Text();
  EXPECT_EQ(text.find("varnow_disk_full_timestamp_seconds{"), std::string::npos);
  EXPECT_NE(text.find("# TYPE varnow_disk_full_timestamp_seconds gauge"), std::string::npos);
  EXPECT_EQ(text.find("never"), std::string::npos);
}

}  // namespace
}  // namespace varnow
