// The version query's answer, whatever the server or a man in the middle sends: the no-newer-version
// test, the split into download identifier and offered version, and what those become (the offered
// version's log text, the download-link URL).
#include "fuzz_support.h"

#include "update/update_protocol.h"

#include <cstdint>
#include <string>

namespace {

// Positions of the 1st, 2nd and 3rd '|' as the split counts them: never at index 0, strictly rising.
void CheckSeparators(const std::string& answer) {
  std::int32_t previous = 0;
  for (int n = 1; n <= 3; ++n) {
    const std::int32_t position = NthOccurrence(answer, "|", n);
    if (position < 0) {
      FUZZ_CHECK(NthOccurrence(answer, "|", n + 1) < 0);
      return;
    }
    FUZZ_CHECK(position > previous);
    FUZZ_CHECK(static_cast<std::size_t>(position) < answer.size() && answer[position] == '|');
    FUZZ_CHECK(answer.find('|', static_cast<std::size_t>(previous) + 1) ==
               static_cast<std::size_t>(position));
    previous = position;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  CheckSeparators(answer);
  FUZZ_CHECK(NthOccurrence(answer, "|", 0) == 0);

  const VersionAnswer split = SplitVersionAnswer(answer);
  FUZZ_CHECK(split.offersNewer == (answer != "Zandrelmac\n"));
  if (!split.offersNewer) {
    FUZZ_CHECK(split.version == answer && split.id.empty());
    return 0;
  }
  // Both fields are pieces of the answer; with three separators after index 0 neither holds one.
  FUZZ_CHECK(answer.find(split.id) != std::string::npos);
  FUZZ_CHECK(answer.find(split.version) != std::string::npos);
  if (NthOccurrence(answer, "|", 3) >= 0) {
    FUZZ_CHECK(split.id.find('|') == std::string::npos);
    FUZZ_CHECK(split.version.find('|') == std::string::npos);
  }

  // The offered version goes into a log line: escaped, it holds no control character at all.
  for (const char character : EscapeForLog(split.version)) {
    const auto byte = static_cast<unsigned char>(character);
    FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
  }
  // A version the user may be shown holds digits and dots alone, within its bound; anything else is
  // quoted in the log alone, shortened to a whole character.
  if (IsOfferedVersion(split.version)) {
    FUZZ_CHECK(split.version.size() <= kMaxVersionLength);
    FUZZ_CHECK(split.version.find_first_not_of("0123456789.") == std::string::npos);
  }
  const std::string quoted = ShortenedForLog(split.version, 80);
  FUZZ_CHECK(quoted.size() <= 83);
  FUZZ_CHECK(quoted == split.version ||
             split.version.compare(0, quoted.size() - 3, quoted, 0, quoted.size() - 3) == 0);

  // The identifier travels in the download-link URL: it may not add keys, end the query or break out
  // of the origin, however it is made.
  const std::string base = "https://server.invalid";
  const std::string url = DownloadLinkUrl(base, split.id);
  const std::string prefix = base + "/dl_file.asp?ID=";
  FUZZ_CHECK(url.compare(0, prefix.size(), prefix) == 0);
  FUZZ_CHECK(fuzz::EncodesQueryValue(url.substr(prefix.size()), split.id));
  return 0;
}
