#include "varnow/ui/VarnowDlg.h"

#include <QMessageBox>
#include <stdexcept>

#include "platform/tracelog.h"
#include "varnow/store/DataFile.h"
#include "varnow/ui/Interaction.h"
#include "varnow/ui/MissingDirectoryDialog.h"
#include "varnow/ui/ScanProgressDialog.h"

namespace varnow {

CVarnowDlg::CVarnowDlg(std::unique_ptr<IScanStore> store, CScanOptions options) {
  try {
    if (!store) store = std::make_unique<CDataFile>(this);
    // The session is constructed (and traces) before this object's own lines.
    m_scanInfo = std::make_unique<CScanInfo>(this, std::move(store), std::move(options));
    VN_TRACE("CVarnowDlg Constructor");
    m_settings = ReadWindowSettings();
  } catch (...) {
    VN_TRACE("**Exception in CVarnowDlg Constructor\n");
  }
}

CVarnowDlg::~CVarnowDlg() {
  VN_TRACE("CVarnowDlg Destructor");
  // Everything queued is written while the settings it needs still exist.
  if (m_scanInfo) m_scanInfo->ShutdownWarning();
  m_scanInfo.reset();
}

CScanInfo& CVarnowDlg::Session() {
  if (!m_scanInfo) throw std::runtime_error("no scan session");
  return *m_scanInfo;
}

void CVarnowDlg::OnScan() {
  try {
    VN_TRACE("CVarnowDlg::OnScan Begin");
    CScanInfo& session = Session();
    session.SetScanDir(m_directoryText);
    m_directoryText = session.GetScanDir();
    CDirData record = session.dd;
    if (session.DoScan(1, record, m_commandLine.automatedRun != 0) != -1) session.dd = std::move(record);
    // An interactive scan refreshes the statistics and the grid here, once the window exists.
    VN_TRACE("CVarnowDlg::OnScan End");
  } catch (...) {
    VN_TRACE("** Exception in OnScan\n");
  }
}

void CVarnowDlg::OnSave() {
  try {
    Session().QueueSave(Session().dd);
  } catch (...) {
    VN_TRACE("** Exception in OnSave\n");
  }
}

bool CVarnowDlg::AskScanMissingDirectory() { return CMissingDirectoryDialog::Ask(nullptr); }

void CVarnowDlg::AskClusterSize(const std::string& root) {
  // Until the window brings its cluster size dialog, the answer is the default size, stored as
  // the dialog's OK would store it.
  WriteProfileIntAsText(kFixedClusterSizesSection, root, kDefaultClusterSize);
  VN_TRACE("Cluster size of %s taken as %d", root.c_str(), kDefaultClusterSize);
}

std::unique_ptr<CScanProgress> CVarnowDlg::CreateScanProgress() {
  if (!CanShowWindows()) return nullptr;
  return std::make_unique<CScanProgressDialog>(nullptr);
}

void CVarnowDlg::ShowMessage(const std::string& text, const std::string& caption) {
  ShowMessageBox(nullptr, text, caption, MessageIcon::Exclamation);
}

void CVarnowDlg::RefreshView() {
  // Statistics and grid belong to the window; without one there is nothing to refresh.
}

CAlertRun CVarnowDlg::AlertRun() {
  CScanInfo& session = Session();
  CAlertRun run;
  run.dd = &session.dd;
  run.scanDir = session.GetScanDir();
  run.displayUnit = m_settings.preferredUnits;
  run.alertPercent = m_commandLine.percentThreshold;
  run.alertSize = m_commandLine.sizeThreshold;
  run.freeAlert = m_commandLine.freeMinimum;
  run.notifyCommand = m_commandLine.notifyCommand;
  run.getFreeSpace = [&session](const std::string& dir, std::uint64_t& freeBytes) {
    return session.ORVGetFreeSpace(dir, freeBytes);
  };
  run.owner = this;
  return run;
}

void CVarnowDlg::ShowAlert(const std::string& text) {
  static constexpr char kCaption[] = "Varnow Alert";
  if (!CanShowWindows()) {
    ReportWithoutWindow(kCaption, text);
    return;
  }
  // Nobody is at the window that started this run: the box comes to the front by itself.
  QMessageBox box(QMessageBox::Warning, kCaption, QString::fromStdString(text), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.show();
  box.raise();
  box.activateWindow();
  box.exec();
}

CPrintSettings CVarnowDlg::PrintSettings() const {
  return {m_settings.printDestination, m_settings.printFilePath, m_settings.commaDelimited,
          m_settings.enhancedPrinting, m_settings.printColumns};
}

void CVarnowDlg::SetPrintSettings(const CPrintSettings& settings) {
  m_settings.printDestination = settings.printDestination;
  m_settings.printFilePath = settings.printFilePath;
  m_settings.commaDelimited = settings.commaDelimited;
  m_settings.enhancedPrinting = settings.enhancedPrinting;
  m_settings.printColumns = settings.printColumns;
}

CReportSource CVarnowDlg::ReportSource() {
  CScanInfo& session = Session();
  return {&session.dd, session.GetScanDir(), m_settings.preferredUnits, m_settings.preferredSortMethod,
          GetProfileStringEx(setting::kHomePage)};
}

void CVarnowDlg::SetScanDirectory(const std::string& directory) {
  Session().SetScanDir(directory);
  m_directoryText = directory;
}

}  // namespace varnow
