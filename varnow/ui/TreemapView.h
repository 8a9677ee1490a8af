// The treemap in the main window: the shown directory's saved tree as tiles coloured by change,
// with the legend below. A click selects a tile (and tells the window which of the shown
// directory's entries it lies in, so the grid selects that row), a double click or Enter goes
// to the tile's directory, Backspace goes up, the tooltip tells the sizes and the change.
#pragma once

#include <QWidget>

#include <functional>
#include <string>

#include "varnow/ui/Treemap.h"
#include "varnow/ui/TreemapPicture.h"

namespace varnow {

class CTreemapView : public QWidget {
  Q_OBJECT
 public:
  explicit CTreemapView(QWidget* parent = nullptr);

  // Shows tree; a tree of another directory drops the selection.
  void SetTree(CTreemapTree tree);
  const CTreemapTree& Tree() const { return m_tree; }
  void SetUnits(SizeUnit units);
  // Shows the paths this predicate names as moved to the trash.
  void SetRemoved(std::function<bool(const std::string& path)> removed);
  // The text shown instead of tiles while there are none to show.
  void SetPlaceholder(const QString& text);

  // Selects the tile of the shown directory's entry with this name (bytes); "" selects none.
  void SelectEntry(const std::string& name);
  // The selected tile's directory or file, "" when none.
  std::string SelectedPath() const;
  const CTreemapLayout& Layout();
  // Where the tiles go inside the widget (the legend takes the bottom strip).
  QRect TileArea() const;
  int SelectedTile() const { return m_selected; }
  void SelectTile(int tile);

  QSize sizeHint() const override { return {400, 260}; }
  QSize minimumSizeHint() const override { return {120, 80}; }

 signals:
  // The name of the shown directory's entry the selected tile lies in ("" for its own files).
  void EntrySelected(const std::string& name);
  // Show this directory (full path, ending in "/").
  void DirectoryActivated(const std::string& path);
  void UpRequested();
  // A context menu for the tile's item (path, size) at a screen position.
  void MenuRequested(const std::string& path, std::int64_t size, const QPoint& globalPos);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // The tile of the directory a tile stands for: its own, or its parent's for files and merged
  // tiles; -1 for the shown directory itself.
  int DirectoryTile(int tile) const;
  std::string DirectoryOf(int tile) const;
  // The entry of the shown directory that holds the tile's node.
  std::string EntryOf(int tile) const;
  void Activate(int tile);
  void Describe();

  CTreemapTree m_tree;
  CTreemapLayout m_layout;
  QSize m_laidFor;   // the size the layout was made for; empty: lay out again
  SizeUnit m_units = SizeUnit::kK;
  int m_selected = -1;
  std::function<bool(const std::string&)> m_removed;
  QString m_placeholder;
};

}  // namespace varnow
