#include "varnow/alerts/SchedulerConnection.h"

#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/guarded.h"
#include "platform/process.h"
#include "platform/tracelog.h"
#include "taskmgr/taskmgrclient.h"
#include "taskmgr/taskmgrbus.h"

namespace varnow {
namespace {
constexpr char kSchedulerProgram[] = "orvsched";
}  // namespace

std::string StatusText(taskmgr::HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
  return text;
}

std::string FindSchedulerProgram(const std::string& folder) {
  if (!folder.empty()) {
    const std::string beside = folder + (folder.back() == '/' ? "" : "/") + kSchedulerProgram;
    if (::access(beside.c_str(), X_OK) == 0) return beside;
  }
  return QStandardPaths::findExecutable(QLatin1String(kSchedulerProgram)).toStdString();
}

std::string MissingSchedulerText(const std::string& folder) {
  if (!FindSchedulerProgram(folder).empty()) return {};
  const char* path = std::getenv("PATH");
  return std::string("The scheduler program ") + kSchedulerProgram + " was not found; it was looked for in " +
         (folder.empty() ? std::string() : folder + ", then ") + "on PATH (" + (path ? path : "") + ").";
}

pid_t RegisterSchedulerComponents(const std::string& folder) {
  return platform::Guarded(
      "RegisterSchedulerComponents",
      [&]() -> pid_t {
        taskmgr::InstallInterfaceDescription();  // a failure shows in the next attempt
        const std::string program = FindSchedulerProgram(folder);
        if (program.empty()) return 0;
        return platform::StartQuietly({program, "-regserver", "-regsvr"});
      },
      0);
}

namespace {

// Watches a server that a connection started until it holds its name on the bus, ends, or the
// time runs out; then runs `then` once and goes. The server's end is seen on a process file
// descriptor, so nothing polls.
class CServerStart : public QObject {
 public:
  CServerStart(const QDBusConnection& bus, pid_t server, std::function<void()> then, QObject* parent)
      : QObject(parent),
        m_server(server),
        m_then(std::move(then)),
        m_name(QLatin1String(taskmgr::kServiceName), bus, QDBusServiceWatcher::WatchForRegistration) {
    connect(&m_name, &QDBusServiceWatcher::serviceRegistered, this, &CServerStart::Finish);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, &CServerStart::Finish);
    m_timeout.start(CSchedulerConnection::kServerStartMs);
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, server, 0));
    if (m_pidfd >= 0) {
      m_exit = new QSocketNotifier(m_pidfd, QSocketNotifier::Read, this);
      connect(m_exit, &QSocketNotifier::activated, this, [this] {
        Collect();
        Finish();
      });
    }
    // The name may have been taken before the watch began.
    QDBusMessage owned = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                        QStringLiteral("/org/freedesktop/DBus"),
                                                        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    owned << QLatin1String(taskmgr::kServiceName);
    auto* asked = new QDBusPendingCallWatcher(bus.asyncCall(owned), this);
    connect(asked, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
      call->deleteLater();
      const QDBusMessage reply = call->reply();
      if (!reply.arguments().isEmpty() && reply.arguments().first().toBool()) Finish();
    });
  }

 private:
  void Collect() {
    // The descriptor said it ended: collect it now (no child left to wait for counts as gone).
    m_collected = platform::WaitForExit(m_server, std::chrono::milliseconds(0));
  }
  void Finish() {
    if (!m_then) return;
    m_timeout.stop();
    delete m_exit;
    m_exit = nullptr;
    if (m_pidfd >= 0) ::close(m_pidfd);
    m_pidfd = -1;
    if (!m_collected) platform::ReapLater(m_server);
    const std::function<void()> then = std::exchange(m_then, nullptr);
    deleteLater();
    then();
  }

  pid_t m_server;
  std::function<void()> m_then;
  QDBusServiceWatcher m_name;
  QTimer m_timeout;
  int m_pidfd = -1;
  QSocketNotifier* m_exit = nullptr;
  bool m_collected = false;
};

}  // namespace

CSchedulerConnection::CSchedulerConnection(bool traceAttempts, QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_traceAttempts(traceAttempts) {
  taskmgr::RegisterTaskMgrTypes();
}

CSchedulerConnection::~CSchedulerConnection() {
  // Letting go needs no answer; a server that missed it sees this client leave the bus.
  if (m_locked && m_bus.isConnected()) m_bus.send(taskmgr::TaskMgrCall("Unlock", {}));
}

void CSchedulerConnection::Call(const char* method, const QList<QVariant>& arguments, Reply done) {
  const QDBusMessage call = taskmgr::TaskMgrCall(method, arguments);
  if (!m_bus.isConnected()) {
    // Without a bus the answer is the one for a service nobody registered, in its turn all the same.
    QTimer::singleShot(0, this, [call, done] {
      done(call.createErrorReply(QDBusError::ServiceUnknown, QStringLiteral("No session bus")));
    });
    return;
  }
  auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [done](QDBusPendingCallWatcher* answered) {
    answered->deleteLater();
    done(answered->reply());
  });
}

template <typename T>
void CSchedulerConnection::CallFor(const char* method, const QList<QVariant>& arguments, DoneWith<T> done) {
  Call(method, arguments, [done](const QDBusMessage& reply) {
    T value{};
    taskmgr::HRESULT hr = taskmgr::ReplyStatus(reply);
    if (taskmgr::Succeeded(hr) && !taskmgr::ReplyValue(reply, 1, &value)) hr = taskmgr::E_FAIL;
    done(hr, value);
  });
}

void CSchedulerConnection::Lock(Done done) {
  const auto locked = [this, done](const QDBusMessage& reply) {
    m_result = taskmgr::ReplyStatus(reply);
    m_locked = taskmgr::Succeeded(m_result);
    done(m_result);
  };
  Call("Lock", {}, [this, locked](const QDBusMessage& reply) {
    if (!taskmgr::LockWorthRetrying(reply)) return locked(reply);
    QTimer::singleShot(taskmgr::kLockRetryMs, this, [this, locked] { Call("Lock", {}, locked); });
  });
}

void CSchedulerConnection::Connect(Done done) { Attempt(0, std::move(done)); }

void CSchedulerConnection::Attempt(int attempt, Done done) {
  Lock([this, attempt, done](taskmgr::HRESULT hr) {
    if (taskmgr::Succeeded(hr)) return done(hr);
    if (m_traceAttempts)
      VN_TRACE("CoCreate of TaskMgr returned %lX\n", static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
    // Without a session bus nobody could reach a server, and one started all the same would run
    // the stored tasks beside any other.
    if (!m_bus.isConnected()) return attempt == 0 ? Attempt(1, done) : done(hr);
    const pid_t server = RegisterSchedulerComponents();
    if (attempt == 0) return WaitForServer(server, [this, done] { Attempt(1, done); });
    if (server != 0) platform::ReapLater(server);
    done(hr);
  });
}

void CSchedulerConnection::WaitForServer(pid_t server, std::function<void()> then) {
  if (server == 0) return then();
  new CServerStart(m_bus, server, std::move(then), this);
}

void CSchedulerConnection::CreateNewTask(const taskmgr::TASK_STRUCT& task, DoneWith<std::uint32_t> done) {
  CallFor("CreateNewTask", {QVariant::fromValue(task)}, std::move(done));
}

void CSchedulerConnection::GetNumTasks(DoneWith<std::int32_t> done) { CallFor("GetNumTasks", {}, std::move(done)); }

void CSchedulerConnection::GetTaskAt(std::int32_t index, DoneWith<taskmgr::TASK_STRUCT> done) {
  CallFor("GetTaskAt", {index}, std::move(done));
}

void CSchedulerConnection::GetTask(std::uint32_t taskID, DoneWith<taskmgr::TASK_STRUCT> done) {
  CallFor("GetTask", {taskID}, std::move(done));
}

void CSchedulerConnection::DeleteTask(std::uint32_t taskID, Done done) {
  Call("DeleteTask", {taskID}, [done](const QDBusMessage& reply) { done(taskmgr::ReplyStatus(reply)); });
}

}  // namespace varnow
