// The progress display of an interactive scan, with its Cancel button. It does not wait for the
// user (the scan goes on while it is shown), but while it exists its owner window takes no input.
#pragma once

#include <QDialog>
#include <QElapsedTimer>

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
  // Events are pumped, and the counters drawn, a few dozen times a second rather than for every
  // directory and file: painting that often would take longer than the scan itself.
  QElapsedTimer m_lastPump;
  QElapsedTimer m_lastCounters;
  bool m_cancelled = false;
  QProgressBar* m_progress;
  QLabel* m_directories;
  QLabel* m_files;
};

}  // namespace varnow
