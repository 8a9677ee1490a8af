// The "Print Options" dialog: where the report goes (default printer or a file), its format
// and its number of size columns. Print keeps all five settings in the owner, Cancel none.
#pragma once

#include <QDialog>

#include "varnow/report/PrintJob.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace varnow {

class PrintOptionsDialog : public QDialog {
 public:
  explicit PrintOptionsDialog(IPrintOwner& owner, QWidget* parent = nullptr);

  // The Print button: validates, keeps the settings, writes and prints the report, closes.
  void OnPrint();
  // Cancel and closing the window.
  void reject() override;
  void done(int result) override;

  CPrintJob& Job() { return m_job; }
  // Where the dialog's messages go; message boxes unless replaced (tests).
  void SetMessageSink(MessageSink sink) { m_messages = std::move(sink); }
  // Where the note of a written report file goes (the file's full path); an information box
  // unless replaced.
  void SetWrittenNotice(std::function<void(const std::string& path)> notice) { m_writtenNotice = std::move(notice); }
  // "Browse ..." beside the file path: a save dialog, whose choice becomes the path.
  void OnBrowse();

 private:
  void BuildControls();
  void OnInitDialog();
  void OnCommaDelimited();
  void ShowControls();
  void ReadControls();
  bool ReadColumns();
  void KeepSettings(bool withColumns, bool withEnhanced);

  IPrintOwner& m_owner;
  CPrintJob m_job;
  MessageSink m_messages;
  std::function<void(const std::string&)> m_writtenNotice;
  QRadioButton* m_toPrinter = nullptr;
  QRadioButton* m_toFile = nullptr;
  QLineEdit* m_path = nullptr;
  QPushButton* m_browse = nullptr;
  QCheckBox* m_comma = nullptr;
  QLineEdit* m_columns = nullptr;
  QCheckBox* m_enhanced = nullptr;
};

}  // namespace varnow
