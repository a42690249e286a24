#include "tree_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace removal {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool Fail(Failure& failure, const char* action, const std::string& path, int error) {
  failure = Failure{action, path, std::error_code(error, std::generic_category()), std::string()};
  return false;
}

std::string Joined(const std::string& folder, const std::string& name) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path + "/" + name;
}

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
  return Fail(failure, "odstranění", path, errno);
}

// Empties the folder name of parent, which fstatat described as info.
bool RemoveContents(int parent, const std::string& name, const std::string& path, const struct stat& info,
                    Failure& failure) {
  const UniqueFd folder(OpenSubFolder(parent, name));
  if (!folder.valid())
    return errno == ENOENT ? true : Fail(failure, "otevření složky", path, errno);
  struct stat opened {};
  if (fstat(folder.get(), &opened) != 0)
    return Fail(failure, "zjištění stavu", path, errno);
  // Another folder moved into its place: not the one examined, so not necessarily one to remove.
  if (opened.st_dev != info.st_dev || opened.st_ino != info.st_ino)
    return Fail(failure, "otevření složky", path, EBUSY);
  std::vector<std::string> names;
  if (!ListFolder(folder.get(), path, names, failure))
    return false;
  for (const std::string& entry : names) {
    if (!RemoveTreeAt(folder.get(), entry, path + "/" + entry, AtLink::kRemoveLink, failure))
      return false;
  }
  return true;
}

// Splits relative into its parent part and last name.
void SplitLast(const std::string& relative, std::string& parent, std::string& name) {
  std::string trimmed = relative;
  while (!trimmed.empty() && trimmed.back() == '/')
    trimmed.pop_back();
  const auto slash = trimmed.rfind('/');
  parent = slash == std::string::npos ? std::string() : trimmed.substr(0, slash);
  name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

} // namespace

bool OpenFolderBelow(const std::string& start, const std::string& relative, UniqueFd& folder,
                     Failure& failure) {
  const UniqueFd opened(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid())
    return Fail(failure, "otevření složky", start, errno);
  return OpenFolderBelow(opened.get(), start, relative, folder, failure);
}

bool OpenFolderBelow(int start, const std::string& startPath, const std::string& relative, UniqueFd& folder,
                     Failure& failure) {
  UniqueFd current(fcntl(start, F_DUPFD_CLOEXEC, 0));
  if (!current.valid())
    return Fail(failure, "otevření složky", startPath, errno);
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
    path = Joined(path, component);
    if (component == "." || component == "..")
      return Fail(failure, "otevření složky", path, EINVAL);
    UniqueFd next(OpenSubFolder(current.get(), component));
    if (!next.valid())
      return Fail(failure, "otevření složky", path, errno);
    current = std::move(next);
  }
  folder = std::move(current);
  return true;
}

bool OpenFolderAt(int parent, const std::string& name, const std::string& path, UniqueFd& folder,
                  Failure& failure) {
  folder.reset(OpenSubFolder(parent, name));
  return folder.valid() ? true : Fail(failure, "otevření složky", path, errno);
}

bool ListFolder(int folder, const std::string& path, std::vector<std::string>& names, Failure& failure) {
  // fdopendir owns the descriptor it is given; the caller keeps its own.
  const int copy = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (copy < 0)
    return Fail(failure, "čtení složky", path, errno);
  const UniqueDir listing(fdopendir(copy));
  if (!listing) {
    const int error = errno;
    close(copy);
    return Fail(failure, "čtení složky", path, error);
  }
  rewinddir(listing.get());
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing.get());
    if (!entry)
      return errno == 0 ? true : Fail(failure, "čtení složky", path, errno);
    const std::string name = entry->d_name;
    if (name != "." && name != "..")
      names.push_back(name);
  }
}

bool ExamineBelow(const std::string& start, const std::string& relative, EntryKind& kind, struct stat& info,
                  Failure& failure) {
  const UniqueFd opened(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid()) {
    if (!IsAbsent(errno))
      return Fail(failure, "otevření složky", start, errno);
    kind = EntryKind::kAbsent;
    return true;
  }
  return ExamineBelow(opened.get(), start, relative, kind, info, failure);
}

bool ExamineBelow(int start, const std::string& startPath, const std::string& relative, EntryKind& kind,
                  struct stat& info, Failure& failure) {
  std::string parentPart, name;
  SplitLast(relative, parentPart, name);
  UniqueFd parent;
  Failure opening;
  if (!OpenFolderBelow(start, startPath, parentPart, parent, opening)) {
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
  if (fstatat(parent.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (IsAbsent(errno)) {
      kind = EntryKind::kAbsent;
      return true;
    }
    return Fail(failure, "zjištění stavu", Joined(startPath, relative), errno);
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
    return errno == ENOENT ? true : Fail(failure, "zjištění stavu", path, errno);
  if (S_ISLNK(info.st_mode) && atLink == AtLink::kStop)
    return Fail(failure, "odstranění", path, ELOOP);
  if (!S_ISDIR(info.st_mode))
    return Unlink(parent, name, path, 0, failure);
  return RemoveContents(parent, name, path, info, failure) &&
         Unlink(parent, name, path, AT_REMOVEDIR, failure);
}

bool RemoveEntryAt(int parent, const std::string& name, const std::string& path, Failure& failure) {
  struct stat info {};
  if (fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? true : Fail(failure, "zjištění stavu", path, errno);
  return Unlink(parent, name, path, S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0, failure);
}

namespace {

// Opens the parent of relative below start for a removal. False with nothing to do (failure.code
// clear) when the parent is absent.
bool OpenParentToRemove(int start, const std::string& startPath, const std::string& relative,
                        UniqueFd& parent, std::string& name, Failure& failure) {
  std::string parentPart;
  SplitLast(relative, parentPart, name);
  Failure opening;
  if (OpenFolderBelow(start, startPath, parentPart, parent, opening))
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
  return RemoveTreeAt(parent.get(), name, Joined(startPath, relative), atLink, failure);
}

bool RemoveEntryBelow(int start, const std::string& startPath, const std::string& relative,
                      Failure& failure) {
  UniqueFd parent;
  std::string name;
  if (!OpenParentToRemove(start, startPath, relative, parent, name, failure))
    return !failure.code;
  return RemoveEntryAt(parent.get(), name, Joined(startPath, relative), failure);
}

// A missing start is an error: the caller named it as there.
bool RemoveTreeBelow(const std::string& start, const std::string& relative, AtLink atLink, Failure& failure) {
  const UniqueFd opened(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid())
    return Fail(failure, "otevření složky", start, errno);
  return RemoveTreeBelow(opened.get(), start, relative, atLink, failure);
}

bool RemoveEntryBelow(const std::string& start, const std::string& relative, Failure& failure) {
  const UniqueFd opened(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.valid())
    return Fail(failure, "otevření složky", start, errno);
  return RemoveEntryBelow(opened.get(), start, relative, failure);
}

} // namespace removal
