// The Darwin calls of the shim, each done with its Linux equivalent.
//
// Switches, environment variables read at each call, make a call fail as Darwin fails it, so that the
// platform layer's branches for those failures run here. The value is an errno name (ENOTSUP, EXDEV,
// EEXIST, EINVAL, ENOTTY, EIO, ENOSPC), with ":COUNT" failing only the first COUNT calls of the process:
//   DARWIN_SHIM_CLONE_ERROR      fclonefileat (ENOTSUP: a file system that cannot clone; EXDEV: another
//                                volume; EEXIST: the name was taken meanwhile)
//   DARWIN_SHIM_FULLFSYNC_ERROR  fcntl(F_FULLFSYNC) (ENOTSUP, ENOTTY: a file system without it)
//   DARWIN_SHIM_FCOPYFILE_ERROR  fcopyfile
//   DARWIN_SHIM_SETXATTR_ERROR   setxattr (ENOTSUP: a file system without extended attributes)
// DARWIN_SHIM_RECORD names a file where the shim appends one line for each call a test must see made
// exactly as on a Mac, since Linux would let its mistakes pass: "setxattr NAME PATH" for each attribute
// written (the name as given) and "F_FULLFSYNC PATH" for each full flush asked (PATH: what the
// descriptor opens).
#include <copyfile.h>
#include <crt_externs.h>
#include <fcntl.h>
#include <libproc.h>
#include <mach-o/dyld.h>
#include <sys/clonefile.h>
#include <sys/proc.h>
#include <sys/xattr.h>

#include <linux/fs.h>
#include <sys/auxv.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

char*** _NSGetEnviron() {
  return &environ;
}

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

namespace {

// The errno a switch names ("ENOTSUP", ...); 0 for a name the shim does not know.
int ErrorNamed(const std::string& name) {
  const std::pair<const char*, int> known[] = {{"ENOTSUP", ENOTSUP}, {"EXDEV", EXDEV},   {"EEXIST", EEXIST},
                                               {"EINVAL", EINVAL},   {"ENOTTY", ENOTTY}, {"EIO", EIO},
                                               {"ENOSPC", ENOSPC}};
  for (const auto& entry : known) {
    if (name == entry.first)
      return entry.second;
  }
  return 0;
}

// The failure a switch (the environment variable name, "ERROR" or "ERROR:COUNT") asks of this call:
// the errno, or 0 to do the call. With a count, only the first COUNT calls of the process that see it
// fail (calls counts them).
int SwitchedFailure(const char* variable, std::atomic<int>& calls) {
  const char* value = std::getenv(variable);
  if (!value || !*value)
    return 0;
  const std::string text(value);
  const std::size_t colon = text.find(':');
  const int error = ErrorNamed(text.substr(0, colon));
  if (error == 0) {
    std::fprintf(stderr, "darwin shim: %s=%s names no error the shim knows\n", variable, value);
    std::abort();
  }
  if (colon != std::string::npos && calls.fetch_add(1) >= std::atoi(text.c_str() + colon + 1))
    return 0;
  return error;
}

// Darwin's attributes have no namespaces: any name is one, kept in Linux's user namespace.
std::string LinuxAttributeName(const char* name) {
  return "user." + std::string(name);
}

// Appends "WHAT TEXT PATH" to the DARWIN_SHIM_RECORD file, when one is named.
void Record(const std::string& what, const std::string& path) {
  const char* record = std::getenv("DARWIN_SHIM_RECORD");
  if (!record || !*record)
    return;
  const int fd = open(record, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    return;
  // One write, so that lines of concurrent calls do not mix.
  const std::string line = what + " " + path + "\n";
  if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
    std::fprintf(stderr, "darwin shim: cannot write to %s\n", record);
  close(fd);
}

// What the descriptor opens, as Linux names it.
std::string PathOf(int fd) {
  char path[4096];
  const ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
  return length < 0 ? "?" : std::string(path, static_cast<std::size_t>(length));
}

std::atomic<int> g_cloneCalls{0};
std::atomic<int> g_fullSyncCalls{0};
std::atomic<int> g_copyCalls{0};
std::atomic<int> g_setxattrCalls{0};

// The data from from's position to its end onto to: in the kernel where it can, else by reading.
int CopyData(int from, int to) {
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

} // namespace

int fcopyfile(int from, int to, copyfile_state_t state, copyfile_flags_t flags) {
  if (state || flags != COPYFILE_DATA) {
    errno = EINVAL;
    return -1;
  }
  if (const int error = SwitchedFailure("DARWIN_SHIM_FCOPYFILE_ERROR", g_copyCalls)) {
    errno = error;
    return -1;
  }
  return CopyData(from, to);
}

int fclonefileat(int srcfd, int dst_dirfd, const char* name, uint32_t flags) {
  if (flags != 0) {
    errno = EINVAL;
    return -1;
  }
  if (const int error = SwitchedFailure("DARWIN_SHIM_CLONE_ERROR", g_cloneCalls)) {
    errno = error;
    return -1;
  }
  struct stat source {};
  if (fstat(srcfd, &source) != 0)
    return -1;
  if (!S_ISREG(source.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  const int out =
      openat(dst_dirfd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, source.st_mode & 07777);
  if (out < 0)
    return -1;
  // A clone holds the whole file whatever the source descriptor's position; where the file system
  // cannot share storage (ext4) a copy is what a clone looks like from outside.
  int result = ioctl(out, FICLONE, srcfd);
  if (result != 0) {
    const off_t position = lseek(srcfd, 0, SEEK_CUR);
    result = position < 0 || lseek(srcfd, 0, SEEK_SET) != 0 ? -1 : CopyData(srcfd, out);
    const int error = errno;
    if (position >= 0)
      lseek(srcfd, position, SEEK_SET);
    errno = error;
  }
  if (result == 0)
    return close(out);
  const int error = errno;
  close(out);
  unlinkat(dst_dirfd, name, 0);
  errno = error;
  return -1;
}

int proc_pidinfo(int pid, int flavor, uint64_t arg, void* buffer, int buffersize) {
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
  const bool zombie = close[2] == 'Z' || close[2] == 'X';
  // XNU looks a zombie up for this flavour only when arg is non-zero; otherwise there is no such process.
  if (zombie && arg == 0) {
    errno = ESRCH;
    return 0;
  }
  proc_bsdinfo info{};
  info.pbi_pid = static_cast<uint32_t>(pid);
  info.pbi_status = zombie ? SZOMB : close[2] == 'T' ? SSTOP : SRUN;
  std::memcpy(buffer, &info, sizeof info);
  return static_cast<int>(sizeof info);
}

int darwin_shim_fcntl(int fd, int command, ...) {
  if (command != F_FULLFSYNC) {
    errno = EINVAL;
    return -1;
  }
  Record("F_FULLFSYNC", PathOf(fd));
  if (const int error = SwitchedFailure("DARWIN_SHIM_FULLFSYNC_ERROR", g_fullSyncCalls)) {
    errno = error;
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
  Record(std::string("setxattr ") + name, path);
  if (const int error = SwitchedFailure("DARWIN_SHIM_SETXATTR_ERROR", g_setxattrCalls)) {
    errno = error;
    return -1;
  }
  return ::setxattr(path, LinuxAttributeName(name).c_str(), value, size, 0);
}

ssize_t getxattr(const char* path, const char* name, void* value, size_t size, uint32_t position,
                 int options) {
  if (position != 0 || options != 0) {
    errno = EINVAL;
    return -1;
  }
  return ::getxattr(path, LinuxAttributeName(name).c_str(), value, size);
}
