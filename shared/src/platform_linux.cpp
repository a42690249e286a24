// The simulated Mac's side of the platform layer: Linux calls.
#include "platform.h"
#include "platform_system.h"

#include "unique_handles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/sendfile.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

const char* SystemOpener() {
  return "xdg-open";
}

std::string ExecutablePath() {
  const auto* path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  return path ? std::string(path) : std::string();
}

bool ProcessIsRunning(pid_t pid) {
  if (pid <= 0)
    return false;
  if (kill(pid, 0) != 0 && errno == ESRCH)
    return false;
  // The state follows the command name, which may itself hold blanks and parentheses.
  const UniqueFile stat(std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "re"));
  if (!stat)
    return true;
  char buffer[512];
  const std::size_t length = std::fread(buffer, 1, sizeof buffer - 1, stat.get());
  buffer[length] = '\0';
  const char* close = std::strrchr(buffer, ')');
  if (!close || close[1] != ' ')
    return true;
  return close[2] != 'Z' && close[2] != 'X';
}

timespec ModificationTime(const struct stat& status) {
  return status.st_mtim;
}
timespec AccessTime(const struct stat& status) {
  return status.st_atim;
}

int CloneFileAt(int /*sourceFd*/, int /*folderFd*/, const char* /*name*/) {
  return ENOTSUP;
}

int CopyFileData(int in, int out) {
  constexpr size_t kChunk = size_t{1} << 30;
  bool useRange = true;
  bool useSendfile = true;
  for (;;) {
    ssize_t copied = 0;
    if (useRange) {
      copied = copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
      if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
        useRange = false;
        continue;
      }
    } else if (useSendfile) {
      copied = sendfile(out, in, nullptr, kChunk);
      if (copied < 0 && (errno == EINVAL || errno == ENOSYS)) {
        useSendfile = false;
        continue;
      }
    } else {
      char buffer[65536];
      copied = read(in, buffer, sizeof buffer);
      if (copied < 0 && errno == EINTR)
        continue;
      if (copied < 0)
        return errno;
      for (ssize_t written = 0; written < copied;) {
        const ssize_t result = write(out, buffer + written, static_cast<size_t>(copied - written));
        if (result < 0 && errno == EINTR)
          continue;
        if (result < 0)
          return errno;
        written += result;
      }
    }
    if (copied < 0 && errno == EINTR)
      continue;
    if (copied < 0)
      return errno;
    if (copied == 0)
      return 0;
  }
}

int FlushToStorage(int fd) {
  while (fsync(fd) != 0) {
    if (errno != EINTR)
      return errno;
  }
  return 0;
}

char** Environment() {
  return environ;
}

const char* QuarantineAttributeName() {
  // ext4 and tmpfs keep attributes of the user namespace only.
  return "user.com.apple.quarantine";
}

int SetExtendedAttribute(const std::string& path, const char* name, const std::string& value) {
  return ::setxattr(path.c_str(), name, value.data(), value.size(), 0) == 0 ? 0 : errno;
}

std::string ExtendedAttribute(const std::string& path, const char* name) {
  const ssize_t size = ::getxattr(path.c_str(), name, nullptr, 0);
  if (size <= 0)
    return std::string();
  std::string value(static_cast<std::size_t>(size), '\0');
  const ssize_t read = ::getxattr(path.c_str(), name, &value[0], value.size());
  return read < 0 ? std::string() : value.substr(0, static_cast<std::size_t>(read));
}

const char* SystemPackageChecker() {
  return "";
}
