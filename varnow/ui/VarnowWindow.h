// The tracker's main window: the directory field, the seven command buttons, the status fields
// and the directory grid. It drives the main window object (CVarnowDlg), which owns the settings,
// the scan session and the record, and is told through IVarnowView when to show them afresh.
// Positions are laid out in dialog units of the window's font, so the window keeps its
// proportions with any font; the resize handler moves controls by fixed rules.
#pragma once

#include <QDialog>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "varnow/ui/Grid.h"
#include "varnow/ui/VarnowDlg.h"
#include "varnow/update/UpdateCheck.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QToolButton;

namespace varnow {

class CFileActions;
class CQtPrompts;
class CTrashedPaths;
class CTreemapReader;
class CTreemapView;
class CWindowUpdateCheck;

// The help page that Help opens: beside the program, else where a package puts it
// (share/doc/varnow/); empty when there is none.
QString HelpPagePath();

class CVarnowWindow : public QDialog, public IVarnowView, public IGridOwner {
  Q_OBJECT
 public:
  // The command buttons, in the order the resize handler lines them up.
  enum Button { kScan, kSaveData, kPrint, kGrowth, kPreferences, kAlerts, kHelp, kExit, kButtonCount };

  CVarnowWindow(CVarnowDlg& dlg, CQtPrompts& prompts, QWidget* parent = nullptr);
  ~CVarnowWindow() override;

  // Runs the window modally: initialisation, then user commands until it closes.
  int DoModal();

  // Handlers.
  void OnInitDialog();
  void OnBrowse();
  void OnChangePath();
  void OnScan();
  void OnSave();
  void OnPrint();
  void OnGrowth();
  void OnPreference();
  void OnAlerts();
  void OnHelp();
  void OnAbout();
  // Publishes the status figures and the record afresh (the window shows them as they come).
  void UpdateStats();
  void ShowSnapshot(const std::shared_ptr<const CDirSnapshot>& snapshot) override;
  // The snapshot shown; nullptr before the first.
  const std::shared_ptr<const CDirSnapshot>& Shown() const { return m_snapshot; }
  bool FillInGrid();
  void OnDblClickGrid(const std::string& name) override;
  void OnSortMethodChosen(SortMethod sortMethod) override;
  // Shows a directory (full path) as a double click in the grid does.
  void GoToDirectory(const std::string& path);
  void OnBack() override;

  // What a picker returns: a folder with its trailing "/", or "" when cancelled. Tests and the
  // alert dialog may replace the file dialog.
  using FolderPicker = std::function<std::string(QWidget* parent, const std::string& start)>;
  void SetFolderPicker(FolderPicker picker) { m_picker = std::move(picker); }
  static std::string PickFolder(QWidget* parent, const std::string& start);

  // The window's title for the update status (0 none, 1 update, 2 minor update).
  static QString TitleFor(unsigned major, unsigned minor, int updateStatus);

  // Controls, for tests and accessibility checks.
  QLineEdit* DirectoryField() const { return m_directory; }
  QPushButton* BrowseButton() const { return m_browse; }
  QToolButton* CommandButton(Button button) const { return m_buttons[button]; }
  CGrid* Grid() const { return m_grid; }
  QLabel* FreeSpaceValue() const { return m_freeSpace; }
  QLabel* ScannedSizeValue() const { return m_scannedSize; }
  QLabel* TotalUsedValue() const { return m_totalUsed; }
  QLabel* DirectoriesValue() const { return m_directories; }
  QLabel* FilesValue() const { return m_files; }
  QLabel* ClusterLabel() const { return m_clusterLabel; }
  QLabel* ClusterValue() const { return m_clusterSize; }
  QLabel* ProjectionValue() const { return m_projection; }
  CTreemapView* Treemap() const { return m_treemap; }
  QSplitter* Splitter() const { return m_split; }
  QPushButton* LargestButton() const { return m_largest; }
  CFileActions* FileActions() const { return m_actions; }

  // The largest files of this session's scan.
  void OnLargest();
  // The treemap shows the shown directory's saved tree afresh (soon, once per burst of calls).
  void RefreshTreemap();
  // True when the treemap shows the tree of the last refresh (its read runs in the background).
  bool TreemapUpToDate() const { return !m_treemapPending && m_treemapShown == m_treemapGeneration; }
  // A rectangle in dialog units, in pixels of the window's font.
  QRect DialogUnits(int x, int y, int width, int height) const;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void done(int result) override;

 private:
  void BuildControls();
  // The grid and the treemap below it, and what acts on the things they show (in VarnowFinds.cpp).
  void BuildFindViews();
  void ConnectFindViews();
  void DetachFindViews();  // before the members they read go
  void ShowTreemapNow();
  void ShowTreemap(std::shared_ptr<CTreemapTree> tree, int generation);
  void OnGridMenu(const QPoint& pos, QWidget* from);
  void SelectGridRow(const std::string& name);
  void RestoreSplitter();
  void SaveSplitter();
  void PlaceControls();
  void ConnectControls();
  void OnSize();
  void FitCountLabels();
  void ShowStats(const CStatusTexts& texts);
  void ShowProjection();
  void OnShowWindow();
  // After a directory was opened from the grid or a list: scans it when the settings say so.
  void ScanOnClick();
  void OnDestroy();
  void ApplyColumnWidths();
  void PushDirectoryText(const std::string& text);
  std::string ReadDirectoryText() const;
  // Puts a control at a rectangle given in dialog units, kept for a change of font.
  void Place(QWidget* control, const QRect& units);
  QLabel* AddLabel(const char* text, const QRect& units, bool rightAligned, const char* accessibleName);

  CVarnowDlg& m_dlg;
  CQtPrompts& m_prompts;
  std::shared_ptr<const CDirSnapshot> m_snapshot;  // what the grid, the status and the treemap show
  CProgramVersion m_version;
  std::unique_ptr<CWindowUpdateCheck> m_updateCheck;  // the automatic check of this start
  FolderPicker m_picker;
  bool m_shown = false;
  bool m_pushing = false;  // the field is being set from the object: no change handling
  // What the window last put into the field, and the bytes it stands for (a name that is not
  // UTF-8 is shown with replacement characters).
  QString m_fieldText;
  std::string m_fieldBytes;
  bool m_destroyed = false;

  QLabel* m_programIcon = nullptr;
  QLineEdit* m_directory = nullptr;
  QPushButton* m_browse = nullptr;
  std::array<QToolButton*, kButtonCount> m_buttons{};
  CGrid* m_grid = nullptr;
  QSplitter* m_split = nullptr;       // the grid above, the treemap pane below
  CTreemapView* m_treemap = nullptr;
  QPushButton* m_largest = nullptr;
  std::unique_ptr<CTrashedPaths> m_trashed;
  CFileActions* m_actions = nullptr;
  std::unique_ptr<CTreemapReader> m_treemapReader;
  bool m_treemapPending = false;
  int m_treemapGeneration = 0;  // of the read asked for last, and of the tree shown
  int m_treemapShown = 0;
  bool m_syncing = false;  // a selection is being passed between grid and treemap
  // The six right-aligned status controls move together when the window is resized.
  QLabel* m_freeSpaceLabel = nullptr;
  QLabel* m_freeSpace = nullptr;
  QLabel* m_scannedSizeLabel = nullptr;
  QLabel* m_scannedSize = nullptr;
  QLabel* m_totalUsedLabel = nullptr;
  QLabel* m_totalUsed = nullptr;
  QLabel* m_directoriesLabel = nullptr;
  QLabel* m_filesLabel = nullptr;
  QLabel* m_directories = nullptr;
  QLabel* m_files = nullptr;
  QLabel* m_clusterLabel = nullptr;
  QLabel* m_clusterSize = nullptr;
  QLabel* m_projection = nullptr;  // when the disk fills, across the window above the grid
  QString m_projectionText;        // its whole text; the label shows as much as fits
  std::vector<std::pair<QWidget*, QRect>> m_placed;  // controls and their dialog units
};

}  // namespace varnow
