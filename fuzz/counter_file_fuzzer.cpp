// The guide add-in's start counter file, whatever it holds: counting a start never crashes, leaves
// a readable file with a valid counter line, keeps every other line and leaves no temporary file.
#include "fuzz_support.h"

#include "start_counter.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// A decimal 32-bit number and nothing else.
bool IsCounterText(const std::string& text, long long* value) {
  if (text.empty() || text.size() > 11)
    return false;
  const std::size_t digits = text[0] == '-' ? 1 : 0;
  if (digits == text.size())
    return false;
  for (std::size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9')
      return false;
  }
  *value = std::strtoll(text.c_str(), nullptr, 10);
  return *value >= INT32_MIN && *value <= INT32_MAX;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string folder = fuzz::ScratchFolder();
  fuzz::EmptyFolder(folder);
  const std::string path = folder + "/" + miravelo::kInfoFileName;
  fuzz::WriteBytes(path, data, size);
  const std::vector<std::string> before =
      fuzz::SplitLines(std::string(reinterpret_cast<const char*>(data), size));

  const std::int32_t earlierStarts = miravelo::AutoOpenPaletteAt(path);

  std::string content;
  FUZZ_CHECK(fuzz::ReadBytes(path, &content));
  FUZZ_CHECK(!content.empty() && content.back() == '\n');
  const std::vector<std::string> after = fuzz::SplitLines(content);
  FUZZ_CHECK(fuzz::ListFolder(folder).size() == 1);

  if (before.size() < 2) {
    // A line "1" is appended to what was there.
    FUZZ_CHECK(earlierStarts == 0);
    FUZZ_CHECK(after.size() == before.size() + 1 && after.back() == "1");
    FUZZ_CHECK(before.empty() || after[0] == before[0]);
    return 0;
  }
  FUZZ_CHECK(after.size() == before.size());
  for (std::size_t i = 0; i < before.size(); ++i)
    FUZZ_CHECK(i == 1 || after[i] == before[i]);
  long long stored = 0;
  FUZZ_CHECK(IsCounterText(after[1], &stored));
  FUZZ_CHECK(earlierStarts >= 0 || before[1].find('-') != std::string::npos);
  FUZZ_CHECK(stored == (earlierStarts == INT32_MAX ? INT32_MAX : static_cast<long long>(earlierStarts) + 1));

  // The next start reads back what this one stored.
  FUZZ_CHECK(miravelo::AutoOpenPaletteAt(path) == stored);
  return 0;
}
