// The alert dialogs offscreen against the real scheduler service on a private session bus:
// registering the service when it is missing, adding, listing, showing, editing and removing
// alerts, refused fields, a service that cannot start, and an alert run end to end by the
// scheduler through the real tracker.
#include "varnow/ui/AlertDlg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <cstdlib>
#include <filesystem>

#include "platform/tracelog.h"
#include "taskmgr/taskmgrbus.h"
#include "taskmgr/taskmgrclient.h"
#include "taskmgr/testbus.h"
#include "varnow/settings/Settings.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"
#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/VarnowDlg.h"
#include "varnow/ui/VarnowWindow.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using taskmgr::test::WaitFor;

taskmgr::test::CPrivateBus* g_bus = nullptr;

std::string BinaryDir() { return qEnvironmentVariable("VARNOW_BIN_DIR").toStdString(); }
QString ActivationFile() { return g_bus->Path("data") + "/dbus-1/services/com.zentrel.OrvSched.service"; }

bool ServerRunning() {
  return QDBusConnection::sessionBus().interface()->isServiceRegistered(taskmgr::kServiceName).value();
}

std::vector<taskmgr::TASK_STRUCT> AllTasks() {
  taskmgr::COrvTaskMgrClient client;
  std::vector<taskmgr::TASK_STRUCT> tasks;
  if (taskmgr::Failed(client.CreateInstance())) return tasks;
  taskmgr::TASK_STRUCT task;
  for (std::int32_t i = 0; client.GetTaskAt(i, &task) == taskmgr::S_OK; ++i) tasks.push_back(task);
  return tasks;
}

std::optional<taskmgr::TASK_STRUCT> TaskById(std::uint32_t id) {
  for (const taskmgr::TASK_STRUCT& task : AllTasks())
    if (task.taskID == id) return task;
  return std::nullopt;
}

// Runs the event loop until `done` holds or the time runs out; true when it holds.
bool Await(const std::function<bool()>& done, int timeoutMs = 60000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  return done();
}

// Answers the first modal window of type T that is ready, whenever it comes: the dialog's
// windows open when the scheduler's reply is in.
template <typename T>
class CModalAnswer {
 public:
  CModalAnswer(std::function<void(T*)> action, std::function<bool(T*)> ready = [](T*) { return true; }) {
    QObject::connect(&m_timer, &QTimer::timeout, [this, action = std::move(action), ready = std::move(ready)] {
      auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
      if (!modal || !ready(modal)) return;
      m_timer.stop();
      action(modal);
    });
    m_timer.start(5);
  }

 private:
  QTimer m_timer;
};

// A stand-in scheduler that answers every call only after a delay, from a thread and a bus
// connection of its own. It holds two of the tracker's tasks and cannot read the second.
class CSlowTaskMgr : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.zentrel.IOrvTaskMgr")
 public:
  CSlowTaskMgr(QDBusConnection bus, int delayMs) : m_bus(std::move(bus)), m_delayMs(delayMs) {}

 public slots:
  void Lock(const QDBusMessage& call) { Answer(call, {taskmgr::S_OK}); }
  void Unlock(const QDBusMessage& call) { Answer(call, {taskmgr::S_OK}); }
  void GetNumTasks(const QDBusMessage& call) { Answer(call, {taskmgr::S_OK, 2}); }
  void GetTaskAt(int index, const QDBusMessage& call) {
    if (index != 0) return Answer(call, {taskmgr::E_FAIL});
    taskmgr::TASK_STRUCT task = AlertTask("/bin/true", "slow alert", kUnitDays, 1, {3, 0}, QDate::currentDate());
    task.taskID = 42;
    Answer(call, {taskmgr::S_OK, QVariant::fromValue(task)});
  }

 private:
  void Answer(const QDBusMessage& call, const QList<QVariant>& values) {
    call.setDelayedReply(true);
    QTimer::singleShot(m_delayMs, this, [this, reply = call.createReply(values)] { m_bus.send(reply); });
  }

  QDBusConnection m_bus;
  int m_delayMs;
};

class CSlowScheduler {
 public:
  explicit CSlowScheduler(int delayMs)
      : m_bus(QDBusConnection::connectToBus(g_bus->Address(), "slow")), m_taskMgr(m_bus, delayMs) {
    taskmgr::RegisterTaskMgrTypes();
    m_taskMgr.moveToThread(&m_thread);
    m_thread.start();
    m_serving = m_bus.registerObject(taskmgr::kObjectPath, &m_taskMgr, QDBusConnection::ExportAllSlots) &&
                m_bus.registerService(taskmgr::kServiceName);
  }
  ~CSlowScheduler() {
    m_bus.unregisterService(taskmgr::kServiceName);
    m_bus.unregisterObject(taskmgr::kObjectPath);
    m_thread.quit();
    m_thread.wait();
    QDBusConnection::disconnectFromBus("slow");
  }
  bool Serving() const { return m_serving; }

 private:
  QDBusConnection m_bus;
  QThread m_thread;
  CSlowTaskMgr m_taskMgr;
  bool m_serving = false;
};

struct CMessage {
  std::string text;
  std::string caption;
  AlertManagementDialog::Icon icon;
};

class AlertDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    // The first test finds nothing registered; later ones find the service as the first left it.
    ASSERT_TRUE(WaitFor([] { return !ServerRunning(); }, 20000)) << "a server from an earlier test still runs";
  }
  void TearDown() override {
    m_dialog.reset();
    {
      taskmgr::COrvTaskMgrClient client;
      if (!AllTasks().empty() && client.CreateInstance() == taskmgr::S_OK)
        for (const taskmgr::TASK_STRUCT& task : AllTasks()) client.DeleteTask(task.taskID);
    }
    platform::TraceLog::Close();
  }
  // A dialog whose alerts start a program that does nothing, and whose messages are recorded.
  AlertManagementDialog& Open(const std::string& directory = "/srv/data/", bool settle = true) {
    m_dialog = std::make_unique<AlertManagementDialog>(directory);
    m_dialog->SetTrackerPath("/bin/true");
    m_dialog->SetMessageSink([this](const std::string& text, const std::string& caption,
                                    AlertManagementDialog::Icon icon) { messages.push_back({text, caption, icon}); });
    m_dialog->show();
    m_dialog->OnInitDialog();
    if (settle) Settle();
    return *m_dialog;
  }
  // Waits until the dialog's action has had all its answers.
  void Settle() { EXPECT_TRUE(Await([this] { return !m_dialog->Busy(); })) << "the dialog still waits"; }
  void Click(QAbstractButton* button) {
    button->click();
    Settle();
  }
  void Fill(const std::string& directory, int kind, const std::string& value, const std::string& count, int unit) {
    m_dialog->DirectoryField()->setText(QString::fromStdString(directory));
    m_dialog->CountField()->setText(QString::fromStdString(count));
    m_dialog->KindButton(kind)->click();
    m_dialog->ValueField()->setText(QString::fromStdString(value));
    m_dialog->UnitBox()->setCurrentIndex(unit);
    m_dialog->OnUnitChanged();
  }
  QStringList Listed() const {
    QStringList texts;
    for (int row = 0; row < m_dialog->AlertList()->count(); ++row) texts << m_dialog->AlertList()->item(row)->text();
    return texts;
  }
  std::uint32_t ListedId(int row) const { return m_dialog->AlertList()->item(row)->data(Qt::UserRole).toUInt(); }
  void Select(int row) { m_dialog->AlertList()->setCurrentRow(row); }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const CMessage& message : messages) captions.push_back(message.caption);
    return captions;
  }
  std::string StartTrace() {
    const std::string path = g_bus->Path("trace.txt").toStdString();
    EXPECT_TRUE(platform::TraceLog::Open(path));
    return path;
  }

  std::unique_ptr<AlertManagementDialog> m_dialog;
  std::vector<CMessage> messages;
};

TEST_F(AlertDialog, AServiceNotYetRegisteredIsRegisteredByTheFirstFailedAttempt) {
  QFile::remove(ActivationFile());
  const std::string trace = StartTrace();
  Open();
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(Listed().isEmpty());
  platform::TraceLog::Close();
  EXPECT_THAT(test::TraceLines(test::ReadWholeFile(trace)),
              ElementsAre("SchedulerConnection: CoCreate of TaskMgr returned 80040154\n"));
  EXPECT_TRUE(QFile::exists(ActivationFile()));
}

TEST_F(AlertDialog, OpensWithItsStartValues) {
  {  // the controls hold the start values from construction, before the list is filled
    AlertManagementDialog fresh("/x/");
    fresh.SetMessageSink([this](const std::string& text, const std::string& caption, AlertManagementDialog::Icon icon) {
      messages.push_back({text, caption, icon});
    });
    fresh.KindButton(1)->click();
    EXPECT_EQ(fresh.CountField()->text(), "1");
    EXPECT_EQ(fresh.DirectoryField()->text(), "/x/");
    EXPECT_TRUE(messages.empty());
  }
  Open("/home/ann/Downloads/");
  EXPECT_EQ(m_dialog->windowTitle(), "Varnow Alert Management");
  EXPECT_EQ(m_dialog->DirectoryField()->text(), "/home/ann/Downloads/");
  EXPECT_TRUE(m_dialog->KindButton(0)->isChecked());
  EXPECT_THAT(m_dialog->HelpText()->text().toStdString(), HasSubstr("Enter a percentage below."));
  EXPECT_TRUE(m_dialog->NotifyButton(kNotifyMessageBox)->isChecked());
  EXPECT_FALSE(m_dialog->ProgramField()->isEnabled());
  EXPECT_FALSE(m_dialog->ProgramHelp()->isEnabled());
  EXPECT_EQ(m_dialog->CountField()->text(), "1");
  EXPECT_EQ(m_dialog->UnitBox()->currentText(), "Days");
  EXPECT_TRUE(QRegularExpression("^(0[1-9]|1[0-2]):[0-5][0-9] [AP]M$").match(m_dialog->CheckTimeField()->text()).hasMatch())
      << m_dialog->CheckTimeField()->text().toStdString();
  EXPECT_TRUE(m_dialog->CheckTimeField()->isEnabled());

  m_dialog->KindButton(2)->click();
  EXPECT_THAT(m_dialog->HelpText()->text().toStdString(), HasSubstr("If your free disk space drops below"));
  m_dialog->NotifyButton(kNotifyProgram)->click();
  EXPECT_TRUE(m_dialog->ProgramField()->isEnabled());
  m_dialog->UnitBox()->setCurrentIndex(kUnitMinutes);
  m_dialog->OnUnitChanged();
  EXPECT_FALSE(m_dialog->CheckTimeField()->isEnabled());
  m_dialog->UnitBox()->setCurrentIndex(kUnitDays);
  m_dialog->OnUnitChanged();
  m_dialog->CheckTimeField()->setText("9:5 pm");
  m_dialog->OnCheckTimeEdited();
  EXPECT_EQ(m_dialog->CheckTimeField()->text(), "9:05 PM");
  m_dialog->CheckTimeField()->setText("10:60");
  m_dialog->OnCheckTimeEdited();
  EXPECT_EQ(m_dialog->CheckTimeField()->text(), "10:60");  // kept as typed
  EXPECT_TRUE(messages.empty());
}

TEST_F(AlertDialog, AddsListsShowsEditsAndRemovesAlerts) {
  Open();
  Fill("/srv/b/", 1, "2048", "3", kUnitHours);
  Click(m_dialog->AddButton());
  Fill("/srv/a/", 0, "15%", "2", kUnitDays);
  m_dialog->CheckTimeField()->setText("9:5 pm");
  Click(m_dialog->AddButton());
  Fill("/srv/C/", 2, "100", "20", kUnitMinutes);
  m_dialog->NotifyButton(kNotifyProgram)->click();
  m_dialog->ProgramField()->setText("notify-send $MSG$");
  Click(m_dialog->AddButton());
  // A task of another client is counted by the scheduler but not listed.
  {
    taskmgr::COrvTaskMgrClient client;
    ASSERT_EQ(client.CreateInstance(), taskmgr::S_OK);
    taskmgr::TASK_STRUCT other = AlertTask("/bin/true", "someone else's", kUnitDays, 1, {3, 0}, QDate::currentDate());
    other.taskOwner = taskmgr::toUSER;
    ASSERT_EQ(client.CreateNewTask(other, nullptr), taskmgr::S_OK);
  }
  Open();
  ASSERT_TRUE(messages.empty()) << messages.front().text;
  EXPECT_THAT(Listed(), ElementsAre("/srv/a/ space usage change > 15%, check every 2 days",
                                    "/srv/b/ space usage change > 2048 K, check every 3 hours",
                                    "/srv/C/ free space < 100 K, check every 20 minutes"));
  EXPECT_EQ(AllTasks().size(), 4u);

  // What the scheduler holds, field by field (the run stamp in Reserved1 aside).
  const auto daily = TaskById(ListedId(0));
  ASSERT_TRUE(daily);
  EXPECT_EQ(daily->cmdLine, "/bin/true /DIR=/srv/a/ /ALERTPERCENT=15");
  EXPECT_EQ(daily->taskType, taskmgr::atEXECUTE);
  EXPECT_EQ(daily->taskOwner, taskmgr::toVARNOW);
  EXPECT_EQ(daily->taskTrigger.wStartHour, 21);
  EXPECT_EQ(daily->taskTrigger.wStartMinute, 5);
  EXPECT_EQ(daily->taskTrigger.Type.Daily.DaysInterval, 2);
  EXPECT_EQ(daily->taskTrigger.wBeginDay, QDate::currentDate().day());
  const auto minutes = TaskById(ListedId(2));
  ASSERT_TRUE(minutes);
  EXPECT_EQ(minutes->cmdLine, "/bin/true /DIR=/srv/C/ /FREEALERT=100 \"/NOTIFY=notify-send $MSG$\"");
  EXPECT_EQ(minutes->taskTrigger.MinutesInterval, 20u);
  EXPECT_EQ(minutes->taskTrigger.MinutesDuration, 1440u);

  // Showing the line: Cancel, OK without editing and OK with the same text change nothing.
  const std::uint32_t id = ListedId(1);
  const auto answer = [](bool allow, const QString& text, bool ok) {
    return [=](AlertCommandLineDialog* dialog) {
      EXPECT_EQ(dialog->windowTitle(), "Alert Command Line");
      EXPECT_TRUE(dialog->CommandLineField()->isReadOnly());
      dialog->AllowEditingBox()->setChecked(allow);
      EXPECT_EQ(dialog->CommandLineField()->isReadOnly(), !allow);
      if (!text.isEmpty()) dialog->CommandLineField()->setPlainText(text);
      ok ? dialog->accept() : dialog->reject();
    };
  };
  for (auto [allow, ok] : {std::pair{true, false}, std::pair{false, true}, std::pair{true, true}}) {
    Select(1);
    CModalAnswer<AlertCommandLineDialog> watch(answer(allow, allow && !ok ? "changed" : "", ok));
    Click(m_dialog->CommandLineButton());
    EXPECT_EQ(ListedId(1), id);
  }
  Select(1);
  {
    CModalAnswer<AlertCommandLineDialog> watch(answer(true, "/bin/true /DIR=/srv/b/ /ALERTSIZE=4096", true));
    Click(m_dialog->CommandLineButton());
  }
  EXPECT_FALSE(TaskById(id));
  const auto edited = TaskById(ListedId(1));
  ASSERT_TRUE(edited);
  EXPECT_NE(edited->taskID, id);
  EXPECT_EQ(edited->cmdLine, "/bin/true /DIR=/srv/b/ /ALERTSIZE=4096");
  EXPECT_EQ(edited->description, "/srv/b/ space usage change > 2048 K, check every 3 hours");
  EXPECT_EQ(edited->taskTrigger.MinutesInterval, 180u);

  // Removing: nothing without a selection, the selected alert with one.
  m_dialog->AlertList()->clearSelection();
  Click(m_dialog->RemoveButton());
  EXPECT_EQ(Listed().size(), 3);
  Select(0);
  Click(m_dialog->RemoveButton());
  EXPECT_THAT(Listed(), ElementsAre("/srv/b/ space usage change > 2048 K, check every 3 hours",
                                    "/srv/C/ free space < 100 K, check every 20 minutes"));
  EXPECT_EQ(AllTasks().size(), 3u);
  EXPECT_TRUE(messages.empty());
}

TEST_F(AlertDialog, FieldsThatFailTheirCheckStopTheActionAndCreateNothing) {
  Open();
  Fill("/srv/a/", 0, "10", "0", kUnitHours);
  Click(m_dialog->AddButton());
  Fill("/srv/a/", 0, "10", "-2", kUnitMinutes);
  Click(m_dialog->AddButton());
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].caption, "Alert Not Added");
  EXPECT_THAT(messages[0].text, HasSubstr("\"Run Check Every\" must be a whole number from 1 to"));

  // A count that is no integer stops every action that reads the fields, and what was typed stays.
  messages.clear();
  Fill("/srv/a/", 0, "10", "two", kUnitDays);
  m_dialog->CheckTimeField()->setText("9:5 pm");
  m_dialog->KindButton(1)->click();
  m_dialog->OnCheckTimeEdited();
  Click(m_dialog->AddButton());
  ASSERT_EQ(messages.size(), 5u);  // the kind and the unit in Fill, the kind, the check time, the add
  for (const CMessage& message : messages) EXPECT_EQ(message.text, "Please enter an integer.");
  EXPECT_EQ(m_dialog->CountField()->text(), "two");
  EXPECT_EQ(m_dialog->CheckTimeField()->text(), "9:5 pm");
  EXPECT_THAT(m_dialog->HelpText()->text().toStdString(), HasSubstr("Enter an amount of disk space in K"));

  messages.clear();
  Fill("/srv/a/", 0, "10", "1", kUnitDays);
  m_dialog->CheckTimeField()->setText("24:00");
  Click(m_dialog->AddButton());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Bad Date or Time Format");
  EXPECT_EQ(messages[0].text, "Can't add the new alert because the date or time given are not recognizable.");
  EXPECT_EQ(messages[0].icon, AlertManagementDialog::Icon::kNone);
  EXPECT_TRUE(AllTasks().empty());
}

// The bus daemon reads a service file again when its time stamp, in whole seconds, has changed:
// each rewrite moves it on by a few seconds.
void RewriteActivationFile(const QByteArray& text) {
  const std::filesystem::path path = ActivationFile().toStdString();
  const auto stamp = std::filesystem::last_write_time(path);
  test::WriteWholeFile(path, text.toStdString());
  std::filesystem::last_write_time(path, stamp + std::chrono::seconds(5));
}

// The bus knows the service, but what it starts ends at once, and no server program is to be
// found beside the tracker or on PATH.
TEST_F(AlertDialog, AServiceThatCannotStartGetsTheMessagesOfEachAction) {
  const QByteArray activation = [] {
    QFile file(ActivationFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }();
  RewriteActivationFile("[D-BUS Service]\nName=com.zentrel.OrvSched\nExec=/bin/false\n");
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", "/usr/bin:/bin");
  // A real box first: it shows over the dialog and is answered.
  std::string box;
  {
    AlertManagementDialog dialog("/srv/");
    dialog.SetTrackerPath("/bin/true");
    CModalAnswer<QMessageBox> watch([&box](QMessageBox* message) {
      box = message->windowTitle().toStdString() + ": " + message->text().toStdString();
      message->accept();
    });
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.FillEventList([&dialog] { dialog.accept(); }); });
    dialog.exec();
  }
  EXPECT_THAT(box, HasSubstr("Not All Alerts Displayed: There has been an error communicating with the scheduler.  "
                             "Some existing alerts might not be displayed.  [Error 8"));

  const std::string trace = StartTrace();
  Open();
  Fill("/srv/a/", 0, "10", "1", kUnitMinutes);
  Click(m_dialog->AddButton());
  // An alert the list still shows, though the scheduler cannot be asked about it.
  auto* stale = new QListWidgetItem("/srv/a/ space usage change > 10%, check every 1 minutes");
  stale->setData(Qt::UserRole, 7u);
  m_dialog->AlertList()->addItem(stale);
  Select(0);
  Click(m_dialog->CommandLineButton());
  Select(0);
  Click(m_dialog->RemoveButton());
  qputenv("PATH", path);
  RewriteActivationFile(activation);

  EXPECT_THAT(Captions(), ElementsAre("Not All Alerts Displayed",                        // opening
                                      "Not All Alerts Displayed", "Alert Not Scheduled",  // adding
                                      "Error", "Data Not Retrieved",                      // command line
                                      "Not All Alerts Displayed", "Alerts Not Removed"));  // removing
  ASSERT_EQ(messages.size(), 7u);
  const std::string code = messages[0].text.substr(messages[0].text.find("[Error ") + 7, 8);
  EXPECT_EQ(messages[2].text, "There has been an error communicating with the scheduler.  This alert has not been "
                              "scheduled. [Error " + code + "]");
  EXPECT_EQ(messages[3].text, "Failed to communicate with the task manager.  Error=" + code);
  EXPECT_EQ(messages[4].text, "There has been an error communicating with the scheduler.  The command line can't be "
                              "shown. [Error " + code + "]");
  EXPECT_EQ(messages[6].text, "There has been an error communicating with the scheduler.  The alert might not have "
                              "been removed.  [Error " + code + "]");
  // Each connection traces its two failed attempts, except the command line's, which has its own line.
  platform::TraceLog::Close();
  const std::string attempt = "SchedulerConnection: CoCreate of TaskMgr returned " + code + "\n";
  std::vector<std::string> expected(6, attempt);  // opening; adding, then the list
  expected.push_back("AlertDlg: Failed to CoCreate task mgr: " + code + "\n");
  expected.insert(expected.end(), 4, attempt);  // removing, then the list
  EXPECT_EQ(test::TraceLines(test::ReadWholeFile(trace)), expected);
}

// The scheduler serves, but its task store can no longer be written: every change it is asked
// for fails, and the alert stays as it was.
TEST_F(AlertDialog, ChangesTheSchedulerCannotKeepAreReported) {
  Open();
  Fill("/srv/a/", 0, "10", "1", kUnitDays);
  Click(m_dialog->AddButton());
  ASSERT_EQ(Listed().size(), 1);
  const std::uint32_t id = ListedId(0);
  const std::string trace = StartTrace();
  // Held by a client, so that the server keeps running while its store is broken.
  taskmgr::COrvTaskMgrClient holder;
  ASSERT_EQ(holder.CreateInstance(), taskmgr::S_OK);
  const std::string store = g_bus->Path("store").toStdString() + "/ORVSCHED.DAT";
  std::filesystem::remove(store);
  std::filesystem::create_directory(store);

  Select(0);
  Click(m_dialog->RemoveButton());
  Select(0);
  {
    CModalAnswer<AlertCommandLineDialog> watch([](AlertCommandLineDialog* dialog) {
      dialog->AllowEditingBox()->setChecked(true);
      dialog->CommandLineField()->setPlainText("/bin/true /DIR=/srv/b/ /ALERTPERCENT=10");
      dialog->accept();
    });
    Click(m_dialog->CommandLineButton());
  }
  Fill("/srv/b/", 0, "10", "1", kUnitDays);
  Click(m_dialog->AddButton());
  std::filesystem::remove(store);
  platform::TraceLog::Close();

  EXPECT_THAT(Captions(), ElementsAre("Alerts Not Removed", "Error changing command line", "Error creating task",
                                      "Alert Not Scheduled"));
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[1].text, "Failed to remove the old task with the old command line.  Not making command line change.");
  EXPECT_EQ(messages[2].text, "Failed to create the automated task.  Error=80004005");
  EXPECT_THAT(test::TraceLines(test::ReadWholeFile(trace)),
              ElementsAre("AlertDlg: DeleteTask returned 80004005\n", "AlertDlg: Failed to CreateNewTask: 80004005\n"));
  EXPECT_THAT(Listed(), ElementsAre("/srv/a/ space usage change > 10%, check every 1 day"));
  EXPECT_EQ(ListedId(0), id);
}

// The scheduler takes its time over every answer: the dialog goes on handling events with its
// buttons disabled, cannot be left meanwhile, and ends as it would with a quick scheduler.
TEST_F(AlertDialog, StaysResponsiveWhileTheSchedulerIsSlowToAnswer) {
  CSlowScheduler slow(300);
  ASSERT_TRUE(slow.Serving());
  const std::string trace = StartTrace();
  Open("/srv/", false);
  int beats = 0;  // of a timer on this thread, while the calls are out
  QTimer heartbeat;
  QObject::connect(&heartbeat, &QTimer::timeout, [&] { beats += m_dialog->Busy() ? 1 : 0; });
  heartbeat.start(10);
  const auto buttons = [this] {
    return std::vector<bool>{m_dialog->BrowseButton()->isEnabled(), m_dialog->AddButton()->isEnabled(),
                             m_dialog->RemoveButton()->isEnabled(), m_dialog->CommandLineButton()->isEnabled(),
                             m_dialog->DoneButton()->isEnabled()};
  };
  ASSERT_TRUE(m_dialog->Busy());
  EXPECT_EQ(buttons(), std::vector<bool>(5, false));
  ASSERT_TRUE(Await([&] { return beats >= 3; }, 30000)) << "the events stopped while the calls were out";
  Fill("/srv/a/", 0, "10", "1", kUnitDays);  // the fields stay live
  m_dialog->reject();
  EXPECT_TRUE(m_dialog->isVisible());
  Settle();
  EXPECT_EQ(buttons(), std::vector<bool>(5, true));
  EXPECT_THAT(Listed(), ElementsAre("slow alert"));
  EXPECT_EQ(ListedId(0), 42u);
  ASSERT_THAT(Captions(), ElementsAre("Not All Alerts Displayed"));
  EXPECT_EQ(messages[0].text, "There has been an error communicating with the scheduler.  Some existing alerts might "
                              "not be displayed.  [Error 80004005]");
  platform::TraceLog::Close();
  EXPECT_THAT(test::TraceLines(test::ReadWholeFile(trace)),
              ElementsAre("AlertDlg: GetTaskAt(1) from TaskMgr returned 80004005\n"));
}

TEST_F(AlertDialog, TheMainWindowsAlertsButtonOpensItWithTheDirectoryText) {
  WriteProfileString(kSettingsSection, setting::kHomePage.name, "http://127.0.0.1:9/varnow/");
  CQtPrompts prompts;
  CVarnowDlg dlg(prompts);
  CVarnowWindow window(dlg, prompts);
  window.SetFolderPicker([](QWidget*, const std::string&) { return std::string("/picked/"); });
  window.DirectoryField()->setText("/home/ann/Downloads/");
  std::string seen, picked;
  CModalAnswer<AlertManagementDialog> watch(
      [&](AlertManagementDialog* dialog) {
        seen = dialog->DirectoryField()->text().toStdString();
        dialog->BrowseButton()->click();
        picked = dialog->DirectoryField()->text().toStdString();
        dialog->DoneButton()->click();
      },
      [](AlertManagementDialog* dialog) { return !dialog->Busy(); });
  window.CommandButton(CVarnowWindow::kAlerts)->click();
  EXPECT_EQ(seen, "/home/ann/Downloads/");
  EXPECT_EQ(picked, "/picked/");
}

// As a user would: the tree's sizes are saved, an alert that checks every minute is added in
// the dialog, the tree grows by a fifth, and the scheduler starts the tracker, whose alert runs
// the notification program. The directory's name has blanks and quotes.
TEST_F(AlertDialog, EndToEndTheSchedulerRunsTheTrackerWhichNotifies) {
  const std::string root = g_bus->Path("e2e").toStdString();
  const std::string tree = root + "/My Data \"x\"";
  std::filesystem::create_directories(tree + "/docs");
  std::filesystem::create_directories(root + "/later/more");
  for (int i = 0; i < 10; ++i) test::WriteWholeFile(tree + "/docs/f" + std::to_string(i), std::string(40960, 'x'));
  for (int i = 0; i < 2; ++i) test::WriteWholeFile(root + "/later/more/g" + std::to_string(i), std::string(40960, 'x'));
  const std::string varnow = BinaryDir() + "/varnow";
  QProcess save;
  save.start(QString::fromStdString(varnow), {QString::fromStdString("/DIR=" + tree), "/SCAN", "/SAVE"});
  ASSERT_TRUE(save.waitForFinished(60000));
  ASSERT_EQ(save.exitCode(), 0) << save.readAllStandardError().toStdString();

  const std::string received = root + "/received";
  const std::string script = root + "/notify.sh";
  test::WriteWholeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"" + received + ".tmp\"\nmv \"" + received +
                                   ".tmp\" \"" + received + "\"\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);

  Open(tree + "/");
  m_dialog->SetTrackerPath(varnow);
  Fill(tree + "/", 0, "10", "1", kUnitMinutes);
  m_dialog->NotifyButton(kNotifyProgram)->click();
  m_dialog->ProgramField()->setText(QString::fromStdString(script + " $DIR$ $SIZE$ $MSG$"));
  Click(m_dialog->AddButton());
  ASSERT_TRUE(messages.empty()) << messages.front().text;
  ASSERT_EQ(Listed().size(), 1);

  std::filesystem::rename(root + "/later/more", tree + "/more");  // all of the growth at once
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(received); }, 40000)) << "no notification";
  const std::string arguments = test::ReadWholeFile(received);
  const std::string dir = tree + "/";
  ASSERT_EQ(arguments.rfind(dir + "\n", 0), 0u) << arguments;
  const std::string rest = arguments.substr(dir.size() + 1);
  const std::string size = rest.substr(0, rest.find('\n'));
  EXPECT_TRUE(QRegularExpression("^[0-9]{1,3}(,[0-9]{3})* bytes$").match(QString::fromStdString(size)).hasMatch())
      << size;
  EXPECT_EQ(rest.substr(size.size() + 1), "The disk space taken up by " + dir +
                                              " increased by more than 10% since the last saved scan.  (Current "
                                              "size: " + size + ")\n");
}

}  // namespace
}  // namespace varnow

#include "AlertDlg_test.moc"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  // Programs started from here (the bus daemon, the servers it starts, the tracker they start)
  // run without a display, so a message box can never wait for a click, and with a schedule
  // that runs sixty times faster than the wall clock.
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(name);
  setenv("ORVSCHED_TEST_TIME_SCALE", "60", 1);
  taskmgr::test::CPrivateBus bus;
  if (bus.Address().isEmpty()) return 1;
  varnow::g_bus = &bus;
  for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "ORVSCHED_DATA_DIR", "DBUS_SESSION_BUS_ADDRESS"})
    setenv(name, bus.Env().value(name).toUtf8().constData(), 1);
  // The server program is found on PATH (none lies beside this test program).
  setenv("PATH", (varnow::BinaryDir() + ":" + std::getenv("PATH")).c_str(), 1);
  // The tracker's settings: its data file in the bus's folder, sizes in bytes.
  varnow::test::WriteWholeFile(bus.Path("config").toStdString() + "/zentrel/registry/HKEY_CURRENT_USER.reg",
                               "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\\Settings]\r\n"
                               "\"DataDirectory\"=\"" + bus.Path("out").toStdString() + "/\"\r\n"
                               "\"PreferredUnits\"=dword:00000001\r\n");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
