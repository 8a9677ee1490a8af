#include "platform/guarded.h"

#include "platform/tracelog.h"

namespace platform {

void TraceException(const char* name, const CallSite& where) {
  if (TraceLog::IsOpen()) TraceLog::Write(where.file, where.line, "** Exception in %s\n", name);
}

}  // namespace platform
