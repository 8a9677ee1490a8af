#include "compoundfile/tools/cfb_usage.h"

namespace cfb {

const platform::CUsage& ToolUsage() {
  static const platform::CUsage usage{
      .program = "cfb",
      .summary = "list the storages and streams of a compound file, or print one stream",
      .synopsis = {"cfb list FILE", "cfb cat FILE PATH", "cfb --help"},
      .description =
          {"cfb looks inside a compound file (structured storage: storages and streams inside one "
           "file), such as the disk space tracker's data file VNDATA.DB. It opens the file read-only "
           "and waits up to 30 seconds for a program that holds it."},
      .options = {{"list FILE", "one line per storage and stream: its type (storage or stream), "
                                "its size in bytes (0 for a storage) and its full path"},
                  {"cat FILE PATH", "write the bytes of the stream at PATH (storage names separated "
                                    "by /) to standard output"},
                  {"--help", "print this text and end"}},
      .exitStatus = {{"0", "done"},
                     {"1", "the file or the stream could not be read; the message names the status code"},
                     {"2", "the command line is not one of the forms above"}},
      .examples = {"cfb list ~/.local/share/varnow/VNDATA.DB",
                   "cfb cat ~/.local/share/varnow/VNDATA.DB 'home/KOB[VNData]' | od -c | head"},
      .seeAlso = {"varnow(1)"},
  };
  return usage;
}

}  // namespace cfb
