// The data layout of earlier releases: one file per directory ("ABCDEFGH.DAT", holding the record
// in the same layout as a stream of the data file) and the index "VNOWDATA.FAT" in the data
// directory, an INI file whose section "SourcePath" maps directories to their files and whose
// section "DataFile" maps files back to directories. The current release only reads this layout,
// to move it into the data file.
#pragma once

#include <string>

namespace varnow {

class CDirData;
class CScanInfo;

// The index file of a data directory (which ends in "/").
std::string LegacyIndexPath(const std::string& dataDirectory);
// True while the data directory holds an index: the conversion has something to offer.
bool LegacyDataExists(const std::string& dataDirectory);

// The data file of a directory from the index; a directory that has none gets a new unused
// random name, written into the index. Empty when the data directory is not set.
std::string GetDatFileName(const std::string& dataDirectory, const std::string& directory);

// Replaces record with the old file's record of record.m_currentScanDir. False when that file
// cannot be opened (the record is then empty but for its path).
bool LoadOldData(const std::string& dataDirectory, CDirData& record);

struct CLegacyConversion {
  int converted = 0;  // records written to the data file and read back unchanged
  int failed = 0;     // records whose write could not be confirmed: their old files are kept
  int missing = 0;    // listed directories without a readable old file
  int deleted = 0;    // old files deleted
};

// Moves every listed directory's old record into the data file through session (convert) and
// deletes the old files and the index (cleanup). An old file whose record should have been
// converted but did not reach the data file is never deleted, nor is the index that lists it.
CLegacyConversion ConvertLegacyData(CScanInfo& session, const std::string& dataDirectory,
                                    bool convert, bool cleanup);

}  // namespace varnow
