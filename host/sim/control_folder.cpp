#include "control_folder.h"

#include "files.h"

#include "platform.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace hostsim {

namespace {

constexpr const char* kPrefix = "hostsim-control-";

// The process id in text made of digits only (and at most what a pid_t holds); 0 otherwise.
pid_t ParsePid(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  return static_cast<pid_t>(std::strtol(text.c_str(), nullptr, 10));
}

} // namespace

std::string MakeControlFolder(const std::string& tmpFolder) {
  std::string pattern = tmpFolder + "/" + kPrefix + std::to_string(getpid()) + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data()))
    return std::string();
  return buffer.data();
}

void SweepDeadControlFolders(const std::string& tmpFolder) {
  std::error_code ec;
  const std::string prefix = kPrefix;
  for (fs::directory_iterator it(tmpFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0)
      continue;
    const size_t dash = name.find('-', prefix.size());
    if (dash == std::string::npos)
      continue;
    const pid_t hostsim = ParsePid(name.substr(prefix.size(), dash - prefix.size()));
    if (hostsim <= 0 || ProcessIsRunning(hostsim))
      continue;
    // A hostsim killed while its host process runs on: the folder is still in use.
    std::string hostPid = ReadFile((it->path() / kHostPidFile).string());
    while (!hostPid.empty() && hostPid.back() == '\n')
      hostPid.pop_back();
    const pid_t host = ParsePid(hostPid);
    if (host > 0 && ProcessIsRunning(host))
      continue;
    std::error_code removeError;
    if (fs::is_directory(fs::symlink_status(it->path(), removeError)))
      fs::remove_all(it->path(), removeError);
  }
}

} // namespace hostsim
