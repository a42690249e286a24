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
  // One line end at the end, LF or CR LF, is no part of the answer.
  std::string read = answer;
  if (!read.empty() && read.back() == '\n') {
    read.pop_back();
    if (!read.empty() && read.back() == '\r')
      read.pop_back();
  }
  FUZZ_CHECK(split.offersNewer == (read != "Zandrelmac"));
  if (!split.offersNewer) {
    FUZZ_CHECK(split.version == answer && split.id.empty());
    return 0;
  }
  // Both fields are pieces of the answer without its line end; with three separators after index 0
  // neither holds one.
  FUZZ_CHECK(read.find(split.id) != std::string::npos);
  FUZZ_CHECK(read.find(split.version) != std::string::npos);
  if (NthOccurrence(read, "|", 3) >= 0) {
    FUZZ_CHECK(split.id.find('|') == std::string::npos);
    FUZZ_CHECK(split.version.find('|') == std::string::npos);
  }

  // The offered version goes into a log line: escaped, it can neither end the line nor turn what
  // follows, and a long one is cut to the bound with its length.
  for (const std::string& piece : {split.version, split.id}) {
    const std::string quoted = QuoteForLog(piece);
    FUZZ_CHECK(fuzz::IsSafeLogText(quoted));
    FUZZ_CHECK(fuzz::IsBoundedQuote(quoted, piece, kLoggedPieceBytes));
  }
  // A version the user may be shown holds digits and dots alone, within its bound, and orders as the
  // numbers it writes: a trailing ".0" or a leading zero changes nothing, a further ".1" is newer.
  if (IsOfferedVersion(split.version)) {
    const std::string& version = split.version;
    FUZZ_CHECK(version.size() <= kMaxVersionLength);
    FUZZ_CHECK(version.find_first_not_of("0123456789.") == std::string::npos);
    FUZZ_CHECK(CompareVersions(version, version + ".0") == 0);
    FUZZ_CHECK(CompareVersions("0" + version, version) == 0);
    FUZZ_CHECK(CompareVersions(version + ".1", version) > 0);
    FUZZ_CHECK(CompareVersions(version, version + ".1") < 0);
    FUZZ_CHECK(CompareVersions("1" + version, version) > 0);
  }

  // The identifier travels in the download-link URL: it may not add keys, end the query or break out
  // of the origin, however it is made.
  const std::string base = "https://server.invalid";
  const std::string url = DownloadLinkUrl(base, split.id);
  const std::string prefix = base + "/dl_file.asp?ID=";
  FUZZ_CHECK(url.compare(0, prefix.size(), prefix) == 0);
  FUZZ_CHECK(fuzz::EncodesQueryValue(url.substr(prefix.size()), split.id));
  return 0;
}
