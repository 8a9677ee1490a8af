// The entry-point convention: a handler the user or the scheduler can reach never lets an
// exception escape; it writes one trace line, "** Exception in NAME", and gives a default.
// Written once here so no handler repeats its own try/catch.
#pragma once

#include <type_traits>

namespace platform {

// Writes "** Exception in NAME\n" as if from file and line. Guarded's last two parameters
// default to the compiler built-ins, which name the caller's line (as std::source_location
// would; clang 14, which builds the fuzz targets, lacks that). They must stay plain default
// arguments: inside an initialiser they would name this header instead.
void TraceException(const char* name, const char* file, int line);

// Runs body; on any exception traces it and returns normally.
template <class Body>
  requires std::is_void_v<std::invoke_result_t<Body&>>
void Guarded(const char* name, Body&& body,
             const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  try {
    body();
  } catch (...) {
    TraceException(name, file, line);
  }
}

// Runs body and returns its value; on any exception traces it and returns fallback.
template <class Body, class Result = std::invoke_result_t<Body&>>
  requires(!std::is_void_v<Result>)
Result Guarded(const char* name, Body&& body, std::type_identity_t<Result> fallback = Result{},
               const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  try {
    return body();
  } catch (...) {
    TraceException(name, file, line);
    return fallback;
  }
}

}  // namespace platform
