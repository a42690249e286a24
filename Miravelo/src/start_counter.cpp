#include "start_counter.h"

#include "product_constants.h"
#include "utilities.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <vector>

namespace miravelo {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};
using DirectoryHandle = std::unique_ptr<DIR, DirectoryCloser>;

// The whole content of path; false when it cannot be opened, is no regular file (a folder, or a pipe
// that would block the host) or a read fails.
bool ReadWholeFile(const std::string& path, std::string* content) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0)
    return false;
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return false;
  }
  FileHandle file(fdopen(descriptor, "rb"));
  if (!file) {
    close(descriptor);
    return false;
  }
  char buffer[4096];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
    content->append(buffer, count);
  return std::ferror(file.get()) == 0;
}

// Every line feed ends a line; text after the last one forms a last line. A carriage return stays.
std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    const std::size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(content.substr(start));
      break;
    }
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Decimal number at the start of line after white space, with an optional sign, up to the first
// non-digit; 0 when there is none or it does not fit 32 bits.
std::int32_t ReadCounter(const std::string& line) {
  const char* begin = line.c_str();
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(begin, &end, 10);
  if (end == begin || errno == ERANGE || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    return 0;
  return static_cast<std::int32_t>(value);
}

bool FlushToDisk(int descriptor) {
#if defined(__APPLE__)
  // fsync alone leaves the data in the drive's cache on macOS.
  if (fcntl(descriptor, F_FULLFSYNC) == 0)
    return true;
#endif
  return fsync(descriptor) == 0;
}

// The folder that holds path: "." for a bare name, "/" for a name in the root.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string TemporaryNameFor(const std::string& path, pid_t process) {
  return path + ".tmp-" + std::to_string(process);
}

// Whether name is "<infoName>.tmp-<pid>" of a process that no longer runs: a start killed between
// creating its temporary file and renaming it left it behind. The pid is written as TemporaryNameFor
// writes it (no sign, no leading zero). Files of running processes, this one included, are kept.
bool IsStaleTemporary(const std::string& name, const std::string& infoName) {
  const std::string prefix = infoName + ".tmp-";
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
    return false;
  const std::string digits = name.substr(prefix.size());
  if (digits.size() > 10 || digits[0] == '0' || digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long long process = std::stoull(digits);
  const auto pid = static_cast<pid_t>(process);
  if (pid <= 0 || static_cast<unsigned long long>(pid) != process || pid == getpid())
    return false;
  return kill(pid, 0) != 0 && errno == ESRCH;
}

// Removes the stale temporary files of path from its folder, so that kills of the host between the
// creation and the rename of a temporary file do not pile files up. Best effort: whatever cannot be
// listed or removed stays, and nothing is reported.
void SweepStaleTemporaries(const std::string& path) {
  const DirectoryHandle directory(opendir(FolderOf(path).c_str()));
  if (!directory)
    return;
  const std::string infoName = path.substr(path.rfind('/') + 1);
  while (const dirent* entry = readdir(directory.get())) {
    // Removes no folder, and a symbolic link only as the link itself.
    if (IsStaleTemporary(entry->d_name, infoName))
      unlinkat(dirfd(directory.get()), entry->d_name, 0);
  }
}

// Creates the temporary file next to path. Its name belongs to this process; one left by an earlier
// process that had the same id is stale and is replaced.
int CreateTemporary(const std::string& temporary) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
  int descriptor = open(temporary.c_str(), flags, 0666);
  if (descriptor < 0 && errno == EEXIST && unlink(temporary.c_str()) == 0)
    descriptor = open(temporary.c_str(), flags, 0666);
  return descriptor;
}

// Replaces path by a file holding content: written to a temporary file in the same folder, flushed
// to the disk, then renamed over path. On any failure path is left as it was.
bool ReplaceFile(const std::string& path, const std::string& content) {
  SweepStaleTemporaries(path);
  const std::string temporary = TemporaryNameFor(path, getpid());
  const int descriptor = CreateTemporary(temporary);
  if (descriptor < 0)
    return false;
  FileHandle file(fdopen(descriptor, "wb"));
  if (!file) {
    close(descriptor);
    unlink(temporary.c_str());
    return false;
  }
  struct stat old {};
  if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    fchmod(descriptor, old.st_mode & 07777);

  bool written = std::fwrite(content.data(), 1, content.size(), file.get()) == content.size();
  written = std::fflush(file.get()) == 0 && written;
  written = FlushToDisk(descriptor) && written;
  written = std::fclose(file.release()) == 0 && written;
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself lasts only once the folder is on the disk.
  if (DirectoryHandle directory{opendir(FolderOf(path).c_str())})
    fsync(dirfd(directory.get()));
  return true;
}

} // namespace

std::string datetime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!localtime_r(&now, &local))
    return std::string();
  char buffer[80];
  const std::size_t length = std::strftime(buffer, sizeof buffer, "%d.%m.%Y", &local);
  return std::string(buffer, length);
}

std::string SetAddinLocation(const std::string& path) {
  return AddinLocationFor(path, product::kGuideAddinName);
}

std::int32_t AutoOpenPalette() {
  const std::string folder = SetAddinLocation(GetExecutableDirectory());
  if (folder.empty())
    return -1;
  return AutoOpenPaletteAt(folder + "/" + kInfoFileName);
}

std::int32_t AutoOpenPaletteAt(const std::string& infoFile) {
  if (!FileExists(infoFile)) {
    ReplaceFile(infoFile, datetime() + "\n" + "1");
    return 0;
  }
  std::string content;
  if (!ReadWholeFile(infoFile, &content))
    return -1;

  std::vector<std::string> lines = SplitLines(content);
  std::int32_t earlierStarts = 0;
  if (lines.size() < 2) {
    lines.push_back("1");
  } else {
    earlierStarts = ReadCounter(lines[1]);
    const bool atLimit = earlierStarts == std::numeric_limits<std::int32_t>::max();
    lines[1] = std::to_string(atLimit ? earlierStarts : earlierStarts + 1);
  }

  std::string rewritten;
  for (const std::string& line : lines) {
    rewritten += line;
    rewritten += '\n';
  }
  ReplaceFile(infoFile, rewritten);
  return earlierStarts;
}

} // namespace miravelo
