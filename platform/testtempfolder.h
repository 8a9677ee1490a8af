// For tests: a fresh folder under the test temporary folder, removed with everything in it at the
// end, so that each test starts from nothing and leaves nothing behind.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace platform::test {

class CTempFolder {
 public:
  explicit CTempFolder(const std::string& prefix) {
    std::string pattern = ::testing::TempDir() + prefix + "XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    m_path = pattern;
  }
  ~CTempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  CTempFolder(const CTempFolder&) = delete;
  CTempFolder& operator=(const CTempFolder&) = delete;

  // Without a trailing "/".
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

}  // namespace platform::test
