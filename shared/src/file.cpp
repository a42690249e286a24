#include "file.h"

#include "unique_handles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr const char* kReading = "čtení souboru";
constexpr const char* kListing = "čtení složky";

EntryType TypeOf(int result, const struct stat& info) {
  if (result != 0)
    return errno == ENOENT || errno == ENOTDIR ? EntryType::kMissing : EntryType::kUnknown;
  if (S_ISREG(info.st_mode))
    return EntryType::kRegularFile;
  if (S_ISDIR(info.st_mode))
    return EntryType::kFolder;
  return S_ISLNK(info.st_mode) ? EntryType::kLink : EntryType::kOther;
}

bool FailWith(FileError error, const std::string& path, Failure& failure) {
  failure = Failure{kReading, path, error, std::string()};
  return false;
}

} // namespace

EntryType LstatType(const std::string& path) {
  struct stat info {};
  return TypeOf(lstat(path.c_str(), &info), info);
}

EntryType StatType(const std::string& path) {
  struct stat info {};
  return TypeOf(stat(path.c_str(), &info), info);
}

bool FileExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

bool DirectoryExists(const std::string& path) {
  return UniqueDir(opendir(path.c_str())) != nullptr;
}

const std::error_category& FileCategory() {
  class Category final : public std::error_category {
  public:
    const char* name() const noexcept override { return "file"; }
    std::string message(int value) const override {
      switch (static_cast<FileError>(value)) {
      case FileError::kNotRegularFile:
        return "not a regular file";
      case FileError::kTooLarge:
        return "file too large";
      }
      return "unknown file error";
    }
  };
  static const Category category;
  return category;
}

std::error_code make_error_code(FileError error) {
  return {static_cast<int>(error), FileCategory()};
}

bool ReadWholeFile(const std::string& path, std::size_t limit, std::string& content, Failure& failure) {
  const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat status {};
  if (!fd.valid() || fstat(fd.get(), &status) != 0)
    return Fail(errno, kReading, path, failure);
  if (!S_ISREG(status.st_mode))
    return FailWith(FileError::kNotRegularFile, path, failure);
  if (static_cast<unsigned long long>(status.st_size) > limit)
    return FailWith(FileError::kTooLarge, path, failure);
  std::string read;
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0)
      return Fail(errno, kReading, path, failure);
    if (count == 0)
      break;
    if (static_cast<std::size_t>(count) > limit - read.size())
      return FailWith(FileError::kTooLarge, path, failure);
    read.append(buffer, static_cast<std::size_t>(count));
  }
  content = std::move(read);
  return true;
}

bool ListFolder(int folder, const std::string& path, std::vector<std::string>& names, Failure& failure) {
  // fdopendir owns the descriptor it is given; the caller keeps its own.
  const int copy = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (copy < 0)
    return Fail(errno, kListing, path, failure);
  const UniqueDir listing(fdopendir(copy));
  if (!listing) {
    const int error = errno;
    close(copy);
    return Fail(error, kListing, path, failure);
  }
  // The copy shares the caller's position, which an earlier listing may have moved.
  rewinddir(listing.get());
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing.get());
    if (!entry)
      return errno == 0 || Fail(errno, kListing, path, failure);
    const std::string name = entry->d_name;
    if (name != "." && name != "..")
      names.push_back(name);
  }
}

bool ListFolder(const std::string& path, std::vector<std::string>& names, Failure& failure) {
  const UniqueFd folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folder.valid() ? ListFolder(folder.get(), path, names, failure)
                        : Fail(errno, kListing, path, failure);
}
