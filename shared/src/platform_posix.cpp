#include "platform.h"
#include "platform_system.h"

#include "product_constants.h"

#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

} // namespace

std::string SystemPath(const std::string& macPath) { return Override("HOSTSIM_MAC_ROOT") + macPath; }

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
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR)
      return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ServerBaseUrl() {
  std::string value = Override("HOSTSIM_SERVER_BASE_URL");
  return value.empty() ? std::string(product::kServerBaseUrl) : value;
}

std::string ServerCaFile() { return Override("HOSTSIM_CA_FILE"); }
