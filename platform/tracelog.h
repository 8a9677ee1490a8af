// The tracker's optional trace log: one process-wide file that every module writes lines to.
// Lines are "message (unit, line)\r\n", the unit being the source file's base name without
// extension. Each line reaches the file in one write(2), so threads never mix within a line.
// When the log is closed, VN_TRACE builds nothing.
#pragma once

#include <string>

namespace platform {

class TraceLog {
 public:
  // Creates (truncates) the file; false leaves the log closed.
  static bool Open(const std::string& path);
  static void Close();
  static bool IsOpen();
  // printf-style message; " (%s, %d)\r\n" with the unit and line is appended.
  static void Write(const char* sourceFile, int line, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
};

}  // namespace platform

#define VN_TRACE(...)                                                 \
  do {                                                                \
    if (::platform::TraceLog::IsOpen())                               \
      ::platform::TraceLog::Write(__FILE__, __LINE__, __VA_ARGS__);   \
  } while (0)
