#include "start_counter.h"

#include "product_constants.h"
#include "temporary_file.h"
#include "utilities.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <vector>

namespace miravelo {
namespace {

// The info file holds a date, a counter and what a user may have added: a few bytes. A larger file is
// not read, so that a start never waits on reading it.
constexpr std::size_t kMaxInfoFileBytes = 1024 * 1024;

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

// Replaces path by a file holding content: written to a temporary file in the same folder, flushed
// to the disk, then renamed over path (temporaries that killed starts left are swept on the way). On any
// failure path is left as it was.
bool ReplaceFile(const std::string& path, const std::string& content) {
  TemporaryFile temporary = TemporaryFile::CreateBeside(path, 0666);
  if (!temporary.valid())
    return false;
  struct stat old {};
  if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    fchmod(temporary.fd(), old.st_mode & 07777);
  return temporary.write(content) == 0 && temporary.finish() == 0 && temporary.commit(/*durable=*/true) == 0;
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
  Failure unreadable;
  if (!ReadWholeFile(infoFile, kMaxInfoFileBytes, content, unreadable))
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
