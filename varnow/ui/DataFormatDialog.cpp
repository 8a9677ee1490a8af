#include "varnow/ui/DataFormatDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/store/LegacyData.h"

namespace varnow {

namespace {
constexpr char kCaption[] = "Update Data Format";
constexpr char kExplanation[] =
    "This version of Varnow saves all scan data in a single data file (rather than saving each "
    "directory's data in a separate date file like previous versions did).";
constexpr char kQuestion[] =
    "Data files in the old format have been detected.  Please indicate what you would like done below.";
}  // namespace

DataFormatDialog::DataFormatDialog(QWidget* parent, CScanInfo& session, std::string dataDirectory)
    : DataFormatDialog(parent, dataDirectory, [&session, dataDirectory](bool convert, bool cleanup) {
        return ConvertLegacyData(session, dataDirectory, convert, cleanup);
      }) {}

DataFormatDialog::DataFormatDialog(QWidget* parent, std::string dataDirectory, Converter convert)
    : QDialog(parent), m_dataDirectory(std::move(dataDirectory)), m_converter(std::move(convert)) {
  setWindowTitle(kCaption);
  auto* icon = new QLabel(this);
  icon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
  auto* explanation = new QLabel(kExplanation, this);
  explanation->setWordWrap(true);
  auto* question = new QLabel(kQuestion, this);
  question->setWordWrap(true);
  m_convert = new QCheckBox("Convert the old data files into the new single file format", this);
  m_cleanup = new QCheckBox("Cleanup (delete) the old data files", this);
  m_convert->setChecked(true);
  m_cleanup->setChecked(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* texts = new QVBoxLayout;
  texts->addWidget(explanation);
  texts->addWidget(question);
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(m_convert);
  layout->addWidget(m_cleanup);
  layout->addWidget(buttons);
}

int DataFormatDialog::exec() {
  if (!LegacyDataExists(m_dataDirectory)) return QDialog::Rejected;
  return QDialog::exec();
}

void DataFormatDialog::accept() {
  platform::Guarded("DataFormatDialog::OnOK", [&] {
    const bool convert = m_convert->isChecked();
    const bool cleanup = m_cleanup->isChecked();
    if (convert || cleanup) {
      QGuiApplication::setOverrideCursor(Qt::WaitCursor);
      const CLegacyConversion result = m_converter(convert, cleanup);
      QGuiApplication::restoreOverrideCursor();
      VN_TRACE("Old data: %d converted, %d not converted, %d missing, %d files deleted",
               result.converted, result.failed, result.missing, result.deleted);
    }
  });
  QDialog::accept();
}

}  // namespace varnow
