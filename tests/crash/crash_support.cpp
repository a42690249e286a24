#include "crash_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace crash {

std::uint32_t TrialSeed() {
  if (const char* text = std::getenv("QUORLEX_CRASH_SEED"))
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
  return 20261208u;
}

pid_t StartChild(const std::function<void()>& work) {
  const pid_t child = fork();
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

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      entries[relative] = "link " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      entries[relative] = "dir";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      struct stat status {};
      stat(entry.path().c_str(), &status);
      entries[relative] = "file " + std::to_string(status.st_mode & 07777) + " " + content.str();
    }
  }
  return entries;
}

std::string Differences(const std::map<std::string, std::string>& expected,
                        const std::map<std::string, std::string>& actual) {
  std::string report;
  int shown = 0;
  auto note = [&](const std::string& what, const std::string& path) {
    if (shown++ < 10)
      report += what + " " + path + "\n";
  };
  for (const auto& [path, description] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end())
      note("missing", path);
    else if (found->second != description)
      note("changed", path);
  }
  for (const auto& entry : actual) {
    if (expected.count(entry.first) == 0)
      note("extra", entry.first);
  }
  return report;
}

} // namespace crash
