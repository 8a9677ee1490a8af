#include "varnow/ui/Interaction.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <cstdlib>

#include "platform/tracelog.h"

namespace varnow {

namespace {
bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}
}  // namespace

bool DisplayAvailable() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM"); }

bool CanShowWindows() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  return app && QThread::currentThread() == app->thread();
}

void ReportWithoutWindow(const std::string& caption, const std::string& text) {
  VN_TRACE("%s: %s", caption.c_str(), text.c_str());
  std::fprintf(stderr, "varnow: %s: %s\n", caption.c_str(), text.c_str());
}

void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, MessageIcon icon) {
  // Also the answer for other threads (the save thread's final flush): it may not touch widgets,
  // and the window's thread is then waiting for it.
  if (!CanShowWindows()) {
    ReportWithoutWindow(caption, text);
    return;
  }
  QMessageBox box(icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::Information,
                  QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace varnow
