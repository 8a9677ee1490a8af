// The "Growth" dialog: the directories below the scan directory that grew most between their two
// newest saved scans, the ones that shrank or went away, and the new ones, with the line about
// when the disk fills. A double click on a directory shows it in the main window.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "varnow/report/Growth.h"
#include "varnow/report/FormatSize.h"

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace varnow {

class CFileActions;

class CGrowthDlg : public QDialog {
  Q_OBJECT
 public:
  // Data role of a directory's row: its full path as bytes (QByteArray).
  static constexpr int kPathRole = Qt::UserRole + 1;

  // goTo: shows a directory (full path, ending in "/") in the main window.
  using GoTo = std::function<void(const std::string& path)>;
  CGrowthDlg(const CGrowthReport& report, SizeUnit unit, const std::string& projection, GoTo goTo,
             QWidget* parent = nullptr);

  // A double click on a directory's row: the main window goes there and the dialog closes.
  void OnDblClickItem(QTreeWidgetItem* item);

  // Gives the lines a context menu that acts on their directories.
  void SetFileActions(CFileActions* actions);

  QTreeWidget* List() const { return m_list; }
  QLabel* ProjectionLabel() const { return m_projection; }

 protected:
  // A new font gives the columns new widths: each keeps its whole text.
  void changeEvent(QEvent* event) override;

 private:
  void FillList(const CGrowthReport& report, SizeUnit unit);
  void FitColumns();

  GoTo m_goTo;
  QTreeWidget* m_list = nullptr;
  QLabel* m_projection = nullptr;
};

}  // namespace varnow
