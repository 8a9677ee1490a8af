// The main window object without a window: what an automated run and the scan session use.
#include "varnow/ui/VarnowDlg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <mutex>

#include "varnow/testsupport/TestHome.h"
#include "varnow/ui/HeadlessPrompts.h"

namespace varnow {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Keeps written records in memory.
class CMemoryStore : public IScanStore {
 public:
  LoadResult Read(CDirData&) override { return LoadResult::NoStorage; }
  void Write(const std::vector<CDirData>& records, const FailureHandler&) override {
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

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // no windows: questions take their default answers
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
