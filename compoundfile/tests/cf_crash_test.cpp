// A writer killed at any instant leaves a file that opens, that olefile accepts, and that
// holds every stream as it was either before or after the batch under way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <thread>

#include "compoundfile/compoundfile.h"
#include "compoundfile/tests/cftest_util.h"

using namespace cfb;
using namespace cftest;
using namespace std::chrono_literals;

namespace {

constexpr int kStreams = 13;  // the last one is big, so that writing a batch takes a while
const char* const kFolders[] = {"", "d1", "d1/d2"};

// Batch k writes generation k into every stream; sizes change from batch to batch so that
// streams grow, shrink and cross the mini stream cutoff.
std::size_t GenerationSize(std::uint64_t k, int i) {
  if (i == kStreams - 1) return (1 << 20) + (k % 3) * (1 << 19);
  const std::uint64_t h = (k * 2654435761u + static_cast<std::uint64_t>(i) * 40503u) % 100003;
  switch (i % 4) {
    case 0: return 4095 + h % 3;
    case 1: return 12 + h % 300;
    case 2: return 5000 + h % 30000;
    default: return k % 2 ? 100 : 8000;
  }
}

std::string Generation(std::uint64_t k, int i) {
  std::string content = Pattern(k * 100 + static_cast<std::uint64_t>(i), GenerationSize(k, i));
  std::memcpy(content.data(), &k, sizeof k);
  return content;
}

std::string StreamPath(int i) {
  const std::string folder = kFolders[i % 3];
  return (folder.empty() ? "" : folder + "/") + "stream" + std::to_string(i);
}

bool AddsStorage(std::uint64_t k) { return k % 5 == 0; }
std::string AddedPath(std::uint64_t k) { return "added/b" + std::to_string(k); }

// fresh: the stream is emptied first, so that its content goes into sectors the file does not
// use yet (as a large record's does) instead of over its own.
HRESULT WriteStreamAt(Storage& root, const std::string& folder, const std::u16string& name,
                      const std::string& content, bool fresh = false) {
  Storage parent;
  Storage* target = &root;
  if (!folder.empty()) {
    const HRESULT hr = MakeStoragePath(root, folder, parent);
    if (Failed(hr)) return hr;
    target = &parent;
  }
  Stream stream;
  HRESULT hr = target->OpenStream(name, stream);
  if (hr == STG_E_FILENOTFOUND) hr = target->CreateStream(name, stream);
  if (Failed(hr)) return hr;
  if (fresh) hr = stream.SetSize(0);
  if (Failed(hr)) return hr;
  hr = stream.Write(content.data(), static_cast<std::uint32_t>(content.size()));
  if (Failed(hr)) return hr;
  return stream.SetSize(content.size());
}

HRESULT WriteBatch(const std::string& file, std::uint64_t k, bool create) {
  Storage root;
  OpenOptions options;
  options.create = create;
  options.lockWait = 10s;
  HRESULT hr = StgOpenStorage(file, options, root);
  for (int i = 0; i < kStreams && Succeeded(hr); ++i)
    hr = WriteStreamAt(root, kFolders[i % 3], u"stream" + FromUtf8(std::to_string(i)), Generation(k, i),
                       i % 4 == 2 && k % 2 == 1);
  if (Succeeded(hr) && AddsStorage(k)) hr = WriteStreamAt(root, AddedPath(k), u"s", Generation(k, 99));
  return hr;  // the batch reaches the file as root and its children are released
}

// What the file must hold after batch k and nothing else.
Tree Expected(std::uint64_t k) {
  Tree tree;
  tree["d1"].storage = tree["d1/d2"].storage = true;
  for (int i = 0; i < kStreams; ++i) {
    const std::string content = Generation(k, i);
    tree[StreamPath(i)] = Element{false, content.size(), content};
  }
  for (std::uint64_t j = 1; j <= k; ++j) {
    if (!AddsStorage(j)) continue;
    tree["added"].storage = tree[AddedPath(j)].storage = true;
    const std::string content = Generation(j, 99);
    tree[AddedPath(j) + "/s"] = Element{false, content.size(), content};
  }
  return tree;
}

// Starts a child that writes batches first, first + 1, ... until it is killed.
pid_t StartWriter(const std::string& file, std::uint64_t first) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (std::uint64_t k = first;; ++k)
      if (Failed(WriteBatch(file, k, false))) _exit(3);
  }
  return pid;
}

// What identifies a version of the file on disk.
struct Stamp {
  timespec mtime{};
  off_t size = -1;
  bool operator==(const Stamp& o) const {
    return mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec && size == o.size;
  }
};
Stamp StampOf(const std::string& file) {
  struct stat st {};
  Stamp stamp;
  if (stat(file.c_str(), &st) == 0) stamp = Stamp{st.st_mtim, st.st_size};
  return stamp;
}

// Waits until the writer has started to change the file (bounded), so that the kill lands in
// the middle of a commit rather than while the batch is still being prepared in memory.
void WaitForChange(const std::string& file, std::mt19937& rng) {
  const Stamp before = StampOf(file);
  const auto give_up = std::chrono::steady_clock::now() + 2s;
  while (StampOf(file) == before && std::chrono::steady_clock::now() < give_up) {
  }
  const auto spin = std::chrono::steady_clock::now() + std::chrono::microseconds(rng() % 400);
  while (std::chrono::steady_clock::now() < spin) {
  }
}

// The generation the file holds (read from the first stream), or ~0 when it cannot be read.
std::uint64_t GenerationOf(const Tree& tree) {
  auto it = tree.find(StreamPath(0));
  std::uint64_t k = ~std::uint64_t{0};
  if (it != tree.end() && it->second.content.size() >= sizeof k) std::memcpy(&k, it->second.content.data(), sizeof k);
  return k;
}

TEST(Crash, KilledWriterLeavesEveryStreamBeforeOrAfterItsBatch) {
  TempDir dir;
  const std::string file = dir.file("crash.cfb");
  ASSERT_TRUE(Ok(WriteBatch(file, 1, true)));
  std::mt19937 rng(4242);
  std::uint64_t generation = 1, progressed = 0, oleRejectedUnrecovered = 0, oleChecks = 0;
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE("kill " + std::to_string(round));
    const pid_t pid = StartWriter(file, generation + 1);
    ASSERT_GT(pid, 0);
    // Every other kill at a random instant (which lets batches complete), the rest inside a commit.
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (round % 2 ? 40000 : 300000)));
    if (round % 2) WaitForChange(file, rng);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own, exit " << WEXITSTATUS(status);

    const bool withOlefile = round % 10 == 0;
    if (withOlefile) {
      // Informational: what another reader sees before this library has had a chance to recover.
      const std::string copy = dir.file("unrecovered.cfb");
      std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
      Tree ignored;
      std::string error;
      ++oleChecks;
      if (!OleTree(copy, ignored, error, false)) ++oleRejectedUnrecovered;
    }
    Tree tree;
    {
      Storage root;
      OpenOptions options;
      options.lockWait = 10s;
      options.readOnly = round % 4 == 1;  // a reader, too, must find the file whole after a kill
      ASSERT_TRUE(Ok(StgOpenStorage(file, options, root)));
      ASSERT_TRUE(Ok(ReadTree(root, tree)));
    }
    const std::uint64_t now = GenerationOf(tree);
    ASSERT_TRUE(now >= generation && now < generation + 100000)
        << "generation went from " << generation << " to " << now;
    const Tree expected = Expected(now);
    ASSERT_TRUE(tree == expected) << "mixed or lost batch at generation " << now << ":\n" << Diff(expected, tree);
    if (withOlefile) {
      Tree ole;
      std::string error;
      ASSERT_TRUE(OleTree(file, ole, error)) << error;
      ASSERT_TRUE(ole == expected) << Diff(expected, ole);
    }
    progressed += now - generation;
    generation = now;
  }
  std::printf("batches completed across the kills: %llu; olefile rejected the file before recovery %llu of %llu times\n",
              static_cast<unsigned long long>(progressed), static_cast<unsigned long long>(oleRejectedUnrecovered),
              static_cast<unsigned long long>(oleChecks));
}

TEST(Crash, KilledCreatorLeavesNoFileOrAUsableOne) {
  TempDir dir;
  std::mt19937 rng(99);
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE("kill " + std::to_string(round));
    const std::string file = dir.file("new" + std::to_string(round) + ".cfb");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(Failed(WriteBatch(file, 1, true)) ? 3 : 0);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 8000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    // Opening with create either finds the complete first batch or starts an empty file.
    Storage root;
    OpenOptions options;
    options.create = true;
    ASSERT_TRUE(Ok(StgOpenStorage(file, options, root)));
    Tree tree;
    ASSERT_TRUE(Ok(ReadTree(root, tree)));
    if (!tree.empty()) {
      const Tree expected = Expected(1);
      ASSERT_TRUE(tree == expected) << Diff(expected, tree);
    }
  }
  // The openers removed whatever temporary files the killed creators left.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".new"), std::string::npos) << entry.path();
}

TEST(Crash, OpenerRemovesTemporariesOfKilledCreatorsOnly) {
  TempDir dir;
  const std::string file = dir.file("VNDATA.DB");
  ASSERT_TRUE(Ok(WriteBatch(file, 1, true)));
  auto make = [&](const std::string& suffix, const std::string& content) {
    const std::string temp = file + suffix;
    FILE* out = std::fopen(temp.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), out);
    std::fclose(out);
    return temp;
  };
  const std::string killedWhileWriting = make(".newAb12Cd", std::string(512, 'x'));
  const std::string killedBeforeWriting = make(".newEf34Gh", "");
  struct timeval old[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
  ::utimes(killedBeforeWriting.c_str(), old);
  const std::string justMade = make(".newIj56Kl", "");           // its creator may lock it any moment
  const std::string beingWritten = make(".newMn78Op", "header");  // locked by a live creator
  const int creator = ::open(beingWritten.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(creator, LOCK_EX), 0);
  const std::string linked = file + ".newQr90St";  // killed after putting the file in place
  ASSERT_EQ(::link(file.c_str(), linked.c_str()), 0);
  const std::string otherName = make(".newer", "not ours");

  {
    Storage root;
    OpenOptions readOnly;
    readOnly.readOnly = true;
    ASSERT_TRUE(Ok(StgOpenStorage(file, readOnly, root)));
  }
  EXPECT_TRUE(std::filesystem::exists(killedWhileWriting));  // readers hold no exclusive lock
  {
    Storage root;
    ASSERT_TRUE(Ok(StgOpenStorage(file, OpenOptions{}, root)));
  }
  EXPECT_FALSE(std::filesystem::exists(killedWhileWriting));
  EXPECT_FALSE(std::filesystem::exists(killedBeforeWriting));
  EXPECT_FALSE(std::filesystem::exists(linked));
  EXPECT_TRUE(std::filesystem::exists(justMade));
  EXPECT_TRUE(std::filesystem::exists(beingWritten));
  EXPECT_TRUE(std::filesystem::exists(otherName));
  ::close(creator);
  Tree tree;
  Storage root;
  ASSERT_TRUE(Ok(StgOpenStorage(file, OpenOptions{}, root)));
  ASSERT_TRUE(Ok(ReadTree(root, tree)));
  EXPECT_TRUE(tree == Expected(1));
}

}  // namespace

namespace {

// Runs body in a child process and gives its exit status (or 128 + signal).
template <typename Body>
int InChild(Body body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Crash, CommitMakesTheBatchSoFarDurable) {
  TempDir dir;
  const std::string file = dir.file("commit.cfb");
  ASSERT_TRUE(Ok(WriteBatch(file, 1, true)));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    Storage root;
    OpenOptions options;
    options.lockWait = 10s;
    if (Failed(StgOpenStorage(file, options, root))) _exit(3);
    for (int i = 0; i < kStreams; ++i)
      if (Failed(WriteStreamAt(root, kFolders[i % 3], u"stream" + FromUtf8(std::to_string(i)), Generation(2, i))))
        _exit(3);
    if (Failed(root.Commit())) _exit(4);
    // Half of the next batch, then the writer dies without releasing anything.
    for (int i = 0; i < kStreams / 2; ++i)
      (void)WriteStreamAt(root, kFolders[i % 3], u"stream" + FromUtf8(std::to_string(i)), Generation(3, i));
    (void)!write(ready[1], "c", 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char c = 0;
  const bool committed = read(ready[0], &c, 1) == 1;
  close(ready[0]);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(committed) << "the writer failed, exit " << WEXITSTATUS(status);

  Tree tree;
  ASSERT_TRUE(Ok(ReadTreeOfFile(file, tree)));
  const Tree expected = Expected(2);
  EXPECT_TRUE(tree == expected) << Diff(expected, tree);
}

TEST(Crash, FailedWritesReportAStatusAndLeaveTheFileAsItWas) {
  TempDir dir;
  const std::string file = dir.file("full.cfb");
  ASSERT_TRUE(Ok(WriteBatch(file, 1, true)));
  const Tree before = Expected(1);
  const off_t size = StampOf(file).size;
  // The file may not grow past a limit: writes beyond it fail as on a full disk. Limits from
  // below the journal's needs up to nearly enough for the whole batch.
  for (const off_t slack : {off_t{0}, off_t{4096}, off_t{200000}, off_t{1500000}}) {
    SCOPED_TRACE("slack " + std::to_string(slack));
    const int result = InChild([&] {
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{};
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(size + slack);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 5;
      Storage root;
      if (Failed(StgOpenStorage(file, {}, root))) return 3;
      // Far more than the limit allows: every stream doubles and a big one is added.
      for (int i = 0; i < kStreams; ++i)
        (void)WriteStreamAt(root, kFolders[i % 3], u"stream" + FromUtf8(std::to_string(i)),
                            Generation(2, i) + Generation(2, i));
      (void)WriteStreamAt(root, "", u"huge", Pattern(5, 4 << 20));
      const HRESULT hr = root.Commit();
      return Succeeded(hr) ? 1 : 0;  // success would be a lie: the data cannot be in the file
    });
    ASSERT_EQ(result, 0) << (result == 1 ? "a commit that could not be written reported success" : "writer failed to start");
    Tree tree;
    ASSERT_TRUE(Ok(ReadTreeOfFile(file, tree)));
    EXPECT_TRUE(tree == before) << Diff(before, tree);
    Tree ole;
    std::string error;
    ASSERT_TRUE(OleTree(file, ole, error)) << error;
  }
  // And the file still takes a batch once there is room.
  ASSERT_TRUE(Ok(WriteBatch(file, 2, false)));
  Tree tree;
  ASSERT_TRUE(Ok(ReadTreeOfFile(file, tree)));
  EXPECT_TRUE(tree == Expected(2)) << Diff(Expected(2), tree);
}

}  // namespace
