#include "crash_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <thread>

namespace crash {

std::uint32_t TrialSeed() {
  if (const char* text = std::getenv("QUORLEX_CRASH_SEED"))
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
  return 20261208u;
}

pid_t StartChild(const std::function<void()>& work) {
  const pid_t child = fork();
  if (child < 0)
    throw std::system_error(errno, std::generic_category(), "fork");
  if (child == 0) {
    int status = 0;
    try {
      work();
    } catch (...) {
      status = 1;
    }
    // No exit handlers or static destructors of the parent's copy: the child only did the work.
    _exit(status);
  }
  return child;
}

bool KillAfter(pid_t child, long delayMicroseconds, bool* finishedWell) {
  // kill and waitpid read 0 and negative ids as process groups, -1 as every process there is.
  if (child <= 0) {
    *finishedWell = false;
    return false;
  }
  if (delayMicroseconds > 0)
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds));
  kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  *finishedWell = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

long TimeInChild(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = StartChild(work);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the untroubled child failed";
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
          .count());
}

void ExecProgram(const std::string& program, const std::string& home, const std::string& macRoot) {
  std::string homeVariable = "HOME=" + home, rootVariable = "HOSTSIM_MAC_ROOT=" + macRoot;
  char* envp[] = {homeVariable.data(), rootVariable.data(), nullptr};
  std::string path = program;
  char* argv[] = {path.data(), nullptr};
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  dup2(null, 2);
  execve(path.c_str(), argv, envp);
  _exit(127);
}

int RunToTheEnd(const std::string& program, const std::string& home, const std::string& macRoot) {
  const pid_t child = StartChild([&] { ExecProgram(program, home, macRoot); });
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace crash
