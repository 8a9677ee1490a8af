#include "varnow/ui/MissingDirectoryDialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "varnow/ui/HeadlessPrompts.h"
#include "varnow/settings/Settings.h"

namespace varnow {

namespace {
constexpr const char* kCaption = kMissingDirectoryCaption;
constexpr const char* kText = kMissingDirectoryText;
}  // namespace

CMissingDirectoryDialog::CMissingDirectoryDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kCaption);
  auto* text = new QLabel(kText, this);
  text->setWordWrap(true);
  m_dontAsk = new QCheckBox("Don't ask again", this);
  auto* scan = new QPushButton("&Scan", this);
  auto* dontScan = new QPushButton("&Don't Scan", this);
  scan->setDefault(true);
  connect(scan, &QPushButton::clicked, this, &QDialog::accept);
  connect(dontScan, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_dontAsk);
  buttons->addStretch();
  buttons->addWidget(scan);
  buttons->addWidget(dontScan);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addLayout(buttons);
}

void CMissingDirectoryDialog::StoreDontAsk() {
  WriteProfileInt(kSettingsSection, setting::kDontAskNonExistantDir.name, m_dontAsk->isChecked() ? 1 : 0);
}

void CMissingDirectoryDialog::accept() {
  StoreDontAsk();
  QDialog::accept();
}

void CMissingDirectoryDialog::reject() {
  StoreDontAsk();
  QDialog::reject();
}

bool CMissingDirectoryDialog::Ask(QWidget* parent) {
  if (NeverAskMissingDirectory()) return true;
  CMissingDirectoryDialog dialog(parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace varnow
