#include "setup/BusSchedulerCleanup.h"

#include "setup/InstallRecord.h"

#include "platform/atomicfile.h"
#include "platform/process.h"
#include "platform/tracelog.h"

#include "taskmgr/taskmgrbus.h"
#include "taskmgr/taskmgrclient.h"

#include <QFile>

#include <unistd.h>

#include <vector>

namespace setup {
namespace {

std::string ActivationFilePath() { return QFile::encodeName(taskmgr::ActivationFilePath()).toStdString(); }

// The task's program lies in the folder: the first word of its command line.
bool StartsProgramIn(const taskmgr::TASK_STRUCT& task, const std::string& folder) {
  const std::vector<platform::CCommandToken> words = platform::SplitCommandLine(task.cmdLine.toStdString());
  return !words.empty() && LiesInside(words[0].text, {folder});
}

}  // namespace

std::optional<int> CBusSchedulerCleanup::DeleteTasksIn(const std::string& folder) {
  taskmgr::RegisterTaskMgrTypes();
  if (!QDBusConnection::sessionBus().isConnected()) return std::nullopt;
  taskmgr::COrvTaskMgrClient client(QDBusConnection::sessionBus(), 10000);
  if (taskmgr::Failed(client.CreateInstance())) return std::nullopt;
  std::int32_t count = 0;
  if (taskmgr::Failed(client.GetNumTasks(&count))) return std::nullopt;
  // The identifiers first: deleting shifts the positions of the tasks after.
  std::vector<std::uint32_t> doomed;
  for (std::int32_t i = 0; i < count; ++i) {
    taskmgr::TASK_STRUCT task;
    if (taskmgr::Failed(client.GetTaskAt(i, &task))) continue;
    if (task.taskOwner == taskmgr::toVARNOW && StartsProgramIn(task, folder)) doomed.push_back(task.taskID);
  }
  int deleted = 0;
  for (const std::uint32_t id : doomed) {
    const taskmgr::HRESULT hr = client.DeleteTask(id);
    VN_TRACE("DeleteTask %u: %X", id, static_cast<unsigned>(hr));
    if (taskmgr::Succeeded(hr)) ++deleted;
  }
  client.Release();
  return deleted;
}

std::string CBusSchedulerCleanup::RemoveInterfaceDescription(const std::string& folder) {
  const std::string path = QFile::encodeName(taskmgr::InterfaceFilePath()).toStdString();
  if (::access(path.c_str(), F_OK) != 0) return {};
  // Another install's scheduler still needs it while it is the one registered.
  if (const auto activation = platform::ReadWholeFile(ActivationFilePath(), 1 << 20)) {
    const std::string program = ActivationProgram(*activation);
    if (!program.empty() && !LiesInside(program, {folder})) return {};
  }
  return ::unlink(path.c_str()) == 0 ? path : std::string();
}

std::string ActivationProgram(const std::string& activationText) {
  const std::size_t at = activationText.find("\nExec=");
  if (at == std::string::npos) return {};
  std::size_t i = at + 6;
  std::string program;
  bool quoted = false;
  for (; i < activationText.size() && activationText[i] != '\n'; ++i) {
    const char c = activationText[i];
    if (c == '\'') {
      quoted = !quoted;
    } else if (!quoted && c == '\\' && i + 1 < activationText.size()) {
      program += activationText[++i];
    } else if (!quoted && (c == ' ' || c == '\t')) {
      break;
    } else {
      program += c;
    }
  }
  return program;
}

}  // namespace setup
