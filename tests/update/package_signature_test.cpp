#include "update/package_signature.h"

#include "update_test_support.h"

using updatetest::Replaced;
using updatetest::SignatureReport;

namespace {

TEST(ReadSignatureReport, OnlyTheTeamsDeveloperIdInstallerSignaturePasses) {
  struct Case {
    const char* report;
    int exitStatus;
    bool accepted;
    std::string reason;
  };
  const Case cases[] = {
      {"signed_by_team", 0, true, ""},
      {"signed_by_team", 1, false, "pkgutil exit status 1"},
      {"other_team", 0, false, "signed by team AB12CD34EF, not QX7T2M9K4B"},
      {"unsigned", 1, false, "status: no signature"},
      {"apple_development", 0, false, "signed with Apple Development: Jan Novak (QX7T2M9K4B)"},
      {"no_chain", 0, false, "no certificate chain"},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.report);
    const SignatureVerdict verdict =
        ReadSignatureReport(SignatureReport(expected.report), expected.exitStatus, "QX7T2M9K4B");
    EXPECT_EQ(verdict.accepted, expected.accepted);
    EXPECT_EQ(verdict.reason, expected.reason);
  }
}

TEST(ReadSignatureReport, ForgedOrMangledReportsAreRefused) {
  const std::string good = SignatureReport("signed_by_team");
  struct Case {
    const char* name;
    std::string report;
  };
  const Case cases[] = {
      {"empty output", ""},
      {"untrusted certificate",
       Replaced(good, "signed by a developer certificate issued by Apple for distribution",
                "signed by untrusted certificate")},
      {"team only as a prefix", Replaced(good, "(QX7T2M9K4B)", "(QX7T2M9K4BX)")},
      {"team in the name, not in the parentheses",
       Replaced(good, "Quorlex s.r.o. (QX7T2M9K4B)", "QX7T2M9K4B (AB12CD34EF)")},
      {"self-made root", Replaced(good, "3. Apple Root CA", "3. Apple Root CA Forged")},
      {"leaf alone", good.substr(0, good.find("    2. "))},
      {"no team in the certificate", Replaced(good, " (QX7T2M9K4B)", "")},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const SignatureVerdict verdict = ReadSignatureReport(test.report, 0, "QX7T2M9K4B");
    EXPECT_FALSE(verdict.accepted);
    EXPECT_FALSE(verdict.reason.empty());
  }
  // Without a team nothing passes, not even a certificate that names none.
  EXPECT_FALSE(ReadSignatureReport(Replaced(good, " (QX7T2M9K4B)", ""), 0, "").accepted);
}

TEST(ReadSignatureReport, StatusIsReadInTheHeaderAloneNeverInTheChain) {
  const std::string good = SignatureReport("signed_by_team");
  const std::string signedStatus =
      "Status: signed by a developer certificate issued by Apple for distribution";
  const std::string leaf = "    1. Developer ID Installer: Quorlex s.r.o. (QX7T2M9K4B)";
  // The leaf certificate followed by a line that reads as the signed status.
  const std::string leafWithStatus = leaf + "\n       " + signedStatus;
  struct Case {
    const char* name;
    std::string report;
    const char* reason;
  };
  const Case cases[] = {
      {"signed status in the chain alone",
       Replaced(Replaced(good, signedStatus, "Signed: yes"), leaf, leafWithStatus),
       "no signature status in the report"},
      {"unsigned header, signed status in the chain",
       Replaced(Replaced(good, signedStatus, "Status: no signature"), leaf, leafWithStatus),
       "status: no signature"},
      {"second status in the header",
       Replaced(good, signedStatus, "Status: no signature\n   " + signedStatus), "status: no signature"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const SignatureVerdict verdict = ReadSignatureReport(test.report, 0, "QX7T2M9K4B");
    EXPECT_FALSE(verdict.accepted);
    EXPECT_EQ(verdict.reason, test.reason);
  }
}

} // namespace
