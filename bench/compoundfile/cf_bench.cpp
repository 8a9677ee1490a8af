// Builds a compound file shaped like the tracker's data file (one storage per directory along
// realistic paths, a ~300-byte stream in each, written in batches of 500) and times opening
// the file and reading one stream by its path.
//
//   cf_bench [--storages N] [--batch B] [--reads R] [--file PATH] [--read-only]
//   cf_bench --wide N [--batch B] [--file PATH]
//   cf_bench --open DIR/DIR/... [--for-writing] [--file PATH]
//
// --read-only skips the build and times reads of an existing file made by an earlier run with
// the same --storages (so the first open is a cold one). --batch sets how many storages one
// batch creates (all of them in one commit when B >= N). --wide times creating N sibling
// storages with a stream each in one storage (committing every B of them), and then opening
// each by name.
// --open times one cold open of the file, the walk to the given storage and the read of its
// stream, and nothing else (for the peak memory of a process that reads one record); with
// --for-writing the open is a writer's, which parses the whole file.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "compoundfile/compoundfile.h"

using namespace cfb;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kWords[] = {"usr", "share", "doc", "lib", "src", "home", "projects", "build",
                              "include", "assets", "images", "cache", "node_modules", "test",
                              "data", "backup", "2025", "photos", "music", "Documents",
                              "release", "debug", "config", "modules", "vendor", "tmp"};

// Paths of count directories, depth 1 to 8, in the order a depth-first scan visits them.
std::vector<std::vector<std::string>> MakePaths(std::size_t count) {
  std::mt19937 rng(12345);
  std::vector<std::vector<std::string>> paths;
  std::set<std::vector<std::string>> seen;
  paths.push_back({"home"});
  seen.insert(paths.back());
  while (paths.size() < count) {
    // Half the time a recent directory, so the tree grows deep and bushy like a real one.
    const std::size_t span = rng() % 2 ? std::min<std::size_t>(paths.size(), 50) : paths.size();
    std::vector<std::string> child = paths[paths.size() - 1 - rng() % span];
    if (child.size() >= 8) child.resize(1 + rng() % 7);
    std::string name = kWords[rng() % std::size(kWords)];
    if (rng() % 3) name.append("-").append(std::to_string(rng() % 5000));
    child.push_back(name);
    if (seen.insert(child).second) paths.push_back(std::move(child));
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

void Check(HRESULT hr, const char* what) {
  if (Failed(hr)) {
    std::fprintf(stderr, "%s: %s\n", what, StatusName(hr).c_str());
    std::exit(1);
  }
}

const std::u16string kStreamName = u"KOB[VNData]";

// Reads open the file as the tracker's readers do.
OpenOptions ReadOnly() {
  OpenOptions options;
  options.readOnly = true;
  return options;
}

std::string Record(std::size_t i) {
  std::string bytes(250 + i % 100, '\0');
  for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(i * 31 + k);
  return bytes;
}

// Opens (or with create, creates) the storages along path below root; the last one in out.
HRESULT OpenPath(Storage& root, const std::vector<std::string>& path, bool create,
                 std::vector<Storage>& chain) {
  chain.clear();
  chain.reserve(path.size());
  Storage* parent = &root;
  for (const std::string& component : path) {
    const std::u16string name = WidenBytes(component);
    Storage next;
    HRESULT hr = parent->OpenStorage(name, next);
    if (hr == STG_E_FILENOTFOUND && create) hr = parent->CreateStorage(name, next);
    if (Failed(hr)) return hr;
    chain.push_back(std::move(next));
    parent = &chain.back();
  }
  return S_OK;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

std::uint64_t Build(const std::string& file, const std::vector<std::vector<std::string>>& paths,
                    std::size_t batch) {
  std::uint64_t stored = 0;
  std::vector<double> batches;
  const auto start = Clock::now();
  for (std::size_t first = 0; first < paths.size(); first += batch) {
    const auto t0 = Clock::now();
    {
      Storage root;
      OpenOptions options;
      options.create = true;
      Check(StgOpenStorage(file, options, root), "open for writing");
      std::vector<Storage> chain;
      for (std::size_t i = first; i < std::min(paths.size(), first + batch); ++i) {
        Check(OpenPath(root, paths[i], true, chain), "create storages");
        Stream stream;
        Check(chain.back().CreateStream(kStreamName, stream, true), "create stream");
        const std::string record = Record(i);
        Check(stream.Write(record.data(), static_cast<std::uint32_t>(record.size())), "write");
        stored += record.size();
      }
    }  // the batch reaches the file here
    batches.push_back(Ms(Clock::now() - t0));
  }
  std::printf("created %zu storages with a stream each in %zu batches of %zu: %.0f ms total\n",
              paths.size(), batches.size(), batch, Ms(Clock::now() - start));
  std::printf("  batch: median %.1f ms, p90 %.1f ms, last %.1f ms\n", Percentile(batches, 0.5),
              Percentile(batches, 0.9), batches.back());
  return stored;
}

void TimeReads(const std::string& file, const std::vector<std::vector<std::string>>& paths, int reads) {
  std::mt19937 rng(777);
  std::vector<double> times;
  std::string buffer(4096, '\0');
  for (int r = 0; r < reads; ++r) {
    const std::size_t i = rng() % paths.size();
    const auto t0 = Clock::now();
    {
      Storage root;
      Check(StgOpenStorage(file, ReadOnly(), root), "open for reading");
      std::vector<Storage> chain;
      Check(OpenPath(root, paths[i], false, chain), "open storages");
      Stream stream;
      Check(chain.back().OpenStream(kStreamName, stream), "open stream");
      std::uint32_t got = 0;
      Check(stream.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), &got), "read");
      if (got != Record(i).size() || buffer.compare(0, got, Record(i)) != 0) {
        std::fprintf(stderr, "stream of path %zu holds other bytes\n", i);
        std::exit(1);
      }
    }
    times.push_back(Ms(Clock::now() - t0));
  }
  double depth = 0;
  for (const auto& p : paths) depth += static_cast<double>(p.size());
  std::printf("open, walk the path (%.1f storages on average), read the stream, release; %d times:\n",
              depth / static_cast<double>(paths.size()), reads);
  std::printf("  first %.3f ms, median %.3f ms, p90 %.3f ms, p99 %.3f ms, max %.3f ms\n", times.front(),
              Percentile(times, 0.5), Percentile(times, 0.9), Percentile(times, 0.99),
              *std::max_element(times.begin(), times.end()));
}

// N siblings in one storage: creating them (with a stream each) in one batch, committing, then
// opening each by name in a second open of the file.
void Wide(const std::string& file, std::size_t count, std::size_t batch) {
  unlink(file.c_str());
  std::vector<std::u16string> names;
  for (std::size_t i = 0; i < count; ++i) names.push_back(WidenBytes("dir-" + std::to_string(i * 7919 % count)));
  const std::string record = Record(1);
  Clock::time_point t0 = Clock::now();
  Clock::duration created{};
  {
    Storage root;
    OpenOptions options;
    options.create = true;
    Check(StgOpenStorage(file, options, root), "open for writing");
    Storage wide;
    Check(root.CreateStorage(u"wide", wide), "create storage");
    for (std::size_t i = 0; i < names.size(); ++i) {
      Storage child;
      Stream stream;
      Check(wide.CreateStorage(names[i], child), "create storage");
      Check(child.CreateStream(kStreamName, stream), "create stream");
      Check(stream.Write(record.data(), static_cast<std::uint32_t>(record.size())), "write");
      if ((i + 1) % batch == 0) Check(root.Commit(), "commit");
    }
    created = Clock::now() - t0;
    t0 = Clock::now();
  }
  const Clock::duration committed = Clock::now() - t0;
  t0 = Clock::now();
  {
    Storage root;
    Check(StgOpenStorage(file, ReadOnly(), root), "open for reading");
    Storage wide;
    Check(root.OpenStorage(u"wide", wide), "open storage");
    std::string buffer(4096, '\0');
    for (const std::u16string& name : names) {
      Storage child;
      Stream stream;
      Check(wide.OpenStorage(name, child), "open storage");
      Check(child.OpenStream(kStreamName, stream), "open stream");
      std::uint32_t got = 0;
      Check(stream.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), &got), "read");
      if (got != record.size()) {
        std::fprintf(stderr, "a stream holds other bytes\n");
        std::exit(1);
      }
    }
  }
  std::printf("%zu siblings: create %.1f ms, commit %.1f ms, open and read each %.1f ms\n", count,
              Ms(created), Ms(committed), Ms(Clock::now() - t0));
}

void OpenOne(const std::string& file, const std::string& path, bool forWriting) {
  std::vector<std::string> components;
  for (std::size_t start = 0; start < path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  const auto t0 = Clock::now();
  Storage root;
  Check(StgOpenStorage(file, forWriting ? OpenOptions{} : ReadOnly(), root), "open");
  std::vector<Storage> chain;
  Check(OpenPath(root, components, false, chain), "open storages");
  Stream stream;
  Check(chain.back().OpenStream(kStreamName, stream), "open stream");
  std::string buffer(4096, '\0');
  std::uint32_t got = 0;
  Check(stream.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), &got), "read");
  std::printf("cold open%s of %s and read of its %u-byte stream: %.3f ms\n",
              forWriting ? " for writing" : "", path.c_str(), got, Ms(Clock::now() - t0));
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t storages = 100000;
  int reads = 2000;
  std::string file = "/tmp/cf_bench.cfb";
  bool readOnly = false;
  std::size_t batch = 0;
  std::size_t wide = 0;
  std::string open;
  bool forWriting = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--storages" && i + 1 < argc) storages = std::strtoul(argv[++i], nullptr, 10);
    else if (arg == "--reads" && i + 1 < argc) reads = std::atoi(argv[++i]);
    else if (arg == "--file" && i + 1 < argc) file = argv[++i];
    else if (arg == "--read-only") readOnly = true;
    else if (arg == "--batch" && i + 1 < argc) batch = std::max(1ul, std::strtoul(argv[++i], nullptr, 10));
    else if (arg == "--wide" && i + 1 < argc) wide = std::strtoul(argv[++i], nullptr, 10);
    else if (arg == "--open" && i + 1 < argc) open = argv[++i];
    else if (arg == "--for-writing") forWriting = true;
    else {
      std::fprintf(stderr, "usage: %s [--storages N] [--batch B] [--reads R] [--file PATH] [--read-only]\n"
                           "       %s --wide N [--batch B] [--file PATH]\n"
                           "       %s --open DIR/DIR/... [--for-writing] [--file PATH]\n", argv[0], argv[0], argv[0]);
      return 2;
    }
  }
  if (wide > 0) {
    Wide(file, wide, batch > 0 ? batch : wide);
    return 0;
  }
  if (!open.empty()) {
    OpenOne(file, open, forWriting);
    return 0;
  }
  const auto paths = MakePaths(storages);
  std::uint64_t stored = 0;
  for (std::size_t i = 0; i < paths.size(); ++i) stored += Record(i).size();
  if (!readOnly) {
    unlink(file.c_str());
    Build(file, paths, batch > 0 ? batch : 500);
  }
  std::size_t depth = 0;
  for (const auto& p : paths) depth = std::max(depth, p.size());
  struct stat st {};
  stat(file.c_str(), &st);
  std::printf("file %s: %lld bytes for %llu bytes of streams in %zu storages (depth up to %zu): %.2f x\n",
              file.c_str(), static_cast<long long>(st.st_size), static_cast<unsigned long long>(stored),
              paths.size(), depth, static_cast<double>(st.st_size) / static_cast<double>(stored));
  std::string deepest;
  for (const auto& p : paths) {
    if (p.size() != depth || !deepest.empty()) continue;
    for (const std::string& c : p) deepest += (deepest.empty() ? "" : "/") + c;
  }
  std::printf("a deepest path: %s\n", deepest.c_str());
  TimeReads(file, paths, reads);
  return 0;
}
