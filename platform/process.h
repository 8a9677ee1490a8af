// The running program's own file, and starting other programs. A command line is one text that
// splits into arguments by one rule for every program here (the tracker's command line, the
// notification command, the scheduler's stored tasks): blanks separate arguments, "..." groups
// blanks into one, and three quotes in a row stand for one literal quote. No shell ever runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// Full path of the program file; empty when it cannot be had.
std::string ProgramPath();
// The folder of the program file with a trailing "/"; empty when the path cannot be had.
std::string ProgramFolder();

struct CCommandToken {
  std::string text;     // quotes removed
  std::size_t end = 0;  // offset just after the token in the command line
};

// Splits a command line into tokens (see above). Empty tokens ("") are dropped, unless
// keepEmpty: a program started with the arguments gets them as empty arguments.
std::vector<CCommandToken> SplitCommandLine(const std::string& commandLine, bool keepEmpty = false);
// The command line whose split gives back exactly these arguments (an empty one as "").
std::string JoinCommandLine(const std::vector<std::string>& arguments);

// Starts arguments[0] (looked up on PATH when it has no "/") with the rest as its arguments.
// Returns the child's process id, 0 when it could not be started. The caller collects its exit.
pid_t StartProcess(const std::vector<std::string>& arguments);
// Starts the program and forgets it: its exit is collected in the background. False when it
// could not be started.
bool StartDetached(const std::vector<std::string>& arguments);
// The same with standard input, output and error on /dev/null, for a program that may outlive
// its starter by far (a server) and must not keep its terminal or pipe open.
bool StartDetachedQuietly(const std::vector<std::string>& arguments);
// The same, but the caller gets the child's process id (0 when it could not be started) and
// collects its exit itself, for a starter that watches whether the program stays up.
pid_t StartQuietly(const std::vector<std::string>& arguments);
// Collects the exit of a started child in the background.
void ReapLater(pid_t pid);

inline constexpr std::chrono::milliseconds kWaitForever = std::chrono::milliseconds::max();
// Waits until a started child ends, for limit at the most (kWaitForever: as long as it takes;
// zero: only looks), and collects it. True when it ended, with the wait status in *status;
// false while it still runs after limit, or when pid is no child left to wait for.
bool WaitForExit(pid_t pid, std::chrono::milliseconds limit = kWaitForever, int* status = nullptr);

}  // namespace platform
