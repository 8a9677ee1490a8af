// Alert management: the dialog lists the tracker's alerts in the scheduler, adds new ones,
// removes them and shows or edits the command line of one (AlertCommandLineDialog). It keeps
// no alert data of its own: every action connects to the scheduler afresh, and the list is
// read back from it after every change. Nothing waits on the scheduler: an action's calls go
// out, the dialog stays live with its buttons disabled, and the action goes on as the replies
// come in. What an alert is made of (command line, description, task record) is built by
// varnow/alerts/AlertTasks without widgets.
#pragma once

#include <QDBusConnection>
#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "taskmgr/taskstruct.h"
#include "varnow/alerts/AlertTasks.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace varnow {

class CSchedulerConnection;

class AlertCommandLineDialog : public QDialog {
  Q_OBJECT
 public:
  AlertCommandLineDialog(const std::string& commandLine, QWidget* parent = nullptr);

  // The edited text after OK with editing allowed; otherwise the command line it was given.
  std::string CommandLine() const;
  void OnAllowEditing(bool allowed);

  QPlainTextEdit* CommandLineField() const { return m_edit; }
  QCheckBox* AllowEditingBox() const { return m_allowEditing; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void FitEdit();

  std::string m_original;
  QPlainTextEdit* m_edit = nullptr;
  QCheckBox* m_allowEditing = nullptr;
};

class AlertManagementDialog : public QDialog {
  Q_OBJECT
 public:
  // directory: the main window's directory text, the start value of the directory field.
  AlertManagementDialog(const std::string& directory, QWidget* parent = nullptr);

  // Fills the list, then runs the dialog modally.
  int DoModal();

  // Handlers.
  void OnInitDialog();
  void OnKind(int kind);
  void OnNotifyMode(int mode);
  void OnUnitChanged();
  void OnCheckTimeEdited();
  void OnBrowse();
  void OnNewAlert();
  void OnRemoveAlert();
  void OnShowLine();
  // Empties the list and fills it from the scheduler; `then` runs once it is filled (or has
  // failed and said so).
  void FillEventList(std::function<void()> then = {});

  // True while an action waits on the scheduler; its buttons are disabled meanwhile.
  bool Busy() const { return m_calls > 0; }
  // The bus the scheduler is reached on; the session bus unless set.
  void SetBus(const QDBusConnection& bus) { m_bus = bus; }

  // What a folder picker returns: a folder with its trailing "/", or "" when cancelled. The
  // main window hands over its own.
  using FolderPicker = std::function<std::string(QWidget* parent, const std::string& start)>;
  void SetFolderPicker(FolderPicker picker) { m_picker = std::move(picker); }
  // The program that alerts start; the running tracker unless set.
  void SetTrackerPath(std::string path) { m_trackerPath = std::move(path); }
  // Where messages go; modal boxes over the dialog unless set (tests record them).
  enum class Icon { kExclamation, kNone };
  using MessageSink = std::function<void(const std::string& text, const std::string& caption, Icon icon)>;
  void SetMessageSink(MessageSink sink) { m_message = std::move(sink); }

  // Controls, for tests and accessibility checks.
  QListWidget* AlertList() const { return m_alerts; }
  QLineEdit* DirectoryField() const { return m_directory; }
  QAbstractButton* KindButton(int kind) const;
  QLineEdit* ValueField() const { return m_value; }
  QLabel* HelpText() const { return m_help; }
  QAbstractButton* NotifyButton(int mode) const;
  QLineEdit* ProgramField() const { return m_program; }
  QLabel* ProgramHelp() const { return m_programHelp; }
  QLineEdit* CountField() const { return m_count; }
  QComboBox* UnitBox() const { return m_unit; }
  QLineEdit* CheckTimeField() const { return m_checkTime; }
  QPushButton* BrowseButton() const { return m_browse; }
  QPushButton* AddButton() const { return m_add; }
  QPushButton* RemoveButton() const { return m_remove; }
  QPushButton* CommandLineButton() const { return m_commandLine; }
  QPushButton* DoneButton() const { return m_done; }

 signals:
  // The last call of an action has been answered and the buttons are back.
  void CallsFinished();

 public slots:
  // The dialog cannot be left while a call is out: its answer would have nowhere to go.
  void reject() override;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  using Finish = std::function<void(taskmgr::HRESULT hr)>;
  using Close = std::function<void(taskmgr::HRESULT hr, bool changed)>;
  // A call out to the scheduler begins or ends; the buttons are disabled while any is out.
  void BeginCalls();
  void EndCalls();
  void ReadTasks(CSchedulerConnection* connection, std::int32_t index, std::int32_t count, taskmgr::HRESULT last,
                 const Finish& end);
  // The new alert's task from the fields, or nothing (after telling the user) when they fail.
  std::optional<taskmgr::TASK_STRUCT> NewAlertTask();
  void BuildControls();
  void ConnectControls();
  void FitTexts();
  // Reads the controls into the fields; false (after telling the user) at a field that fails
  // its check, leaving it and the fields after it as they were.
  bool ReadFields();
  void PushFields();
  void EnableControls();
  void Message(const std::string& text, const std::string& caption, Icon icon = Icon::kExclamation);
  // The selected alert's identifier; false when nothing is selected.
  bool SelectedAlert(std::uint32_t* taskID) const;
  // A task cannot be changed in place: the old one goes and a copy of it (trigger, description
  // and owner included) with the new command line comes, under a new identifier. False (after
  // telling the user) when the old one could not be removed; *hr is the creation's status.
  // `end` gets the creation's status (the list changed); it does not run when the old task could
  // not be removed.
  void ReplaceCommandLine(CSchedulerConnection* connection, taskmgr::TASK_STRUCT task, const std::string& commandLine,
                          const Close& end);

  CAlertFields m_fields;
  QDBusConnection m_bus = QDBusConnection::sessionBus();
  int m_calls = 0;
  std::string m_trackerPath;
  FolderPicker m_picker;
  MessageSink m_message;

  QListWidget* m_alerts = nullptr;
  QLineEdit* m_directory = nullptr;
  QPushButton* m_browse = nullptr;
  QButtonGroup* m_kinds = nullptr;
  QLabel* m_help = nullptr;
  QLineEdit* m_value = nullptr;
  QButtonGroup* m_notify = nullptr;
  QLineEdit* m_program = nullptr;
  QLabel* m_programHelp = nullptr;
  QLineEdit* m_count = nullptr;
  QComboBox* m_unit = nullptr;
  QLabel* m_checkTimeLabel = nullptr;
  QLineEdit* m_checkTime = nullptr;
  QPushButton* m_add = nullptr;
  QPushButton* m_remove = nullptr;
  QPushButton* m_commandLine = nullptr;
  QPushButton* m_done = nullptr;
};

}  // namespace varnow
