#include "varnow/ui/TreemapView.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "platform/guarded.h"
#include "platform/tracelog.h"

namespace varnow {

CTreemapView::CTreemapView(QWidget* parent) : QWidget(parent) {
  setObjectName("treemap");
  setAccessibleName("Treemap");
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(false);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  m_placeholder = "No saved scan of this directory to draw";
}

void CTreemapView::SetTree(CTreemapTree tree) {
  const bool sameTop = tree.Top() == m_tree.Top();
  const std::string selected = sameTop ? SelectedPath() : std::string();
  m_tree = std::move(tree);
  m_laidFor = QSize();
  m_selected = -1;
  if (!selected.empty()) {
    const CTreemapLayout& layout = Layout();
    for (std::size_t i = 0; i < layout.Tiles().size(); ++i)
      if (layout.Tiles()[i].node >= 0 && !m_tree.Node(layout.Tiles()[i].node).ownFiles && m_tree.PathOf(layout.Tiles()[i].node) == selected) m_selected = static_cast<int>(i);
  }
  Describe();
  update();
}

void CTreemapView::SetUnits(SizeUnit units) {
  m_units = units;
  update();
}

void CTreemapView::SetRemoved(std::function<bool(const std::string&)> removed) {
  m_removed = std::move(removed);
  update();
}

void CTreemapView::SetPlaceholder(const QString& text) {
  m_placeholder = text;
  update();
}

QRect CTreemapView::TileArea() const {
  return QRect(0, 0, width(), std::max(0, height() - TreemapLegendHeight(font())));
}

const CTreemapLayout& CTreemapView::Layout() {
  if (m_laidFor != size()) {
    m_layout.SetHeaderHeight(TreemapHeaderHeight(font()));
    m_layout.Lay(m_tree, TileArea());
    m_laidFor = size();
  }
  return m_layout;
}

int CTreemapView::DirectoryTile(int tile) const {
  const CTile& t = m_layout.Tiles()[static_cast<std::size_t>(tile)];
  if (t.node >= 0 && !m_tree.Node(t.node).ownFiles) return tile;
  if (t.node >= 0) return m_tree.Node(t.node).parent == 0 ? -1 : m_layout.TileOfNode(m_tree.Node(t.node).parent);
  // A merged tile lies in the directory whose tile holds it; at the top level in the top.
  for (int i = tile; i-- > 0;)
    if (m_layout.Tiles()[static_cast<std::size_t>(i)].inner.contains(t.rect.center())) return i;
  return -1;
}

std::string CTreemapView::DirectoryOf(int tile) const {
  const int holder = DirectoryTile(tile);
  return holder < 0 ? m_tree.Top() : m_tree.PathOf(m_layout.Tiles()[static_cast<std::size_t>(holder)].node);
}

std::string CTreemapView::EntryOf(int tile) const {
  const int holder = DirectoryTile(tile);
  if (holder < 0) return {};
  std::int32_t node = m_layout.Tiles()[static_cast<std::size_t>(holder)].node;
  while (m_tree.Node(node).parent > 0) node = m_tree.Node(node).parent;
  return m_tree.Node(node).name;
}

std::string CTreemapView::SelectedPath() const {
  if (m_selected < 0 || m_selected >= static_cast<int>(m_layout.Tiles().size())) return {};
  return DirectoryOf(m_selected);
}

void CTreemapView::SelectTile(int tile) {
  if (tile >= static_cast<int>(Layout().Tiles().size())) tile = -1;
  if (tile == m_selected) return;
  m_selected = tile;
  Describe();
  update();
}

void CTreemapView::SelectEntry(const std::string& name) {
  const CTreemapLayout& layout = Layout();
  int found = -1;
  if (!name.empty()) {
    for (std::size_t i = 0; i < layout.Tiles().size(); ++i) {
      const CTile& tile = layout.Tiles()[i];
      if (tile.node > 0 && tile.depth == 0 && !m_tree.Node(tile.node).ownFiles && m_tree.Node(tile.node).name == name) {
        found = static_cast<int>(i);
        break;
      }
    }
  }
  SelectTile(found);
}

// The accessible description follows the selected tile, so a screen reader says where it is.
void CTreemapView::Describe() {
  if (m_selected < 0) {
    setAccessibleDescription(m_tree.Empty() ? m_placeholder : QString("Saved tree of %1").arg(TreemapNodeName(m_tree, 0)));
    return;
  }
  const CTile& tile = m_layout.Tiles()[static_cast<std::size_t>(m_selected)];
  setAccessibleDescription(TreemapTileTip(m_tree, tile, m_units).replace('\n', "; "));
}

void CTreemapView::Activate(int tile) {
  if (tile < 0) return;
  const std::string dir = DirectoryOf(tile);
  if (dir != m_tree.Top()) emit DirectoryActivated(dir);
}

void CTreemapView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = TileArea();
  painter.fillRect(rect(), palette().base());
  if (m_tree.Empty()) {
    painter.setPen(palette().text().color());
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, m_placeholder);
  } else {
    CTreemapPaintOptions options;
    options.units = m_units;
    options.selectedTile = m_selected;
    options.removed = m_removed;
    PaintTreemapTiles(painter, m_tree, Layout(), options);
  }
  PaintTreemapLegend(painter, QRect(0, area.bottom() + 1, width(), height() - area.height()));
  if (hasFocus()) {
    painter.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

void CTreemapView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The selection is a tile of the old layout: keep the same directory selected in the new one.
  const std::string selected = SelectedPath();
  m_laidFor = QSize();
  m_selected = -1;
  if (selected.empty()) return;
  const CTreemapLayout& layout = Layout();
  for (std::size_t i = 0; i < layout.Tiles().size(); ++i)
    if (layout.Tiles()[i].node >= 0 && !m_tree.Node(layout.Tiles()[i].node).ownFiles && m_tree.PathOf(layout.Tiles()[i].node) == selected)
      m_selected = static_cast<int>(i);
}

void CTreemapView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
  const int tile = Layout().TileAt(event->position());
  SelectTile(tile);
  if (tile >= 0) emit EntrySelected(EntryOf(tile));
}

void CTreemapView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  platform::Guarded("the treemap's double click", [&] {
    Activate(Layout().TileAt(event->position()));
  });
}

void CTreemapView::keyPressEvent(QKeyEvent* event) {
  const int count = static_cast<int>(Layout().Tiles().size());
  switch (event->key()) {
    case Qt::Key_Backspace:
      emit UpRequested();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Activate(m_selected);
      return;
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Up: {
      if (count == 0) return;
      // Through the tiles in layout order: largest first, parents before their children.
      const bool forward = event->key() == Qt::Key_Right || event->key() == Qt::Key_Down;
      const int next = m_selected < 0 ? 0 : (m_selected + (forward ? 1 : count - 1)) % count;
      SelectTile(next);
      emit EntrySelected(EntryOf(next));
      return;
    }
    default:
      QWidget::keyPressEvent(event);
  }
}

void CTreemapView::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  const int tile = Layout().TileAt(event->pos());
  if (tile < 0) return;
  // The files of a directory, or small ones merged, are no one item: the menu is the directory's.
  const int holder = DirectoryTile(tile);
  const std::string path = DirectoryOf(tile);
  const std::int64_t size = holder < 0 ? m_tree.Node(0).now : m_layout.Tiles()[static_cast<std::size_t>(holder)].now;
  emit MenuRequested(path, size, event->globalPos());
}

bool CTreemapView::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const int tile = Layout().TileAt(help->pos());
    if (tile < 0) {
      QToolTip::hideText();
    } else {
      QString tip = TreemapTileTip(m_tree, m_layout.Tiles()[static_cast<std::size_t>(tile)], m_units);
      if (m_removed && m_removed(DirectoryOf(tile))) tip += "\nMoved to the trash";
      QToolTip::showText(help->globalPos(), tip, this);
    }
    return true;
  }
  return QWidget::event(event);
}

}  // namespace varnow
