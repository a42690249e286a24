#include "platform.h"
#include "platform_system.h"

#include "product_constants.h"

#include "unique_handles.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern char** environ;

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

// Starts program with arguments, its standard output into a pipe and standard error to /dev/null, and
// collects what it prints.
ProgramReport RunCollectingOutput(const std::string& program, const std::vector<std::string>& arguments) {
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
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    return report;
  report.started = true;
  writeEnd.reset();

  constexpr std::size_t kKept = 64 * 1024;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    // Read to the end even past what is kept, so that the program never blocks on a full pipe.
    const std::size_t room = kKept - std::min(kKept, report.output.size());
    report.output.append(buffer, std::min(room, static_cast<std::size_t>(got)));
  }
  report.exitStatus = WaitForExit(child);
  return report;
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
  if (posix_spawnp(&child, opener.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
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

std::string QuarantineAttribute(const std::string& path) {
  const std::string name = Override("HOSTSIM_QUARANTINE_ATTRIBUTE");
  return ExtendedAttribute(path, name.empty() ? QuarantineAttributeName() : name.c_str());
}

ProgramReport CheckPackageSignature(const std::string& path) {
  std::string program = Override("HOSTSIM_PKGUTIL");
  if (program.empty())
    program = SystemPackageChecker();
  if (program.empty())
    return ProgramReport();
  return RunCollectingOutput(program, {"--check-signature", path});
}
