#include "file_copy.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#if defined(__APPLE__)
#include <copyfile.h>
#include <sys/clonefile.h>
#else
#include <sys/sendfile.h>
#endif

namespace filecopy {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const char* operation, const std::string& path, int error) {
  throw fs::filesystem_error(operation, fs::path(path), std::error_code(error, std::generic_category()));
}

[[noreturn]] void Fail(const char* operation, const std::string& source, const std::string& target,
                       int error) {
  throw fs::filesystem_error(operation, fs::path(source), fs::path(target),
                             std::error_code(error, std::generic_category()));
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty())
    return name;
  if (folder.back() == '/')
    return folder + name;
  return folder + "/" + name;
}

// A name in an open folder. Its path is built only when an error has to name it: the warm path of a
// copy makes no strings.
struct Entry {
  int folderFd;
  const std::string& folder;
  const char* name;

  std::string path() const { return Join(folder, name); }
};

// Takes the error before naming the entries: building a path allocates, and an allocation may change
// errno, which callers pass as it stands after the failed call.
[[noreturn]] void Fail(const char* operation, const Entry& entry, int error) {
  Fail(operation, entry.path(), error);
}

[[noreturn]] void Fail(const char* operation, const Entry& source, const Entry& target, int error) {
  Fail(operation, source.path(), target.path(), error);
}

// An open file descriptor, closed when it goes out of scope.
class Descriptor {
public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() {
    if (m_fd >= 0)
      ::close(m_fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  // Closes now and reports the result, which for a written file can carry a late write error.
  int close() {
    const int result = ::close(m_fd);
    m_fd = -1;
    return result;
  }

private:
  int m_fd;
};

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

timespec ModificationTime(const struct stat& status) {
#if defined(__APPLE__)
  return status.st_mtimespec;
#else
  return status.st_mtim;
#endif
}

timespec AccessTime(const struct stat& status) {
#if defined(__APPLE__)
  return status.st_atimespec;
#else
  return status.st_atim;
#endif
}

bool Older(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Removes the temporary file unless the rename has consumed it.
class TemporaryName {
public:
  TemporaryName(int folderFd, std::string name) : m_folderFd(folderFd), m_name(std::move(name)) {}
  ~TemporaryName() {
    if (!m_name.empty())
      unlinkat(m_folderFd, m_name.c_str(), 0);
  }
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;

  const char* c_str() const { return m_name.c_str(); }
  void release() { m_name.clear(); }

private:
  int m_folderFd;
  std::string m_name;
};

// A name for a temporary file beside the target: hidden, recognisable, unique within this process and
// short enough for any file system.
std::string TemporaryNameFor(const std::string& name, unsigned attempt) {
  static unsigned counter = 0;
  // At most 180 bytes of the name, cut before a character rather than inside one: file systems that
  // insist on UTF-8 names refuse half a Czech letter.
  std::size_t kept = std::min<std::size_t>(name.size(), 180);
  while (kept > 0 && kept < name.size() && (static_cast<unsigned char>(name[kept]) & 0xC0) == 0x80)
    --kept;
  return ".orvandel-" + name.substr(0, kept) + "." + std::to_string(getpid()) + "." +
         std::to_string(++counter) + "." + std::to_string(attempt);
}

// Takes ".<digits>" off the end of text; false when text does not end so.
bool TakeNumber(std::string_view& text, unsigned long long* number) {
  const std::size_t dot = text.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == text.size() || text.size() - dot > 20)
    return false;
  unsigned long long value = 0;
  for (const char digit : text.substr(dot + 1)) {
    if (digit < '0' || digit > '9')
      return false;
    value = value * 10 + static_cast<unsigned long long>(digit - '0');
  }
  *number = value;
  text = text.substr(0, dot);
  return true;
}

// A temporary file of TemporaryNameFor whose process no longer runs: a copy killed between writing
// it and renaming it left it behind. Those of running processes (another host copying) are kept.
bool IsStaleTemporary(const char* name) {
  static constexpr char kPrefix[] = ".orvandel-";
  if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0)
    return false;
  std::string_view rest(name + sizeof kPrefix - 1);
  unsigned long long attempt = 0;
  unsigned long long counter = 0;
  unsigned long long process = 0;
  if (!TakeNumber(rest, &attempt) || !TakeNumber(rest, &counter) || !TakeNumber(rest, &process))
    return false;
  const auto pid = static_cast<pid_t>(process);
  if (pid <= 0 || static_cast<unsigned long long>(pid) != process || pid == getpid())
    return false;
  return kill(pid, 0) != 0 && errno == ESRCH;
}

// Removes the stale temporary files from the target folder of a copy, so that a copy run again after
// a crash leaves the folder as an untroubled copy does. Best effort: a folder that cannot be listed
// is left as it is, and the copy itself reports what fails.
void SweepStaleTemporaries(int folderFd) {
  const int listingFd = fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
  if (listingFd < 0)
    return;
  const DirHandle listing(fdopendir(listingFd));
  if (!listing) {
    ::close(listingFd);
    return;
  }
  while (const dirent* entry = readdir(listing.get())) {
    if (IsStaleTemporary(entry->d_name))
      unlinkat(folderFd, entry->d_name, 0);
  }
}

#if !defined(__APPLE__)
// Copies everything from in's position to its end into out, in the kernel where it can.
void CopyData(int in, int out, const Entry& source, const Entry& target) {
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
        Fail("copy", source, target, errno);
      for (ssize_t written = 0; written < copied;) {
        const ssize_t result = write(out, buffer + written, static_cast<size_t>(copied - written));
        if (result < 0 && errno == EINTR)
          continue;
        if (result < 0)
          Fail("copy", source, target, errno);
        written += result;
      }
    }
    if (copied < 0 && errno == EINTR)
      continue;
    if (copied < 0)
      Fail("copy", source, target, errno);
    if (copied == 0)
      return;
  }
}
#endif

// Makes the temporary file in the target folder from the source file and gives it the source's
// permission bits and times. Returns the temporary's name, or throws having removed it.
std::string WriteTemporary(const Entry& source, const Entry& target) {
  const Descriptor in(openat(source.folderFd, source.name, O_RDONLY | O_CLOEXEC));
  if (!in.valid())
    Fail("open", source, errno);
  struct stat status {};
  if (fstat(in.get(), &status) != 0)
    Fail("status", source, errno);
  if (!S_ISREG(status.st_mode))
    Fail("copy", source, S_ISDIR(status.st_mode) ? EISDIR : ENOTSUP);
  const timespec times[2] = {AccessTime(status), ModificationTime(status)};

  for (unsigned attempt = 0;; ++attempt) {
    std::string temporary = TemporaryNameFor(target.name, attempt);
#if defined(__APPLE__)
    // A clone shares the source's blocks until either is changed: the copy is almost free.
    if (fclonefileat(in.get(), target.folderFd, temporary.c_str(), 0) == 0) {
      TemporaryName guard(target.folderFd, temporary);
      if (fchmodat(target.folderFd, temporary.c_str(), status.st_mode & 0777, 0) != 0 ||
          utimensat(target.folderFd, temporary.c_str(), times, 0) != 0)
        Fail("copy", source, target, errno);
      guard.release();
      return temporary;
    }
    if (errno == EEXIST)
      continue;
    if (errno != ENOTSUP && errno != EXDEV && errno != EINVAL)
      Fail("copy", source, target, errno);
#endif
    Descriptor out(openat(target.folderFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!out.valid() && errno == EEXIST)
      continue;
    if (!out.valid())
      Fail("copy", source, target, errno);
    TemporaryName guard(target.folderFd, temporary);
#if defined(__APPLE__)
    if (fcopyfile(in.get(), out.get(), nullptr, COPYFILE_DATA) != 0)
      Fail("copy", source, target, errno);
#else
    CopyData(in.get(), out.get(), source, target);
#endif
    if (fchmod(out.get(), status.st_mode & 0777) != 0 || futimens(out.get(), times) != 0)
      Fail("copy", source, target, errno);
    if (out.close() != 0)
      Fail("copy", source, target, errno);
    guard.release();
    return temporary;
  }
}

// The rule for one file: the source (already known to be a regular file, links followed) replaces a
// missing, dangling or older target.
void CopyFileAt(const Entry& source, const struct stat& sourceStatus, const Entry& target) {
  struct stat targetStatus {};
  if (fstatat(target.folderFd, target.name, &targetStatus, 0) == 0) {
    if (S_ISDIR(targetStatus.st_mode))
      Fail("copy", source, target, EISDIR);
    if (!Older(ModificationTime(targetStatus), ModificationTime(sourceStatus)))
      return;
  } else if (errno != ENOENT && errno != ELOOP) {
    // ENOENT also covers a dangling link and ELOOP a link loop: both are replaced like a missing file.
    Fail("status", target, errno);
  }

  const std::string temporary = WriteTemporary(source, target);
  TemporaryName guard(target.folderFd, temporary);
  if (renameat(target.folderFd, temporary.c_str(), target.folderFd, target.name) != 0)
    Fail("copy", source, target, errno);
  guard.release();
}

using FolderIdentity = std::pair<dev_t, ino_t>;

// Copies the entries of one source folder, but for the entry named heldBack (when not null);
// `ancestors` holds the source folders being copied above it, the folder itself included.
void CopyEntries(int sourceFd, const std::string& source, int targetFd, const std::string& target,
                 std::vector<FolderIdentity>& ancestors, const char* heldBack) {
  SweepStaleTemporaries(targetFd);
  // The listing gets its own descriptor: closedir closes it, and sourceFd stays usable for openat.
  const int listingFd = fcntl(sourceFd, F_DUPFD_CLOEXEC, 0);
  if (listingFd < 0)
    Fail("list", source, errno);
  const DirHandle listing(fdopendir(listingFd));
  if (!listing) {
    const int error = errno;
    ::close(listingFd);
    Fail("list", source, error);
  }

  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing.get());
    if (!entry) {
      if (errno != 0)
        Fail("list", source, errno);
      return;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
      continue;
    if (heldBack && std::strcmp(name, heldBack) == 0)
      continue;
    const Entry sourceEntry{sourceFd, source, name};
    const Entry targetEntry{targetFd, target, name};

    struct stat status {};
    if (fstatat(sourceFd, name, &status, 0) != 0)
      Fail("status", sourceEntry, errno);

    if (S_ISREG(status.st_mode)) {
      CopyFileAt(sourceEntry, status, targetEntry);
      continue;
    }
    const std::string sourcePath = sourceEntry.path();
    const std::string targetPath = targetEntry.path();
    if (!S_ISDIR(status.st_mode))
      Fail("copy", sourcePath, ENOTSUP);

    const FolderIdentity identity{status.st_dev, status.st_ino};
    for (const FolderIdentity& ancestor : ancestors) {
      if (ancestor == identity)
        Fail("copy", sourcePath, ELOOP);
    }
    const Descriptor childSource(openat(sourceFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!childSource.valid())
      Fail("open", sourcePath, errno);
    // The owner keeps write and search rights, so that a read-only source folder can still be filled.
    if (mkdirat(targetFd, name, (status.st_mode & 0777) | S_IRWXU) != 0 && errno != EEXIST)
      Fail("create folder", targetPath, errno);
    const Descriptor childTarget(openat(targetFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!childTarget.valid())
      Fail("open", targetPath, errno);

    ancestors.push_back(identity);
    CopyEntries(childSource.get(), sourcePath, childTarget.get(), targetPath, ancestors, nullptr);
    ancestors.pop_back();
  }
}

// The folder part and the last name of a file path ("a/b" gives "a" and "b", "b" gives "" and "b").
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return {std::string(), path};
  return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

} // namespace

void CopyFileUpdating(const std::string& source, const std::string& target) {
  const auto [sourceFolder, sourceName] = SplitPath(source);
  const auto [targetFolder, targetName] = SplitPath(target);
  if (sourceName.empty())
    Fail("copy", source, EISDIR);
  if (targetName.empty())
    Fail("copy", target, EISDIR);

  const Descriptor sourceFd(
      open(sourceFolder.empty() ? "." : sourceFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!sourceFd.valid())
    Fail("copy", source, errno);
  struct stat status {};
  if (fstatat(sourceFd.get(), sourceName.c_str(), &status, 0) != 0)
    Fail("copy", source, errno);
  if (!S_ISREG(status.st_mode))
    Fail("copy", source, S_ISDIR(status.st_mode) ? EISDIR : ENOTSUP);
  const Descriptor targetFd(
      open(targetFolder.empty() ? "." : targetFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!targetFd.valid())
    Fail("copy", target, errno);
  SweepStaleTemporaries(targetFd.get());
  CopyFileAt(Entry{sourceFd.get(), sourceFolder, sourceName.c_str()}, status,
             Entry{targetFd.get(), targetFolder, targetName.c_str()});
}

void CopyFolderUpdating(const std::string& source, const std::string& target, const std::string& heldBack) {
  const Descriptor sourceFd(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!sourceFd.valid())
    Fail("copy", source, errno);
  struct stat status {};
  if (fstat(sourceFd.get(), &status) != 0)
    Fail("status", source, errno);
  if (!S_ISDIR(status.st_mode))
    Fail("copy", source, ENOTDIR);

  if (mkdir(target.c_str(), (status.st_mode & 0777) | S_IRWXU) != 0 && errno != EEXIST)
    Fail("create folder", target, errno);
  const Descriptor targetFd(open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!targetFd.valid())
    Fail("open", target, errno);

  std::vector<FolderIdentity> ancestors{{status.st_dev, status.st_ino}};
  CopyEntries(sourceFd.get(), source, targetFd.get(), target, ancestors,
              heldBack.empty() ? nullptr : heldBack.c_str());
}

} // namespace filecopy
