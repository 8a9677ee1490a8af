#include "varnow/ui/ScanProgressDialog.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace varnow {

namespace {
constexpr int kPumpMilliseconds = 15;
constexpr int kCountersMilliseconds = 50;
constexpr int kTitleBarRoom = 160;

// True the first time, and then when at least the interval has passed since it last was.
bool Due(QElapsedTimer& last, int milliseconds) {
  if (last.isValid() && last.elapsed() < milliseconds) return false;
  last.start();
  return true;
}
}  // namespace

CScanProgressDialog::CScanProgressDialog(QWidget* owner) : QDialog(owner) {
  setWindowTitle("Varnow Scan Progress");
  // Blocks the owner's input without disabling it: a disabled owner would disable this dialog,
  // its child, and with it the Cancel button.
  setWindowModality(Qt::WindowModal);
  m_progress = new QProgressBar(this);
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  m_directories = new QLabel("0", this);
  m_files = new QLabel("0", this);
  auto* cancel = new QPushButton("Cancel", this);
  connect(cancel, &QPushButton::clicked, this, &CScanProgressDialog::reject);

  auto* counters = new QFormLayout;
  counters->addRow("Directories Scanned:", m_directories);
  counters->addRow("Files Scanned:", m_files);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_progress);
  layout->addLayout(counters);
  layout->addWidget(cancel, 0, Qt::AlignRight);
  // Wide enough for the whole title beside the title bar's icon and buttons.
  setMinimumWidth(std::max(minimumSizeHint().width(), fontMetrics().horizontalAdvance(windowTitle()) + kTitleBarRoom));
  show();
}

void CScanProgressDialog::SetRange(int lower, int upper) {
  m_progress->setRange(lower, upper);
  m_progress->setValue(lower);
}

void CScanProgressDialog::StepIt() {
  if (Due(m_lastPump, kPumpMilliseconds)) QCoreApplication::processEvents();
  // Like a progress control's step: past the end it starts over.
  int next = m_progress->value() + 1;
  if (next > m_progress->maximum()) next = m_progress->minimum();
  m_progress->setValue(next);
}

void CScanProgressDialog::ShowCounters(long directories, long files) {
  if (!Due(m_lastCounters, kCountersMilliseconds)) return;
  m_directories->setText(QString::number(directories));
  m_files->setText(QString::number(files));
}

bool CScanProgressDialog::CheckCancel() {
  if (Due(m_lastPump, kPumpMilliseconds)) QCoreApplication::processEvents();
  return m_cancelled;
}

void CScanProgressDialog::reject() { m_cancelled = true; }

int CScanProgressDialog::Position() const { return m_progress->value(); }
QString CScanProgressDialog::DirectoriesText() const { return m_directories->text(); }
QString CScanProgressDialog::FilesText() const { return m_files->text(); }

}  // namespace varnow
