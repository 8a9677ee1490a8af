// The About box: the program's picture and version, where to find the latest release, and a
// button that checks for an update.
#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace varnow {

class CStaticLink;

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  // Reads the home page and e-mail address from the settings (writing their defaults back when
  // they are missing) and the version from the program file.
  explicit CAboutDlg(QWidget* parent = nullptr);

  // What "Check For Update" does; nothing until set.
  void SetCheckForUpdate(std::function<void()> check) { m_checkForUpdate = std::move(check); }

  // "Varnow Version 2.0 (Build 74)".
  static QString VersionLine(unsigned major, unsigned minor, unsigned build);

  QLabel* VersionLabel() const { return m_version; }
  CStaticLink* HomePageLink() const { return m_homePage; }
  QLabel* EMailLabel() const { return m_eMail; }
  QPushButton* CheckForUpdateButton() const { return m_checkButton; }

 private:
  void OnCheckForUpdate();

  QLabel* m_version = nullptr;
  CStaticLink* m_homePage = nullptr;
  QLabel* m_eMail = nullptr;
  QPushButton* m_checkButton = nullptr;
  std::function<void()> m_checkForUpdate;
};

// Shows the About box modally, owned by parent; its "Check For Update" runs the manual check.
void ShowAboutBox(QWidget* parent);

}  // namespace varnow
