// The main window's views of where the space went: the treemap below the grid, the largest
// files, and the context menu that acts on what they show.
#include <QApplication>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/ui/FileActions.h"
#include "varnow/ui/LargestFilesDlg.h"
#include "varnow/ui/TreemapReader.h"
#include "varnow/ui/TreemapView.h"
#include "varnow/ui/VarnowWindow.h"

namespace varnow {
namespace {

// The treemap pane's share of the splitter, in thousandths, as the settings keep it.
constexpr char kTreemapShareSetting[] = "TreemapShare";
constexpr int kDefaultTreemapShare = 500;

}  // namespace

void CVarnowWindow::BuildFindViews() {
  m_trashed = std::make_unique<CTrashedPaths>();
  m_treemapReader = std::make_unique<CTreemapReader>();
  m_actions = new CFileActions(*m_trashed, this);
  m_split = new QSplitter(Qt::Vertical, this);
  m_split->setObjectName("splitter");
  m_split->setChildrenCollapsible(false);
  m_split->addWidget(m_grid);
  auto* pane = new QWidget(m_split);
  auto* column = new QVBoxLayout(pane);
  column->setContentsMargins(0, 4, 0, 0);
  column->setSpacing(3);
  auto* heading = new QHBoxLayout;
  auto* title = new QLabel("Saved tree, coloured by the change since the older scan:", pane);
  title->setObjectName("treemapTitle");
  heading->addWidget(title, 1);
  m_largest = new QPushButton("Largest Files ...", pane);
  m_largest->setObjectName("largestFiles");
  m_largest->setAccessibleName("Largest Files ...");
  m_largest->setAutoDefault(false);
  heading->addWidget(m_largest);
  column->addLayout(heading);
  m_treemap = new CTreemapView(pane);
  m_treemap->setAccessibleName("Treemap of the saved tree");
  column->addWidget(m_treemap, 1);
  m_split->addWidget(pane);
  m_split->setStretchFactor(0, 1);
  m_split->setStretchFactor(1, 1);
}

void CVarnowWindow::ConnectFindViews() {
  connect(m_largest, &QPushButton::clicked, this, &CVarnowWindow::OnLargest);
  connect(m_treemap, &CTreemapView::DirectoryActivated, this, [this](const std::string& path) { GoToDirectory(path); });
  connect(m_treemap, &CTreemapView::UpRequested, this, [this] { OnBack(); });
  connect(m_treemap, &CTreemapView::EntrySelected, this, [this](const std::string& name) { SelectGridRow(name); });
  connect(m_treemap, &CTreemapView::MenuRequested, this,
          [this](const std::string& path, std::int64_t size, const QPoint& at) { m_actions->ShowMenu({path, size}, at); });
  connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
    if (m_syncing) return;
    m_syncing = true;
    m_treemap->SelectEntry(current.isValid() ? m_grid->Model()->EntryName(current.row()) : std::string());
    m_syncing = false;
  });
  for (QWidget* from : {static_cast<QWidget*>(m_grid), static_cast<QWidget*>(m_grid->verticalHeader())}) {
    from->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(from, &QWidget::customContextMenuRequested, this, [this, from](const QPoint& pos) { OnGridMenu(pos, from); });
  }
  // What went to the trash shows as removed wherever it is shown, until the next scan.
  m_grid->Model()->SetRemoved([this](const std::string& name) {
    return !m_trashed->Empty() && m_trashed->Contains(m_dlg.Session().dd.m_currentScanDir + name + "/");
  });
  m_treemap->SetRemoved([this](const std::string& path) { return !m_trashed->Empty() && m_trashed->Contains(path); });
  connect(m_actions, &CFileActions::Trashed, this, [this] {
    m_grid->Model()->SetRemoved([this](const std::string& name) {
      return !m_trashed->Empty() && m_trashed->Contains(m_dlg.Session().dd.m_currentScanDir + name + "/");
    });
    m_treemap->update();
  });
}

void CVarnowWindow::DetachFindViews() {
  m_treemapReader->Cancel();
  // The child widgets outlive this object's members: they must not ask about the trash then.
  m_grid->Model()->SetRemoved(nullptr);
  m_treemap->SetRemoved(nullptr);
}

void CVarnowWindow::SelectGridRow(const std::string& name) {
  if (m_syncing) return;
  m_syncing = true;
  CDirGridModel* model = m_grid->Model();
  for (int row = 0; row < model->rowCount(); ++row) {
    if (!model->IsSummaryRow(row) && model->EntryName(row) == name && !name.empty()) {
      m_grid->selectRow(row);
      m_grid->scrollTo(model->index(row, 0));
      break;
    }
  }
  m_syncing = false;
}

void CVarnowWindow::OnGridMenu(const QPoint& pos, QWidget* from) {
  platform::Guarded("OnGridMenu", [&] {
    const int row = from == m_grid ? m_grid->rowAt(pos.y()) : m_grid->verticalHeader()->logicalIndexAt(pos);
    CDirGridModel* model = m_grid->Model();
    if (row < 0 || model->IsSummaryRow(row) || model->EntryName(row).empty()) return;
    const std::string name = model->EntryName(row);
    const CDirData& record = m_dlg.Session().dd;
    const CDirInfo* entry = record.FindEntry(name);
    const std::int64_t size = entry && entry->sizes[0] != kNoSize ? entry->sizes[0] : 0;
    m_grid->selectRow(row);
    m_actions->SetUnits(m_dlg.Settings().preferredUnits);
    m_actions->ShowMenu({record.m_currentScanDir + name + "/", size}, from->mapToGlobal(pos));
  });
}

void CVarnowWindow::RefreshTreemap() {
  // One read of the saved tree for a burst of refreshes (a directory change refreshes twice).
  if (m_treemapPending) return;
  m_treemapPending = true;
  QTimer::singleShot(0, this, [this] { ShowTreemapNow(); });
}

// The tree is read on the reader's thread; the window shows the directory's tiles when it is in.
void CVarnowWindow::ShowTreemapNow() {
  m_treemapPending = false;
  platform::Guarded("ShowTreemapNow", [&] {
    m_treemap->SetUnits(m_dlg.Settings().preferredUnits);
    m_actions->SetUnits(m_dlg.Settings().preferredUnits);
    CScanInfo& session = m_dlg.Session();
    if (m_treemap->Tree().Top() != session.dd.m_currentScanDir) {
      CTreemapTree empty;
      m_treemap->SetTree(std::move(empty));
      m_treemap->SetPlaceholder("Reading the saved tree ...");
    }
    const int generation = ++m_treemapGeneration;
    // What waits in the save queue is part of the saved tree.
    m_treemapReader->Start(m_dlg.Settings().dataDirectory, session.dd, [&session] { session.SaveOutData(); },
                           [this, generation](std::shared_ptr<CTreemapTree> tree) {
      QMetaObject::invokeMethod(this, [this, tree, generation] { ShowTreemap(tree, generation); }, Qt::QueuedConnection);
    });
  });
}

void CVarnowWindow::ShowTreemap(std::shared_ptr<CTreemapTree> tree, int generation) {
  platform::Guarded("ShowTreemap", [&] {
    // Only the tree of the last read asked for is shown.
    if (!tree || generation != m_treemapGeneration) return;
    m_treemapShown = generation;
    m_treemap->SetPlaceholder("No saved scan of this directory to draw");
    m_treemap->SetTree(std::move(*tree));
    // The row the grid has selected stays selected in the treemap.
    const QModelIndex current = m_grid->currentIndex();
    if (current.isValid()) m_treemap->SelectEntry(m_grid->Model()->EntryName(current.row()));
  });
}

void CVarnowWindow::OnLargest() {
  platform::Guarded("OnLargest", [&] {
    CScanInfo& session = m_dlg.Session();
    const std::vector<CLargeFile> files = session.LargestFiles().Sorted();
    m_actions->SetUnits(m_dlg.Settings().preferredUnits);
    CLargestFilesDlg dialog(files, session.LastScanDir(), static_cast<std::time_t>(session.LastScanTime()),
                            m_dlg.Settings().preferredUnits, [this](const std::string& dir) { GoToDirectory(dir); },
                            m_actions, m_trashed.get(), this);
    dialog.exec();
  });
}

void CVarnowWindow::RestoreSplitter() {
  int share = GetProfileIntEx(kSettingsSection, kTreemapShareSetting, kDefaultTreemapShare);
  if (share < 100 || share > 900) share = kDefaultTreemapShare;  // neither pane hidden for good
  const int total = std::max(m_split->height(), 2);
  m_split->setSizes({total * (1000 - share) / 1000, total * share / 1000});
}

void CVarnowWindow::SaveSplitter() {
  const QList<int> sizes = m_split->sizes();
  if (sizes.size() != 2 || sizes[0] + sizes[1] <= 0) return;
  WriteProfileInt(kSettingsSection, kTreemapShareSetting, sizes[1] * 1000 / (sizes[0] + sizes[1]));
}

}  // namespace varnow
