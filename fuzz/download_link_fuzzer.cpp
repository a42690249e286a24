// The download-link answer: where the package address is cut out of whatever the server sends.
#include "fuzz_support.h"

#include "update/update_protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string received(reinterpret_cast<const char*>(data), size);
  const std::string address = PackageAddress(received);
  // A usable address holds no blank or control character and names a server: after "scheme://", or
  // first of all, then at most a port, no user information.
  if (IsUsablePackageAddress(address)) {
    for (const char character : address)
      FUZZ_CHECK(static_cast<unsigned char>(character) > 0x20 && character != 0x7F);
    // A scheme ends at the first ':' when "//" follows; the transfer refuses any other than https.
    const std::size_t colon = address.find(':');
    const bool scheme = colon != std::string::npos && address.compare(colon, 3, "://") == 0;
    std::string name = scheme ? address.substr(0, colon) : std::string();
    for (char& character : name)
      character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
    if (!scheme || name == "https") {
      const std::size_t host = scheme ? colon + 3 : 0;
      const std::size_t end = std::min(address.find_first_of("/?#", host), address.size());
      FUZZ_CHECK(end > host && address[host] != '.' && address[host] != ':');
      const std::string authority = address.substr(host, end - host);
      FUZZ_CHECK(authority.find('@') == std::string::npos);
      if (!scheme) {
        const std::size_t port = authority.find(':');
        FUZZ_CHECK(port == std::string::npos ||
                   (port + 1 < authority.size() &&
                    authority.find_first_not_of("0123456789", port + 1) == std::string::npos));
      }
    }
  }
  // The address in the log line of a failed download: escaped and bounded.
  const std::string quoted = QuoteForLog(address);
  FUZZ_CHECK(fuzz::IsSafeLogText(quoted));
  FUZZ_CHECK(fuzz::IsBoundedQuote(quoted, address, kLoggedPieceBytes));

  // One line end at the end, LF or CR LF, is no part of the answer.
  std::string answer = received;
  if (!answer.empty() && answer.back() == '\n') {
    answer.pop_back();
    if (!answer.empty() && answer.back() == '\r')
      answer.pop_back();
  }

  const std::size_t marker = answer.find("URL=");
  if (marker == std::string::npos) {
    FUZZ_CHECK(address == answer);
    return 0;
  }
  // The address starts right after the first marker and, when a ".pkg" follows, ends with the first.
  const std::string rest = answer.substr(marker + 4);
  FUZZ_CHECK(rest.compare(0, address.size(), address) == 0);
  const std::size_t extension = rest.find(".pkg");
  if (extension == std::string::npos) {
    FUZZ_CHECK(address == rest);
  } else {
    FUZZ_CHECK(address.size() == extension + 4);
    FUZZ_CHECK(address.find(".pkg") == extension);
  }
  return 0;
}
