// The Darwin calls of the shim, each done with its Linux equivalent.
#include <copyfile.h>
#include <fcntl.h>
#include <libproc.h>
#include <mach-o/dyld.h>
#include <sys/clonefile.h>
#include <sys/proc.h>
#include <sys/xattr.h>

#include <linux/fs.h>
#include <sys/auxv.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

int _NSGetExecutablePath(char* buf, uint32_t* bufsize) {
  const auto* path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (!path)
    path = "";
  const auto needed = static_cast<uint32_t>(std::strlen(path) + 1);
  if (!buf || *bufsize < needed) {
    *bufsize = needed;
    return -1;
  }
  std::memcpy(buf, path, needed);
  return 0;
}

int fcopyfile(int from, int to, copyfile_state_t state, copyfile_flags_t flags) {
  if (state || flags != COPYFILE_DATA) {
    errno = EINVAL;
    return -1;
  }
  bool inKernel = true;
  for (;;) {
    ssize_t copied = 0;
    if (inKernel) {
      copied = copy_file_range(from, nullptr, to, nullptr, size_t{1} << 30, 0);
      if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)) {
        inKernel = false;
        continue;
      }
    } else {
      char buffer[65536];
      copied = read(from, buffer, sizeof buffer);
      for (ssize_t written = 0; copied > 0 && written < copied;) {
        const ssize_t result = write(to, buffer + written, static_cast<size_t>(copied - written));
        if (result < 0 && errno != EINTR)
          return -1;
        if (result > 0)
          written += result;
      }
    }
    if (copied < 0 && errno == EINTR)
      continue;
    if (copied <= 0)
      return copied == 0 ? 0 : -1;
  }
}

int fclonefileat(int srcfd, int dst_dirfd, const char* name, uint32_t flags) {
  if (flags != 0) {
    errno = EINVAL;
    return -1;
  }
  const int out = openat(dst_dirfd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0)
    return -1;
  if (ioctl(out, FICLONE, srcfd) == 0)
    return close(out);
  // Darwin reports a file system that cannot clone as ENOTSUP.
  const int error = errno == EOPNOTSUPP || errno == ENOTTY || errno == EINVAL ? ENOTSUP : errno;
  close(out);
  unlinkat(dst_dirfd, name, 0);
  errno = error;
  return -1;
}

int proc_pidinfo(int pid, int flavor, uint64_t /*arg*/, void* buffer, int buffersize) {
  if (flavor != PROC_PIDTBSDINFO || buffersize < static_cast<int>(sizeof(proc_bsdinfo))) {
    errno = EINVAL;
    return 0;
  }
  std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "re");
  if (!stat)
    return 0;
  char line[512];
  const std::size_t length = std::fread(line, 1, sizeof line - 1, stat);
  std::fclose(stat);
  line[length] = '\0';
  // The state follows the command name, which may itself hold blanks and parentheses.
  const char* close = std::strrchr(line, ')');
  if (!close || close[1] != ' ' || close[2] == '\0') {
    errno = ESRCH;
    return 0;
  }
  proc_bsdinfo info{};
  info.pbi_pid = static_cast<uint32_t>(pid);
  info.pbi_status = close[2] == 'Z' || close[2] == 'X' ? SZOMB : close[2] == 'T' ? SSTOP : SRUN;
  std::memcpy(buffer, &info, sizeof info);
  return static_cast<int>(sizeof info);
}

int darwin_shim_fcntl(int fd, int command, ...) {
  if (command != F_FULLFSYNC) {
    errno = EINVAL;
    return -1;
  }
  return fsync(fd);
}

int setxattr(const char* path, const char* name, const void* value, size_t size, uint32_t position,
             int options) {
  if (position != 0 || options != 0) {
    errno = EINVAL;
    return -1;
  }
  const std::string system = "com.apple.";
  const std::string linuxName =
      std::strncmp(name, system.c_str(), system.size()) == 0 ? "user." + std::string(name) : name;
  return ::setxattr(path, linuxName.c_str(), value, size, 0);
}
