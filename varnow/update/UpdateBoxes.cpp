#include "varnow/update/UpdateBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "platform/tracelog.h"

namespace varnow {

namespace {

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
  try {
    while (!m_pending.empty()) {
      const QString text = m_pending.front();
      m_pending.pop_front();
      ShowUpdateMessageBox(m_window, text);
    }
  } catch (...) {
    VN_TRACE("** Exception in ShowUpdateMessage\n");
  }
  m_showing = false;
}

void ShowUpdateMessageBox(QWidget* parent, const QString& text) { ShowInformationBox(parent, "Varnow Message", text); }

CManualCheckResult ShowManualUpdateCheck(QWidget* about, const CProgramVersion& own, CUpdateCheckOptions options) {
  const CManualCheckResult result = RunManualUpdateCheck(own, std::move(options));
  for (const std::string& message : result.messages) ShowUpdateMessageBox(about, QString::fromStdString(message));
  ShowInformationBox(about, "Update Status", QString::fromStdString(result.text));
  return result;
}

}  // namespace varnow
