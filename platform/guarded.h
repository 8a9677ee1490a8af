// The entry-point convention: a handler the user or the scheduler can reach never lets an
// exception escape; it writes one trace line, "** Exception in NAME", and gives a default.
// Written once here so no handler repeats its own try/catch.
#pragma once

#include <type_traits>

namespace platform {

// Where a Guarded call stands. The compiler built-ins fill it in at the caller (as
// std::source_location would; clang 14, which builds the fuzz targets, lacks that).
struct CallSite {
  const char* file;
  int line;
};
#define VN_CALL_SITE_DEFAULT ::platform::CallSite{__builtin_FILE(), __builtin_LINE()}

// Writes "** Exception in NAME\n" as if from the caller's own line.
void TraceException(const char* name, const CallSite& where);

// Runs body; on any exception traces it and returns normally.
template <class Body>
  requires std::is_void_v<std::invoke_result_t<Body&>>
void Guarded(const char* name, Body&& body,
             const CallSite& where = VN_CALL_SITE_DEFAULT) {
  try {
    body();
  } catch (...) {
    TraceException(name, where);
  }
}

// Runs body and returns its value; on any exception traces it and returns fallback.
template <class Body, class Result = std::invoke_result_t<Body&>>
  requires(!std::is_void_v<Result>)
Result Guarded(const char* name, Body&& body, std::type_identity_t<Result> fallback = Result{},
               const CallSite& where = VN_CALL_SITE_DEFAULT) {
  try {
    return body();
  } catch (...) {
    TraceException(name, where);
    return fallback;
  }
}

}  // namespace platform
