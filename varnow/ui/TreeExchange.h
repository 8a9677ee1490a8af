// The unattended run's exchange with other programs: the saved figures as a Prometheus text
// file, and trees out to and in from ncdu's export format. Each step tells what went wrong on
// standard error and in the trace log, and reports it as false.
#pragma once

#include <functional>
#include <string>

namespace varnow {

class CScanInfo;

// Writes the metrics of the session's scan directory and of its saved subdirectories down to
// depth levels to file ("-": standard output); a file is replaced atomically.
bool WriteMetricsFile(CScanInfo& session, const std::string& file, int depth);

// Runs scan (the session's scan of its directory; false when it was cancelled or declined)
// with the tree written to file ("-": standard output) as it is walked. A file appears only
// once the whole tree is in it; when it cannot be created the scan still runs.
bool ScanWithExport(CScanInfo& session, const std::string& file, const std::function<bool()>& scan);

// Takes the export in file ("-": standard input) as a scan of the session's directory, made
// at the export's time. Without directoryGiven the export's top becomes the directory; with
// it, an export of another directory is refused. Refused too: a damaged or incomplete file,
// and an export no newer than the directory's newest saved scan. Nothing is queued for saving
// unless the whole export was read.
bool ImportTreeFile(CScanInfo& session, const std::string& file, bool directoryGiven);

}  // namespace varnow
