// The windows of setup: the full-screen backdrop with the product's caption, the application
// directory question, and the copy window with its Cancel button.
#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;

namespace setup {

class CSetupScreen : public QWidget {
 public:
  explicit CSetupScreen(const QString& caption);

  // The caption's font: the largest pixel size from 48 down whose text, 34 pixels from the
  // left, fits the width.
  static QFont CaptionFont(const QString& caption, int width);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class CDirectoryDialog : public QDialog {
 public:
  CDirectoryDialog(QWidget* parent, const QString& title, const QString& proposal);
  QString Directory() const;

 private:
  QLineEdit* m_edit = nullptr;
};

class CCopyingDialog : public QDialog {
 public:
  explicit CCopyingDialog(QWidget* parent);
  void ShowFiles(const QString& source, const QString& destination);
  bool Cancelled() const { return m_cancelled; }
  // Escape and the window's close button cancel too.
  void reject() override { OnCancel(); }

 private:
  void OnCancel() { m_cancelled = true; }

  QLabel* m_source = nullptr;
  QLabel* m_destination = nullptr;
  bool m_cancelled = false;
};

}  // namespace setup
