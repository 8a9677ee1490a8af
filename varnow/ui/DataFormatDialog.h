// The offer, at start-up, to move the data files of earlier releases (one file per directory)
// into the single data file, and to delete them.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "varnow/store/LegacyData.h"

class QCheckBox;

namespace varnow {

class CScanInfo;

class DataFormatDialog : public QDialog {
  Q_OBJECT
 public:
  // dataDirectory: where the old index and files are (ends in "/"); session writes the records.
  DataFormatDialog(QWidget* parent, CScanInfo& session, std::string dataDirectory);
  // convert runs the conversion (whoever owns the session does it).
  using Converter = std::function<CLegacyConversion(bool convert, bool cleanup)>;
  DataFormatDialog(QWidget* parent, std::string dataDirectory, Converter convert);

  QCheckBox* ConvertBox() const { return m_convert; }
  QCheckBox* CleanupBox() const { return m_cleanup; }

  // Without old data there is nothing to offer: returns Rejected at once, never shown.
  int exec() override;
  // OK: converts and/or deletes as the boxes say, then closes. Cancel leaves everything, so the
  // offer comes again at the next start.
  void accept() override;

 private:
  std::string m_dataDirectory;
  Converter m_converter;
  QCheckBox* m_convert;
  QCheckBox* m_cleanup;
};

}  // namespace varnow
