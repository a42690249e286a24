// The version file in the add-in's folder, whatever it holds, and the version query URL that carries
// the version read from it.
#include "fuzz_support.h"

#include "update/update_protocol.h"
#include "update/version_check.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const std::string path = fuzz::ScratchFolder() + "/version.txt";
  fuzz::WriteBytes(path, data, size);

  const std::string version = ReadLocalVersion(path);
  // The last line less its first character, nothing trimmed.
  const std::vector<std::string> lines = fuzz::SplitLines(content);
  const std::string last = lines.empty() ? std::string() : lines.back();
  FUZZ_CHECK(version == (last.empty() ? std::string() : last.substr(1)));
  FUZZ_CHECK(version.find('\n') == std::string::npos);

  // The version goes into the query unchanged in meaning and can add no key of its own.
  const std::string base = "https://server.invalid";
  const std::string url = VersionQueryUrl(base, version);
  const std::string prefix = base + "/_sys_/updverC.asp?av=1.0&app=Zandrelmac&cv=";
  FUZZ_CHECK(url.compare(0, prefix.size(), prefix) == 0);
  FUZZ_CHECK(fuzz::EncodesQueryValue(url.substr(prefix.size()), version));
  return 0;
}
