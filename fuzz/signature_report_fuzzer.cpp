// The signature report of a downloaded package, whatever the checking program prints: only a report
// that names the team's Developer ID Installer certificate, chained to Apple's root, passes.
#include "fuzz_support.h"

#include "update/package_signature.h"

#include <cstdint>
#include <string>

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
    const std::size_t status = report.find("Status: signed by a developer certificate issued by Apple");
    FUZZ_CHECK(status != std::string::npos && status < report.find("Certificate Chain:"));
    FUZZ_CHECK(report.find("Developer ID Installer: ") != std::string::npos);
    FUZZ_CHECK(report.find("(" + team + ")") != std::string::npos);
    FUZZ_CHECK(report.find("Apple Root CA") != std::string::npos);
  }
  // Without a team nothing passes, not even a certificate that names none.
  FUZZ_CHECK(!ReadSignatureReport(report, 0, "").accepted);
  return 0;
}
