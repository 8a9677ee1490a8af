#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace platform {
namespace {

using namespace std::chrono_literals;

pid_t Shell(const std::string& script) { return StartProcess({"/bin/sh", "-c", script}); }

TEST(WaitForExit, GivesTheExitCodeOrTheSignal) {
  int status = -1;
  const pid_t exits = Shell("exit 3");
  ASSERT_NE(exits, 0);
  ASSERT_TRUE(WaitForExit(exits, kWaitForever, &status));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);

  const pid_t killed = Shell("kill -KILL $$");
  ASSERT_NE(killed, 0);
  ASSERT_TRUE(WaitForExit(killed, 10s, &status)) << "a limited wait sees the end too";
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  EXPECT_FALSE(WaitForExit(killed, 0ms)) << "a child collected once is no child any more";
  EXPECT_FALSE(WaitForExit(killed));
}

TEST(WaitForExit, ALimitedWaitLeavesARunningChildRunning) {
  const pid_t sleeper = StartProcess({"sleep", "30"});
  ASSERT_NE(sleeper, 0);
  EXPECT_FALSE(WaitForExit(sleeper, 0ms));
  EXPECT_FALSE(WaitForExit(sleeper, 20ms));
  ASSERT_EQ(::kill(sleeper, SIGTERM), 0);
  int status = 0;
  ASSERT_TRUE(WaitForExit(sleeper, kWaitForever, &status));
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

void Ignore(int) {}

TEST(WaitForExit, ASignalToTheWaiterDoesNotEndTheWait) {
  // A handler without SA_RESTART makes waitpid fail with EINTR each time the timer fires.
  struct sigaction action {};
  action.sa_handler = Ignore;
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
  itimerval every5ms{{0, 5000}, {0, 5000}};
  ASSERT_EQ(::setitimer(ITIMER_REAL, &every5ms, nullptr), 0);
  for (const auto limit : {kWaitForever, std::chrono::milliseconds(60000)}) {
    const pid_t child = Shell("sleep 0.2; exit 7");
    ASSERT_NE(child, 0);
    int status = 0;
    EXPECT_TRUE(WaitForExit(child, limit, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
  }
  itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);
}

}  // namespace
}  // namespace platform
