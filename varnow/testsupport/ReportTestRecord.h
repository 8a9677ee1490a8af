// The directory record the report tests print: summary rows, scans that did not take place,
// names of 32 and 33 characters, a name with a comma and one that is not ASCII, and sizes
// from bytes to gigabytes.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

#include "varnow/scan/DirData.h"

namespace varnow {

inline constexpr const char* kSampleHomePage = "http://www.zentrel.com/varnow/";
inline constexpr std::time_t kSamplePrintTime = 1764590700;  // 2025-12-01 12:05 UTC

// The expected report files (tests run with VARNOW_SOURCE_DIR set by CTest).
inline std::string TestdataDir() {
  const char* source = std::getenv("VARNOW_SOURCE_DIR");
  return std::string(source ? source : ".") + "/varnow/report/testdata";
}

inline CDirData SampleRecord() {
  CDirData record;
  record.m_currentScanDir = "/home/ann/data/";
  record.m_times = {1772744820, 1771057800, 1764590700, 0, 0, 0};
  record.m_total = 6453021747;
  const auto h = [](std::int64_t a, std::int64_t b, std::int64_t c) { return SizeHistory{a, b, c, -1, -1, -1}; };
  record.m_entries = {
      {"src", h(1234567, 1000000, 900000)},
      {"Zeta", h(5368709120, 4294967296, 4294967296)},
      {"alpha", h(-1, 2048, 2048)},
      {"abcdefghijklmnopqrstuvwxyz0123456", h(10485760, 10485760, -1)},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", h(4096, -1, -1)},
      {std::string(kTotalUsed), h(6453021747, 5400000000, 5300000000)},
      {"caf\xc3\xa9", h(999, 0, 0)},
      {"a,b", h(1536, 1536, 1536)},
      {std::string(kTotalFree), h(21474836480, 22548578304, 23622320128)},
  };
  return record;
}

}  // namespace varnow
