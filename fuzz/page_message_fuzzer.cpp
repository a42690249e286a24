// Messages from the guide page: only a web address without blanks or control characters may come out
// of the decision what to open. Only the decision runs here; nothing is started.
#include "fuzz_support.h"

#include "guide_palette.h"

#include <cstdint>
#include <string>
#include <strings.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string message(reinterpret_cast<const char*>(data), size);
  const std::string address = miravelo::AddressFromPageMessage(message);
  if (address.empty())
    return 0;

  // The message less its first and last character, and nothing else.
  FUZZ_CHECK(message.size() >= 2 && address == message.substr(1, message.size() - 2));
  const bool web =
      strncasecmp(address.c_str(), "https://", 8) == 0 || strncasecmp(address.c_str(), "http://", 7) == 0;
  FUZZ_CHECK(web);
  FUZZ_CHECK(address.size() > 8 || (address.size() == 8 && strncasecmp(address.c_str(), "http://", 7) == 0));
  for (const char character : address) {
    const auto byte = static_cast<unsigned char>(character);
    FUZZ_CHECK(byte > 0x20 && byte != 0x7F);
  }
  return 0;
}
