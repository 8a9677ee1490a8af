// The main window object without a window: what an automated run and the scan session use.
#include "varnow/ui/VarnowDlg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <mutex>
#include <stdexcept>

#include "platform/mounts.h"
#include "varnow/report/FormatSize.h"
#include "varnow/testsupport/AlertTestSupport.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/ui/HeadlessPrompts.h"
#include "varnow/ui/Varnow.h"

namespace varnow {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Keeps written records in memory.
class CMemoryStore : public IScanStore {
 public:
  LoadResult Read(CDirData&) override { return LoadResult::NoStorage; }
  void Write(std::span<const CDirData> records, const FailureHandler&) override {
    std::lock_guard lock(*m_lock);
    m_written->insert(m_written->end(), records.begin(), records.end());
  }
  std::shared_ptr<std::mutex> m_lock = std::make_shared<std::mutex>();
  std::shared_ptr<std::vector<CDirData>> m_written = std::make_shared<std::vector<CDirData>>();
};

class VarnowDlgTest : public ::testing::Test {
 protected:
  std::unique_ptr<CVarnowDlg> MakeDlg() {
    auto store = std::make_unique<CMemoryStore>();
    m_written = store->m_written;
    return std::make_unique<CVarnowDlg>(m_prompts, std::move(store));
  }
  test::CTestHome m_home;
  CHeadlessPrompts m_prompts;
  std::shared_ptr<std::vector<CDirData>> m_written;
};

TEST_F(VarnowDlgTest, AutomatedScanKeepsTheResultAndSaveQueuesIt) {
  const std::string root = m_home.MakeFolder("tree");
  m_home.MakeFolder("tree/sub");
  test::WriteWholeFile(root + "sub/f", std::string(100, 'f'));
  WriteProfileInt(kSettingsSection, setting::kPreferredClusterSetting.name, 4);  // the exact length
  {
    auto dlg = MakeDlg();
    dlg->SetAutoSave(0);
    dlg->SetSubDirSave(0);
    dlg->SetScanDirectory(root.substr(0, root.size() - 1));
    dlg->CommandLineFields().automatedRun = 1;
    dlg->OnScan();
    EXPECT_EQ(dlg->DirectoryText(), root);  // the session's form of the directory
    EXPECT_EQ(dlg->Session().dd.m_currentScanDir, root);
    ASSERT_NE(dlg->Session().dd.FindEntry("sub"), nullptr);
    EXPECT_EQ(dlg->Session().dd.FindEntry("sub")->sizes[0], 100);
    dlg->OnSave();
  }  // the destructor writes what was queued
  ASSERT_EQ(m_written->size(), 1u);
  EXPECT_EQ(m_written->front().m_currentScanDir, root);
}

TEST_F(VarnowDlgTest, QuestionsWithoutWindows) {
  CHeadlessPrompts prompts;
  // The cluster size question is answered with the default size, stored as an override.
  prompts.AskClusterSize("/mnt/odd volume");
  EXPECT_EQ(GetProfileString(kFixedClusterSizesSection, "/mnt/odd volume", ""), "16384");

  EXPECT_EQ(prompts.CreateScanProgress(), nullptr);

  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(prompts.AskScanMissingDirectory());
  prompts.ShowMessage("Disk Write Error", "Varnow");
  prompts.ShowAlert(CAlertNotice{"/", EAlertKind::kSize, "grew"});
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("varnow: Directory Doesn't Exist!: The directory"));
  // The program's name once: a caption that is only the name again is left out.
  EXPECT_THAT(err, HasSubstr("\nvarnow: Disk Write Error\n"));
  EXPECT_THAT(err, Not(HasSubstr("varnow: Varnow: ")));
  EXPECT_THAT(err, HasSubstr("\nvarnow: Varnow Alert: grew\n"));
}

// Keeps what was published to it.
class CFakeView : public IVarnowView {
 public:
  void ShowSnapshot(const std::shared_ptr<const CDirSnapshot>& snapshot) override { shown.push_back(snapshot); }
  std::vector<std::shared_ptr<const CDirSnapshot>> shown;
};

std::int64_t Latest(const CDirData& record, const std::string& name) {
  const CDirInfo* entry = record.FindEntry(name);
  return entry ? entry->sizes[0] : -2;
}

TEST_F(VarnowDlgTest, ASnapshotStaysWholeWhenAScanReplacesTheRecord) {
  const std::string root = m_home.MakeFolder("tree");
  m_home.MakeFolder("tree/sub");
  test::WriteWholeFile(root + "sub/f", std::string(100, 'f'));
  WriteProfileInt(kSettingsSection, setting::kPreferredClusterSetting.name, 4);  // the exact length
  auto dlg = MakeDlg();
  CFakeView view;
  dlg->SetView(&view);
  dlg->SetDirectoryText(root);
  dlg->OnScan();
  const std::shared_ptr<const CDirSnapshot> before = dlg->Snapshot();
  ASSERT_NE(before, nullptr);
  EXPECT_EQ(view.shown.back(), before);
  const CDirInfo* entry = before->record->FindEntry("sub");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->sizes[0], 100);

  // The next scan replaces the session's record; the snapshot held keeps its own.
  test::WriteWholeFile(root + "sub/g", std::string(200, 'g'));
  for (int i = 0; i < 300; ++i) m_home.MakeFolder("tree/more" + std::to_string(i));  // moves the entries
  dlg->OnScan();
  EXPECT_EQ(entry->sizes[0], 100);  // read after the record it came from was replaced
  EXPECT_EQ(before->record->m_entries.size(), 3u);
  EXPECT_EQ(Latest(*before->record, "sub"), 100);
  const std::shared_ptr<const CDirSnapshot> after = dlg->Snapshot();
  ASSERT_NE(after, before);
  EXPECT_EQ(Latest(*after->record, "sub"), 300);
  EXPECT_EQ(Latest(dlg->Session().dd, "sub"), 300);
  // What is published never follows the session's record afterwards.
  dlg->Session().dd.m_entries.clear();
  EXPECT_EQ(Latest(*after->record, "sub"), 300);
  dlg->SetView(nullptr);
}

// Holds one saved record for every directory asked for.
class CSavedRecordStore : public CMemoryStore {
 public:
  LoadResult Read(CDirData& record) override {
    record.FindOrAddEntry("kept").sizes[0] = 4096;
    return LoadResult::Loaded;
  }
};

// Declines to scan a directory that is not there.
class CDecliningPrompts : public CHeadlessPrompts {
 public:
  bool AskScanMissingDirectory() override { return false; }
};

TEST_F(VarnowDlgTest, AScanThatFailsLeavesTheSavedRecordShown) {
  CDecliningPrompts prompts;
  CVarnowDlg dlg(prompts, std::make_unique<CSavedRecordStore>());
  dlg.SetDirectoryText(m_home.Root() + "/gone/");
  dlg.OnScan();  // the directory is missing and the scan is declined
  EXPECT_EQ(Latest(dlg.Session().dd, "kept"), 4096);
  EXPECT_EQ(dlg.Session().dd.m_entries.size(), 1u);
}

TEST_F(VarnowDlgTest, PublishedFiguresAreTheScannedDirectorysOnce) {
  const std::string root = m_home.MakeFolder("figures");
  m_home.MakeFolder("figures/a");
  m_home.MakeFolder("figures/a/b");
  test::WriteWholeFile(root + "own", std::string(1000, 'o'));
  test::WriteWholeFile(root + "a/f", std::string(5000, 'f'));
  WriteProfileInt(kSettingsSection, setting::kPreferredClusterSetting.name, 4);
  WriteProfileInt(kSettingsSection, setting::kPreferredUnits.name, StoredCode(SizeUnit::kBytes));
  auto dlg = MakeDlg();
  // Without a window nothing is copied for one.
  dlg->SetScanDirectory(root);
  EXPECT_EQ(dlg->Snapshot(), nullptr);
  CFakeView view;
  dlg->SetView(&view);
  dlg->SetDirectoryText(root);
  const std::size_t published = view.shown.size();
  dlg->OnScan();
  EXPECT_EQ(view.shown.size(), published + 2);  // the directory set, then the scan's result
  const CDirSnapshot& shown = *dlg->Snapshot();
  EXPECT_EQ(shown.record->m_currentScanDir, root);
  EXPECT_EQ(shown.scannedSize, 1000);
  EXPECT_EQ(shown.record->m_total, 6000);
  EXPECT_TRUE(shown.counted);
  EXPECT_EQ(shown.directories, 2);  // those below it
  EXPECT_EQ(shown.files, 2);
  EXPECT_FALSE(shown.countsOnDisk);
  const platform::MountTable mounts = platform::MountTable::Load();
  ASSERT_NE(mounts.MountOf(root), nullptr);
  EXPECT_EQ(shown.scanRoot, mounts.MountOf(root)->mountPoint);
  EXPECT_GT(shown.freeSpace, 0);
  CStatusTexts texts = StatusTexts(shown, SizeUnit::kBytes);
  EXPECT_EQ(texts.scannedSize, "1,000 bytes");
  EXPECT_EQ(texts.totalUsed, "6,000 bytes");
  EXPECT_EQ(texts.directories, "2");
  EXPECT_EQ(texts.files, "2");
  EXPECT_EQ(texts.clusterSize, "apparent sizes");
  // Another unit needs no new figures.
  EXPECT_EQ(StatusTexts(shown, SizeUnit::kK).totalUsed, FormatSize(6000, true, SizeUnit::kK));

  // The counts are of the scanned directory only.
  ASSERT_TRUE(dlg->OpenSubdirectory("a"));
  EXPECT_FALSE(dlg->Snapshot()->counted);
  EXPECT_EQ(StatusTexts(*dlg->Snapshot(), SizeUnit::kBytes).directories, "");
  EXPECT_EQ(dlg->Snapshot()->scannedSize, 5000);
  dlg->SetView(nullptr);
}

TEST_F(VarnowDlgTest, ACompressedVolumeIsToldFromTheOneMountTable) {
  const std::string root = m_home.MakeFolder("packed");
  const std::string mountinfo = m_home.Root() + "/mountinfo";
  test::WriteWholeFile(mountinfo, "20 1 0:99 / / rw - btrfs /dev/x rw,compress=zstd\n");
  CScanOptions options;
  options.mountinfoPath = mountinfo;
  CVarnowDlg dlg(m_prompts, std::make_unique<CMemoryStore>(), options);
  CFakeView view;
  dlg.SetView(&view);
  ASSERT_TRUE(dlg.GoToDirectory(root));
  EXPECT_EQ(dlg.Snapshot()->scanRoot, "/");
  EXPECT_TRUE(dlg.Snapshot()->compressed);
  EXPECT_TRUE(StatusTexts(*dlg.Snapshot(), SizeUnit::kK).compressed);
  dlg.SetView(nullptr);
}

TEST(ParentDirectory, GoesUpByPathComponents) {
  EXPECT_EQ(ParentDirectory("/data/sub/"), "/data/");
  EXPECT_EQ(ParentDirectory("/data/sub"), "/data/");
  EXPECT_EQ(ParentDirectory("/data/"), "/");
  EXPECT_EQ(ParentDirectory("/data"), "/");
  EXPECT_EQ(ParentDirectory("/"), "/");
  EXPECT_EQ(ParentDirectory("/data/sub///"), "/data/");
  EXPECT_EQ(ParentDirectory("/data//sub/"), "/data/");
  EXPECT_EQ(ParentDirectory("/caf\xE9/two\nlines/"), "/caf\xE9/");  // names are bytes
  EXPECT_EQ(ParentDirectory("/a b/c.d/"), "/a b/");
}

TEST_F(VarnowDlgTest, NavigationGoesDownAndUpToTheRoot) {
  const std::string root = m_home.MakeFolder("nav");
  m_home.MakeFolder("nav/alpha");
  m_home.MakeFolder("nav/alpha/deep");
  auto dlg = MakeDlg();
  CFakeView view;
  dlg->SetView(&view);
  ASSERT_TRUE(dlg->GoToDirectory(root + "alpha/deep//"));
  EXPECT_EQ(dlg->DirectoryText(), root + "alpha/deep/");
  EXPECT_EQ(dlg->Snapshot()->record->m_currentScanDir, root + "alpha/deep/");
  ASSERT_TRUE(dlg->GoUp());
  EXPECT_EQ(dlg->DirectoryText(), root + "alpha/");
  EXPECT_EQ(dlg->Snapshot()->record->m_currentScanDir, root + "alpha/");
  ASSERT_TRUE(dlg->OpenSubdirectory("deep"));
  EXPECT_EQ(dlg->ScanDir(), root + "alpha/deep/");
  // The summary rows open nothing, and change nothing.
  const std::size_t published = view.shown.size();
  EXPECT_FALSE(dlg->OpenSubdirectory("[Total Free]"));
  EXPECT_FALSE(dlg->OpenSubdirectory(std::string(kTotalUsed)));
  EXPECT_EQ(view.shown.size(), published);
  EXPECT_EQ(dlg->ScanDir(), root + "alpha/deep/");
  // Up to the root, where it stays.
  for (int i = 0; i < 64 && dlg->ScanDir() != "/"; ++i) ASSERT_TRUE(dlg->GoUp());
  EXPECT_EQ(dlg->ScanDir(), "/");
  ASSERT_TRUE(dlg->GoUp());
  EXPECT_EQ(dlg->ScanDir(), "/");
  EXPECT_EQ(dlg->DirectoryText(), "/");
  // A typed text that names nothing is kept but not shown.
  EXPECT_FALSE(dlg->ChangeDirectoryText(root + "alph"));
  EXPECT_EQ(dlg->DirectoryText(), root + "alph");
  EXPECT_EQ(dlg->ScanDir(), "/");
  EXPECT_TRUE(dlg->ChangeDirectoryText(root + "alpha"));
  EXPECT_EQ(dlg->DirectoryText(), root + "alpha/");
  dlg->SetView(nullptr);
}

TEST_F(VarnowDlgTest, AMainWindowObjectThatCannotBeMadeIsToldAndEndsWithStatus1) {
  test::CRecordingPrompts prompts;
  bool ran = false;
  CVarnowApp app(prompts, [&ran](CVarnowDlg&) { ran = true; },
                 [](IPrompts&) -> std::unique_ptr<CVarnowDlg> { throw std::runtime_error("no scan session"); });
  app.InitInstance("");
  EXPECT_FALSE(ran);  // no window of dead buttons
  EXPECT_EQ(app.ExitStatus(), kExitCannotStart);
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_THAT(prompts.messages[0], HasSubstr("could not start"));
  EXPECT_THAT(prompts.messages[0], HasSubstr("(no scan session)"));
  // An automated run is not attempted either.
  test::CRecordingPrompts unattended;
  CVarnowApp automated(unattended, nullptr, [](IPrompts&) -> std::unique_ptr<CVarnowDlg> { throw 1; });
  automated.InitInstance("/SCAN /DIR=" + m_home.Root());
  EXPECT_EQ(automated.ExitStatus(), kExitCannotStart);
  ASSERT_EQ(unattended.messages.size(), 1u);
  EXPECT_THAT(unattended.messages[0], HasSubstr("main window object could not be made."));
}

TEST_F(VarnowDlgTest, AWindowThatCannotBeMadeIsToldAndEndsWithStatus1) {
  test::CRecordingPrompts prompts;
  CVarnowApp app(prompts, [](CVarnowDlg&) { throw std::runtime_error("no display connection"); });
  app.InitInstance("");
  EXPECT_EQ(app.ExitStatus(), kExitCannotStart);
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_THAT(prompts.messages[0], HasSubstr("its window could not be made (no display connection)"));
  // A window that opens and closes ends the run with 0.
  test::CRecordingPrompts fine;
  CVarnowApp shown(fine, [](CVarnowDlg&) {});
  shown.InitInstance("");
  EXPECT_EQ(shown.ExitStatus(), 0);
  EXPECT_TRUE(fine.messages.empty());
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // no windows: questions take their default answers
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
