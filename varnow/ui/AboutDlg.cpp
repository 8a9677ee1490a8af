#include "varnow/ui/AboutDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/settings/Settings.h"
#include "varnow/ui/Images.h"
#include "varnow/ui/StaticLink.h"
#include "varnow/ui/osinfo.h"
#include "varnow/update/UpdateBoxes.h"

namespace varnow {

namespace {
constexpr char kPurpose[] =
    "Varnow is made for people who want to keep track of disk space on local hard drives or on network drives.";
constexpr char kVisit[] = "Visit the Varnow home page for the latest releases at:";
constexpr char kMail[] = "or send e-mail to:";

constexpr int kMargin = 12;

// Wrapped to the picture's width, so that a large font makes the box taller, not wider.
QLabel* Paragraph(const QString& text, int width, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setFixedWidth(width);
  return label;
}
}  // namespace

QString CAboutDlg::VersionLine(unsigned major, unsigned minor, unsigned build) {
  return QString::asprintf("%s Version %u.%u (Build %u)", "Varnow", major, minor, build);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  platform::Guarded("OnInitDialog", [&] {
    setWindowTitle("About Varnow");
    auto* picture = new QLabel(this);
    picture->setPixmap(ResourcePixmap(kAboutImage));
    picture->setAccessibleName("Varnow");
    const int textWidth = std::max(picture->sizeHint().width(), 360) - 2 * kMargin;

    unsigned short major = 0, minor = 0, build = 0;
    GetProgramVersion(&major, &minor, &build);
    m_version = new QLabel(VersionLine(major, minor, build), this);
    QFont bold = m_version->font();
    bold.setBold(true);
    m_version->setFont(bold);

    m_homePage = new CStaticLink(QString::fromStdString(GetProfileStringEx(setting::kHomePage)), this);
    m_homePage->setAccessibleName("Home page");
    m_eMail = new QLabel(QString::fromStdString(GetProfileStringEx(setting::kEMailAddr)), this);
    m_eMail->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_eMail->setAccessibleName("E-mail address");

    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    m_checkButton = new QPushButton("Check For\nUpdate", this);
    m_checkButton->setAccessibleName("Check For Update");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_checkButton, &QPushButton::clicked, this, &CAboutDlg::OnCheckForUpdate);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(m_version);
    texts->addSpacing(4);
    texts->addWidget(Paragraph(kPurpose, textWidth, this));
    texts->addSpacing(4);
    texts->addWidget(Paragraph(kVisit, textWidth, this));
    texts->addWidget(m_homePage);
    texts->addWidget(new QLabel(kMail, this));
    texts->addWidget(m_eMail);
    texts->setContentsMargins(kMargin, 0, kMargin, 0);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_checkButton);
    buttons->addStretch();
    buttons->addWidget(ok, 0, Qt::AlignBottom);
    buttons->setContentsMargins(kMargin, 0, kMargin, 0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, kMargin);
    layout->addWidget(picture);
    layout->addLayout(texts);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
  });
}

void CAboutDlg::OnCheckForUpdate() {
  if (m_checkForUpdate) m_checkForUpdate();
}

void ShowAboutBox(QWidget* parent) {
  platform::Guarded("OnAbout", [&] {
    CAboutDlg about(parent);
    CProgramVersion own;
    GetProgramVersion(&own.major, &own.minor, &own.build);
    about.SetCheckForUpdate([&about, own] { ShowManualUpdateCheck(&about, own); });
    about.exec();
  });
}

}  // namespace varnow
