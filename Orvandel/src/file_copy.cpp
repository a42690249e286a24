#include "file_copy.h"

#include <path.h>
#include <platform.h>
#include <temporary_file.h>
#include <unique_handles.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace filecopy {
namespace {

constexpr const char* kOpening = "otevření";
constexpr const char* kStatus = "zjištění stavu";
constexpr const char* kCopying = "kopírování";
constexpr const char* kCreatingFolder = "vytvoření složky";
constexpr const char* kListing = "čtení složky";

// A name in an open folder. Its path is built only when an error has to name it: the warm path of a
// copy makes no strings.
struct Entry {
  int folderFd;
  const std::string& folder;
  const char* name;

  std::string path() const { return JoinPath(folder, name); }
};

// The shared Fail for entries of an open folder: the error comes as a value before the entries are
// named, since building a path allocates and an allocation may change errno.
bool Fail(int error, const char* action, const Entry& entry, Failure& failure) {
  return Fail(error, action, entry.path(), failure);
}

bool Fail(int error, const char* action, const Entry& source, const Entry& target, Failure& failure) {
  return Fail(error, action, source.path(), target.path(), failure);
}

bool Older(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// A file copied to its temporary, waiting to be renamed over its target.
struct Prepared {
  TemporaryFile temporary;
  std::string name;       // in the target folder
  std::string sourcePath; // for errors
  Placed placed;          // the target's path and the status it will have
};

// How many files of a folder are renamed together when a journal keeps account of them: the journal
// writes one entry per batch, not per file.
constexpr std::size_t kBatchFiles = 256;

// Makes a temporary file in the folder open as stagingFd (the target's folder, or the journal's staging
// folder on the same file system) from the source file, a clone where the file system can, with the
// source's permission bits and times. False having removed it.
bool PrepareCopy(const Entry& source, const Entry& target, int stagingFd, std::vector<Prepared>& batch,
                 Failure& failure) {
  const UniqueFd in(openat(source.folderFd, source.name, O_RDONLY | O_CLOEXEC));
  if (!in.valid())
    return Fail(errno, kOpening, source, failure);
  struct stat status {};
  if (fstat(in.get(), &status) != 0)
    return Fail(errno, kStatus, source, failure);
  if (!S_ISREG(status.st_mode))
    return Fail(S_ISDIR(status.st_mode) ? EISDIR : ENOTSUP, kCopying, source, failure);
  const timespec times[2] = {AccessTime(status), ModificationTime(status)};

  bool cloneRefused = false;
  TemporaryFile temporary = TemporaryFile::MakeIn(stagingFd, target.name, [&](int folder, const char* name) {
    const int error = CloneFileAt(in.get(), folder, name);
    cloneRefused = error == ENOTSUP || error == EXDEV;
    return error;
  });
  if (temporary.valid()) {
    if (fchmodat(stagingFd, temporary.name().c_str(), status.st_mode & 0777, 0) != 0 ||
        utimensat(stagingFd, temporary.name().c_str(), times, 0) != 0)
      return Fail(errno, kCopying, source, target, failure);
  } else {
    if (!cloneRefused)
      return Fail(temporary.error(), kCopying, source, target, failure);
    temporary = TemporaryFile::CreateIn(stagingFd, target.name);
    if (!temporary.valid())
      return Fail(temporary.error(), kCopying, source, target, failure);
    if (const int error = CopyFileData(in.get(), temporary.fd()))
      return Fail(error, kCopying, source, target, failure);
    if (fchmod(temporary.fd(), status.st_mode & 0777) != 0 || futimens(temporary.fd(), times) != 0)
      return Fail(errno, kCopying, source, target, failure);
    // Closed without a flush, as cp closes its copies: flushing each of thousands of files would
    // multiply the installation's time. The close still reports a late write error.
    if (UniqueFd(temporary.releaseFd()).close() != 0)
      return Fail(errno, kCopying, source, target, failure);
  }
  // The temporary as it stands is what the target will be: the file system's own rounding of the
  // times included.
  struct stat placed {};
  if (fstatat(stagingFd, temporary.name().c_str(), &placed, AT_SYMLINK_NOFOLLOW) != 0)
    return Fail(errno, kCopying, source, target, failure);
  batch.push_back(Prepared{std::move(temporary), target.name, source.path(), Placed{target.path(), placed}});
  return true;
}

// Renames the batch's temporaries over their targets in the folder open as targetFd. With a journal,
// the targets are removed and the journal told first.
bool CommitBatch(int targetFd, std::vector<Prepared>& batch, CopyJournal* journal, Failure& failure) {
  if (batch.empty())
    return true;
  if (journal) {
    std::vector<Placed> files;
    files.reserve(batch.size());
    for (const Prepared& file : batch) {
      if (unlinkat(targetFd, file.name.c_str(), 0) != 0 && errno != ENOENT)
        return Fail(errno, kCopying, file.sourcePath, file.placed.path, failure);
      files.push_back(file.placed);
    }
    if (!journal->Replacing(files, failure))
      return false;
  }
  for (Prepared& file : batch) {
    if (const int error = file.temporary.commitInto(targetFd, file.name))
      return Fail(error, kCopying, file.sourcePath, file.placed.path, failure);
  }
  batch.clear();
  return true;
}

// Renames what a batch holds when a copy ends early (stopped, or failed on a later file), so that the
// files before the end stay copied; the copy reports its own end, not a failure of this.
void CommitBeforeEnding(int targetFd, std::vector<Prepared>& batch, CopyJournal* journal) {
  Failure ignored;
  CommitBatch(targetFd, batch, journal, ignored);
}

// The folder for the temporaries of copies into the folder open as targetFd: the journal's staging
// folder when it lies on the same file system, else the target folder itself.
int StagingFor(CopyJournal* journal, int targetFd) {
  const int staging = journal ? journal->StagingFolder() : -1;
  struct stat stagingStatus {};
  struct stat targetStatus {};
  if (staging < 0 || fstat(staging, &stagingStatus) != 0 || fstat(targetFd, &targetStatus) != 0 ||
      stagingStatus.st_dev != targetStatus.st_dev)
    return targetFd;
  return staging;
}

// Tells the journal of the file at target as it stands. A link there (found in place, not placed)
// and a file removed again at once by someone else are not told.
void ReportFound(CopyJournal& journal, const Entry& target) {
  struct stat status {};
  if (fstatat(target.folderFd, target.name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode))
    journal.FoundInPlace(Placed{target.path(), status});
}

// The rule for one file: the source (already known to be a regular file, links followed) replaces a
// missing, dangling or older target; the replacement joins the batch, which is renamed once full
// (at once without a journal).
bool CopyFileAt(const Entry& source, const struct stat& sourceStatus, const Entry& target, int stagingFd,
                CopyJournal* journal, std::vector<Prepared>& batch, Failure& failure) {
  struct stat targetStatus {};
  if (fstatat(target.folderFd, target.name, &targetStatus, 0) == 0) {
    if (S_ISDIR(targetStatus.st_mode))
      return Fail(EISDIR, kCopying, source, target, failure);
    const timespec targetTime = ModificationTime(targetStatus);
    const timespec sourceTime = ModificationTime(sourceStatus);
    if (!Older(targetTime, sourceTime)) {
      if (journal && !Older(sourceTime, targetTime) && targetStatus.st_size == sourceStatus.st_size)
        ReportFound(*journal, target);
      return true;
    }
  } else if (errno != ENOENT && errno != ELOOP) {
    // ENOENT also covers a dangling link and ELOOP a link loop: both are replaced like a missing file.
    return Fail(errno, kStatus, target, failure);
  }

  if (!PrepareCopy(source, target, stagingFd, batch, failure))
    return false;
  if (journal && batch.size() < kBatchFiles)
    return true;
  return CommitBatch(target.folderFd, batch, journal, failure);
}

using FolderIdentity = std::pair<dev_t, ino_t>;

// A source folder met on the way, and the one it lies in (kNone for the top folder): the chain of a
// folder's ancestors, to recognise a link that leads back into one of them.
struct Visited {
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  FolderIdentity identity;
  std::size_t parent;
};

// A folder still to copy: its source and target paths and its place among the visited folders.
struct PendingFolder {
  std::string source;
  std::string target;
  std::size_t visited;
};

bool OpenFolder(const std::string& path, UniqueFd& fd, Failure& failure) {
  fd = UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.valid() || Fail(errno, kOpening, path, failure);
}

// Creates the folder name in the folder open as parentFd (path names it for the journal and errors)
// when missing, with the source's permission bits; the owner keeps write and search rights, so that
// a read-only source folder can still be filled. The journal hears of the folder before it is made,
// so that a kill right after cannot leave it unrecorded.
bool MakeTargetFolder(int parentFd, const char* name, const std::string& path, mode_t sourceMode,
                      CopyJournal* journal, Failure& failure) {
  if (journal) {
    struct stat existing {};
    if (fstatat(parentFd, name, &existing, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT &&
        !journal->CreatingFolder(path, failure))
      return false;
  }
  return mkdirat(parentFd, name, (sourceMode & 0777) | S_IRWXU) == 0 || errno == EEXIST ||
         Fail(errno, kCreatingFolder, path, failure);
}

// Copies the files of one folder and gives its sub-folders, in listing order, to be copied after
// it; the entry named heldBack (when not null) is left out. Holds the two folders, the listing and
// the descriptors of one file copy: a bounded number whatever the depth.
bool CopyFolderFiles(const PendingFolder& folder, std::vector<Visited>& visited, const char* heldBack,
                     CopyJournal* journal, const BetweenFiles& betweenFiles,
                     std::vector<PendingFolder>& subFolders, Failure& failure) {
  UniqueFd sourceFd;
  UniqueFd targetFd;
  if (!OpenFolder(folder.source, sourceFd, failure) || !OpenFolder(folder.target, targetFd, failure))
    return false;
  // Temporaries of copies that a kill ended are removed, so that a run again leaves the folder as an
  // untroubled copy does.
  SweepDeadTemporaries(targetFd.get());
  // The listing gets its own descriptor: closedir closes it, and sourceFd stays usable for openat.
  const int listingFd = fcntl(sourceFd.get(), F_DUPFD_CLOEXEC, 0);
  if (listingFd < 0)
    return Fail(errno, kListing, folder.source, failure);
  const UniqueDir listing(fdopendir(listingFd));
  if (!listing) {
    const int error = errno;
    ::close(listingFd);
    return Fail(error, kListing, folder.source, failure);
  }

  const int stagingFd = StagingFor(journal, targetFd.get());
  std::vector<Prepared> batch;
  // Ends the folder's copy early: the files copied so far are renamed first.
  const auto endEarly = [&] {
    CommitBeforeEnding(targetFd.get(), batch, journal);
    return false;
  };
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing.get());
    if (!entry) {
      if (errno != 0) {
        Fail(errno, kListing, folder.source, failure);
        return endEarly();
      }
      return CommitBatch(targetFd.get(), batch, journal, failure);
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
      continue;
    if (heldBack && std::strcmp(name, heldBack) == 0)
      continue;
    const Entry sourceEntry{sourceFd.get(), folder.source, name};
    const Entry targetEntry{targetFd.get(), folder.target, name};

    struct stat status {};
    if (fstatat(sourceFd.get(), name, &status, 0) != 0) {
      Fail(errno, kStatus, sourceEntry, failure);
      return endEarly();
    }

    if (S_ISREG(status.st_mode)) {
      if (betweenFiles && !betweenFiles()) {
        failure = Failure{kCopying, sourceEntry.path(), CopyError::stopped, std::string()};
        return endEarly();
      }
      if (!CopyFileAt(sourceEntry, status, targetEntry, stagingFd, journal, batch, failure))
        return endEarly();
      continue;
    }
    std::string sourcePath = sourceEntry.path();
    if (!S_ISDIR(status.st_mode)) {
      Fail(ENOTSUP, kCopying, sourcePath, failure);
      return endEarly();
    }

    const FolderIdentity identity{status.st_dev, status.st_ino};
    for (std::size_t ancestor = folder.visited; ancestor != Visited::kNone;
         ancestor = visited[ancestor].parent) {
      if (visited[ancestor].identity == identity) {
        failure = Failure{kCopying, sourcePath, CopyError::linkLoop, std::string()};
        return endEarly();
      }
    }
    std::string targetPath = targetEntry.path();
    if (!MakeTargetFolder(targetFd.get(), name, targetPath, status.st_mode, journal, failure))
      return endEarly();
    visited.push_back(Visited{identity, folder.visited});
    subFolders.push_back(PendingFolder{std::move(sourcePath), std::move(targetPath), visited.size() - 1});
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

const std::error_category& CopyErrorCategory() {
  class Category final : public std::error_category {
  public:
    const char* name() const noexcept override { return "copy"; }
    std::string message(int value) const override {
      switch (static_cast<CopyError>(value)) {
      case CopyError::linkLoop:
        return "symbolic link leads back into a folder being copied";
      case CopyError::stopped:
        return "copy stopped";
      }
      return "unknown copy error";
    }
  };
  static const Category category;
  return category;
}

std::error_code make_error_code(CopyError error) {
  return {static_cast<int>(error), CopyErrorCategory()};
}

bool CopyFileUpdating(const std::string& source, const std::string& target, Failure& failure,
                      CopyJournal* journal) {
  const auto [sourceFolder, sourceName] = SplitPath(source);
  const auto [targetFolder, targetName] = SplitPath(target);
  if (sourceName.empty())
    return Fail(EISDIR, kCopying, source, failure);
  if (targetName.empty())
    return Fail(EISDIR, kCopying, target, failure);

  const UniqueFd sourceFd(
      open(sourceFolder.empty() ? "." : sourceFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!sourceFd.valid())
    return Fail(errno, kCopying, source, failure);
  struct stat status {};
  if (fstatat(sourceFd.get(), sourceName.c_str(), &status, 0) != 0)
    return Fail(errno, kCopying, source, failure);
  if (!S_ISREG(status.st_mode))
    return Fail(S_ISDIR(status.st_mode) ? EISDIR : ENOTSUP, kCopying, source, failure);
  const UniqueFd targetFd(
      open(targetFolder.empty() ? "." : targetFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!targetFd.valid())
    return Fail(errno, kCopying, target, failure);
  SweepDeadTemporaries(targetFd.get());
  std::vector<Prepared> batch;
  return CopyFileAt(Entry{sourceFd.get(), sourceFolder, sourceName.c_str()}, status,
                    Entry{targetFd.get(), targetFolder, targetName.c_str()},
                    StagingFor(journal, targetFd.get()), journal, batch, failure) &&
         CommitBatch(targetFd.get(), batch, journal, failure);
}

bool CopyFolderUpdating(const std::string& source, const std::string& target, Failure& failure,
                        const std::string& heldBack, CopyJournal* journal, const BetweenFiles& betweenFiles) {
  struct stat status {};
  {
    const UniqueFd sourceFd(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!sourceFd.valid())
      return Fail(errno, kCopying, source, failure);
    if (fstat(sourceFd.get(), &status) != 0)
      return Fail(errno, kStatus, source, failure);
  }
  if (!S_ISDIR(status.st_mode))
    return Fail(ENOTDIR, kCopying, source, failure);
  {
    std::string trimmed = target;
    while (trimmed.size() > 1 && trimmed.back() == '/')
      trimmed.pop_back();
    const auto [parentPath, name] = SplitPath(trimmed);
    const UniqueFd parentFd(
        open(parentPath.empty() ? "." : parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd.valid())
      return Fail(errno, kCreatingFolder, target, failure);
    if (!MakeTargetFolder(parentFd.get(), name.c_str(), target, status.st_mode, journal, failure))
      return false;
  }

  // Depth first, each folder opened by its path when its turn comes: no descriptor stays open for
  // the folders above, so a deep package needs no more than a flat one.
  std::vector<Visited> visited{Visited{{status.st_dev, status.st_ino}, Visited::kNone}};
  std::vector<PendingFolder> pending{PendingFolder{source, target, 0}};
  const char* held = heldBack.empty() ? nullptr : heldBack.c_str();
  while (!pending.empty()) {
    const PendingFolder folder = std::move(pending.back());
    pending.pop_back();
    std::vector<PendingFolder> subFolders;
    if (!CopyFolderFiles(folder, visited, held, journal, betweenFiles, subFolders, failure))
      return false;
    held = nullptr; // only the top folder holds an entry back
    // Reversed onto the stack, so that the sub-folders are copied in listing order.
    for (auto sub = subFolders.rbegin(); sub != subFolders.rend(); ++sub)
      pending.push_back(std::move(*sub));
  }
  return true;
}

} // namespace filecopy
