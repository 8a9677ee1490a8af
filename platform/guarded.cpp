#include "platform/guarded.h"

#include "platform/tracelog.h"

namespace platform {

void TraceException(const char* name, const std::source_location& where) {
  if (TraceLog::IsOpen()) TraceLog::Write(where.file_name(), static_cast<int>(where.line()), "** Exception in %s\n", name);
}

}  // namespace platform
