#include "varnow/alerts/DesktopNotification.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QVariantMap>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/process.h"
#include "platform/tracelog.h"

namespace varnow {
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kObject[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kShowAction[] = "show";
constexpr char kDefaultAction[] = "default";  // a click on the notification itself
// A server that does not answer in this time is taken for none: the box shows instead.
constexpr int kCallTimeoutMs = 5000;
// Servers keep unread notifications for days; the waiter gives up after one.
constexpr int kLongestWaitMs = 24 * 60 * 60 * 1000;

const char* KindName(EAlertKind kind) {
  switch (kind) {
    case EAlertKind::kSize: return "size";
    case EAlertKind::kPercent: return "percent";
    case EAlertKind::kFreeSpace: return "free";
    case EAlertKind::kDiskFull: return "full";
  }
  return "alert";
}

// The alert's name among the files: its kind and a digest of the directory's bytes, which may
// be long or hold any character.
QString AlertKey(const CAlertNotice& alert) {
  const QByteArray digest = QCryptographicHash::hash(QByteArray(alert.dir.data(), static_cast<qsizetype>(alert.dir.size())),
                                                     QCryptographicHash::Sha256);
  return QLatin1String(KindName(alert.kind)) + QLatin1Char('-') + QString::fromLatin1(digest.toHex().left(24));
}

// $XDG_RUNTIME_DIR/varnow, private to the user; empty when there is no runtime folder.
QString RuntimeFolder() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (runtime.isEmpty()) return {};
  const QByteArray folder = runtime + "/varnow";
  if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) return {};
  return QFile::decodeName(folder);
}

bool ServerPresent(const QDBusConnection& bus) {
  return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(QLatin1String(kService));
}

QDBusMessage Call(QDBusConnection& bus, const char* method, const QVariantList& arguments = {}) {
  QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kObject),
                                                     QLatin1String(kInterface), QLatin1String(method));
  call.setArguments(arguments);
  return bus.call(call, QDBus::Block, kCallTimeoutMs);
}

// The message as the body: a server that reads markup must not take a directory named
// "<b>" or "a&b" for markup.
QString Body(QDBusConnection& bus, const std::string& message) {
  QString body = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
  const QDBusMessage reply = Call(bus, "GetCapabilities");
  if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
      reply.arguments().first().toStringList().contains(QLatin1String("body-markup")))
    body = body.toHtmlEscaped();
  return body;
}

quint32 ReadId(const QString& file) {
  QFile in(file);
  if (file.isEmpty() || !in.open(QIODevice::ReadOnly)) return 0;
  return in.readAll().trimmed().toUInt();
}

// Written in place, not replaced: a waiter holds its lock on this file.
void WriteId(const QString& file, quint32 id) {
  QFile out(file);
  if (file.isEmpty() || !out.open(QIODevice::ReadWrite)) return;
  out.resize(0);
  out.write(QByteArray::number(id) + '\n');
}

// Tries to lock `file` for this process alone; returns the descriptor, -1 when another process
// holds it, -2 when the file cannot be opened.
int TryLock(const QString& file) {
  const int fd = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -2;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  const bool held = errno == EWOULDBLOCK;
  ::close(fd);
  return held ? -1 : -2;
}

// Follows one notification until it is closed or its action is chosen.
class CNotificationWaiter : public QObject {
  Q_OBJECT

 public:
  CNotificationWaiter(quint32 id, QString idFile, QString dir)
      : m_id(id), m_idFile(std::move(idFile)), m_dir(std::move(dir)) {}

 public slots:
  void OnActionInvoked(uint id, const QString& action) {
    if (id != CurrentId() || (action != QLatin1String(kShowAction) && action != QLatin1String(kDefaultAction))) return;
    const std::string program = platform::ProgramPath();
    if (!program.empty()) platform::StartDetachedQuietly({program, "/DIR=" + QFile::encodeName(m_dir).toStdString()});
    QCoreApplication::quit();
  }
  void OnNotificationClosed(uint id, uint /*reason*/) {
    if (id == CurrentId()) QCoreApplication::quit();
  }

 private:
  // A repeated alert keeps its id, but a restarted server gives a new one: the file has it.
  quint32 CurrentId() const {
    const quint32 stored = ReadId(m_idFile);
    return stored != 0 ? stored : m_id;
  }

  quint32 m_id;
  QString m_idFile;
  QString m_dir;
};

}  // namespace

QString NotificationIdFile(const CAlertNotice& alert) {
  const QString folder = RuntimeFolder();
  return folder.isEmpty() ? QString() : folder + QLatin1String("/notification-") + AlertKey(alert);
}

QString AlertBoxLockFile(const CAlertNotice& alert) {
  const QString folder = RuntimeFolder();
  return folder.isEmpty() ? QString() : folder + QLatin1String("/box-") + AlertKey(alert);
}

bool ShowDesktopNotification(const CAlertNotice& alert, const QString& tracker) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!ServerPresent(bus)) return false;
  const QString idFile = NotificationIdFile(alert);
  const bool urgent = alert.kind == EAlertKind::kFreeSpace || alert.kind == EAlertKind::kDiskFull;
  QVariantMap hints;
  hints.insert(QLatin1String("urgency"), QVariant::fromValue<uchar>(urgent ? 2 : 1));
  hints.insert(QLatin1String("desktop-entry"), QLatin1String("varnow"));
  const QStringList actions{QLatin1String(kDefaultAction), QLatin1String("Show"), QLatin1String(kShowAction),
                            QLatin1String("Show")};
  const QDBusMessage reply =
      Call(bus, "Notify",
           {QLatin1String("Varnow"), ReadId(idFile), QLatin1String("varnow"), QLatin1String("Varnow Alert"),
            Body(bus, alert.message), actions, hints, -1});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    VN_TRACE("The notification server refused the alert: %s", qPrintable(reply.errorMessage()));
    return false;
  }
  const quint32 id = reply.arguments().first().toUInt();
  VN_TRACE("Alert notification %u: %s", id, alert.message.c_str());
  WriteId(idFile, id);
  std::vector<std::string> waiter{QFile::encodeName(tracker).toStdString(), kAwaitNotificationSwitch,
                                  std::to_string(id), alert.dir};
  if (!idFile.isEmpty()) waiter.push_back(QFile::encodeName(idFile).toStdString());
  if (!platform::StartDetachedQuietly(waiter)) VN_TRACE("No waiter for the notification's action");
  return true;
}

int AwaitNotificationAction(int argc, char** argv) {
  if (argc < 4 || argc > 5) return 2;
  bool number = false;
  const quint32 id = QString::fromLatin1(argv[2]).toUInt(&number);
  if (!number || id == 0) return 2;
  const QString idFile = argc == 5 ? QFile::decodeName(argv[4]) : QString();
  // One waiter per alert: a repeated alert keeps its notification, and its waiter.
  const int lock = idFile.isEmpty() ? -2 : TryLock(idFile);
  if (lock == -1) return 0;
  QCoreApplication application(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  CNotificationWaiter waiter(id, idFile, QFile::decodeName(argv[3]));
  bus.connect(QLatin1String(kService), QLatin1String(kObject), QLatin1String(kInterface),
              QLatin1String("ActionInvoked"), &waiter, SLOT(OnActionInvoked(uint,QString)));
  bus.connect(QLatin1String(kService), QLatin1String(kObject), QLatin1String(kInterface),
              QLatin1String("NotificationClosed"), &waiter, SLOT(OnNotificationClosed(uint,uint)));
  QDBusServiceWatcher gone(QLatin1String(kService), bus, QDBusServiceWatcher::WatchForUnregistration);
  QObject::connect(&gone, &QDBusServiceWatcher::serviceUnregistered, &application, &QCoreApplication::quit);
  QTimer::singleShot(kLongestWaitMs, &application, &QCoreApplication::quit);
  // The session may end without the server ever leaving it.
  QTimer alive;
  QObject::connect(&alive, &QTimer::timeout, [&bus] {
    if (!ServerPresent(bus)) QCoreApplication::quit();
  });
  alive.start(60 * 1000);
  if (!ServerPresent(bus)) return 0;
  const int status = QCoreApplication::exec();
  if (lock >= 0) ::close(lock);
  return status;
}

CAlertBoxGuard::CAlertBoxGuard(const CAlertNotice& alert) {
  const QString file = AlertBoxLockFile(alert);
  if (file.isEmpty()) return;
  m_fd = TryLock(file);
  m_acquired = m_fd != -1;
}

CAlertBoxGuard::~CAlertBoxGuard() {
  if (m_fd >= 0) ::close(m_fd);
}

}  // namespace varnow

#include "DesktopNotification.moc"
