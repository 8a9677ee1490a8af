#include "varnow/report/PrintJob.h"

#include <sys/wait.h>
#include <unistd.h>

#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/process.h"
#include "platform/guarded.h"
#include "platform/tracelog.h"

namespace varnow {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPrintFailure = "Print Failure";

std::string FindProgram(const char* name, const std::vector<std::string>& firstDirs = {}) {
  QStringList dirs;
  for (const std::string& dir : firstDirs) dirs << QString::fromStdString(dir);
  QString found;
  if (!dirs.isEmpty()) found = QStandardPaths::findExecutable(QString::fromLatin1(name), dirs);
  if (found.isEmpty()) found = QStandardPaths::findExecutable(QString::fromLatin1(name));
  return found.toStdString();
}

// Where FindProgram looks, for a message that it found nothing.
std::string SearchedPlaces(const std::vector<std::string>& firstDirs = {}) {
  std::string places;
  for (const std::string& dir : firstDirs) places += "in " + dir + ", then ";
  const char* path = std::getenv("PATH");
  return places + "on PATH (" + (path ? path : "") + ")";
}

// $TMPDIR as given (a folder that is missing must fail, not be swapped for another), else /tmp.
std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder && *folder ? folder : "/tmp";
}

// Started without a shell; 0 when it could not be started.
pid_t Start(const CPrintCommand& command) {
  if (command.program.empty()) return 0;
  std::vector<std::string> arguments{command.program};
  arguments.insert(arguments.end(), command.args.begin(), command.args.end());
  return platform::StartProcess(arguments);
}

void Tell(const MessageSink* messages, const std::string& text, const std::string& caption) {
  VN_TRACE("%s: %s", caption.c_str(), text.c_str());
  if (messages && *messages) (*messages)(text, caption);
}

}  // namespace

std::string CPrintCommand::Text() const {
  std::vector<std::string> words{program.empty() ? name : program};
  words.insert(words.end(), args.begin(), args.end());
  return platform::JoinCommandLine(words);
}

CPrintCommand PlainPrintCommand(const std::string& file) {
  return {"lp", FindProgram("lp"), {"-t", kPrintTitle, file}, SearchedPlaces()};
}

CPrintCommand EnhancedPrintCommand(const std::string& file) {
  const std::vector<std::string> beside{platform::ProgramFolder()};
  return {"zizeruv", FindProgram("zizeruv", beside), {"/p", file}, SearchedPlaces(beside)};
}

CPrintJob::CPrintJob(IPrintOwner& owner) : m_owner(owner) {
  const CPrintSettings settings = owner.PrintSettings();
  m_commaDelimited = settings.commaDelimited != 0;
  m_filePath = settings.printFilePath;
  m_enhanced = settings.enhancedPrinting != 0;
}

std::string CPrintJob::GetPrintFile() {
  std::string name;
  platform::Guarded("GetPrintFile", [&] {
    if (m_owner.PrintSettings().printDestination == PrintDestination::kPrinter) {
      // Created here, exclusively and private to this user, so nobody can slip a link in.
      // When that fails the pattern itself is the name, so the report's error names the folder.
      const std::string pattern = TemporaryFolder() + "/VNPXXXXXX";
      name = pattern;
      const int fd = mkstemp(name.data());
      if (fd >= 0) ::close(fd);
      else name = pattern;  // mkstemp may have emptied it
    } else {
      name = m_filePath;
    }
    VN_TRACE("GetPrintFile returning %s", name.c_str());
  });
  return name;
}

bool CPrintJob::Print(const MessageSink* messages) {
  std::string file;
  bool temporary = false;
  bool printed = false;
  const bool finished = platform::Guarded("OnPrint", [&] {
    temporary = m_owner.PrintSettings().printDestination == PrintDestination::kPrinter;
    file = GetPrintFile();
    const CReportSource source = m_owner.ReportSource();
    const CDirData empty;
    // Rich text is unreadable on a terminal: standard output gets the plain form.
    const bool enhanced = m_enhanced && file != kStandardOutputName && !m_writer;
    const CReportOptions options{source.units, source.sortMethod, source.homePage,
                                 m_commaDelimited, enhanced, m_columns, source.onDisk};
    printed = m_writer ? m_writer(file, options, messages)
                       : CreatePrintFile(file, source.record ? *source.record : empty, source.scanDir, options, messages);
    if (printed && temporary) printed = RunPrintProgram(file, enhanced, messages);
    return true;
  }, false);
  if (!finished) printed = false;
  if (temporary && !file.empty()) {
    std::error_code ignored;
    fs::remove(file, ignored);
  }
  return printed;
}

bool CPrintJob::RunPrintProgram(const std::string& file, bool enhanced, const MessageSink* messages) {
  const CPrintCommand command = enhanced ? EnhancedPrintCommand(file) : PlainPrintCommand(file);
  if (command.program.empty()) {
    Tell(messages, "The print program " + command.name + " was not found; it was looked for " + command.searched +
                       ".  Report will not be printed.",
         kPrintFailure);
    return false;
  }
  const pid_t pid = Start(command);
  if (pid == 0) {
    Tell(messages, "Failed to launch " + command.Text() + " to handle print job.  Report will not be printed.",
         kPrintFailure);
    return false;
  }
  int status = 0;
  if (!platform::WaitForExit(pid, m_waitLimit, &status)) {
    platform::ReapLater(pid);
    return true;  // still at work; it has read the file or will report its own trouble
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  Tell(messages, command.Text() + " could not print the report (exit status " + std::to_string(code) +
                     ").  Report will not be printed.",
       kPrintFailure);
  return false;
}

bool PrintAutomated(IPrintOwner& owner, const ReportWriter& writer) {
  CPrintJob job(owner);  // keeps its three columns
  job.m_writer = writer;
  const MessageSink toStandardError = [](const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "varnow: %s: %s\n", caption.c_str(), text.c_str());
  };
  return job.Print(&toStandardError);
}

}  // namespace varnow
