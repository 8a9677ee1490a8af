#include "varnow/ui/ScanProgressDialog.h"

#include <QEventLoop>
#include <QFormLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <thread>

namespace varnow {

namespace {
constexpr int kCountersMilliseconds = 50;
constexpr int kTitleBarRoom = 160;
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
  m_timer = new QTimer(this);
  m_timer->setInterval(kCountersMilliseconds);
  connect(m_timer, &QTimer::timeout, this, &CScanProgressDialog::ShowCounters);

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

void CScanProgressDialog::Run(CScanCounters& counters, const std::function<void()>& walk) {
  m_counters = &counters;
  if (m_cancelled) counters.cancel = true;
  ShowCounters();
  m_timer->start();
  QEventLoop loop;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      walk();
    } catch (...) {
      failure = std::current_exception();
    }
    // Delivered when this thread next handles its events, even if that is before exec() runs.
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  m_timer->stop();
  ShowCounters();
  m_counters = nullptr;
  if (failure) std::rethrow_exception(failure);
}

// The bar steps once for the scan directory, then once for each of its subdirectories as the
// readers enter it and as the session takes it in.
void CScanProgressDialog::ShowCounters() {
  if (!m_counters) return;
  const int top = m_counters->topSubdirectories;
  const int done = 1 + (m_counters->topStarted + m_counters->topMerged) / 2;
  if (m_progress->maximum() != top + 1) m_progress->setRange(0, top + 1);
  m_progress->setValue(std::min(done, top + 1));
  m_directories->setText(QString::number(m_counters->directories.load()));
  m_files->setText(QString::number(m_counters->files.load()));
}

void CScanProgressDialog::reject() {
  m_cancelled = true;
  if (m_counters) m_counters->cancel = true;
}

int CScanProgressDialog::Position() const { return m_progress->value(); }
int CScanProgressDialog::Maximum() const { return m_progress->maximum(); }
QString CScanProgressDialog::DirectoriesText() const { return m_directories->text(); }
QString CScanProgressDialog::FilesText() const { return m_files->text(); }

}  // namespace varnow
