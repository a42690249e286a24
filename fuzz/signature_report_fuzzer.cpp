// The signature report of a downloaded package, whatever the checking program prints: only a report
// that names the team's Developer ID Installer certificate, chained to Apple's root, passes.
#include "fuzz_support.h"

#include "update/package_signature.h"

#include <cstdint>
#include <sstream>
#include <string>

namespace {

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  return first == std::string::npos ? std::string()
                                    : text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

// The header's first status that says anything: lines before the one that is "Certificate Chain:"
// (blanks around a line left out; the words inside a line, a path say, begin nothing).
std::string HeaderStatus(const std::string& report) {
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string text = Trim(line);
    if (text == "Certificate Chain:")
      break;
    if (text.rfind("Status:", 0) == 0 && !Trim(text.substr(7)).empty())
      return Trim(text.substr(7));
  }
  return std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string report(reinterpret_cast<const char*>(data), size);
  const std::string team = "QX7T2M9K4B";
  for (const int exitStatus : {0, 1}) {
    const SignatureVerdict verdict = ReadSignatureReport(report, exitStatus, team);
    FUZZ_CHECK(verdict.accepted == verdict.reason.empty());
    if (!verdict.accepted)
      continue;
    FUZZ_CHECK(exitStatus == 0);
    // The signed status stands in the header, before the certificate chain.
    FUZZ_CHECK(HeaderStatus(report).rfind("signed by a developer certificate issued by Apple", 0) == 0);
    FUZZ_CHECK(report.find("Developer ID Installer: ") != std::string::npos);
    FUZZ_CHECK(report.find("(" + team + ")") != std::string::npos);
    FUZZ_CHECK(report.find("Apple Root CA") != std::string::npos);
  }
  // Without a team nothing passes, not even a certificate that names none.
  FUZZ_CHECK(!ReadSignatureReport(report, 0, "").accepted);
  return 0;
}
