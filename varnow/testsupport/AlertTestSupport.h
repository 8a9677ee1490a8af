// For tests of the command line, the alert checks and the automated run: a scripted owner of the
// command line's fields, both parse passes, prompts that record alert boxes, and a record whose
// total grew.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "varnow/alerts/CommandLine.h"
#include "varnow/scan/DirData.h"
#include "varnow/scan/Prompts.h"

namespace varnow::test {

// Base: ICommandLineOwner, or an interface derived from it.
template <typename Base>
class CFakeCommandLineOwner : public Base {
 public:
  CCommandLineFields& CommandLineFields() override { return fields; }
  void SetScanDirectory(const std::string& directory) override { directories.push_back(directory); }
  void SetPrintDestination(PrintDestination destination) override { printDestination = destination; }
  void SetPrintFilePath(const std::string& path) override { printFilePath = path; }
  void SetAutoSave(int value) override { autoSave = value; }

  CCommandLineFields fields;
  std::vector<std::string> directories;
  std::optional<PrintDestination> printDestination;  // empty until set
  std::string printFilePath;
  int autoSave = -1;
};

// Both passes, as start-up runs them.
inline CRunFlags Parse(const std::string& line, ICommandLineOwner& owner) {
  CRunFlags flags;
  ParseCommandLine(line, flags, nullptr);
  ParseCommandLine(line, flags, &owner);
  return flags;
}

// Records the alert boxes and the other messages; no question is expected of the checks.
class CRecordingPrompts : public IPrompts {
 public:
  bool AskScanMissingDirectory() override { return false; }
  void AskClusterSize(const std::string&) override {}
  std::unique_ptr<CScanProgress> CreateScanProgress() override { return nullptr; }
  void ShowMessage(const std::string& text, const std::string&) override { messages.push_back(text); }
  void ShowAlert(const CAlertNotice& alert) override {
    boxes.push_back(alert.message);
    alerts.push_back(alert);
  }
  std::vector<std::string> boxes;
  std::vector<CAlertNotice> alerts;  // the same, with directory and kind
  std::vector<std::string> messages;
};

// A record whose total went from `saved` to `current`, next to a subdirectory that grew a lot
// (which no check may look at).
inline CDirData RecordWithTotal(std::int64_t saved, std::int64_t current) {
  CDirData record;
  record.m_currentScanDir = "/srv/data/";
  record.m_entries.push_back({"big", {1'000'000'000, 1, -1, -1, -1, -1}});
  record.m_entries.push_back({std::string(kTotalFree), {5, 5, -1, -1, -1, -1}});
  record.m_entries.push_back({std::string(kTotalUsed), {current, saved, -1, -1, -1, -1}});
  return record;
}

}  // namespace varnow::test
