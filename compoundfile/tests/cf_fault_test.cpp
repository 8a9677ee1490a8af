// A save under a failing disk: every call a save of a few thousand records makes is spoiled
// once per kind of fault (EIO, ENOSPC, EINTR, a partial write, a power cut), and the file must
// come out as it was before the save or as the save wrote it, the save must say whether it
// worked, and the next save must work.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "compoundfile/compoundfile.h"
#include "platform/filesystem.h"
#include "compoundfile/journal.h"
#include "compoundfile/modelcache.h"
#include "compoundfile/tests/cftest_util.h"
#include "platform/testfaultfiles.h"

namespace {

using namespace cfb;
using namespace cftest;
using testfaults::Call;
using Faulty = testfaults::FaultyFiles<io::FileSystem>;

// The disk's own speed does not matter here, only the order of calls: a memory file system
// keeps thousands of saves quick.
[[maybe_unused]] const bool kInMemory = [] { return ::access("/dev/shm", W_OK) == 0 && ::setenv("TMPDIR", "/dev/shm", 1) == 0; }();

constexpr int kFolders = 20;
constexpr int kPerFolder = 100;  // 2,000 records

std::string Record(int folder, int i, int version) {
  // Mostly small records, a few past the mini stream's cut-off.
  const std::size_t size = (i % 37 == 0) ? 5000 + 13 * i : 60 + (i * 7 + version * 31) % 340;
  return Pattern(static_cast<std::uint64_t>(folder) * 100000 + i * 10 + version, size);
}

HRESULT PutRecord(Storage& root, int folder, int i, int version) {
  Storage dir;
  HRESULT hr = MakeStoragePath(root, "f" + std::to_string(folder) + "/d" + std::to_string(i), dir);
  return Succeeded(hr) ? PutStream(dir, u"KOB[VNData]", Record(folder, i, version)) : hr;
}

HRESULT MakeDataFile(const std::string& file) {
  OpenOptions create;
  create.create = true;
  Storage root;
  HRESULT hr = StgOpenStorage(file, create, root);
  for (int f = 0; f < kFolders && Succeeded(hr); ++f)
    for (int i = 0; i < kPerFolder && Succeeded(hr); ++i) hr = PutRecord(root, f, i, 0);
  return Succeeded(hr) ? root.Commit() : hr;
}

// The save under test: rewrites records here and there (some grow past the cut-off), adds a
// folder of new ones and removes another folder. Its commit's status, or that of the step
// that failed; commit (when given) receives how many calls the file system had seen when the
// commit began and when it returned.
struct CommitCalls {
  std::size_t first = 0, end = 0;
};
HRESULT Save(const std::string& file, std::uint64_t* spaceNeeded = nullptr, const Faulty* files = nullptr,
             CommitCalls* commit = nullptr) {
  Storage root;
  HRESULT hr = StgOpenStorage(file, {}, root);
  for (int f = 0; f < kFolders && Succeeded(hr); f += 3)
    for (int i = f % 7; i < kPerFolder && Succeeded(hr); i += 9) hr = PutRecord(root, f, i, 1);
  for (int i = 0; i < 60 && Succeeded(hr); ++i) hr = PutRecord(root, kFolders, i, 1);
  if (Succeeded(hr)) hr = root.DestroyElement(u"f1");
  if (files && commit) commit->first = files->Calls();
  // As the data file does, a full disk met by a step still asks the commit what the batch needs.
  if (hr == STG_E_MEDIUMFULL) root.Commit(spaceNeeded);
  if (Succeeded(hr)) hr = root.Commit(spaceNeeded);
  if (files && commit) commit->end = files->Calls();
  return hr;
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_file = m_dir.file("VNDATA.DB");
    ASSERT_TRUE(Ok(MakeDataFile(m_file)));
    // Every commit leaves its journal retired beside the file for the next one to write over.
    ASSERT_TRUE(journal::Exists(m_file) && !journal::Pending(m_file));
    if (RetiredJournalBeside()) {
      m_journal = ReadFileBytes(journal::PathFor(m_file));
    } else {
      std::remove(journal::PathFor(m_file).c_str());
    }
    m_before = ReadFileBytes(m_file);
    ASSERT_TRUE(Ok(ReadTreeOfFile(m_file, m_beforeTree)));
    cache::Clear();  // each save below reads the file afresh
    Faulty counter(io::SystemFiles());
    io::UseFiles(&counter);
    const HRESULT hr = Save(m_file, nullptr, &counter, &m_commit);
    io::UseFiles(nullptr);
    ASSERT_TRUE(Ok(hr));
    m_after = ReadFileBytes(m_file);
    m_log = counter.Log();
    ASSERT_NE(m_before, m_after);
    ASSERT_TRUE(Ok(ReadTreeOfFile(m_file, m_afterTree)));
  }
  void TearDown() override { io::UseFiles(nullptr); }

  // The save under test meets the retired journal of the commit before it (as every save but a
  // file's first does), or no journal at all.
  virtual bool RetiredJournalBeside() const { return true; }

  void Reset() {
    cache::Clear();
    if (RetiredJournalBeside()) {
      WriteFileBytes(journal::PathFor(m_file), m_journal);
    } else {
      std::remove(journal::PathFor(m_file).c_str());
    }
    WriteFileBytes(m_file, m_before);
  }
  // Opens the file as the next run would (rolling a journal back) and tells how it is: before
  // and after when it holds what either file held (byte for byte, or only with other bytes in
  // space neither uses); kMixed: every record is as before or as after (a
  // step before the commit failed, and releasing the file committed the steps before it).
  enum class State { kBefore, kAfter, kMixed, kNeither };
  State Reopened() {
    cache::Clear();
    OpenOptions readOnly;
    readOnly.readOnly = true;
    Storage root;
    if (Failed(StgOpenStorage(m_file, readOnly, root))) return State::kNeither;
    root.Release();
    const std::string bytes = ReadFileBytes(m_file);
    if (bytes == m_before) return State::kBefore;
    if (bytes == m_after) return State::kAfter;
    // A batch writes a stream's new sectors where the file before did not use any: such bytes
    // may remain (with no journal to roll them back) while the file reads as before.
    Tree tree;
    if (Failed(ReadTreeOfFile(m_file, tree))) return State::kNeither;
    if (tree == m_beforeTree) return State::kBefore;
    if (tree == m_afterTree) return State::kAfter;
    for (const auto& [path, element] : tree) {
      const auto before = m_beforeTree.find(path);
      const auto after = m_afterTree.find(path);
      if (!(before != m_beforeTree.end() && before->second == element) &&
          !(after != m_afterTree.end() && after->second == element))
        return State::kNeither;
    }
    return State::kMixed;
  }
  static const char* StateName(State s) {
    return s == State::kBefore ? "before" : s == State::kAfter ? "after" : s == State::kMixed ? "mixed" : "neither";
  }

  TempDir m_dir;
  std::string m_file;
  std::string m_before, m_after;
  std::string m_journal;  // the retired journal the save meets
  // Fails each call of the save once with err, or cuts the power at each (see below).
  void FailEveryCall(int err);
  // landed: the save's unsynced writes reached the disk before the cut (see testfaultfiles.h).
  void CutPowerAtEveryCall(bool landed = false);

  Tree m_beforeTree, m_afterTree;
  std::vector<Call> m_log;  // the calls of a clean save
  CommitCalls m_commit;        // which of them the commit made
};

bool IsWriteOrSync(Call c) {
  return c == Call::kWrite || c == Call::kTruncate || c == Call::kSync || c == Call::kSyncFolder;
}

std::string Where(std::size_t i, Call c) { return "call " + std::to_string(i) + " (" + testfaults::CallName(c) + ")"; }

// Failed calls: the batch fails whenever a write or sync did, the journal stays beside a file
// that was changed, the file reads as before or after, and a clean save follows.
void FaultTest::FailEveryCall(int err) {
  {
    std::map<std::string, int> outcomes;
    for (std::size_t i = 0; i < m_log.size(); ++i) {
      SCOPED_TRACE(std::string(err == EIO ? "EIO" : "ENOSPC") + " at " + Where(i, m_log[i]));
      Reset();
      Faulty faulty(io::SystemFiles());
      faulty.FailAt(i, err);
      io::UseFiles(&faulty);
      std::uint64_t needed = 0;
      const HRESULT hr = Save(m_file, &needed);
      io::UseFiles(nullptr);
      ASSERT_TRUE(faulty.Injected());
      const std::vector<Call> log = faulty.Log();
      if (IsWriteOrSync(m_log[i])) {
        ASSERT_TRUE(Failed(hr)) << "a failed " << testfaults::CallName(m_log[i]) << " was reported as success";
        // A failed sync is not tried again: the kernel may have dropped what it could not write.
        if (m_log[i] == Call::kSync) {
          EXPECT_EQ(std::count(log.begin() + static_cast<std::ptrdiff_t>(i) + 1, log.end(), Call::kSync), 0);
        }
      }
      if (err == ENOSPC && (m_log[i] == Call::kWrite || m_log[i] == Call::kTruncate)) {
        EXPECT_EQ(hr, STG_E_MEDIUMFULL);
        EXPECT_GT(needed, 0u);
      }
      const bool inCommit = i >= m_commit.first && i < m_commit.end;
      const std::string bytes = ReadFileBytes(m_file);
      // Without a journal, only what the file before did not use may have been written.
      const bool unjournaledChange = Failed(hr) && bytes != m_before && bytes != m_after && !journal::Pending(m_file);
      const State state = Reopened();
      if (unjournaledChange) {
        ASSERT_EQ(state, State::kBefore) << "the file was changed in part and its journal is gone";
      }
      ASSERT_NE(state, State::kNeither);
      if (inCommit) {
        ASSERT_NE(state, State::kMixed);
      }
      if (Succeeded(hr)) {
        ASSERT_EQ(state, State::kAfter);
      }
      outcomes[std::string(inCommit ? "in the commit, " : i < m_commit.first ? "before the commit, " : "after the commit, ") +
               (Succeeded(hr) ? "saved, " : "failed, ") + StateName(state)]++;
      if (Failed(hr) && state == State::kBefore && inCommit) {
        ASSERT_TRUE(Ok(Save(m_file))) << "the next save did not start clean";
        ASSERT_TRUE(ReadFileBytes(m_file) == m_after) << "the file is not as the save wrote it";
      }
    }
    std::string counts;
    for (const auto& [what, n] : outcomes) counts += " " + what + ": " + std::to_string(n) + ";";
    std::printf("[ faults ] %s at each of %zu calls (the commit's: %zu to %zu):%s\n",
                err == EIO ? "EIO" : "ENOSPC", m_log.size(), m_commit.first, m_commit.end - 1, counts.c_str());
  }
}

TEST_F(FaultTest, EveryCallFailingWithEIOLeavesTheFileBeforeOrAfterAndTheNextSaveWorks) { FailEveryCall(EIO); }
TEST_F(FaultTest, EveryCallFailingWithENOSPCLeavesTheFileBeforeOrAfterAndTheNextSaveWorks) { FailEveryCall(ENOSPC); }

// Interrupted calls are made again and short writes go on: the save works.
TEST_F(FaultTest, InterruptedCallsAndShortWritesAreCarriedOn) {
  std::size_t interrupted = 0, partial = 0;
  for (std::size_t i = 0; i < m_log.size(); ++i) {
    const Call c = m_log[i];
    if (c != Call::kOpen && c != Call::kRead && c != Call::kWrite && c != Call::kTruncate && c != Call::kLock) continue;
    SCOPED_TRACE("EINTR at " + Where(i, c));
    Reset();
    Faulty faulty(io::SystemFiles());
    faulty.FailAt(i, EINTR);
    io::UseFiles(&faulty);
    const HRESULT hr = Save(m_file);
    io::UseFiles(nullptr);
    ASSERT_TRUE(Ok(hr));
    ASSERT_TRUE(ReadFileBytes(m_file) == m_after) << "the file is not as the save wrote it";
    ++interrupted;
  }
  const std::size_t writes = static_cast<std::size_t>(std::count(m_log.begin(), m_log.end(), Call::kWrite));
  for (std::size_t w = 0; w < writes; ++w) {
    SCOPED_TRACE("partial write " + std::to_string(w));
    Reset();
    Faulty faulty(io::SystemFiles());
    faulty.PartialAt(w);
    io::UseFiles(&faulty);
    const HRESULT hr = Save(m_file);
    io::UseFiles(nullptr);
    ASSERT_TRUE(Ok(hr));
    ASSERT_TRUE(ReadFileBytes(m_file) == m_after) << "the file is not as the save wrote it";
    ++partial;
  }
  std::printf("[ faults ] EINTR at %zu of %zu calls, a partial write at each of %zu writes: all saved\n",
              interrupted, m_log.size(), partial);
}

// A power cut at any call, and just after the save: the file holds every record as before or
// every record as after, and olefile reads it.
void FaultTest::CutPowerAtEveryCall(bool landed) {
  std::map<std::string, int> outcomes;
  int oleChecked = 0;
  for (std::size_t i = 0; i <= m_log.size(); ++i) {
    SCOPED_TRACE("power cut at " + (i < m_log.size() ? Where(i, m_log[i]) : std::string("the end")));
    Reset();
    Faulty faulty(io::SystemFiles());
    faulty.Watch(m_dir.path().string());
    faulty.CutPowerAt(i, landed);
    io::UseFiles(&faulty);
    const HRESULT hr = Save(m_file);
    io::UseFiles(nullptr);
    ASSERT_EQ(faulty.Injected(), i < m_log.size());
    if (i < m_commit.end) {
      ASSERT_TRUE(Failed(hr)) << "a save cut short reported success";
    }
    faulty.RestoreAfterPowerCut();
    const State state = Reopened();
    ASSERT_TRUE(state == State::kBefore || state == State::kAfter) << StateName(state);
    // What was reported saved stays saved.
    if (Succeeded(hr)) {
      ASSERT_EQ(state, State::kAfter) << "a save reported done was lost in the power cut";
    }
    outcomes[state == State::kAfter ? "after" : "before"]++;
    if (i % 40 == 0 || i + 1 >= m_log.size()) {
      Tree ole;
      std::string error;
      ASSERT_TRUE(OleTree(m_file, ole, error, false)) << error;
      ++oleChecked;
    }
  }
  std::printf("[ faults ] power cut at each of %zu calls and after the last (%s, unsynced writes %s): before %d, after %d; olefile read %d of them\n",
              m_log.size(), RetiredJournalBeside() ? "over a retired journal" : "a new journal", landed ? "landed" : "lost",
              outcomes["before"], outcomes["after"], oleChecked);
}

TEST_F(FaultTest, APowerCutAtAnyCallLeavesTheFileBeforeOrAfter) { CutPowerAtEveryCall(); }

// A file's first save creates its journal, whose name must last before anything is written in
// place.
class FirstSaveFaultTest : public FaultTest {
 protected:
  bool RetiredJournalBeside() const override { return false; }
};

TEST_F(FirstSaveFaultTest, APowerCutAtAnyCallOfTheFirstSaveLeavesTheFileBeforeOrAfter) { CutPowerAtEveryCall(); }

// The other extreme: every write reached the disk, only what no sync covered (names) is lost.
TEST_F(FaultTest, LandedUnsyncedWritesAndACutAtAnyCallLeaveTheFileBeforeOrAfter) { CutPowerAtEveryCall(true); }
TEST_F(FirstSaveFaultTest, LandedUnsyncedWritesAndACutAtAnyCallOfTheFirstSaveLeaveTheFileBeforeOrAfter) {
  CutPowerAtEveryCall(true);
}

// Creating a data file: once the open has said it exists, a power cut does not take it away;
// before that it is absent or a sound empty file.
TEST(FaultCreate, ANewFileSurvivesAPowerCutOnceItsOpenReturned) {
  TempDir dir;
  const std::string file = dir.file("VNDATA.DB");
  OpenOptions create;
  create.create = true;
  std::size_t calls = 0;
  {
    Faulty counter(io::SystemFiles());
    io::UseFiles(&counter);
    Storage root;
    ASSERT_TRUE(Ok(StgOpenStorage(file, create, root)));
    root.Release();
    io::UseFiles(nullptr);
    calls = counter.Calls();
  }
  for (std::size_t i = 0; i <= calls; ++i) {
    SCOPED_TRACE("power cut at call " + std::to_string(i));
    std::remove(file.c_str());
    cache::Clear();
    Faulty faulty(io::SystemFiles());
    faulty.Watch(dir.path().string());
    faulty.CutPowerAt(i);
    io::UseFiles(&faulty);
    Storage root;
    const HRESULT hr = StgOpenStorage(file, create, root);
    root.Release();
    io::UseFiles(nullptr);
    faulty.RestoreAfterPowerCut();
    cache::Clear();
    struct stat st {};
    const bool exists = ::stat(file.c_str(), &st) == 0;
    if (Succeeded(hr)) {
      ASSERT_TRUE(exists) << "a created file was lost in the power cut";
    }
    if (exists) {
      OpenOptions readOnly;
      readOnly.readOnly = true;
      ASSERT_TRUE(Ok(StgOpenStorage(file, readOnly, root)));
      root.Release();
    }
  }
}

}  // namespace
