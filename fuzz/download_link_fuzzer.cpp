// The download-link answer: where the package address is cut out of whatever the server sends.
#include "fuzz_support.h"

#include "update/update_protocol.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  const std::string address = PackageAddress(answer);
  // A usable address holds no blank or control character, and an https one names a server.
  if (IsUsablePackageAddress(address)) {
    for (const char character : address)
      FUZZ_CHECK(static_cast<unsigned char>(character) > 0x20 && character != 0x7F);
    FUZZ_CHECK(address[0] != '/' && address[0] != '.');
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
