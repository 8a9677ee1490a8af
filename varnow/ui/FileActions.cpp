#include "varnow/ui/FileActions.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/report/FormatSize.h"

namespace varnow {
namespace {

std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The folder the desktop opens when no file manager shows the item itself.
QUrl FolderOf(const QString& path, bool directory) {
  return QUrl::fromLocalFile(directory ? path : QFileInfo(path).absolutePath());
}

}  // namespace

bool PathAsText(const std::string& path, QString& text) {
  text = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
  return text.toUtf8().toStdString() == path;
}

void OpenInFileManager(const std::string& path, QObject* context) {
  QString text;
  if (!PathAsText(path, text)) {
    VN_TRACE("OpenInFileManager: %s is no UTF-8 text", path.c_str());
  }
  const bool directory = !path.empty() && path.back() == '/';
  const QString item = QString::fromUtf8(WithoutSlash(path));
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                     "org.freedesktop.FileManager1", "ShowItems");
  call << QStringList{QUrl::fromLocalFile(item).toString(QUrl::FullyEncoded)} << QString();
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QUrl fallback = FolderOf(item, directory);
  if (!bus.isConnected()) {
    QDesktopServices::openUrl(fallback);
    return;
  }
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), context);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [fallback](QDBusPendingCallWatcher* w) {
    if (w->isError()) {
      VN_TRACE("ShowItems failed (%s): opening the folder", w->error().name().toUtf8().constData());
      QDesktopServices::openUrl(fallback);
    }
    w->deleteLater();
  });
}

void CopyPathToClipboard(const std::string& path) {
  const std::string shown = path.size() > 1 && path.back() == '/' ? WithoutSlash(path) : path;
  auto* data = new QMimeData;
  data->setText(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())));
  // A file address carries every byte of the name, so a paste into a file manager finds it.
  QUrl url;
  url.setScheme("file");
  url.setPath(QString::fromLatin1(QUrl::toPercentEncoding(QByteArray::fromStdString(shown), "/")), QUrl::TolerantMode);
  data->setUrls({url});
  QGuiApplication::clipboard()->setMimeData(data);
}

bool MoveItemToTrash(const std::string& path, std::string& why) {
  QString text;
  const std::string item = WithoutSlash(path);
  if (!PathAsText(item, text)) {
    why = "its name is not UTF-8 text, which the trash cannot take without naming another file";
    return false;
  }
  if (!QFileInfo::exists(text) && !QFileInfo(text).isSymLink()) {
    why = "it no longer exists";
    return false;
  }
  QFile file(text);
  if (!file.moveToTrash()) {
    why = file.errorString().isEmpty() ? std::string("the trash refused it") : file.errorString().toStdString();
    return false;
  }
  VN_TRACE("Moved %s to the trash as %s", item.c_str(), file.fileName().toUtf8().constData());
  return true;
}

CFileActions::CFileActions(CTrashedPaths& trashed, QWidget* parent)
    : QObject(parent), m_trashed(trashed), m_parent(parent) {
  m_confirm = [](QWidget* parent, const QString& question) {
    return QMessageBox::question(parent, "Move to Trash", question, QMessageBox::Yes | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Yes;
  };
  m_tell = [](QWidget* parent, const QString& text) { QMessageBox::warning(parent, "Move to Trash", text); };
}

void CFileActions::AddActions(QMenu& menu, const CFoundItem& item) {
  menu.addAction("Open in File Manager", this, [this, item] { OpenInFileManager(item.path, this); });
  menu.addAction("Copy Path", this, [item] { CopyPathToClipboard(item.path); });
  QAction* trash = menu.addAction("Move to Trash...", this, [this, item] { MoveToTrash(item); });
  trash->setEnabled(!m_trashed.Contains(item.path) && item.path != "/");
}

void CFileActions::ShowMenu(const CFoundItem& item, const QPoint& globalPos) {
  QMenu menu(m_parent);
  AddActions(menu, item);
  menu.exec(globalPos);
}

bool CFileActions::MoveToTrash(const CFoundItem& item) {
  return platform::Guarded("MoveToTrash", [&] {
    const bool directory = !item.path.empty() && item.path.back() == '/';
    const QString shown = QString::fromUtf8(WithoutSlash(item.path));
    const QString question =
        QString("Move the %1 \"%2\" (%3) to the trash?\n\nYou can restore it from the trash until the trash is emptied.")
            .arg(directory ? "directory" : "file", shown, QString::fromStdString(FormatSize(item.size, true, m_units)));
    if (!m_confirm(m_parent, question)) return false;
    std::string why;
    if (!MoveItemToTrash(item.path, why)) {
      m_tell(m_parent, QString("\"%1\" was not moved to the trash: %2").arg(shown, QString::fromStdString(why)));
      return false;
    }
    m_trashed.Add(item.path);
    emit Trashed(QString::fromUtf8(item.path));
    return true;
  }, false);
}

}  // namespace varnow
