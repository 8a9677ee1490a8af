#include "platform/guarded.h"

#include "platform/tracelog.h"

namespace platform {

void TraceException(const char* name, const char* file, int line) {
  if (TraceLog::IsOpen()) TraceLog::Write(file, line, "** Exception in %s\n", name);
}

}  // namespace platform
