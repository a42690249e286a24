// The Mac's side of the platform layer: Darwin calls. Linux builds compile it only against the
// test shim of the darwin-shim preset.
#include "platform.h"
#include "platform_system.h"

#include <copyfile.h>
#include <crt_externs.h>
#include <fcntl.h>
#include <libproc.h>
#include <mach-o/dyld.h>
#include <signal.h>
#include <sys/clonefile.h>
#include <sys/proc.h>
#include <sys/proc_info.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

const char* SystemOpener() {
  return "open";
}

std::string ExecutablePath() {
  // Asked for the size first: the host's path has no fixed limit.
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1, '\0');
  if (_NSGetExecutablePath(buffer.data(), &size) != 0)
    return std::string();
  return std::string(buffer.data());
}

bool ProcessIsRunning(pid_t pid) {
  if (pid <= 0)
    return false;
  if (kill(pid, 0) != 0 && errno == ESRCH)
    return false;
  proc_bsdinfo info{};
  // A non-zero argument makes XNU look among zombies too; with 0 a zombie is not found at all.
  if (proc_pidinfo(pid, PROC_PIDTBSDINFO, /*arg=*/1, &info, sizeof info) != static_cast<int>(sizeof info))
    return true;
  return info.pbi_status != SZOMB;
}

timespec ModificationTime(const struct stat& status) {
  return status.st_mtimespec;
}
timespec AccessTime(const struct stat& status) {
  return status.st_atimespec;
}

int CloneFileAt(int sourceFd, int folderFd, const char* name) {
  if (fclonefileat(sourceFd, folderFd, name, 0) == 0)
    return 0;
  // EINVAL: the file system cannot clone; callers copy the data instead.
  return errno == EINVAL ? ENOTSUP : errno;
}

int CopyFileData(int in, int out) {
  return fcopyfile(in, out, nullptr, COPYFILE_DATA) == 0 ? 0 : errno;
}

int FlushToStorage(int fd) {
  // fsync alone leaves the data in the drive's cache on macOS; F_FULLFSYNC is refused by some file
  // systems (network, FAT), where fsync is the most there is.
  if (fcntl(fd, F_FULLFSYNC) == 0)
    return 0;
  while (fsync(fd) != 0) {
    if (errno != EINTR)
      return errno;
  }
  return 0;
}

char** Environment() {
  // environ(7): a library or bundle has no environ of its own to link against.
  return *_NSGetEnviron();
}

const char* QuarantineAttributeName() {
  return "com.apple.quarantine";
}

int SetExtendedAttribute(const std::string& path, const char* name, const std::string& value) {
  return ::setxattr(path.c_str(), name, value.data(), value.size(), /*position=*/0, /*options=*/0) == 0
             ? 0
             : errno;
}

std::string ExtendedAttribute(const std::string& path, const char* name) {
  const ssize_t size = ::getxattr(path.c_str(), name, nullptr, 0, /*position=*/0, /*options=*/0);
  if (size <= 0)
    return std::string();
  std::string value(static_cast<std::size_t>(size), '\0');
  const ssize_t read = ::getxattr(path.c_str(), name, &value[0], value.size(), /*position=*/0, /*options=*/0);
  return read < 0 ? std::string() : value.substr(0, static_cast<std::size_t>(read));
}

const char* SystemPackageChecker() {
  return "/usr/sbin/pkgutil";
}
