// Headless runs of the scan engine for the benchmark script.
//   scan_bench scan DIR DATADIR [--save] [--no-largest]
//                                          one automated scan (with --save: every record saved,
//                                          final flush included; --no-largest: without keeping
//                                          the largest files)
//   scan_bench load DATADIR RECORDS [RUNS] builds a data file of RECORDS records (once) and
//                                          prints the median time of one LoadData
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/dirlist.h"
#include "varnow/scan/Scaninfo.h"
#include "varnow/store/DataFile.h"

namespace {

class HeadlessOwner : public varnow::IScanOwner, public varnow::IPrompts {
 public:
  explicit HeadlessOwner(std::string dataDirectory) : m_dataDirectory(std::move(dataDirectory)) {}
  varnow::ClusterMode PreferredClusterSetting() const override { return varnow::ClusterMode::kNormal; }
  std::string DataDirectory() const { return m_dataDirectory; }
  int AutoSave() const override { return save; }
  int SubDirSave() const override { return save; }
  bool AskScanMissingDirectory() override { return false; }
  void AskClusterSize(const std::string&) override {}
  std::unique_ptr<varnow::CScanProgress> CreateScanProgress() override { return nullptr; }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
  void ShowAlert(const varnow::CAlertNotice& alert) override { ShowMessage(alert.message, "Varnow Alert"); }
  void RefreshView() override {}
  int save = 0;

 private:
  std::string m_dataDirectory;
};

int Scan(const std::string& dir, const std::string& dataDirectory, bool save, bool largest) {
  HeadlessOwner owner(dataDirectory);
  owner.save = save ? 1 : 0;
  std::int64_t total;
  auto start = std::chrono::steady_clock::now();
  auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  double scanned, flushed;
  {
    varnow::CScanOptions options;
    options.keepLargestFiles = largest;
    varnow::CScanInfo session(&owner, &owner, std::make_unique<varnow::CDataFile>(owner.DataDirectory()), options);
    session.SetScanDir(dir);
    varnow::CDirData copy = session.dd;
    total = session.DoScan(1, copy, true);
    scanned = seconds();
    session.ShutdownWarning();
    flushed = seconds();
  }
  std::printf("total %lld; scan %.3f s, final flush done at %.3f s\n", static_cast<long long>(total), scanned,
              flushed);
  return total < 0 ? 1 : 0;
}

// Records /bench/dNNN/dNNN/.../ in a tree of fan-out 10, each with ten entries.
std::string RecordPath(int index) {
  std::string path = "/bench/";
  std::vector<int> digits;
  for (int n = index; n > 0; n /= 10) digits.push_back(n % 10);
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) path += "sub" + std::to_string(*it) + "/";
  return path;
}

int Load(const std::string& dataDirectory, int records, int runs) {
  HeadlessOwner owner(dataDirectory);
  varnow::CDataFile file(owner.DataDirectory());
  if (!platform::PathExists(file.FilePath())) {
    std::vector<varnow::CDirData> batch;
    for (int i = 0; i < records; ++i) {
      varnow::CDirData record;
      record.m_currentScanDir = RecordPath(i);
      for (int e = 0; e < 10; ++e) record.m_entries.push_back({"sub" + std::to_string(e), {i, e, -1, -1, -1, -1}});
      record.m_entries.push_back({std::string(varnow::kTotalUsed), {i, -1, -1, -1, -1, -1}});
      batch.push_back(std::move(record));
    }
    int failures = 0;
    file.Write(batch, [&](const varnow::CDirData&, std::int32_t) { ++failures; });
    if (failures) {
      std::fprintf(stderr, "%d records could not be written\n", failures);
      return 1;
    }
  }
  varnow::CScanInfo session(&owner, &owner, std::make_unique<varnow::CDataFile>(owner.DataDirectory()));
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    varnow::CDirData record;
    record.m_currentScanDir = RecordPath((run * 7919) % records);
    auto start = std::chrono::steady_clock::now();
    session.LoadData(record);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (record.m_entries.size() != 11) {
      std::fprintf(stderr, "record %s came back with %zu entries\n", record.m_currentScanDir.c_str(),
                   record.m_entries.size());
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  std::printf("LoadData in a file of %d records: median %.3f ms, min %.3f ms, max %.3f ms (%d runs)\n", records,
              times[times.size() / 2], times.front(), times.back(), runs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 3 && args[0] == "scan") {
    const bool save = std::find(args.begin() + 3, args.end(), "--save") != args.end();
    const bool largest = std::find(args.begin() + 3, args.end(), "--no-largest") == args.end();
    return Scan(args[1], args[2], save, largest);
  }
  if (args.size() >= 3 && args[0] == "load")
    return Load(args[1], std::atoi(args[2].c_str()), args.size() > 3 ? std::atoi(args[3].c_str()) : 21);
  std::fprintf(stderr, "usage: scan_bench scan DIR DATADIR [--save] [--no-largest] | load DATADIR RECORDS [RUNS]\n");
  return 2;
}
