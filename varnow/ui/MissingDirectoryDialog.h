// The question before a scan of a directory that does not appear to exist.
#pragma once

#include <QDialog>

class QCheckBox;

namespace varnow {

class CMissingDirectoryDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CMissingDirectoryDialog(QWidget* parent = nullptr);
  QCheckBox* DontAskAgainBox() const { return m_dontAsk; }

  // Both buttons first store "Don't ask again" (0 or 1) as DontAskNonExistantDir.
  void accept() override;
  void reject() override;

  // True means scan anyway: without asking when DontAskNonExistantDir is 1, otherwise the user's
  // answer.
  static bool Ask(QWidget* parent);

 private:
  void StoreDontAsk();
  QCheckBox* m_dontAsk;
};

}  // namespace varnow
