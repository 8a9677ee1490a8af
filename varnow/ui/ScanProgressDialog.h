// The progress display of an interactive scan, with its Cancel button. It does not wait for the
// user (the scan goes on while it is shown), but while it exists its owner window takes no input.
#pragma once

#include <QDialog>

#include "varnow/scan/Prompts.h"

class QLabel;
class QProgressBar;

namespace varnow {

class CScanProgressDialog : public QDialog, public CScanProgress {
  Q_OBJECT
 public:
  explicit CScanProgressDialog(QWidget* owner = nullptr);

  void SetRange(int lower, int upper) override;
  void StepIt() override;
  void ShowCounters(long directories, long files) override;
  bool CheckCancel() override;

  void reject() override;  // Cancel: remembered; the dialog stays until the scan ends

  int Position() const;
  QString DirectoriesText() const;
  QString FilesText() const;

 private:
  bool m_cancelled = false;
  QProgressBar* m_progress;
  QLabel* m_directories;
  QLabel* m_files;
};

}  // namespace varnow
