#include "setup/SetupWindows.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace setup {
namespace {

constexpr char kFace[] = "Times New Roman";
constexpr char kProductLine[] = "Zentrel Setup for Linux desktops";
const QColor kBackground(36, 57, 179);
const QColor kProductLineColour(0, 255, 255);

QFont Face() {
  QFont font{QString::fromLatin1(kFace)};
  font.setStyleHint(QFont::Serif);  // a serif face wherever that one is missing
  font.setItalic(true);
  return font;
}

}  // namespace

CSetupScreen::CSetupScreen(const QString& caption) {
  setObjectName(QStringLiteral("ORVSetup"));
  setWindowTitle(caption);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QFont CSetupScreen::CaptionFont(const QString& caption, int width) {
  QFont font = Face();
  font.setWeight(QFont::Bold);
  for (int size = 48; size > 1; --size) {
    font.setPixelSize(size);
    if (34 + QFontMetrics(font).horizontalAdvance(caption) <= width) break;
  }
  return font;
}

void CSetupScreen::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), kBackground);
  const QString caption = windowTitle();
  painter.setFont(CaptionFont(caption, width()));
  const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine;
  painter.setPen(Qt::black);  // the shadow first
  painter.drawText(QRect(34, 34, width(), height()), flags, caption);
  painter.setPen(Qt::white);
  painter.drawText(QRect(30, 30, width(), height()), flags, caption);

  QFont lineFont = Face();
  lineFont.setWeight(QFont::Normal);
  lineFont.setPixelSize(14);
  painter.setFont(lineFont);
  painter.setPen(kProductLineColour);
  painter.drawText(rect().adjusted(0, 0, -5, -5), Qt::AlignRight | Qt::AlignBottom | Qt::TextSingleLine,
                   QString::fromLatin1(kProductLine));
}

CDirectoryDialog::CDirectoryDialog(QWidget* parent, const QString& title, const QString& proposal)
    : QDialog(parent), m_edit(new QLineEdit(proposal, this)) {
  setWindowTitle(QStringLiteral("Application Directory"));
  auto* text = new QLabel(
      QStringLiteral("Enter the directory where you want %1 installed in the space below and press OK.").arg(title),
      this);
  text->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QStringLiteral("&Exit"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(m_edit);
  layout->addWidget(buttons);
  m_edit->setMinimumWidth(m_edit->fontMetrics().averageCharWidth() * 48);
  m_edit->setFocus();
  m_edit->selectAll();
}

QString CDirectoryDialog::Directory() const { return m_edit->text(); }

CCopyingDialog::CCopyingDialog(QWidget* parent)
    : QDialog(parent), m_source(new QLabel(this)), m_destination(new QLabel(this)) {
  setWindowTitle(QStringLiteral("Copying Files"));
  auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
  connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Source:"), this));
  layout->addWidget(m_source);
  layout->addWidget(new QLabel(QStringLiteral("Destination:"), this));
  layout->addWidget(m_destination);
  layout->addWidget(cancel, 0, Qt::AlignHCenter);
  m_source->setMinimumWidth(m_source->fontMetrics().averageCharWidth() * 60);
}

void CCopyingDialog::ShowFiles(const QString& source, const QString& destination) {
  m_source->setText(source);
  m_destination->setText(destination);
}

}  // namespace setup
