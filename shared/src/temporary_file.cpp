#include "temporary_file.h"

#include "platform.h"
#include "utilities.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string_view>
#include <utility>

namespace {

constexpr char kSuffix[] = ".qxtmp";
constexpr std::size_t kSuffixLength = sizeof kSuffix - 1;
// Names stay well below the 255 bytes file systems allow, whatever the process id and serial.
constexpr std::size_t kMaxTargetBytes = 180;
constexpr int kAttempts = 100;

std::string NameFor(const std::string& targetName) {
  static std::atomic<unsigned long> serial{0};
  // Cut before a character rather than inside one: file systems that insist on UTF-8 names refuse
  // half a Czech letter.
  std::size_t kept = std::min(targetName.size(), kMaxTargetBytes);
  while (kept > 0 && kept < targetName.size() &&
         (static_cast<unsigned char>(targetName[kept]) & 0xC0) == 0x80)
    --kept;
  return "." + targetName.substr(0, kept) + "." + std::to_string(getpid()) + "-" + std::to_string(++serial) +
         kSuffix;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.size() <= 20 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The process id in a temporary's name, or 0 when the name is not one of ours.
pid_t ProcessOf(std::string_view name) {
  if (name.size() <= kSuffixLength + 1 || name.front() != '.' ||
      name.compare(name.size() - kSuffixLength, kSuffixLength, kSuffix) != 0)
    return 0;
  name.remove_suffix(kSuffixLength);
  const std::size_t dot = name.rfind('.');
  if (dot == 0 || dot == std::string_view::npos)
    return 0;
  const std::string_view tag = name.substr(dot + 1);
  const std::size_t dash = tag.find('-');
  if (dash == std::string_view::npos || !AllDigits(tag.substr(0, dash)) || !AllDigits(tag.substr(dash + 1)))
    return 0;
  unsigned long long value = 0;
  for (const char digit : tag.substr(0, dash))
    value = value * 10 + static_cast<unsigned long long>(digit - '0');
  const auto pid = static_cast<pid_t>(value);
  return static_cast<unsigned long long>(pid) == value && pid > 0 ? pid : 0;
}

} // namespace

TemporaryFile TemporaryFile::MakeIn(int folderFd, const std::string& targetName,
                                    const std::function<int(int folderFd, const char* name)>& make) {
  TemporaryFile file;
  file.m_folderFd = folderFd;
  file.m_targetName = targetName;
  file.m_error = EEXIST;
  for (int attempt = 0; attempt < kAttempts && file.m_error == EEXIST; ++attempt) {
    std::string name = NameFor(targetName);
    file.m_error = make(folderFd, name.c_str());
    if (file.m_error == 0)
      file.m_name = std::move(name);
  }
  return file;
}

TemporaryFile TemporaryFile::CreateIn(int folderFd, const std::string& targetName, mode_t mode) {
  UniqueFd opened;
  TemporaryFile file = MakeIn(folderFd, targetName, [&](int folder, const char* name) {
    opened.reset(openat(folder, name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    return opened.valid() ? 0 : errno;
  });
  file.m_fd = std::move(opened);
  return file;
}

TemporaryFile TemporaryFile::CreateBeside(const std::string& targetPath, mode_t mode) {
  UniqueFd folder(open(FolderOf(targetPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) {
    TemporaryFile failed;
    failed.m_error = errno;
    return failed;
  }
  SweepDeadTemporaries(folder.get());
  TemporaryFile file = CreateIn(folder.get(), NameOf(targetPath), mode);
  file.m_ownedFolder = std::move(folder);
  return file;
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : m_ownedFolder(std::move(other.m_ownedFolder)), m_folderFd(std::exchange(other.m_folderFd, -1)),
      m_targetName(std::move(other.m_targetName)), m_name(std::exchange(other.m_name, std::string())),
      m_fd(std::move(other.m_fd)), m_error(other.m_error) {}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    discard();
    m_ownedFolder = std::move(other.m_ownedFolder);
    m_folderFd = std::exchange(other.m_folderFd, -1);
    m_targetName = std::move(other.m_targetName);
    m_name = std::exchange(other.m_name, std::string());
    m_fd = std::move(other.m_fd);
    m_error = other.m_error;
  }
  return *this;
}

TemporaryFile::~TemporaryFile() {
  discard();
}

int TemporaryFile::write(const std::string& data) {
  for (std::size_t written = 0; written < data.size();) {
    const ssize_t count = ::write(m_fd.get(), data.data() + written, data.size() - written);
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0)
      return errno;
    written += static_cast<std::size_t>(count);
  }
  return 0;
}

int TemporaryFile::finish() {
  if (!m_fd.valid())
    return 0;
  const int flushed = FlushToStorage(m_fd.get());
  const int closed = m_fd.close() == 0 ? 0 : errno;
  return flushed != 0 ? flushed : closed;
}

int TemporaryFile::commit(bool durable) {
  const int error = commitInto(m_folderFd, m_targetName);
  if (error == 0 && durable)
    FlushToStorage(m_folderFd);
  return error;
}

int TemporaryFile::commitInto(int folderFd, const std::string& name) {
  if (!valid())
    return m_error != 0 ? m_error : EBADF;
  m_fd.reset();
  if (renameat(m_folderFd, m_name.c_str(), folderFd, name.c_str()) != 0)
    return errno;
  m_name.clear();
  return 0;
}

void TemporaryFile::discard() {
  m_fd.reset();
  if (!m_name.empty())
    unlinkat(m_folderFd, m_name.c_str(), 0);
  m_name.clear();
}

bool IsTemporaryOfDeadProcess(const char* name) {
  const pid_t pid = ProcessOf(name);
  return pid != 0 && pid != getpid() && !ProcessIsRunning(pid);
}

void SweepDeadTemporaries(int folderFd) {
  std::vector<std::string> names;
  Failure unused;
  // What could be listed before an error is still swept.
  (void)ListFolder(folderFd, std::string(), names, unused);
  for (const std::string& name : names) {
    if (IsTemporaryOfDeadProcess(name.c_str()))
      unlinkat(folderFd, name.c_str(), 0);
  }
}

void SweepDeadTemporaries(const std::string& folderPath) {
  const UniqueFd folder(open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.valid())
    SweepDeadTemporaries(folder.get());
}
