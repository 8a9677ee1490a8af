// What the user can do with a directory or file found in the window: show it in the file
// manager, copy its path, move it to the desktop's trash (never delete it). The grid, the
// treemap, the growth list and the largest files all offer the same menu.
#pragma once

#include <QObject>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "varnow/report/FormatSize.h"

class QMenu;
class QWidget;

namespace varnow {

// One thing found: its full path (bytes; a directory's ends in "/") and its size as shown.
struct CFoundItem {
  std::string path;
  std::int64_t size = 0;
};

// The paths moved to the trash in this session, until the next scan shows what is left.
class CTrashedPaths {
 public:
  void Add(const std::string& path) { m_paths.insert(path); }
  bool Contains(const std::string& path) const { return m_paths.count(path) != 0; }
  void Clear() { m_paths.clear(); }
  bool Empty() const { return m_paths.empty(); }

 private:
  std::set<std::string> m_paths;
};

// The path as a text for the desktop; false when its bytes are not UTF-8 and no text names it
// exactly (such a path cannot be handed to the file manager or the trash without naming
// another file).
bool PathAsText(const std::string& path, QString& text);

// Shows the item in the file manager: the freedesktop ShowItems call on the session bus, and
// when no file manager answers it, the folder opened by the desktop (the directory itself, or
// the file's folder). Returns at once; the answer is waited for in the background.
void OpenInFileManager(const std::string& path, QObject* context);

// Puts the path on the clipboard as text and as a file address.
void CopyPathToClipboard(const std::string& path);

// Moves the item to the desktop's trash folder (QFile::moveToTrash): false,
// with why, when it is not moved.
bool MoveItemToTrash(const std::string& path, std::string& why);

class CFileActions : public QObject {
  Q_OBJECT
 public:
  // trashed: where moved items are noted; units: how sizes are written in the question.
  CFileActions(CTrashedPaths& trashed, QWidget* parent);

  void SetUnits(SizeUnit units) { m_units = units; }

  // The question before a move to the trash; tests answer it. Default: a message box.
  using Confirm = std::function<bool(QWidget* parent, const QString& question)>;
  void SetConfirm(Confirm confirm) { m_confirm = std::move(confirm); }
  // Where failures are told; tests collect them. Default: a message box.
  using Tell = std::function<void(QWidget* parent, const QString& text)>;
  void SetTell(Tell tell) { m_tell = std::move(tell); }

  // Adds the three actions for item to menu.
  void AddActions(QMenu& menu, const CFoundItem& item);
  // Shows the menu for item at a screen position (for widgets that ask for a context menu).
  void ShowMenu(const CFoundItem& item, const QPoint& globalPos);

  // Asks, then moves the item to the trash and notes it; true when it was moved.
  bool MoveToTrash(const CFoundItem& item);

 signals:
  // An item went to the trash: the views show it as removed.
  void Trashed(const QString& path);

 private:
  CTrashedPaths& m_trashed;
  QWidget* m_parent;
  SizeUnit m_units = SizeUnit::kK;
  Confirm m_confirm;
  Tell m_tell;
};

}  // namespace varnow
