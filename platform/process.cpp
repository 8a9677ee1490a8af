#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <thread>

extern char** environ;

namespace platform {

namespace {
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
}  // namespace

std::string ProgramPath() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return {};
  std::string path(buffer.data(), static_cast<std::size_t>(length));
  // A program whose file was removed while it runs (an uninstall that started it) still has
  // the path it was started from; the kernel only marks it.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0 &&
      ::access(path.c_str(), F_OK) != 0)
    path.resize(path.size() - kDeleted.size());
  return path;
}

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<CCommandToken> SplitCommandLine(const std::string& commandLine, bool keepEmpty) {
  std::vector<CCommandToken> tokens;
  std::string current;
  bool inQuote = false;
  bool started = false;  // a token is under way (it may still turn out empty)
  int quotes = 0;
  auto finish = [&](std::size_t end) {
    if (!current.empty() || (keepEmpty && started)) tokens.push_back({current, end});
    current.clear();
    started = false;
  };
  for (std::size_t i = 0; i < commandLine.size(); ++i) {
    const char c = commandLine[i];
    if (c == '"') {
      started = true;
      if (++quotes == 3) {  // three in a row: one literal quote
        quotes = 0;
        current += '"';
      }
      continue;
    }
    if (quotes == 1) inQuote = !inQuote;
    quotes = 0;
    if (!inQuote && IsBlank(c)) {
      if (started) finish(i);
    } else {
      started = true;
      current += c;
    }
  }
  finish(commandLine.size());
  return tokens;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  bool first = true;
  for (const std::string& argument : arguments) {
    if (!first) line += ' ';
    first = false;
    if (argument.empty()) {
      line += "\"\"";
      continue;
    }
    const bool needsQuotes = std::any_of(argument.begin(), argument.end(), [](char c) { return IsBlank(c) || c == '"'; });
    if (!needsQuotes) {
      line += argument;
      continue;
    }
    line += '"';
    for (char c : argument) line += c == '"' ? std::string("\"\"\"") : std::string(1, c);
    line += '"';
  }
  return line;
}

namespace {
pid_t Spawn(const std::vector<std::string>& arguments, bool newSession, bool quiet = false) {
  if (arguments.empty() || arguments[0].empty()) return 0;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A detached program gets a session of its own, so that a hang-up of ours does not reach it.
  if (newSession) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  // glibc's posix_spawn reports a program that cannot be executed as an error, so a missing
  // program is a failure here rather than a child that exits at once.
  const int failed = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return failed ? 0 : pid;
}
}  // namespace

pid_t StartProcess(const std::vector<std::string>& arguments) { return Spawn(arguments, false); }

bool StartDetached(const std::vector<std::string>& arguments) {
  const pid_t pid = Spawn(arguments, true);
  if (pid == 0) return false;
  ReapLater(pid);
  return true;
}

pid_t StartQuietly(const std::vector<std::string>& arguments) { return Spawn(arguments, true, true); }

bool StartDetachedQuietly(const std::vector<std::string>& arguments) {
  const pid_t pid = StartQuietly(arguments);
  if (pid == 0) return false;
  ReapLater(pid);
  return true;
}

void ReapLater(pid_t pid) {
  std::thread([pid] { WaitForExit(pid); }).detach();
}

bool WaitForExit(pid_t pid, std::chrono::milliseconds limit, int* status) {
  using namespace std::chrono_literals;
  int ignored = 0;
  int* out = status ? status : &ignored;
  if (limit == kWaitForever) {
    pid_t done = 0;
    while ((done = ::waitpid(pid, out, 0)) < 0 && errno == EINTR) {
    }
    return done == pid;
  }
  // A limited wait looks in growing steps: a child that ends at once is seen at once, a long
  // one costs a look every 50 ms.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::chrono::milliseconds step = 1ms;
  for (;;) {
    const pid_t done = ::waitpid(pid, out, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(step, deadline - now));
    step = std::min(step * 2, std::chrono::milliseconds(50));
  }
}

}  // namespace platform
