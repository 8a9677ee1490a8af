#include "varnow/update/UpdateBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "platform/guarded.h"
#include "platform/tracelog.h"

namespace varnow {

namespace {

// The About box's child that runs its check.
constexpr char kAboutCheckName[] = "varnow-manual-update-check";

void ShowInformationBox(QWidget* parent, const QString& caption, const QString& text) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    VN_TRACE("%s: %s", caption.toUtf8().constData(), text.toUtf8().constData());
    return;
  }
  QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace

CWindowUpdateCheck::CWindowUpdateCheck(QWidget* window) : m_window(window) {}

CWindowUpdateCheck::~CWindowUpdateCheck() {
  // The thread calls ShowUpdateMessage on this object until it is joined.
  m_check.reset();
}

void CWindowUpdateCheck::Start(CUpdateCheckOptions options) {
  if (m_check) return;
  options.manual = false;
  m_check = std::make_unique<CUpdateCheckThread>(*this, std::move(options));
}

UpdateCheckResult CWindowUpdateCheck::Wait() {
  return m_check ? m_check->Wait() : UpdateCheckResult::Interrupted;
}

void CWindowUpdateCheck::ShowUpdateMessage(const std::string& text) {
  QMetaObject::invokeMethod(
      this,
      [this, message = QString::fromStdString(text)] {
        m_pending.push_back(message);
        ShowPendingMessages();
      },
      Qt::QueuedConnection);
}

void CWindowUpdateCheck::ShowPendingMessages() {
  // A message that arrives while a box is open waits for it: boxes follow the page's order
  // instead of stacking up in reverse.
  if (m_showing) return;
  m_showing = true;
  platform::Guarded("ShowUpdateMessage", [&] {
    while (!m_pending.empty()) {
      const QString text = m_pending.front();
      m_pending.pop_front();
      ShowUpdateMessageBox(m_window, text);
    }
  });
  m_showing = false;
}

void ShowUpdateMessageBox(QWidget* parent, const QString& text) { ShowInformationBox(parent, "Varnow Message", text); }

CAboutUpdateCheck::CAboutUpdateCheck(QWidget* about, const CProgramVersion& own, CUpdateCheckOptions options)
    : QObject(about),
      m_about(about),
      m_check(own, std::move(options), [this] {
        QMetaObject::invokeMethod(this, &CAboutUpdateCheck::OnCheckEnded, Qt::QueuedConnection);
      }) {
  setObjectName(kAboutCheckName);
  if (m_about) m_about->setCursor(Qt::BusyCursor);
}

void CAboutUpdateCheck::OnCheckEnded() {
  CManualCheckResult result = m_check.Result();
  if (m_about) m_about->unsetCursor();
  platform::Guarded("OnCheckForUpdate", [&] {
    for (const std::string& message : result.messages) ShowUpdateMessageBox(m_about, QString::fromStdString(message));
    ShowInformationBox(m_about, "Update Status", QString::fromStdString(result.text));
  });
  m_result = std::move(result);
}

CAboutUpdateCheck* ShowManualUpdateCheck(QWidget* about, const CProgramVersion& own, CUpdateCheckOptions options) {
  auto* previous = static_cast<CAboutUpdateCheck*>(about->findChild<QObject*>(kAboutCheckName, Qt::FindDirectChildrenOnly));
  if (previous && previous->Running()) return previous;
  delete previous;
  return new CAboutUpdateCheck(about, own, std::move(options));
}

}  // namespace varnow
