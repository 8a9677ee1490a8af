#include "varnow/ui/QtPrompts.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QThread>

#include "platform/process.h"
#include "platform/tracelog.h"
#include "varnow/alerts/DesktopNotification.h"
#include "varnow/ui/ClusterSizeDialog.h"
#include "varnow/ui/HeadlessPrompts.h"
#include "varnow/ui/MissingDirectoryDialog.h"
#include "varnow/ui/ScanProgressDialog.h"

namespace varnow {

namespace {
bool OnGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}
}  // namespace

void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, bool exclamation) {
  QMessageBox box(exclamation ? QMessageBox::Warning : QMessageBox::Information, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool CQtPrompts::AskScanMissingDirectory() { return CMissingDirectoryDialog::Ask(m_parent); }

void CQtPrompts::AskClusterSize(const std::string& root) {
  // Off the GUI thread nobody can be asked: the default is taken, as OK on the offered row would.
  if (!OnGuiThread()) {
    StoreDefaultClusterSize(root);
    return;
  }
  ClusterSizeDialog(root, m_parent);
}

std::unique_ptr<CScanProgress> CQtPrompts::CreateScanProgress() {
  if (!OnGuiThread()) return nullptr;
  return std::make_unique<CScanProgressDialog>(m_parent);
}

void CQtPrompts::ShowMessage(const std::string& text, const std::string& caption) {
  if (OnGuiThread()) {
    ShowMessageBox(m_parent, text, caption);
    return;
  }
  // Shown when the GUI thread next handles its events; the writer does not wait for the click.
  QPointer<QWidget> parent = m_parent;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [parent, text, caption] { ShowMessageBox(parent, text, caption); },
      Qt::QueuedConnection);
}

void CQtPrompts::ShowAlert(const CAlertNotice& alert) {
  if (ShowDesktopNotification(alert, QFile::decodeName(platform::ProgramPath().c_str()))) return;
  // Without a notification server: one box per alert, however often the scheduler runs it.
  CAlertBoxGuard guard(alert);
  if (!guard.Acquired()) {
    ReportWithoutWindow(kAlertCaption, alert.message + " (its box is already open)");
    return;
  }
  VN_TRACE("Alert box: %s", alert.message.c_str());
  // Nobody is at the window that started this run: the box comes to the front by itself.
  QMessageBox box(QMessageBox::Warning, kAlertCaption, QString::fromStdString(alert.message), QMessageBox::Ok, m_parent);
  box.setTextFormat(Qt::PlainText);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.show();
  box.raise();
  box.activateWindow();
  box.exec();
}

}  // namespace varnow
