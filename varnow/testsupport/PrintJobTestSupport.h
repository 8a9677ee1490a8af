// A fake main window for printing tests, a private temporary folder (TMPDIR) and a private
// PATH with a scripted `lp` that records its arguments and the file it was given.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "varnow/report/PrintJob.h"
#include "varnow/testsupport/ReportTestRecord.h"

namespace varnow {

class FakePrintOwner : public IPrintOwner {
 public:
  CPrintSettings PrintSettings() const override { return settings; }
  void SetPrintSettings(const CPrintSettings& changed) override { settings = changed; }
  CReportSource ReportSource() override {
    return {&record, record.m_currentScanDir, SizeUnit::kK, SortMethod::kByName, kSampleHomePage};
  }
  CPrintSettings settings;
  CDirData record = SampleRecord();
};

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline std::string Golden(const char* name) {
  return ReadAll(std::filesystem::path(TestdataDir()) / name);
}

class PrintTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("print_test_" + std::to_string(::getpid()));
    tmp = dir / "tmp";
    bin = dir / "bin";
    std::filesystem::create_directories(tmp);
    std::filesystem::create_directories(bin);
    savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    savedTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::setenv("TMPDIR", tmp.c_str(), 1);
    UsePath(bin.string());
    sink = [this](const std::string& text, const std::string& caption) { shown.push_back({caption, text}); };
  }
  void TearDown() override {
    ::setenv("PATH", savedPath.c_str(), 1);
    if (savedTmp.empty()) ::unsetenv("TMPDIR");
    else ::setenv("TMPDIR", savedTmp.c_str(), 1);
    std::filesystem::remove_all(dir);
  }
  // No "VNP..." file is left in the temporary folder (other programs may put theirs there).
  bool NoPrintFileLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(tmp))
      if (entry.path().filename().string().rfind("VNP", 0) == 0) return false;
    return true;
  }
  void UsePath(const std::string& path) { ::setenv("PATH", path.c_str(), 1); }
  void WriteScript(const std::filesystem::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
  }
  // Records one argument per line in lp.args and copies the last argument to lp.file.
  void InstallFakeLp(int exitStatus) {
    WriteScript(bin / "lp", "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + (dir / "lp.args").string() +
                                "'; last=\"$a\"; done\n/bin/cp \"$last\" '" + (dir / "lp.file").string() + "'\nexit " +
                                std::to_string(exitStatus) + "\n");
  }

  std::filesystem::path dir, tmp, bin;
  std::string savedPath, savedTmp;
  FakePrintOwner owner;
  MessageSink sink;
  std::vector<std::pair<std::string, std::string>> shown;  // caption, text
};

}  // namespace varnow
