// What the system's package-signature report says about a downloaded installer package, read from
// the text that `pkgutil --check-signature` prints. Pure: the platform layer runs the program.
#pragma once

#include <string>

struct SignatureVerdict {
  bool accepted = false;
  std::string reason; // English, for the log; empty when accepted
};

// The status is the first "Status:" line of the report's header, before "Certificate Chain:".
// Accepted only when the program exited with 0, the status says the package was signed by a developer
// certificate issued by Apple, and the certificate chain starts with a "Developer ID Installer"
// certificate of teamId and ends with "Apple Root CA". Anything else, an unreadable report included,
// is refused with the reason; so is every report when teamId is empty.
SignatureVerdict ReadSignatureReport(const std::string& report, int exitStatus, const std::string& teamId);
