#include "setup/WidgetPrompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

namespace setup {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CWidgetPrompts::CWidgetPrompts() = default;
CWidgetPrompts::~CWidgetPrompts() = default;

void CWidgetPrompts::ShowScreen(const std::string& caption) {
  m_screen = std::make_unique<CSetupScreen>(Text(caption));
  // The whole work area also where no window manager acts on the request to maximise.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) m_screen->setGeometry(screen->availableGeometry());
  m_screen->showMaximized();
  QApplication::processEvents();
}

void CWidgetPrompts::CloseScreen() {
  m_copying.reset();
  m_screen.reset();
}

std::optional<std::string> CWidgetPrompts::AskDirectory(const std::string& title, const std::string& proposal) {
  CDirectoryDialog dialog(m_screen.get(), Text(title), Text(proposal));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Directory().toStdString();
}

void CWidgetPrompts::ShowCopying(const std::string& source, const std::string& destination) {
  if (!m_copying) {
    m_copying = std::make_unique<CCopyingDialog>(m_screen.get());
    m_copying->show();
  }
  m_copying->ShowFiles(Text(source), Text(destination));
  QApplication::processEvents();
}

bool CWidgetPrompts::CopyCancelled() {
  QApplication::processEvents();  // lets a click on Cancel arrive between two files
  return m_copying && m_copying->Cancelled();
}

void CWidgetPrompts::EndCopying() { m_copying.reset(); }

CopyErrorAnswer CWidgetPrompts::AskCopyError(const std::string& caption, const std::string& text) {
  const auto answer = QMessageBox::warning(m_screen.get(), Text(caption), Text(text),
                                           QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore,
                                           QMessageBox::Abort);
  return answer == QMessageBox::Retry ? CopyErrorAnswer::kRetry
         : answer == QMessageBox::Ignore ? CopyErrorAnswer::kIgnore
                                         : CopyErrorAnswer::kAbort;
}

bool CWidgetPrompts::AskYesNo(const std::string& caption, const std::string& text, DefaultAnswer defaultAnswer) {
  return QMessageBox::warning(m_screen.get(), Text(caption), Text(text), QMessageBox::Yes | QMessageBox::No,
                              defaultAnswer == DefaultAnswer::kYes ? QMessageBox::Yes : QMessageBox::No) ==
         QMessageBox::Yes;
}

void CWidgetPrompts::ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) {
  if (icon == MessageIcon::kWarning)
    QMessageBox::warning(m_screen.get(), Text(caption), Text(text));
  else
    QMessageBox::information(m_screen.get(), Text(caption), Text(text));
}

void CWidgetPrompts::OpenDocument(const std::string& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(Text(path)));
}

}  // namespace setup
