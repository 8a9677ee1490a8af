// The "Largest files" dialog: the largest files the scan of this session found, with their
// sizes and modification times. A double click shows the file's directory in the main window;
// the context menu acts on a file.
#pragma once

#include <QDialog>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "varnow/report/FormatSize.h"

#include "varnow/scan/LargestFiles.h"

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace varnow {

class CFileActions;
class CTrashedPaths;

class CLargestFilesDlg : public QDialog {
  Q_OBJECT
 public:
  // Data role of a row: the file's full path as bytes (QByteArray).
  static constexpr int kPathRole = Qt::UserRole + 1;

  using GoTo = std::function<void(const std::string& directory)>;
  // scanned: the time of the scan the files come from, 0 when this session has scanned nothing.
  // actions and trashed may be null (no context menu).
  CLargestFilesDlg(const std::vector<CLargeFile>& files, const std::string& top, std::time_t scanned, SizeUnit unit,
                   GoTo goTo, CFileActions* actions, const CTrashedPaths* trashed, QWidget* parent = nullptr);

  void OnDblClickItem(QTreeWidgetItem* item);
  QTreeWidget* List() const { return m_list; }
  QLabel* Intro() const { return m_intro; }
  // Strikes out the rows of what went to the trash.
  void MarkTrashed();

 private:
  GoTo m_goTo;
  CFileActions* m_actions;
  const CTrashedPaths* m_trashed;
  QTreeWidget* m_list = nullptr;
  QLabel* m_intro = nullptr;
};

}  // namespace varnow
