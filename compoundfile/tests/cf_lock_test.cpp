// One opener at a time: a second opener, in another process or in this one, waits up to its
// time-out for the first to let go and then gives up with STG_E_LOCKVIOLATION. Whoever gets
// the file next sees it as the last writer left it, however it was changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "compoundfile/compoundfile.h"
#include "compoundfile/tests/cftest_util.h"

using namespace cfb;
using namespace cftest;
using namespace std::chrono_literals;

namespace {

OpenOptions Waiting(std::chrono::milliseconds wait, bool readOnly = false) {
  OpenOptions options;
  options.lockWait = wait;
  options.readOnly = readOnly;
  return options;
}

// A child process that opens the file, optionally writes a stream, reports, and holds the file
// until told to let go (or until it is killed).
class Holder {
 public:
  Holder(const std::string& file, bool readOnly, const std::string& note = {}) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      close(ready[0]);
      close(release[1]);
      char status = 'f';
      {
        Storage root;
        if (Succeeded(StgOpenStorage(file, Waiting(10s, readOnly), root)) &&
            (note.empty() || Succeeded(PutStream(root, u"note", note))))
          status = 'o';
        (void)!write(ready[1], &status, 1);
        char go;
        (void)!read(release[0], &go, 1);
      }
      _exit(status == 'o' ? 0 : 1);
    }
    close(ready[1]);
    close(release[0]);
    m_release = release[1];
    char status = 'f';
    m_opened = read(ready[0], &status, 1) == 1 && status == 'o';
    close(ready[0]);
  }
  ~Holder() {
    if (m_pid > 0) Finish();
  }
  bool opened() const { return m_opened; }
  void Release() {
    if (m_release >= 0) {
      (void)!write(m_release, "g", 1);
      close(m_release);
      m_release = -1;
    }
  }
  int Finish() {
    Release();
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return status;
  }
  void Kill() {
    kill(m_pid, SIGKILL);
    close(m_release);  // nobody reads it any more
    m_release = -1;
    Finish();
  }

 private:
  pid_t m_pid = -1;
  int m_release = -1;
  bool m_opened = false;
};

class Locking : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    file = dir.file("locked.cfb");
    Storage root;
    OpenOptions create;
    create.create = true;
    ASSERT_TRUE(Ok(StgOpenStorage(file, create, root)));
    ASSERT_TRUE(Ok(PutStream(root, u"note", "before")));
  }
  std::string Note() {
    Storage root;
    Stream stream;
    std::string text;
    if (Failed(StgOpenStorage(file, Waiting(10s, true), root)) || Failed(root.OpenStream(u"note", stream)) ||
        Failed(ReadAll(stream, text)))
      return "<unreadable>";
    return text;
  }
  TempDir dir;
  std::string file;
};

TEST_F(Locking, SecondProcessGivesUpAfterItsWait) {
  Holder holder(file, false);
  ASSERT_TRUE(holder.opened());
  Storage root;
  EXPECT_TRUE(Is(STG_E_LOCKVIOLATION, StgOpenStorage(file, Waiting(0ms), root)));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Is(STG_E_LOCKVIOLATION, StgOpenStorage(file, Waiting(400ms), root)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 380ms) << "gave up before its wait was over";
  EXPECT_FALSE(root.IsOpen());
  // A reader is kept out by a writer as well.
  EXPECT_TRUE(Is(STG_E_LOCKVIOLATION, StgOpenStorage(file, Waiting(50ms, true), root)));
}

TEST_F(Locking, SecondProcessGetsTheFileWhenTheFirstLetsGoWithinTheWait) {
  Holder holder(file, false, "from the first");
  ASSERT_TRUE(holder.opened());
  std::thread releaser([&] {
    std::this_thread::sleep_for(300ms);
    holder.Release();
  });
  Storage root;
  const HRESULT hr = StgOpenStorage(file, Waiting(30s), root);
  releaser.join();
  ASSERT_TRUE(Ok(hr));
  // The first opener's batch is visible to the second.
  Stream stream;
  std::string text;
  ASSERT_TRUE(Ok(root.OpenStream(u"note", stream)));
  ASSERT_TRUE(Ok(ReadAll(stream, text)));
  EXPECT_EQ(text, "from the first");
  EXPECT_EQ(holder.Finish(), 0);
}

TEST_F(Locking, KilledHolderLeavesTheFileOpenable) {
  Holder holder(file, false, "never released");
  ASSERT_TRUE(holder.opened());
  holder.Kill();
  Storage root;
  ASSERT_TRUE(Ok(StgOpenStorage(file, Waiting(5s), root)));
  root.Release();
  const std::string note = Note();
  EXPECT_TRUE(note == "before" || note == "never released") << note;
}

TEST_F(Locking, ReadersShareButKeepWritersOut) {
  Holder reader(file, true);
  ASSERT_TRUE(reader.opened());
  {
    Storage second;
    EXPECT_TRUE(Ok(StgOpenStorage(file, Waiting(2s, true), second))) << "second reader refused";
  }
  Storage writer;
  EXPECT_TRUE(Is(STG_E_LOCKVIOLATION, StgOpenStorage(file, Waiting(100ms), writer)));
  reader.Release();
  EXPECT_TRUE(Ok(StgOpenStorage(file, Waiting(10s), writer)));
}

TEST_F(Locking, SecondOpenInTheSameProcessWaitsToo) {
  Storage first;
  ASSERT_TRUE(Ok(StgOpenStorage(file, Waiting(0ms), first)));
  Storage second;
  EXPECT_TRUE(Is(STG_E_LOCKVIOLATION, StgOpenStorage(file, Waiting(200ms), second)));
  EXPECT_FALSE(second.IsOpen());

  ASSERT_TRUE(Ok(PutStream(first, u"note", "first batch")));
  std::thread releaser([&] {
    std::this_thread::sleep_for(200ms);
    first.Release();
  });
  const HRESULT hr = StgOpenStorage(file, Waiting(30s), second);
  releaser.join();
  ASSERT_TRUE(Ok(hr));
  Stream stream;
  std::string text;
  ASSERT_TRUE(Ok(second.OpenStream(u"note", stream)));
  ASSERT_TRUE(Ok(ReadAll(stream, text)));
  EXPECT_EQ(text, "first batch");
}

TEST_F(Locking, ChangesByAnotherProcessAreSeenAtOnce) {
  // Same-sized rewrites straight after a read: nothing but the content tells the versions apart.
  for (int round = 0; round < 20; ++round) {
    const std::string text = "round " + std::to_string(round % 10) + (round < 10 ? "a" : "b");
    ASSERT_NE(Note(), text);
    {
      Holder writer(file, false, text);
      ASSERT_TRUE(writer.opened());
    }
    ASSERT_EQ(Note(), text) << "a stale copy of the file was read";
  }
}

TEST_F(Locking, FileRestoredInPlaceWithItsOldTimeIsReadAfresh) {
  // Like `cp -p backup file`: same inode, same length, the modification time put back.
  {
    Storage root;
    ASSERT_TRUE(Ok(StgOpenStorage(file, {}, root)));
    ASSERT_TRUE(Ok(PutStream(root, u"note", "version 1")));
  }
  const std::string backup = ReadFileBytes(file);
  {
    Storage root;
    ASSERT_TRUE(Ok(StgOpenStorage(file, {}, root)));
    ASSERT_TRUE(Ok(PutStream(root, u"note", "version 2")));
  }
  ASSERT_EQ(Note(), "version 2");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  const std::string current = ReadFileBytes(file);
  ASSERT_EQ(current.size(), backup.size());
  {
    const int fd = open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, backup.data(), backup.size(), 0), static_cast<ssize_t>(backup.size()));
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(futimens(fd, times), 0);
    close(fd);
  }
  EXPECT_EQ(Note(), "version 1");
}

TEST_F(Locking, ChildHandlesKeepTheFileUntilTheLastIsReleased) {
  Stream kept;
  {
    Storage root;
    ASSERT_TRUE(Ok(StgOpenStorage(file, {}, root)));
    ASSERT_TRUE(Ok(root.OpenStream(u"note", kept)));
  }
  Storage other;
  EXPECT_TRUE(Is(STG_E_LOCKVIOLATION, StgOpenStorage(file, Waiting(100ms), other)));
  kept.Release();
  EXPECT_TRUE(Ok(StgOpenStorage(file, Waiting(0ms), other)));
}

}  // namespace
