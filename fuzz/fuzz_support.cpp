#include "fuzz_support.h"

#include "temporary_file.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fuzz {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

struct DirectoryCloser {
  void operator()(DIR* directory) const noexcept { closedir(directory); }
};
using DirectoryHandle = std::unique_ptr<DIR, DirectoryCloser>;

int HexValue(char digit) {
  if (digit >= '0' && digit <= '9')
    return digit - '0';
  if (digit >= 'A' && digit <= 'F')
    return digit - 'A' + 10;
  return -1;
}

void RemoveScratchFolder() {
  const std::string& folder = ScratchFolder();
  EmptyFolder(folder);
  rmdir(folder.c_str());
}

// The code point of the UTF-8 character at text[*at], moving *at past it; -1 for a byte that begins no
// valid character (then *at moves by one).
long NextCodePoint(const std::string& text, std::size_t* at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(*at);
  const int length = lead < 0x80           ? 1
                     : (lead >> 5) == 0x6  ? 2
                     : (lead >> 4) == 0xE  ? 3
                     : (lead >> 3) == 0x1E ? 4
                                           : 0;
  if (length == 0 || *at + static_cast<std::size_t>(length) > text.size()) {
    ++*at;
    return -1;
  }
  long value = length == 1 ? lead : lead & (0x3F >> (length - 1));
  for (int i = 1; i < length; ++i) {
    if ((byte(*at + static_cast<std::size_t>(i)) & 0xC0) != 0x80) {
      ++*at;
      return -1;
    }
    value = (value << 6) | (byte(*at + static_cast<std::size_t>(i)) & 0x3F);
  }
  static const long kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kLowest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++*at;
    return -1;
  }
  *at += static_cast<std::size_t>(length);
  return value;
}

} // namespace

bool IsSafeLogText(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const long c = NextCodePoint(text, &at);
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C || c == 0x200E ||
        c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069))
      return false;
  }
  return true;
}

bool IsBoundedQuote(const std::string& quoted, const std::string& original, std::size_t limit) {
  // An escape writes at most four bytes for each byte it stands for (one byte as \xNN).
  if (original.size() <= limit)
    return quoted.size() >= original.size() && quoted.size() <= 4 * original.size();
  const std::string tail = "\xE2\x80\xA6 (" + std::to_string(original.size()) + " bytes)";
  return quoted.size() >= tail.size() && quoted.size() <= 4 * limit + tail.size() &&
         quoted.compare(quoted.size() - tail.size(), tail.size(), tail) == 0;
}

void FailCheck(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", file, line, condition);
  std::abort();
}

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string made = MakeTemporaryFolder("quorlex-fuzz-");
    if (made.empty()) {
      std::perror("mkdtemp");
      std::abort();
    }
    return made;
  }();
  static const bool registered = std::atexit(RemoveScratchFolder) == 0;
  (void)registered;
  return folder;
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  FileHandle file(std::fopen(path.c_str(), "wb"));
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, file.get()) == size);
  FUZZ_CHECK(std::fclose(file.release()) == 0);
}

bool ReadBytes(const std::string& path, std::string* content) {
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file)
    return false;
  content->clear();
  char buffer[4096];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
    content->append(buffer, count);
  return std::ferror(file.get()) == 0;
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  DirectoryHandle directory(opendir(folder.c_str()));
  FUZZ_CHECK(directory != nullptr);
  while (const dirent* entry = readdir(directory.get())) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  }
  return names;
}

void EmptyFolder(const std::string& folder) {
  for (const std::string& name : ListFolder(folder))
    unlink((folder + "/" + name).c_str());
}

// Written apart from the product's line readers on purpose, character by character where they search
// for line feeds: an oracle that shared their code would agree with their faults.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  bool lineOpen = false;
  for (const char character : text) {
    if (character == '\n') {
      lines.push_back(line);
      line.clear();
      lineOpen = false;
    } else {
      line += character;
      lineOpen = true;
    }
  }
  if (lineOpen)
    lines.push_back(line);
  return lines;
}

bool EncodesQueryValue(const std::string& encoded, const std::string& original) {
  static constexpr const char* kMarks = "-._~!$'()*,;:@/?";
  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char character = encoded[i];
    if (character == '%') {
      if (i + 2 >= encoded.size())
        return false;
      const int high = HexValue(encoded[i + 1]);
      const int low = HexValue(encoded[i + 2]);
      if (high < 0 || low < 0)
        return false;
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
      continue;
    }
    const bool plain = (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') ||
                       (character >= '0' && character <= '9') ||
                       (character != '\0' && std::strchr(kMarks, character) != nullptr);
    if (!plain)
      return false;
    decoded += character;
  }
  return decoded == original;
}

} // namespace fuzz
