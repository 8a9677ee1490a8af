// manpage PROGRAM DATE SOURCE OUTPUT: writes the manual page of one of the shipped programs from
// the same usage table that its --help prints.
#include <cstdio>
#include <cstring>
#include <fstream>

#include "compoundfile/tools/cfb_usage.h"
#include "orvsched/usage.h"
#include "platform/usage.h"
#include "varnow/alerts/CommandLineUsage.h"
#include "zizeruv/usage.h"

namespace {

const platform::CUsage* UsageOf(const char* program) {
  if (std::strcmp(program, "varnow") == 0) return &varnow::CommandLineUsage();
  if (std::strcmp(program, "orvsched") == 0) return &orvsched::ServerUsage();
  if (std::strcmp(program, "cfb") == 0) return &cfb::ToolUsage();
  if (std::strcmp(program, "zizeruv") == 0) return &zizeruv::PrintUsage();
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const platform::CUsage* usage = argc == 5 ? UsageOf(argv[1]) : nullptr;
  if (!usage) {
    std::fprintf(stderr, "usage: manpage varnow|orvsched|cfb|zizeruv DATE SOURCE OUTPUT\n");
    return 2;
  }
  std::ofstream out(argv[4], std::ios::binary | std::ios::trunc);
  out << platform::ManPage(*usage, argv[2], argv[3]);
  out.close();
  if (!out) {
    std::fprintf(stderr, "manpage: cannot write %s\n", argv[4]);
    return 1;
  }
  return 0;
}
