#include "package_signature.h"

#include <sstream>
#include <vector>

namespace {

std::string Trimmed(const std::string& line) {
  const std::size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos)
    return std::string();
  const std::size_t last = line.find_last_not_of(" \t\r");
  return line.substr(first, last - first + 1);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The subject of a certificate-chain item such as "1. Developer ID Installer: Maker (TEAM1234)", or
// empty when the line is no item.
std::string ChainItem(const std::string& line) {
  std::size_t digits = 0;
  while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9')
    ++digits;
  if (digits == 0 || line.compare(digits, 2, ". ") != 0)
    return std::string();
  return line.substr(digits + 2);
}

// "TEAM1234" of "Developer ID Installer: Maker (TEAM1234)"; empty without a final parenthesis.
std::string TeamOf(const std::string& subject) {
  if (subject.empty() || subject.back() != ')')
    return std::string();
  const std::size_t open = subject.rfind('(');
  return open == std::string::npos ? std::string() : subject.substr(open + 1, subject.size() - open - 2);
}

} // namespace

SignatureVerdict ReadSignatureReport(const std::string& report, int exitStatus, const std::string& teamId) {
  std::string status;
  bool chainSeen = false;
  std::vector<std::string> chain;
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string text = Trimmed(line);
    if (!chainSeen && StartsWith(text, "Status:")) {
      // The header's first status alone: text in the chain (a certificate's name) says nothing of it.
      if (status.empty())
        status = Trimmed(text.substr(7));
    } else if (text == "Certificate Chain:") {
      chainSeen = true;
    } else if (chainSeen) {
      const std::string subject = ChainItem(text);
      if (!subject.empty())
        chain.push_back(subject);
    }
  }

  SignatureVerdict verdict;
  if (status.empty())
    verdict.reason = "no signature status in the report";
  else if (!StartsWith(status, "signed by a developer certificate issued by Apple"))
    verdict.reason = "status: " + status;
  else if (chain.empty())
    verdict.reason = "no certificate chain";
  else if (!StartsWith(chain.front(), "Developer ID Installer: "))
    verdict.reason = "signed with " + chain.front();
  else if (TeamOf(chain.front()).empty() || TeamOf(chain.front()) != teamId)
    verdict.reason = "signed by team " + TeamOf(chain.front()) + ", not " + teamId;
  else if (chain.size() < 2 || chain.back() != "Apple Root CA")
    verdict.reason = "certificate chain does not end with Apple Root CA";
  else if (exitStatus != 0)
    verdict.reason = "pkgutil exit status " + std::to_string(exitStatus);
  else
    verdict.accepted = true;
  return verdict;
}
