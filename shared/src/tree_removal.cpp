#include "tree_removal.h"

#include "file.h"
#include "path.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace removal {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsAbsent(int error) {
  return error == ENOENT || error == ENOTDIR;
}

// Opens the sub-folder name of parent without following a link. A link there fails with ELOOP on every
// system, whichever of ELOOP and ENOTDIR open itself reports.
int OpenSubFolder(int parent, const std::string& name) {
  const int fd = openat(parent, name.c_str(), kFolderFlags);
  if (fd < 0 && (errno == ENOTDIR || errno == ELOOP)) {
    const int error = errno;
    struct stat info {};
    errno = fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode) ? ELOOP
                                                                                                    : error;
  }
  return fd;
}

bool Unlink(int parent, const std::string& name, const std::string& path, int flags, Failure& failure) {
  if (unlinkat(parent, name.c_str(), flags) == 0 || errno == ENOENT)
    return true;
  return Fail(errno, "odstranění", path, failure);
}

// Empties the folder name of parent, which fstatat described as info.
bool RemoveContents(int parent, const std::string& name, const std::string& path, const struct stat& info,
                    Failure& failure) {
  const UniqueFd folder(OpenSubFolder(parent, name));
  if (!folder.valid())
    return errno == ENOENT ? true : Fail(errno, "otevření složky", path, failure);
  struct stat opened {};
  if (fstat(folder.get(), &opened) != 0)
    return Fail(errno, "zjištění stavu", path, failure);
  // Another folder moved into its place: not the one examined, so not necessarily one to remove.
  if (opened.st_dev != info.st_dev || opened.st_ino != info.st_ino)
    return Fail(EBUSY, "otevření složky", path, failure);
  std::vector<std::string> names;
  if (!ListFolder(folder.get(), path, names, failure))
    return false;
  for (const std::string& entry : names) {
    if (!RemoveTreeAt(folder.get(), entry, path + "/" + entry, AtLink::kRemoveLink, failure))
      return false;
  }
  return true;
}

} // namespace

bool OpenFolderBelow(const std::string& start, const std::string& relative, UniqueFd& folder,
                     Failure& failure) {
  const UniqueFd opened(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid())
    return Fail(errno, "otevření složky", start, failure);
  return OpenFolderBelow(opened.get(), start, relative, folder, failure);
}

bool OpenFolderBelow(int start, const std::string& startPath, const std::string& relative, UniqueFd& folder,
                     Failure& failure) {
  UniqueFd current(fcntl(start, F_DUPFD_CLOEXEC, 0));
  if (!current.valid())
    return Fail(errno, "otevření složky", startPath, failure);
  std::string path = startPath;
  std::string::size_type begin = 0;
  while (begin < relative.size()) {
    auto end = relative.find('/', begin);
    if (end == std::string::npos)
      end = relative.size();
    const std::string component = relative.substr(begin, end - begin);
    begin = end + 1;
    if (component.empty())
      continue;
    path = JoinPath(path, component);
    if (component == "." || component == "..")
      return Fail(EINVAL, "otevření složky", path, failure);
    UniqueFd next(OpenSubFolder(current.get(), component));
    if (!next.valid())
      return Fail(errno, "otevření složky", path, failure);
    current = std::move(next);
  }
  folder = std::move(current);
  return true;
}

bool OpenFolderAt(int parent, const std::string& name, const std::string& path, UniqueFd& folder,
                  Failure& failure) {
  folder.reset(OpenSubFolder(parent, name));
  return folder.valid() ? true : Fail(errno, "otevření složky", path, failure);
}

bool ExamineBelow(const std::string& start, const std::string& relative, EntryKind& kind, struct stat& info,
                  Failure& failure) {
  const UniqueFd opened(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid()) {
    const int error = errno;
    if (!IsAbsent(error))
      return Fail(error, "otevření složky", start, failure);
    kind = EntryKind::kAbsent;
    return true;
  }
  return ExamineBelow(opened.get(), start, relative, kind, info, failure);
}

bool ExamineBelow(int start, const std::string& startPath, const std::string& relative, EntryKind& kind,
                  struct stat& info, Failure& failure) {
  const PathSplit split = SplitLastName(relative);
  UniqueFd parent;
  Failure opening;
  if (!OpenFolderBelow(start, startPath, split.parent, parent, opening)) {
    const int error = opening.code.value();
    if (error == ELOOP) {
      kind = EntryKind::kBehindLink;
      return true;
    }
    if (IsAbsent(error)) {
      kind = EntryKind::kAbsent;
      return true;
    }
    failure = opening;
    return false;
  }
  if (fstatat(parent.get(), split.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    const int error = errno;
    if (IsAbsent(error)) {
      kind = EntryKind::kAbsent;
      return true;
    }
    return Fail(error, "zjištění stavu", JoinPath(startPath, relative), failure);
  }
  kind = S_ISLNK(info.st_mode)   ? EntryKind::kLink
         : S_ISDIR(info.st_mode) ? EntryKind::kFolder
                                 : EntryKind::kOther;
  return true;
}

bool RemoveTreeAt(int parent, const std::string& name, const std::string& path, AtLink atLink,
                  Failure& failure) {
  struct stat info {};
  if (fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? true : Fail(errno, "zjištění stavu", path, failure);
  if (S_ISLNK(info.st_mode) && atLink == AtLink::kStop)
    return Fail(ELOOP, "odstranění", path, failure);
  if (!S_ISDIR(info.st_mode))
    return Unlink(parent, name, path, 0, failure);
  return RemoveContents(parent, name, path, info, failure) &&
         Unlink(parent, name, path, AT_REMOVEDIR, failure);
}

bool RemoveEntryAt(int parent, const std::string& name, const std::string& path, Failure& failure) {
  struct stat info {};
  if (fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? true : Fail(errno, "zjištění stavu", path, failure);
  return Unlink(parent, name, path, S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0, failure);
}

namespace {

// Opens the parent of relative below start for a removal. False with nothing to do (failure.code
// clear) when the parent is absent.
bool OpenParentToRemove(int start, const std::string& startPath, const std::string& relative,
                        UniqueFd& parent, std::string& name, Failure& failure) {
  PathSplit split = SplitLastName(relative);
  name = std::move(split.name);
  Failure opening;
  if (OpenFolderBelow(start, startPath, split.parent, parent, opening))
    return true;
  failure = IsAbsent(opening.code.value()) ? Failure() : opening;
  return false;
}

} // namespace

bool RemoveTreeBelow(int start, const std::string& startPath, const std::string& relative, AtLink atLink,
                     Failure& failure) {
  UniqueFd parent;
  std::string name;
  if (!OpenParentToRemove(start, startPath, relative, parent, name, failure))
    return !failure.code;
  return RemoveTreeAt(parent.get(), name, JoinPath(startPath, relative), atLink, failure);
}

bool RemoveEntryBelow(int start, const std::string& startPath, const std::string& relative,
                      Failure& failure) {
  UniqueFd parent;
  std::string name;
  if (!OpenParentToRemove(start, startPath, relative, parent, name, failure))
    return !failure.code;
  return RemoveEntryAt(parent.get(), name, JoinPath(startPath, relative), failure);
}

// A missing start is an error: the caller named it as there.
bool RemoveTreeBelow(const std::string& start, const std::string& relative, AtLink atLink, Failure& failure) {
  const UniqueFd opened(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid())
    return Fail(errno, "otevření složky", start, failure);
  return RemoveTreeBelow(opened.get(), start, relative, atLink, failure);
}

bool RemoveEntryBelow(const std::string& start, const std::string& relative, Failure& failure) {
  const UniqueFd opened(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid())
    return Fail(errno, "otevření složky", start, failure);
  return RemoveEntryBelow(opened.get(), start, relative, failure);
}

} // namespace removal
