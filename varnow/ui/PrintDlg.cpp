#include "varnow/ui/PrintDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <filesystem>

#include "platform/guarded.h"
#include "platform/tracelog.h"

namespace varnow {
namespace {
constexpr int kMinColumns = 1;
constexpr int kMaxColumns = 6;

// The number of columns when the text is one from 1 to 6, else 0.
int ParseColumns(const QString& text) {
  bool isNumber = false;
  const int columns = text.trimmed().toInt(&isNumber);
  return isNumber && columns >= kMinColumns && columns <= kMaxColumns ? columns : 0;
}
}  // namespace

PrintOptionsDialog::PrintOptionsDialog(IPrintOwner& owner, QWidget* parent)
    : QDialog(parent), m_owner(owner), m_job(owner) {
  m_messages = [this](const std::string& text, const std::string& caption) {
    QMessageBox::warning(this, QString::fromStdString(caption), QString::fromStdString(text));
  };
  m_writtenNotice = [this](const std::string& path) {
    QMessageBox::information(this, QStringLiteral("Print to File"),
                             QStringLiteral("The report was written to ") + QString::fromStdString(path));
  };
  BuildControls();
  OnInitDialog();
}

void PrintOptionsDialog::BuildControls() {
  setWindowTitle(QStringLiteral("Print Options"));
  m_toPrinter = new QRadioButton(QStringLiteral("Print to default printer"), this);
  m_toFile = new QRadioButton(QStringLiteral("Print to File"), this);
  m_path = new QLineEdit(this);
  m_browse = new QPushButton(QStringLiteral("Browse ..."), this);
  m_browse->setAutoDefault(false);
  m_browse->setObjectName("browse");
  m_comma = new QCheckBox(QStringLiteral("Comma delimited file"), this);
  m_columns = new QLineEdit(this);
  m_enhanced = new QCheckBox(QStringLiteral("Print enhanced format"), this);
  m_toPrinter->setObjectName("printToPrinter");
  m_toFile->setObjectName("printToFile");
  m_path->setObjectName("filePath");
  m_comma->setObjectName("commaDelimited");
  m_columns->setObjectName("columns");
  m_enhanced->setObjectName("enhanced");

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* print = buttons->addButton(QStringLiteral("Print"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  print->setObjectName("print");
  print->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnPrint(); });
  connect(buttons, &QDialogButtonBox::rejected, this, [this] { reject(); });
  connect(m_toFile, &QRadioButton::clicked, this, [this] {
    ReadControls();
    m_path->setEnabled(true);
    m_browse->setEnabled(true);
  });
  connect(m_toPrinter, &QRadioButton::clicked, this, [this] {
    m_path->setEnabled(false);
    m_browse->setEnabled(false);
  });
  connect(m_browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
  connect(m_comma, &QCheckBox::clicked, this, [this] { OnCommaDelimited(); });

  auto* columns = new QFormLayout;
  columns->addRow(QStringLiteral("Number of columns to print (1-6):"), m_columns);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_toPrinter);
  layout->addWidget(m_toFile);
  auto* file = new QHBoxLayout;
  file->addWidget(m_path, 1);
  file->addWidget(m_browse);
  layout->addLayout(file);
  layout->addWidget(m_comma);
  layout->addLayout(columns);
  layout->addWidget(m_enhanced);
  layout->addWidget(buttons);
}

void PrintOptionsDialog::OnInitDialog() {
  platform::Guarded("OnInitDialog", [&] {
    const CPrintSettings settings = m_owner.PrintSettings();
    m_job.m_commaDelimited = settings.commaDelimited != 0;
    m_job.m_filePath = settings.printFilePath;
    m_job.m_destination.reset();
    if (settings.printDestination == PrintDestination::kPrinter || settings.printDestination == PrintDestination::kFile)
      m_job.m_destination = settings.printDestination;
    m_job.m_columns = settings.printColumns;
    ShowControls();
  });
}

void PrintOptionsDialog::ShowControls() {
  m_toPrinter->setChecked(m_job.m_destination == PrintDestination::kPrinter);
  m_toFile->setChecked(m_job.m_destination == PrintDestination::kFile);
  m_path->setText(QString::fromStdString(m_job.m_filePath));
  m_path->setEnabled(m_job.m_destination == PrintDestination::kFile);
  m_browse->setEnabled(m_job.m_destination == PrintDestination::kFile);
  m_comma->setChecked(m_job.m_commaDelimited);
  m_columns->setText(QString::number(m_job.m_columns));
  m_enhanced->setChecked(m_job.m_enhanced);
  m_columns->setEnabled(!m_job.m_commaDelimited);
  m_enhanced->setEnabled(!m_job.m_commaDelimited);
}

void PrintOptionsDialog::OnCommaDelimited() {
  ReadControls();
  m_columns->setEnabled(!m_job.m_commaDelimited);
  m_enhanced->setEnabled(!m_job.m_commaDelimited);
}

// Everything but the number of columns, which is validated on its own.
void PrintOptionsDialog::ReadControls() {
  m_job.m_commaDelimited = m_comma->isChecked();
  m_job.m_filePath = m_path->text().toStdString();
  m_job.m_destination.reset();
  if (m_toPrinter->isChecked()) m_job.m_destination = PrintDestination::kPrinter;
  if (m_toFile->isChecked()) m_job.m_destination = PrintDestination::kFile;
  m_job.m_enhanced = m_enhanced->isChecked();
}

bool PrintOptionsDialog::ReadColumns() {
  bool isNumber = false;
  const int columns = m_columns->text().trimmed().toInt(&isNumber);
  const char* problem = nullptr;
  if (!isNumber) problem = "Please enter an integer.";
  else if (columns < kMinColumns || columns > kMaxColumns) problem = "Please enter an integer between 1 and 6.";
  if (problem) {
    if (m_messages) m_messages(problem, "Varnow");
    m_columns->setFocus();
    m_columns->selectAll();
    return false;
  }
  m_job.m_columns = columns;
  return true;
}

// With no destination chosen the setting stays.
void PrintOptionsDialog::KeepSettings(bool withColumns, bool withEnhanced) {
  CPrintSettings settings = m_owner.PrintSettings();
  settings.commaDelimited = m_job.m_commaDelimited ? 1 : 0;
  settings.printFilePath = m_job.m_filePath;
  if (m_job.m_destination) settings.printDestination = *m_job.m_destination;
  if (withEnhanced) settings.enhancedPrinting = m_job.m_enhanced ? 1 : 0;
  if (withColumns) settings.printColumns = m_job.m_columns;
  m_owner.SetPrintSettings(settings);
}

void PrintOptionsDialog::OnPrint() {
  // Closes after a print, and after an exception; not when the columns are refused.
  const bool close = platform::Guarded("OnPrint", [&] {
    ReadControls();
    if (!ReadColumns()) return false;  // the dialog stays open, nothing printed
    m_job.m_destination = m_toFile->isChecked() ? PrintDestination::kFile : PrintDestination::kPrinter;
    KeepSettings(false, true);
    const bool written = m_job.Print(&m_messages);
    // A relative path is taken from the folder the program started in: the note says where.
    if (written && m_job.m_destination == PrintDestination::kFile && m_job.m_filePath != kStandardOutputName &&
        m_writtenNotice)
      m_writtenNotice(std::filesystem::absolute(m_job.m_filePath).lexically_normal().string());
    return true;
  }, true);
  if (close) accept();
}

void PrintOptionsDialog::OnBrowse() {
  platform::Guarded("OnBrowse", [&] {
    const QString start = m_path->text().isEmpty() ? QDir::currentPath() : QFileInfo(m_path->text()).absoluteFilePath();
    const QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Print to File"), start);
    if (!chosen.isEmpty()) m_path->setText(chosen);
  });
}

void PrintOptionsDialog::reject() {
  m_job.m_cancelled = true;
  QDialog::reject();
}

void PrintOptionsDialog::done(int result) {
  if (!m_job.m_cancelled) {
    ReadControls();
    if (const int columns = ParseColumns(m_columns->text())) m_job.m_columns = columns;
    KeepSettings(true, false);
  }
  QDialog::done(result);
}

}  // namespace varnow
