// Facts about the running program and its system: its file, its version, the system type.
#pragma once

#include <string>

namespace varnow {

// The system type the rest of the program asks for: always 3 (neither of the old consumer
// systems nor the old server one).
int GetOSType();

// The version from the record embedded in the program file: major, minor and build (the fourth
// component). 1 on success; on failure 0 and the outputs are left as they are. Any output may
// be null.
int GetProgramVersion(unsigned short* major, unsigned short* minor, unsigned short* build);
// The same for any file.
int GetFileVersion(const std::string& path, unsigned short* major, unsigned short* minor, unsigned short* build);

}  // namespace varnow
