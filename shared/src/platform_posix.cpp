#include "platform.h"
#include "platform_system.h"

#include "product_constants.h"

#include "unique_handles.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// The value of a simulation override, or empty: release builds know none.
std::string Override(const char* variable) {
#ifdef HOSTSIM
  if (const char* value = std::getenv(variable))
    return value;
#else
  (void)variable;
#endif
  return std::string();
}

// Waits for child; its exit status, or -1 when it did not exit normally or cannot be waited for.
int WaitForExit(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR)
      return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Kills the process group that child leads (the child with every process it started), then reaps
// the child.
void KillGroupAndReap(pid_t child) {
  ::kill(-child, SIGKILL);
  ::kill(child, SIGKILL); // also when it is not the leader of its group
  WaitForExit(child);
}

// Asks the caller whether to stop; a caller that fails to answer is taken as asking to stop.
bool StopWanted(const std::function<bool()>& stopRequested) noexcept {
  try {
    return stopRequested && stopRequested();
  } catch (...) {
    return true;
  }
}

// Starts program with arguments in a process group of its own, its standard output into a pipe and
// standard error to /dev/null, and collects what it prints until it exits; kills the group once limit
// has passed or the caller asks to stop.
ProgramReport RunCollectingOutput(const std::string& program, const std::vector<std::string>& arguments,
                                  std::chrono::milliseconds limit,
                                  const std::function<bool()>& stopRequested) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + limit;
  ProgramReport report;
  int ends[2] = {-1, -1};
  if (::pipe(ends) != 0)
    return report;
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);
  // The child gets the write end as its standard output alone; no other program inherits either end.
  ::fcntl(readEnd.get(), F_SETFD, FD_CLOEXEC);
  ::fcntl(writeEnd.get(), F_SETFD, FD_CLOEXEC);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0)
    return report;
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return report;
  }
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), Environment());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    return report;
  report.started = true;
  writeEnd.reset();

  constexpr std::size_t kKept = 64 * 1024;
  constexpr int kPollMs = 100;
  char buffer[4096];
  bool outputEnded = false;
  for (;;) {
    if (!outputEnded) {
      pollfd watched{readEnd.get(), POLLIN, 0};
      const int ready = ::poll(&watched, 1, kPollMs);
      if (ready > 0) {
        const ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
        if (got > 0) {
          // Read to the end even past what is kept, so that the program never blocks on a full pipe.
          const std::size_t room = kKept - std::min(kKept, report.output.size());
          report.output.append(buffer, std::min(room, static_cast<std::size_t>(got)));
        } else if (got == 0 || errno != EINTR) {
          outputEnded = true;
        }
      } else if (ready < 0 && errno != EINTR) {
        outputEnded = true;
      }
    } else {
      // The output has ended; the program may still run.
      int status = 0;
      const pid_t reaped = ::waitpid(child, &status, WNOHANG);
      if (reaped == child) {
        report.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return report;
      }
      if (reaped < 0 && errno != EINTR)
        return report;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool stop = StopWanted(stopRequested);
    if (stop || Clock::now() >= deadline) {
      report.cancelled = stop;
      report.timedOut = !stop;
      KillGroupAndReap(child);
      return report;
    }
  }
}

} // namespace

std::string SystemPath(const std::string& macPath) {
  return Override("HOSTSIM_MAC_ROOT") + macPath;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home)
    return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir)
    return result->pw_dir;
  return std::string();
}

bool OpenInBrowser(const std::string& address) {
  std::string opener = Override("HOSTSIM_OPENER");
  if (opener.empty())
    opener = SystemOpener();
  std::vector<char*> argv = {const_cast<char*>(opener.c_str()), const_cast<char*>(address.c_str()), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, opener.c_str(), nullptr, nullptr, argv.data(), Environment()) != 0)
    return false;
  return WaitForExit(child) == 0;
}

std::string ServerBaseUrl() {
  std::string value = Override("HOSTSIM_SERVER_BASE_URL");
  return value.empty() ? std::string(product::kServerBaseUrl) : value;
}

std::string ServerCaFile() {
  return Override("HOSTSIM_CA_FILE");
}

std::string FetchLimitsOverride() {
  return Override("HOSTSIM_FETCH_LIMITS");
}

std::string QuarantineValue(std::time_t when, const std::string& agent) {
  char time[32];
  std::snprintf(time, sizeof time, "%08llx", static_cast<unsigned long long>(when));
  return std::string("0081;") + time + ";" + agent + ";";
}

int MarkAsDownloaded(const std::string& path, const std::string& agent) {
  const std::string name = Override("HOSTSIM_QUARANTINE_ATTRIBUTE");
  return SetExtendedAttribute(path, name.empty() ? QuarantineAttributeName() : name.c_str(),
                              QuarantineValue(std::time(nullptr), agent));
}

ProgramReport CheckPackageSignature(const std::string& path, std::chrono::milliseconds limit,
                                    const std::function<bool()>& stopRequested) {
  std::string program = Override("HOSTSIM_PKGUTIL");
  if (program.empty())
    program = SystemPackageChecker();
  if (program.empty())
    return ProgramReport();
  return RunCollectingOutput(program, {"--check-signature", path}, limit, stopRequested);
}
