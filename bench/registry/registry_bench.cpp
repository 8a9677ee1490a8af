// Time to read a settings hive of N keys (one value each) through the registry layer.
//   registry_bench [N ...]      (default 1000 10000 100000); XDG_CONFIG_HOME is set to a temporary folder
#include "platform/atomicfile.h"
#include "platform/registry.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {1000, 10000, 100000};
  char folder[] = "/tmp/registry_bench.XXXXXX";
  if (!::mkdtemp(folder)) return 1;
  ::setenv("XDG_CONFIG_HOME", folder, 1);
  const std::string hive = platform::Registry::HiveFile(platform::Hive::CurrentUser);
  platform::MakeFolders(hive.substr(0, hive.rfind('/')));
  for (int n : counts) {
    std::string text = "REGEDIT4\n\n";
    for (int i = 0; i < n; ++i)
      text += "[HKEY_CURRENT_USER\\Software\\Bench\\Key" + std::to_string(i) + "]\n\"v\"=dword:00000001\n\n";
    platform::WriteFileAtomically(hive, text);
    const auto start = std::chrono::steady_clock::now();
    const bool found = platform::Registry::GetValue(platform::Hive::CurrentUser,
                                                    "Software\\Bench\\Key" + std::to_string(n - 1), "v")
                           .has_value();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%7d keys: %.3f s%s\n", n, seconds, found ? "" : " (value not found)");
  }
  std::filesystem::remove_all(folder);
  return 0;
}
