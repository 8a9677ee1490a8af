#include "varnow/update/UpdateCheck.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/settings/Settings.h"
#include "varnow/update/InternetSettings.h"

namespace varnow {

namespace {

constexpr qint64 kReadBlock = 4096;

bool IsCheckDue(const platform::OleTime& now) {
  const auto low = static_cast<std::uint32_t>(GetProfileIntEx(setting::kLastUpdateCheck0));
  const auto high = static_cast<std::uint32_t>(GetProfileIntEx(setting::kLastUpdateCheck1));
  if (low == 0 && high == 0) return true;  // never checked
  const platform::OleTime last =
      platform::FromOleDate(std::bit_cast<double>((std::uint64_t(high) << 32) | low));
  // A time that cannot be read counts as never checked.
  if (!last.valid || !now.valid) return true;
  const std::int64_t days = GetProfileIntEx(setting::kDaysBetweenChecks);
  return last.seconds + days * platform::kSecondsPerDay < now.seconds;
}

// An invalid time (the manual check's) stores 0 in both halves.
void StoreCheckTime(const platform::OleTime& time) {
  const std::uint64_t bits = time.valid ? std::bit_cast<std::uint64_t>(platform::ToOleDate(time)) : 0;
  WriteProfileInt(kSettingsSection, setting::kLastUpdateCheck0.name, static_cast<int>(bits & 0xFFFFFFFFu));
  WriteProfileInt(kSettingsSection, setting::kLastUpdateCheck1.name, static_cast<int>(bits >> 32));
}

void ForgetLatestVersion() {
  WriteProfileInt(kSettingsSection, setting::kLatestMajor, 0);
  WriteProfileInt(kSettingsSection, setting::kLatestMinor, 0);
  WriteProfileInt(kSettingsSection, setting::kLatestBuild, 0);
}

// One POST for the settings page, its body processed line by line as it arrives.
class CSettingsPageRequest {
 public:
  CSettingsPageRequest(IUpdateOwner& owner, std::chrono::steady_clock::time_point deadline)
      : m_owner(owner), m_deadline(deadline) {}

  UpdateCheckResult Run(const QUrl& url) {
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, "Varnow");
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // The page's host was checked; a redirect elsewhere would let any host answer for it.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    const std::unique_ptr<QNetworkReply> reply(manager.post(request, QByteArray()));
    m_reply = reply.get();
    // Bounds what the reply buffers between two reads.
    reply->setReadBufferSize(4 * kReadBlock);

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [this] { EndWith(UpdateCheckResult::Failed, "out of time"); });
    QObject::connect(m_reply, &QNetworkReply::readyRead, [this] { OnReadyRead(); });
    QObject::connect(m_reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(std::max(std::chrono::milliseconds(0), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                              m_deadline - std::chrono::steady_clock::now())));
    if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop also ends when the thread is told to quit (and never starts once it has been).
    if (!reply->isFinished()) {
      reply->abort();
      return UpdateCheckResult::Interrupted;
    }
    return m_ended ? m_result : OnFinished();
  }

 private:
  // False (and the request ended quietly) when the answer is not 200.
  bool CheckStatus() {
    if (m_statusChecked) return true;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return false;
    m_statusChecked = true;
    if (status.toInt() == 200) return true;
    VN_TRACE("Update check: the settings page answered %d", status.toInt());
    EndWith(UpdateCheckResult::EndedQuietly, nullptr);
    return false;
  }

  void OnReadyRead() {
    if (m_ended || !CheckStatus()) return;
    while (m_reply->bytesAvailable() > 0) {
      const QByteArray block = m_reply->read(kReadBlock);
      if (!m_reader.Append(std::string_view(block.constData(), static_cast<std::size_t>(block.size())))) {
        EndWith(UpdateCheckResult::Failed, "line or page too long");
        return;
      }
      ProcessReadyLines();
      if (m_ended) return;
      if (QThread::currentThread()->isInterruptionRequested()) {
        EndWith(UpdateCheckResult::Interrupted, nullptr);
        return;
      }
    }
  }

  UpdateCheckResult OnFinished() {
    const QNetworkReply::NetworkError error = m_reply->error();
    const bool answered = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (!answered) {
      // Refused, unknown host, no route: nothing to go on.
      VN_TRACE("Update check: no answer (%s)", m_reply->errorString().toUtf8().constData());
      return UpdateCheckResult::EndedQuietly;
    }
    if (!CheckStatus()) return UpdateCheckResult::EndedQuietly;
    if (error != QNetworkReply::NoError) {
      VN_TRACE("Update check: reading the settings page failed (%s)", m_reply->errorString().toUtf8().constData());
      return UpdateCheckResult::Failed;
    }
    OnReadyRead();  // whatever arrived with the end
    if (m_ended) return m_result;
    m_reader.Finish();
    ProcessReadyLines();
    if (m_ended) return m_result;
    m_lines.Apply(m_owner);
    return UpdateCheckResult::Completed;
  }

  // The time limit holds here too: the timer cannot end the check while lines are processed.
  void ProcessReadyLines() {
    std::string line;
    while (!m_ended && m_reader.ReadInternetLine(line)) {
      if (std::chrono::steady_clock::now() >= m_deadline) {
        EndWith(UpdateCheckResult::Failed, "out of time");
        return;
      }
      m_lines.ProcessInternetLineSetting(line);
    }
  }

  void EndWith(UpdateCheckResult result, const char* why) {
    if (m_ended) return;
    m_ended = true;
    m_result = result;
    if (why) VN_TRACE("Update check failed: %s", why);
    m_reply->abort();
  }

  IUpdateOwner& m_owner;
  std::chrono::steady_clock::time_point m_deadline;
  QNetworkReply* m_reply = nullptr;
  CInternetLineReader m_reader;
  CSettingsPageLines m_lines;
  bool m_statusChecked = false;
  bool m_ended = false;
  UpdateCheckResult m_result = UpdateCheckResult::Completed;
};

}  // namespace

std::string SettingsPageAddress(const std::string& homePage, const std::string& pageName) {
  QUrl home(QString::fromStdString(homePage), QUrl::StrictMode);
  if (!home.isValid() || (home.scheme() != "http" && home.scheme() != "https") || home.host().isEmpty()) return {};
  if (home.path().isEmpty()) home.setPath("/");
  const std::string base = home.toString().toStdString();
  const std::string address = base.substr(0, base.rfind('/')) + "/" + pageName;
  const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
  if (!url.isValid() || url.host() != home.host()) return {};
  return address;
}

UpdateCheckResult DownloadInternetSettings(IUpdateOwner& owner, const CUpdateCheckOptions& options) {
  // The limit covers the whole check, the settings it reads and writes included.
  const auto deadline = std::chrono::steady_clock::now() + options.timeLimit;
  const auto outcome = platform::Guarded("DownloadInternetSettings", [&]() -> std::optional<UpdateCheckResult> {
    platform::OleTime checkTime;  // the manual check stores none
    if (!options.manual) {
      const platform::OleTime now = options.now();
      if (!IsCheckDue(now)) return UpdateCheckResult::NotDue;
      checkTime = now;
    }
    const std::string address =
        SettingsPageAddress(GetProfileStringEx(setting::kHomePage), GetProfileStringEx(setting::kPageName));
    if (address.empty()) {
      VN_TRACE("Update check: no web address in HomePage and PageName");
      return UpdateCheckResult::EndedQuietly;
    }
    const QUrl url(QString::fromStdString(address));
    if (url.scheme() == "https" && !QSslSocket::supportsSsl()) {
      // The counterpart of a missing Internet library: the status cannot be determined.
      VN_TRACE("Can't check for updates: no TLS support");
      ForgetLatestVersion();
      return UpdateCheckResult::Failed;
    }
    const UpdateCheckResult result = CSettingsPageRequest(owner, deadline).Run(url);
    if (result == UpdateCheckResult::Completed) StoreCheckTime(checkTime);
    if (result == UpdateCheckResult::Failed) {
      VN_TRACE("** Exception in DownloadInternetSettings\n");
      ForgetLatestVersion();
    }
    return result;
  });
  if (outcome) return *outcome;
  ForgetLatestVersion();
  return UpdateCheckResult::Failed;
}

int GetUpdateStatus(const CProgramVersion& own) {
  const auto major = static_cast<unsigned short>(GetProfileIntEx(kSettingsSection, setting::kLatestMajor, own.major));
  const auto minor = static_cast<unsigned short>(GetProfileIntEx(kSettingsSection, setting::kLatestMinor, own.minor));
  const auto build = static_cast<unsigned short>(GetProfileIntEx(kSettingsSection, setting::kLatestBuild, own.build));
  if (major == 0 && minor == 0 && build == 0) return kUpdateUnknown;
  if (major > own.major || (major == own.major && minor > own.minor)) return kUpdateAvailable;
  if (major == own.major && minor == own.minor && build > own.build) return kMinorUpdateAvailable;
  return kNoUpdate;
}

std::string UpdateTitleSuffix(int status) {
  if (status == kUpdateAvailable) return " - < Update Available >";
  if (status == kMinorUpdateAvailable) return " - < Minor Update Available >";
  return {};
}

std::string UpdateStatusText(int status) {
  switch (status) {
    case kNoUpdate:
      return "There are currently no updates available.";
    case kUpdateAvailable:
      return "There is currently a newer version of Varnow available.";
    case kMinorUpdateAvailable:
      return "There is a minor update (minor bug fixes) available.";
    default:
      return "Varnow is unable to determine if there are updates available.  "
             "Please check that this computer is connected to the network, then try again.";
  }
}

CUpdateCheckThread::CUpdateCheckThread(IUpdateOwner& owner, CUpdateCheckOptions options, std::function<void()> ended)
    : m_thread(QThread::create([this, &owner, options = std::move(options), ended = std::move(ended)] {
        m_result = DownloadInternetSettings(owner, options);
        if (ended) ended();
      })) {
  m_thread->start();
}

CUpdateCheckThread::~CUpdateCheckThread() {
  // quit() ends the check's event loop at once and keeps any later one from starting.
  m_thread->requestInterruption();
  m_thread->quit();
  m_thread->wait();
}

UpdateCheckResult CUpdateCheckThread::Wait() {
  m_thread->wait();
  return m_result;
}

CManualUpdateCheck::CManualUpdateCheck(const CProgramVersion& own, CUpdateCheckOptions options,
                                       std::function<void()> ended)
    : m_own(own) {
  options.manual = true;
  IUpdateOwner& collector = *this;
  m_thread = std::make_unique<CUpdateCheckThread>(collector, std::move(options), [this, ended = std::move(ended)] {
    m_result.status = platform::Guarded("RunManualUpdateCheck", [this] { return GetUpdateStatus(m_own); }, kUpdateUnknown);
    m_result.text = UpdateStatusText(m_result.status);
    if (ended) ended();
  });
}

CManualUpdateCheck::~CManualUpdateCheck() { m_thread.reset(); }

void CManualUpdateCheck::ShowUpdateMessage(const std::string& text) { m_result.messages.push_back(text); }

CManualCheckResult CManualUpdateCheck::Result() {
  m_result.check = m_thread->Wait();
  return m_result;
}

}  // namespace varnow
