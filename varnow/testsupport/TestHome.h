// For tests: a private home folder (HOME, XDG_CONFIG_HOME, XDG_DATA_HOME) in a fresh temporary
// folder, removed again at the end, so that no test touches the real one or another test's.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testtempfolder.h"

namespace varnow::test {

class CTestHome {
 public:
  CTestHome() {
    setenv("HOME", m_root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_root + "/data").c_str(), 1);
  }

  const std::string& Root() const { return m_root; }
  // A folder below the root, created; with a trailing "/".
  std::string MakeFolder(const std::string& relative) const {
    std::filesystem::create_directories(m_root + "/" + relative);
    return m_root + "/" + relative + "/";
  }

 private:
  platform::test::CTempFolder m_folder{"varnow-test-"};
  std::string m_root = m_folder.Path();
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The lines of a trace log as "unit: message" (line numbers left out), or "? line" for a line
// that does not end in " (unit, number)".
inline std::vector<std::string> TraceLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = text.substr(start, end - start);
    const std::size_t open = line.rfind(" (");
    const std::size_t comma = line.rfind(", ");
    const bool wellFormed = open != std::string::npos && comma != std::string::npos && comma > open &&
                            line.back() == ')' && comma + 3 < line.size() &&
                            line.find_first_not_of("0123456789", comma + 2) == line.size() - 1;
    if (!wellFormed) {
      lines.push_back("? " + line);
      continue;
    }
    lines.push_back(line.substr(open + 2, comma - open - 2) + ": " + line.substr(0, open));
  }
  return lines;
}

}  // namespace varnow::test
