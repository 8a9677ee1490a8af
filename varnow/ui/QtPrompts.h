// The prompts of a run with windows: Qt dialogs and message boxes over the main window (once it
// exists). Messages from other threads (the save thread's write failures) are posted to the GUI
// thread and shown there; nothing here touches a widget off that thread.
#pragma once

#include <QPointer>
#include <QWidget>

#include "varnow/scan/Prompts.h"

namespace varnow {

// A modal box with an OK button; icon: QMessageBox::Warning for the exclamation icon.
void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, bool exclamation = true);

class CQtPrompts : public IPrompts {
 public:
  // The window that owns the dialogs; none until the main window exists.
  void SetParent(QWidget* parent) { m_parent = parent; }
  QWidget* Parent() const { return m_parent; }

  bool AskScanMissingDirectory() override;
  void AskClusterSize(const std::string& root) override;
  std::unique_ptr<CScanProgress> CreateScanProgress() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void ShowAlert(const CAlertNotice& alert) override;

 private:
  QPointer<QWidget> m_parent;
};

}  // namespace varnow
