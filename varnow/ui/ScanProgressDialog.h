// The progress display of an interactive scan, with its Cancel button. It does not wait for the
// user (the scan goes on while it is shown), but while it exists its owner window takes no input.
#pragma once

#include <QDialog>

#include "varnow/scan/Prompts.h"

class QLabel;
class QProgressBar;
class QTimer;

namespace varnow {

class CScanProgressDialog : public QDialog, public CScanProgress {
  Q_OBJECT
 public:
  explicit CScanProgressDialog(QWidget* owner = nullptr);

  // The walk runs on a thread of its own while this thread handles its events as usual; the
  // counters are drawn a few dozen times a second (painting for every directory and file would
  // take longer than the scan itself).
  void Run(CScanCounters& counters, const std::function<void()>& walk) override;

  void reject() override;  // Cancel: sets the scan's cancel flag; the dialog stays until the walk ends

  bool Cancelled() const { return m_cancelled; }
  int Position() const;
  int Maximum() const;
  QString DirectoriesText() const;
  QString FilesText() const;

 private:
  void ShowCounters();

  bool m_cancelled = false;
  CScanCounters* m_counters = nullptr;  // of the walk under way
  QTimer* m_timer;
  QProgressBar* m_progress;
  QLabel* m_directories;
  QLabel* m_files;
};

}  // namespace varnow
