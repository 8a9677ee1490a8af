#include "varnow/ui/AlertDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTime>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/guarded.h"
#include "platform/process.h"
#include "platform/tracelog.h"
#include "varnow/alerts/SchedulerConnection.h"
#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/VarnowWindow.h"

namespace varnow {

namespace {

using taskmgr::Failed;
using taskmgr::HRESULT;
using taskmgr::Succeeded;

constexpr char kProgramHelp[] =
    "The program runs with its command line as typed; $DIR$, $SIZE$ and $MSG$ in it are replaced by the "
    "directory, its size and the alert's message.";
// How wide the texts that wrap are laid out, in average characters.
constexpr int kTextColumns = 76;

QString Text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }
std::string Bytes(const QString& text) { return text.toUtf8().toStdString(); }

unsigned long Hex(HRESULT hr) { return static_cast<unsigned long>(static_cast<std::uint32_t>(hr)); }

QPushButton* Button(const char* text, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setAutoDefault(false);  // Enter in a field must not add, remove or close
  return button;
}

// The list is sorted alphabetically, without regard to case first.
class CAlertItem : public QListWidgetItem {
 public:
  using QListWidgetItem::QListWidgetItem;
  bool operator<(const QListWidgetItem& other) const override {
    const int folded = text().compare(other.text(), Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : text() < other.text();
  }
};

// Wraps one step of the action `name`, run when a reply is in: an exception in it is traced
// under that name and ends the action with E_FAIL.
template <typename Body>
auto Step(const char* name, const std::function<void(HRESULT hr)>& end, Body body) {
  return [name, end, body = std::move(body)](const auto&... reply) {
    if (!platform::Guarded(name, [&] { body(reply...); return true; }, false)) end(taskmgr::E_FAIL);
  };
}

CCheckTime Now() {
  const QTime now = QTime::currentTime();
  return {now.hour(), now.minute()};
}

}  // namespace

// ---------------------------------------------------------------------------------------------

AlertCommandLineDialog::AlertCommandLineDialog(const std::string& commandLine, QWidget* parent)
    : QDialog(parent), m_original(commandLine) {
  setWindowTitle("Alert Command Line");
  m_edit = new QPlainTextEdit(Text(commandLine), this);
  m_edit->setObjectName("commandLine");
  m_edit->setAccessibleName("Command line");
  m_edit->setReadOnly(true);
  m_edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  m_edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  FitEdit();
  m_allowEditing = new QCheckBox("Allow Editing of Command Line", this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_edit, 1);
  layout->addWidget(m_allowEditing);
  layout->addWidget(buttons);
  connect(m_allowEditing, &QCheckBox::toggled, this, &AlertCommandLineDialog::OnAllowEditing);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void AlertCommandLineDialog::FitEdit() {
  const QFontMetrics metrics(font());
  m_edit->setMinimumSize(metrics.averageCharWidth() * kTextColumns, metrics.lineSpacing() * 5);
}

void AlertCommandLineDialog::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::FontChange && m_edit) FitEdit();
}

void AlertCommandLineDialog::OnAllowEditing(bool allowed) { m_edit->setReadOnly(!allowed); }

std::string AlertCommandLineDialog::CommandLine() const {
  if (result() == QDialog::Accepted && m_allowEditing->isChecked()) return Bytes(m_edit->toPlainText());
  return m_original;
}

// ---------------------------------------------------------------------------------------------

AlertManagementDialog::AlertManagementDialog(const std::string& directory, QWidget* parent)
    : QDialog(parent), m_trackerPath(platform::ProgramPath()), m_picker(&CVarnowWindow::PickFolder) {
  m_fields.directory = directory;
  m_fields.checkTime = FormatCheckTime(Now(), true);
  BuildControls();
  ConnectControls();
  FitTexts();
  PushFields();
  m_message = [this](const std::string& text, const std::string& caption, Icon icon) {
    if (icon == Icon::kExclamation) return ShowMessageBox(this, text, caption);
    QMessageBox box(QMessageBox::NoIcon, Text(caption), Text(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
  };
}

int AlertManagementDialog::DoModal() {
  OnInitDialog();
  return exec();
}

void AlertManagementDialog::BuildControls() {
  setWindowTitle("Varnow Alert Management");

  auto* existing = new QGroupBox("Existing Alerts", this);
  m_alerts = new QListWidget(existing);
  m_alerts->setObjectName("alerts");
  m_alerts->setAccessibleName("Existing alerts");
  m_alerts->setSelectionMode(QAbstractItemView::SingleSelection);
  m_alerts->setSortingEnabled(true);
  m_remove = Button("&Remove Alert", existing);
  m_commandLine = Button("&Command Line ...", existing);
  auto* listButtons = new QHBoxLayout;
  listButtons->addWidget(m_remove);
  listButtons->addWidget(m_commandLine);
  listButtons->addStretch();
  auto* existingLayout = new QVBoxLayout(existing);
  existingLayout->addWidget(m_alerts, 1);
  existingLayout->addLayout(listButtons);

  auto* fresh = new QGroupBox("New Alert", this);
  auto* directoryLabel = new QLabel("Directory to run the check on", fresh);
  m_directory = new QLineEdit(fresh);
  m_directory->setObjectName("directory");
  m_directory->setAccessibleName("Directory");
  directoryLabel->setBuddy(m_directory);
  m_browse = Button("&Browse ...", fresh);
  auto* directoryRow = new QHBoxLayout;
  directoryRow->addWidget(m_directory, 1);
  directoryRow->addWidget(m_browse);

  // The kinds come from their table, two to a row.
  m_kinds = new QButtonGroup(this);
  auto* kindGrid = new QGridLayout;
  const auto kinds = AlertKinds();
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    auto* radio = new QRadioButton(QString::fromUtf8(kinds[i].label), fresh);
    m_kinds->addButton(radio, static_cast<int>(i));
    kindGrid->addWidget(radio, static_cast<int>(i / 2), static_cast<int>(i % 2));
  }
  m_help = new QLabel(fresh);
  m_help->setObjectName("help");
  m_help->setWordWrap(true);
  m_help->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_value = new QLineEdit(fresh);
  m_value->setObjectName("value");
  m_value->setAccessibleName("Value");

  m_notify = new QButtonGroup(this);
  m_notify->addButton(new QRadioButton("Notify with Message Box", fresh), kNotifyMessageBox);
  m_notify->addButton(new QRadioButton("Notify by running program below", fresh), kNotifyProgram);
  m_program = new QLineEdit(fresh);
  m_program->setObjectName("program");
  m_program->setAccessibleName("Program");
  m_programHelp = new QLabel(kProgramHelp, fresh);
  m_programHelp->setWordWrap(true);

  auto* countLabel = new QLabel("Run Check Every", fresh);
  m_count = new QLineEdit(fresh);
  m_count->setObjectName("count");
  m_count->setAccessibleName("Run Check Every");
  countLabel->setBuddy(m_count);
  m_unit = new QComboBox(fresh);
  m_unit->setAccessibleName("Interval unit");
  for (const char* unit : kIntervalUnitNames) m_unit->addItem(unit);
  m_checkTimeLabel = new QLabel("Check Time", fresh);
  m_checkTime = new QLineEdit(fresh);
  m_checkTime->setObjectName("checkTime");
  m_checkTime->setAccessibleName("Check Time");
  m_checkTimeLabel->setBuddy(m_checkTime);
  auto* scheduleRow = new QHBoxLayout;
  scheduleRow->addWidget(countLabel);
  scheduleRow->addWidget(m_count);
  scheduleRow->addWidget(m_unit);
  scheduleRow->addStretch();
  scheduleRow->addWidget(m_checkTimeLabel);
  scheduleRow->addWidget(m_checkTime);

  m_add = Button("&Add New Alert", fresh);
  auto* addRow = new QHBoxLayout;
  addRow->addStretch();
  addRow->addWidget(m_add);

  auto* freshLayout = new QVBoxLayout(fresh);
  freshLayout->addWidget(directoryLabel);
  freshLayout->addLayout(directoryRow);
  freshLayout->addLayout(kindGrid);
  freshLayout->addWidget(m_help);
  freshLayout->addWidget(m_value);
  for (QAbstractButton* radio : m_notify->buttons()) freshLayout->addWidget(radio);
  freshLayout->addWidget(m_program);
  freshLayout->addWidget(m_programHelp);
  freshLayout->addLayout(scheduleRow);
  freshLayout->addLayout(addRow);

  m_done = Button("&Done", this);
  auto* doneRow = new QHBoxLayout;
  doneRow->addStretch();
  doneRow->addWidget(m_done);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(existing, 1);
  layout->addWidget(fresh);
  layout->addLayout(doneRow);
}

void AlertManagementDialog::ConnectControls() {
  connect(m_kinds, &QButtonGroup::idClicked, this, &AlertManagementDialog::OnKind);
  connect(m_notify, &QButtonGroup::idClicked, this, &AlertManagementDialog::OnNotifyMode);
  connect(m_unit, &QComboBox::activated, this, &AlertManagementDialog::OnUnitChanged);
  connect(m_checkTime, &QLineEdit::editingFinished, this, &AlertManagementDialog::OnCheckTimeEdited);
  connect(m_browse, &QPushButton::clicked, this, &AlertManagementDialog::OnBrowse);
  connect(m_add, &QPushButton::clicked, this, &AlertManagementDialog::OnNewAlert);
  connect(m_remove, &QPushButton::clicked, this, &AlertManagementDialog::OnRemoveAlert);
  connect(m_commandLine, &QPushButton::clicked, this, &AlertManagementDialog::OnShowLine);
  connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
}

// Sizes that follow the font: the wrapping texts get the height of their longest text, so no
// kind's help is cut; the list shows a few alerts whole; the short fields fit their values.
void AlertManagementDialog::FitTexts() {
  const QFontMetrics metrics(font());
  const int width = metrics.averageCharWidth() * kTextColumns;
  m_alerts->setMinimumSize(width, metrics.lineSpacing() * 6);
  // Room for the text and the field's frame and margins.
  const int frame = metrics.averageCharWidth() * 2 + 8;
  m_count->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("000000")) + frame);
  m_checkTime->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("00:00 PM")) + frame);
  const auto heightOf = [&](const QString& text) {
    return metrics.boundingRect(QRect(0, 0, width, 10000), Qt::TextWordWrap, text).height();
  };
  int help = 0;
  for (const CAlertKind& kind : AlertKinds()) help = std::max(help, heightOf(QString::fromUtf8(kind.help)));
  m_help->setMinimumSize(width, help);
  m_programHelp->setMinimumSize(width, heightOf(m_programHelp->text()));
}

void AlertManagementDialog::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::FontChange && m_help) FitTexts();
}

QAbstractButton* AlertManagementDialog::KindButton(int kind) const { return m_kinds->button(kind); }
QAbstractButton* AlertManagementDialog::NotifyButton(int mode) const { return m_notify->button(mode); }

void AlertManagementDialog::Message(const std::string& text, const std::string& caption, Icon icon) {
  if (m_message) m_message(text, caption, icon);
}

void AlertManagementDialog::OnInitDialog() {
  platform::Guarded("OnInitDialog", [&] {
    m_fields.kind = 0;
    m_fields.notifyMode = kNotifyMessageBox;
    PushFields();
    FillEventList();
  });
}

void AlertManagementDialog::PushFields() {
  m_directory->setText(Text(m_fields.directory));
  if (QAbstractButton* kind = m_kinds->button(m_fields.kind)) kind->setChecked(true);
  m_help->setText(QString::fromUtf8(AlertKinds()[static_cast<std::size_t>(std::max(m_kinds->checkedId(), 0))].help));
  m_value->setText(Text(m_fields.value));
  if (QAbstractButton* mode = m_notify->button(m_fields.notifyMode)) mode->setChecked(true);
  m_program->setText(Text(m_fields.program));
  m_count->setText(QString::number(m_fields.intervalCount));
  m_unit->setCurrentIndex(m_fields.intervalUnit);
  m_checkTime->setText(Text(m_fields.checkTime));
  EnableControls();
}

bool AlertManagementDialog::ReadFields() {
  m_fields.directory = Bytes(m_directory->text());
  m_fields.kind = std::max(m_kinds->checkedId(), 0);
  m_fields.value = Bytes(m_value->text());
  m_fields.notifyMode = m_notify->checkedId() == kNotifyProgram ? kNotifyProgram : kNotifyMessageBox;
  m_fields.program = Bytes(m_program->text());
  bool integer = false;
  const int count = m_count->text().trimmed().toInt(&integer);
  if (!integer) {
    Message("Please enter an integer.", "Varnow");
    m_count->setFocus();
    m_count->selectAll();
    return false;
  }
  m_fields.intervalCount = count;
  m_fields.intervalUnit = std::max(m_unit->currentIndex(), 0);
  m_fields.checkTime = Bytes(m_checkTime->text());
  return true;
}

void AlertManagementDialog::EnableControls() {
  const bool program = m_notify->checkedId() == kNotifyProgram;
  m_program->setEnabled(program);
  m_programHelp->setEnabled(program);
  const bool days = m_unit->currentIndex() == kUnitDays;
  m_checkTime->setEnabled(days);
  m_checkTimeLabel->setEnabled(days);
}

void AlertManagementDialog::OnKind(int kind) {
  platform::Guarded("OnKind", [&] {
    // The help follows the checked button even when another field stops the read.
    m_help->setText(QString::fromUtf8(AlertKinds()[static_cast<std::size_t>(kind)].help));
    if (!ReadFields()) return;
    PushFields();
  });
}

void AlertManagementDialog::OnNotifyMode(int mode) {
  platform::Guarded("OnNotifyMode", [&] {
    m_fields.notifyMode = mode;
    EnableControls();
  });
}

void AlertManagementDialog::OnUnitChanged() {
  platform::Guarded("OnUnitChanged", [&] {
    EnableControls();
    ReadFields();
  });
}

void AlertManagementDialog::OnCheckTimeEdited() {
  platform::Guarded("OnCheckTimeEdited", [&] {
    if (!ReadFields()) return;
    if (const auto time = ParseCheckTime(m_fields.checkTime, Now())) m_fields.checkTime = FormatCheckTime(*time);
    PushFields();
  });
}

void AlertManagementDialog::OnBrowse() {
  platform::Guarded("OnBrowse", [&] {
    const std::string folder = m_picker(this, Bytes(m_directory->text()));
    if (!folder.empty()) m_directory->setText(Text(folder));
  });
}

// The status of a failed scheduler action, and why the scheduler could not be started when its
// program is missing.
static std::string ErrorNote(taskmgr::HRESULT hr) {
  std::string note = "[Error " + StatusText(hr) + "]";
  // The bus knows no such service: the scheduler may never have been found to register it.
  if (hr != taskmgr::REGDB_E_CLASSNOTREG) return note;
  if (const std::string missing = MissingSchedulerText(); !missing.empty()) note += "  " + missing;
  return note;
}

void AlertManagementDialog::reject() {
  if (!Busy()) QDialog::reject();
}

void AlertManagementDialog::BeginCalls() {
  if (m_calls++ > 0) return;
  for (QPushButton* button : {m_browse, m_add, m_remove, m_commandLine, m_done}) button->setEnabled(false);
}

void AlertManagementDialog::EndCalls() {
  if (--m_calls > 0) return;
  for (QPushButton* button : {m_browse, m_add, m_remove, m_commandLine, m_done}) button->setEnabled(true);
  emit CallsFinished();
}

void AlertManagementDialog::FillEventList(std::function<void()> then) {
  BeginCalls();
  auto* connection = new CSchedulerConnection(true, m_bus, this);
  const Finish end = [this, connection, then](HRESULT hr) {
    connection->deleteLater();
    EndCalls();
    if (Failed(hr))
      Message("There has been an error communicating with the scheduler.  Some existing alerts might not be "
              "displayed.  " + ErrorNote(hr),
              "Not All Alerts Displayed");
    if (then) then();
  };
  m_alerts->clear();
  connection->Connect(Step("FillEventList", end, [this, connection, end](HRESULT hr) {
    if (Failed(hr)) return end(hr);
    connection->GetNumTasks(Step("FillEventList", end, [this, connection, end](HRESULT hr, std::int32_t count) {
      if (Failed(hr)) {
        VN_TRACE("GetNumTask from TaskMgr returned %lX\n", Hex(hr));
        return end(hr);
      }
      ReadTasks(connection, 0, count, hr, end);
    }));
  }));
}

// One task after the other, in the scheduler's order; the list's result is the last read's.
void AlertManagementDialog::ReadTasks(CSchedulerConnection* connection, std::int32_t index, std::int32_t count,
                                      HRESULT last, const Finish& end) {
  if (index >= count) return end(last);
  connection->GetTaskAt(index, Step("FillEventList", end, [=, this](HRESULT hr, const taskmgr::TASK_STRUCT& task) {
    if (Failed(hr)) {
      VN_TRACE("GetTaskAt(%d) from TaskMgr returned %lX\n", index, Hex(hr));
    } else if (task.taskOwner == taskmgr::toVARNOW) {  // other clients' tasks are theirs
      auto* item = new CAlertItem(task.description);
      item->setData(Qt::UserRole, task.taskID);
      m_alerts->addItem(item);
    }
    ReadTasks(connection, index + 1, count, hr, end);
  }));
}

std::optional<taskmgr::TASK_STRUCT> AlertManagementDialog::NewAlertTask() {
  if (!ReadFields()) return std::nullopt;
  if (const std::string problem = AlertFieldsProblem(m_fields); !problem.empty()) {
    Message(problem, "Alert Not Added");
    return std::nullopt;
  }
  CCheckTime time;
  if (m_fields.intervalUnit == kUnitDays) {
    const auto parsed = ParseCheckTime(m_fields.checkTime, Now());
    if (!parsed) {
      Message("Can't add the new alert because the date or time given are not recognizable.",
              "Bad Date or Time Format", Icon::kNone);
      return std::nullopt;
    }
    time = *parsed;
  }
  return AlertTask(AlertCommandLine(m_trackerPath, m_fields), AlertDescription(m_fields), m_fields.intervalUnit,
                   m_fields.intervalCount, time, QDate::currentDate());
}

void AlertManagementDialog::OnNewAlert() {
  if (Busy()) return;
  BeginCalls();
  // The list is read again whatever happened, then the closing message.
  const Finish end = [this](HRESULT hr) {
    FillEventList([this, hr] {
      EndCalls();
      if (Failed(hr))
        Message("There has been an error communicating with the scheduler.  This alert has not been scheduled. " +
                    ErrorNote(hr),
                "Alert Not Scheduled");
    });
  };
  std::optional<taskmgr::TASK_STRUCT> task;
  if (!platform::Guarded("OnNewAlert", [&] { task = NewAlertTask(); return true; }, false)) return end(taskmgr::E_FAIL);
  if (!task) return EndCalls();  // the fields said why
  auto* connection = new CSchedulerConnection(true, m_bus, this);
  const Finish released = [connection, end](HRESULT hr) {
    connection->deleteLater();
    end(hr);
  };
  connection->Connect(Step("OnNewAlert", released, [this, connection, released, task = *task](HRESULT hr) {
    if (Failed(hr)) return released(hr);
    connection->CreateNewTask(task, Step("OnNewAlert", released, [this, released](HRESULT hr, std::uint32_t) {
      if (Failed(hr)) {
        Message("Failed to create the automated task.  Error=" + StatusText(hr), "Error creating task");
        VN_TRACE("Failed to CreateNewTask: %lX\n", Hex(hr));
      }
      released(hr);
    }));
  }));
}

bool AlertManagementDialog::SelectedAlert(std::uint32_t* taskID) const {
  const QList<QListWidgetItem*> selected = m_alerts->selectedItems();
  if (selected.isEmpty()) return false;
  *taskID = selected.first()->data(Qt::UserRole).toUInt();
  return true;
}

void AlertManagementDialog::OnRemoveAlert() {
  std::uint32_t taskID = 0;
  if (Busy() || !SelectedAlert(&taskID)) return;
  BeginCalls();
  auto* connection = new CSchedulerConnection(true, m_bus, this);
  const Finish end = [this, connection](HRESULT hr) {
    connection->deleteLater();
    FillEventList([this, hr] {
      EndCalls();
      if (Failed(hr))
        Message("There has been an error communicating with the scheduler.  The alert might not have been "
                "removed.  " + ErrorNote(hr),
                "Alerts Not Removed");
    });
  };
  connection->Connect(Step("OnRemoveAlert", end, [connection, end, taskID](HRESULT hr) {
    if (Failed(hr)) return end(hr);
    connection->DeleteTask(taskID, Step("OnRemoveAlert", end, [end](HRESULT hr) {
      if (Failed(hr)) VN_TRACE("DeleteTask returned %lX\n", Hex(hr));
      end(hr);
    }));
  }));
}

void AlertManagementDialog::OnShowLine() {
  std::uint32_t taskID = 0;
  if (Busy() || !SelectedAlert(&taskID)) return;
  BeginCalls();
  auto* connection = new CSchedulerConnection(false, m_bus, this);
  // A changed line is followed by the list read again, then the closing message.
  const Close end = [this, connection](HRESULT hr, bool changed) {
    connection->deleteLater();
    const auto closing = [this, hr] {
      EndCalls();
      if (Failed(hr))
        Message("There has been an error communicating with the scheduler.  The command line can't be shown. " +
                    ErrorNote(hr),
                "Data Not Retrieved");
    };
    changed ? FillEventList(closing) : closing();
  };
  const Finish failed = [end](HRESULT hr) { end(hr, false); };
  connection->Connect(Step("OnShowLine", failed, [this, connection, end, failed, taskID](HRESULT hr) {
    if (Failed(hr)) {
      Message("Failed to communicate with the task manager.  Error=" + StatusText(hr), "Error");
      VN_TRACE("Failed to CoCreate task mgr: %lX\n", Hex(hr));
      return failed(hr);
    }
    connection->GetTask(taskID, Step("OnShowLine", failed, [this, connection, end, failed, taskID](
                                                                HRESULT hr, const taskmgr::TASK_STRUCT& task) {
      if (Failed(hr)) {
        VN_TRACE("GetTask(tid=%u) returned %lX\n", taskID, Hex(hr));
        return failed(hr);
      }
      AlertCommandLineDialog dialog(Bytes(task.cmdLine), this);
      dialog.exec();
      const std::string edited = dialog.CommandLine();
      if (edited == Bytes(task.cmdLine)) return end(taskmgr::S_OK, false);
      ReplaceCommandLine(connection, task, edited, end);
    }));
  }));
}

void AlertManagementDialog::ReplaceCommandLine(CSchedulerConnection* connection, taskmgr::TASK_STRUCT task,
                                               const std::string& commandLine, const Close& end) {
  const Finish failed = [end](HRESULT hr) { end(hr, false); };
  task.cmdLine = Text(commandLine);
  connection->DeleteTask(task.taskID, Step("OnShowLine", failed, [this, connection, end, failed, task](HRESULT hr) {
    if (Failed(hr)) {
      Message("Failed to remove the old task with the old command line.  Not making command line change.",
              "Error changing command line");
      connection->deleteLater();
      return EndCalls();
    }
    connection->CreateNewTask(task, Step("OnShowLine", failed, [this, end](HRESULT hr, std::uint32_t) {
      if (Failed(hr)) {
        Message("Failed to add the newly changed event.  The previous event has already been deleted!",
                "Error changing command line");
        VN_TRACE("Failed to CreateNewTask after being modified.  hr=%lX\n", Hex(hr));
      }
      end(hr, true);
    }));
  }));
}

}  // namespace varnow
