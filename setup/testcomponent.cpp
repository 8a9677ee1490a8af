// A component for the registration tests: each entry point appends its name to the file that
// SETUP_TEST_MARKER names.
#include <cstdio>
#include <cstdlib>

namespace {

long Note(const char* what) {
  if (const char* marker = std::getenv("SETUP_TEST_MARKER")) {
    if (FILE* file = std::fopen(marker, "a")) {
      std::fprintf(file, "%s\n", what);
      std::fclose(file);
    }
  }
  return 0;
}

}  // namespace

extern "C" long DllRegisterServer() { return Note("DllRegisterServer"); }
extern "C" long DllUnregisterServer() { return Note("DllUnregisterServer"); }
