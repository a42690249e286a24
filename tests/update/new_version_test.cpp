#include "update/new_version.h"
#include "update/offer_state.h"

#include "scripted_tls.h"
#include "update/http_fetch.h"
#include "update_test_support.h"

#include <gmock/gmock.h>

#include "platform.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <regex>
#include <thread>

using adsk::core::DialogNo;
using adsk::core::DialogYes;
using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;
using updatetest::kInstallerAlone;
using updatetest::ScopedVariable;

namespace {

using updatetest::DownloadLatestVersionTo;

// The quarantine attribute of the simulation; empty when the file has none.
std::string QuarantineOf(const std::string& path) {
  return QuarantineAttribute(path);
}

const std::string kQuestionTitle = "Nová verze České lokalizace";
const std::string kDownloaded = "Instalační balíček nové verze české lokalizace najdete v Downloads";
const std::string kNoAddress = "Adresu instalačního balíčku nové verze se nepodařilo získat: ";
const std::string kFailed = "Stažení nové verze České lokalizace se nezdařilo: ";
// The end of both failure boxes: what the user does next.
const std::string kTryAgain = ".\nZkuste to znovu později tlačítkem „Nová verze České lokalizace“.";
const std::string kFailedLog = "QUORLEX: (downloadLatestVersion) download failed: ";

TEST(NewVersionQuestion, ThreeLinesWithTheirOwnSeparators) {
  EXPECT_EQ(NewVersionQuestion("2.5", "1.0"), "K dispozici je nová verze České lokalizace 2.5\n"
                                              "Verze Vaší České lokalizace je 1.0\n\r"
                                              "Chceste stáhnout novou verzi České lokalizace?");
  EXPECT_EQ(NewVersionQuestion("", ""), "K dispozici je nová verze České lokalizace \n"
                                        "Nebyl nalezen soubor s číslem instalované verze\n\r"
                                        "Chceste stáhnout novou verzi České lokalizace?");
}

// The maker's server for the new-version command: a link query that answers what the test sets and
// a package. Home is the test folder, with a Downloads folder.
class NewVersionTest : public updatetest::UpdateTest {
protected:
  void SetUp() override {
    UpdateTest::SetUp();
    httplib::Server& http = m_server.server();
    http.Get("/dl_file.asp", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_ids.push_back(request.get_param_value("ID"));
      response.status = m_linkStatus;
      if (m_linkMode == LinkMode::Whole) {
        response.set_content(m_linkAnswer, "text/plain");
      } else if (m_linkMode == LinkMode::CutShort) {
        // Announces twice the answer, sends it and closes the connection.
        const std::string answer = m_linkAnswer;
        response.set_content_provider(2 * answer.size(), "text/plain",
                                      [answer](size_t offset, size_t, httplib::DataSink& sink) {
                                        return offset == 0 && sink.write(answer.data(), answer.size());
                                      });
      } else {
        m_server.Stall(response, "text/plain");
      }
    });
    http.Get("/download/Orvandel-2.5.pkg", [this](const httplib::Request&, httplib::Response& response) {
      ++m_packageRequests;
      response.set_content(NewPackage(), "application/octet-stream");
    });
    m_server.Answer("/download/login.pkg", "<html><body>Přihlaste se</body></html>", "text/html");
    m_server.Answer("/download/empty.pkg", "", "application/octet-stream");
    m_server.Answer("/download/huge.pkg", "xar!" + std::string(2 << 20, 'h'), "application/octet-stream");
    m_server.Answer("/download/missing.pkg", "<html>Not found</html>", "text/html", 404);
    ASSERT_TRUE(m_server.Start());
    LinkAnswer("Location: URL=" + m_server.Origin() + "/download/Orvandel-2.5.pkg?session=1\n");
    std::filesystem::create_directory(Downloads());
    OfferVersion25();
  }

  static const std::string& NewPackage() {
    static const std::string bytes = std::string("xar!") + std::string(50000, '\x5a') + std::string(1, '\0');
    return bytes;
  }
  std::string Downloads() const { return folder() + "/Downloads"; }
  std::string Target() const { return Downloads() + "/Orvandel-installer.pkg"; }
  enum class LinkMode { Whole, CutShort, Stalled };
  void LinkAnswer(const std::string& answer, int status = 200, LinkMode mode = LinkMode::Whole) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_linkAnswer = answer;
    m_linkStatus = status;
    m_linkMode = mode;
  }
  std::string GoodLink() const { return "URL=" + m_server.Origin() + "/download/Orvandel-2.5.pkg"; }
  std::vector<std::string> Ids() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ids;
  }
  // The button as the version check leaves it, and one click on it answered with `answer`.
  void ClickAndAnswer(adsk::core::DialogResults answer) {
    if (!hostsim::HasDefinition("newVerAddIn"))
      NewVersionUI();
    hostsim::QueueAnswers({answer});
    std::string error;
    ASSERT_TRUE(hostsim::ClickCommand("newVerAddIn", &error)) << error;
  }
  void Download(const std::string& teamId = "") {
    DownloadLatestVersionTo(m_server.Origin(), folder(), teamId);
  }
  // The log of a failed link query, its address and then the reason, both at level 0 and of type 0.
  static void ExpectLinkQueryLog(const std::string& origin, const std::string& reason) {
    const auto lines = Events("log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text("message"), "QUORLEX: " + origin + "/dl_file.asp?ID=17");
    EXPECT_EQ(lines[1].text("message"), "QUORLEX: " + reason);
    for (const auto& line : lines) {
      EXPECT_EQ(line.number("level"), 0);
      EXPECT_EQ(line.number("type"), 0);
    }
  }

  std::atomic<int> m_packageRequests{0};

private:
  std::mutex m_mutex;
  std::string m_linkAnswer;
  int m_linkStatus = 200;
  LinkMode m_linkMode = LinkMode::Whole;
  std::vector<std::string> m_ids;

protected:
  // Declared last, so that it stops, and its handlers end, before the members they use go away.
  loopback::Server m_server{loopback::Certificate::Trusted};
};

TEST_F(NewVersionTest, QuestionShowsBothVersionsAndNoDownloadsNothing) {
  ClickAndAnswer(DialogNo);
  ClickAndAnswer(DialogNo); // the button keeps working
  const auto boxes = Events("messagebox");
  ASSERT_EQ(boxes.size(), 2u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text("text"), NewVersionQuestion("2.5", "1.0"));
    EXPECT_EQ(box.text("title"), kQuestionTitle);
    EXPECT_EQ(box.number("buttons"), 3);
    EXPECT_EQ(box.number("icon"), 1);
  }
  EXPECT_TRUE(Ids().empty());
  EXPECT_TRUE(Entries(Downloads()).empty());
}

TEST_F(NewVersionTest, YesDownloadsThePackageOverThePreviousOne) {
  WriteFile(Target(), "previous package");
  {
    // The command reads HOME and the server origin itself; point them at this test for the click.
    const ScopedVariable home("HOME", folder());
    const ScopedVariable origin("HOSTSIM_SERVER_BASE_URL", m_server.Origin());
    ClickAndAnswer(DialogYes);
    EXPECT_TRUE(IdleUntil([] { return !DownloadRunning(); }));
  }

  EXPECT_EQ(Ids(), std::vector<std::string>{"17"});
  EXPECT_EQ(ReadFile(Target()), NewPackage());
  EXPECT_EQ(Entries(Downloads()), kInstallerAlone);
  // The package arrives faster than any report: the dialog's last update still names what arrived.
  const auto progress = Events("progress");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().text("message"), "Stahuje se instalační balíček nové verze: 49 kB");
  EXPECT_EQ(progress.back().number("value"), 100);
  const auto boxes = Events("messagebox");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text("text"), kDownloaded);
  EXPECT_EQ(boxes[1].text("title"), "");
  EXPECT_EQ(boxes[1].number("buttons"), 0);
  EXPECT_EQ(boxes[1].number("icon"), 0);
}

TEST_F(NewVersionTest, UnknownInstalledVersionAsksWithAnEmptyId) {
  localVersion.clear();
  serverVersion.clear();
  idServerVersion.clear();
  LinkAnswer("");
  ClickAndAnswer(DialogNo);
  EXPECT_EQ(Messages(), std::vector<std::string>{NewVersionQuestion("", "")});
  Download();
  EXPECT_EQ(Ids(), std::vector<std::string>{""});
}

TEST_F(NewVersionTest, FailedLinkQueryDownloadsNothingAndSaysWhy) {
  FetchLimits limits;
  limits.stallSeconds = 1;
  ScopedFetchLimits shortened(limits);
  struct Case {
    const char* name;
    std::string answer;
    int status;
    LinkMode mode;
    std::string reason;    // Czech, in the message
    std::string logReason; // English, the second log line
  };
  const std::string link = GoodLink();
  const Case cases[] = {
      {"no bytes", "", 200, LinkMode::Whole, "server neposlal žádnou odpověď", "empty answer"},
      {"not found page holding an address", "<html>" + link + "</html>", 404, LinkMode::Whole,
       "server odpověděl chybou HTTP 404", "HTTP status 404"},
      {"cut short", link, 200, LinkMode::CutShort, "přenos skončil předčasně",
       curl_easy_strerror(CURLE_PARTIAL_FILE)},
      {"stalled", "", 200, LinkMode::Stalled, "server přestal odpovídat nebo posílá data příliš pomalu",
       curl_easy_strerror(CURLE_OPERATION_TIMEDOUT)},
  };
  WriteFile(Target(), "previous package");
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    hostsim::ClearTranscript();
    LinkAnswer(test.answer, test.status, test.mode);
    Download();
    EXPECT_EQ(m_packageRequests.load(), 0);
    EXPECT_EQ(ReadFile(Target()), "previous package");
    EXPECT_EQ(Entries(Downloads()), kInstallerAlone);
    EXPECT_EQ(Messages(), std::vector<std::string>{kNoAddress + test.reason + kTryAgain});
    ExpectLinkQueryLog(m_server.Origin(), test.logReason);
  }
}

TEST_F(NewVersionTest, UnreachableLinkServerLogsUrlAndErrorAtLevelZero) {
  const std::string origin = "https://127.0.0.1:" + std::to_string(loopback::ClosedPort());
  DownloadLatestVersionTo(origin, folder(), "");
  ExpectLinkQueryLog(origin, curl_easy_strerror(CURLE_COULDNT_CONNECT));
  EXPECT_EQ(Messages(), std::vector<std::string>{kNoAddress + "server není dostupný" + kTryAgain});
}

TEST_F(NewVersionTest, FailedDownloadKeepsThePreviousPackageAndSaysWhy) {
  FetchLimits limits;
  limits.fileMaxBytes = 1 << 20;
  ScopedFetchLimits shortened(limits);
  loopback::ScriptedTlsServer closing([](loopback::ScriptedConnection& connection) {
    connection.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nxar!" + std::string(3000, 'c'));
  });
  ASSERT_TRUE(closing.ok());
  // 5 GiB announced, then silence: refused at the headers, long before any stall limit.
  loopback::ScriptedTlsServer announcing([](loopback::ScriptedConnection& connection) {
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 5368709120\r\n\r\nxar!");
    for (int tenths = 0; tenths < 100 && !connection.Stopping(); ++tenths)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  });
  ASSERT_TRUE(announcing.ok());
  loopback::ScriptedTlsServer coded([](loopback::ScriptedConnection& connection) {
    connection.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n5\r\nxar!x\r\n0\r\n\r\n");
  });
  ASSERT_TRUE(coded.ok());
  const int packagesBefore = m_packageRequests.load();
  struct Case {
    std::string linkAnswer;
    std::string reason; // in the message
  };
  const std::string previous = "previous package \x01\x02";
  const std::string local = folder() + "/local.pkg";
  WriteFile(local, "local file");
  const Case cases[] = {
      {"URL=" + m_server.Origin() + "/download/missing.pkg", "server odpověděl chybou HTTP 404"},
      {"URL=file://" + local, "adresa balíčku nepoužívá zabezpečený protokol HTTPS"},
      {"<html>\nerror page\n</html>", "adresa balíčku je neplatná"},
      {"URL=/download/Orvandel-2.5.pkg", "adresa balíčku je neplatná"}, // relative: names no server
      // Schemes without a server, one that a transfer would read as user "mailto" at a server among them.
      {"URL=mailto:a@b.c", "adresa balíčku je neplatná"},
      {"URL=mailto:x@127.0.0.1:" + std::to_string(m_server.port()) + "/download/Orvandel-2.5.pkg",
       "adresa balíčku je neplatná"},
      {"URL=data:application/octet-stream;base64,eGFyIQ==.pkg", "adresa balíčku je neplatná"},
      {"URL=javascript:alert(1)//.pkg", "adresa balíčku je neplatná"},
      {"URL=" + m_server.Origin() + "/download/login.pkg", "server neposlal instalační balíček"},
      {"URL=" + m_server.Origin() + "/download/empty.pkg", "server neposlal žádná data"},
      // Over the limit, or without a known end.
      {"URL=" + m_server.Origin() + "/download/huge.pkg", "balíček je větší než 1 MiB"},
      {"URL=" + closing.Origin() + "/p.pkg",
       "server neuvedl délku balíčku, takže nelze ověřit, že dorazil celý"},
      {"URL=" + announcing.Origin() + "/p.pkg", "balíček je větší než 1 MiB"},
      {"URL=" + coded.Origin() + "/p.pkg",
       "server poslal balíček v kódování přenosu, o které doplněk nežádal"},
  };
  WriteFile(Target(), previous);
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.linkAnswer);
    hostsim::ClearTranscript();
    LinkAnswer(expected.linkAnswer);
    Download();
    EXPECT_EQ(ReadFile(Target()), previous);
    EXPECT_EQ(Entries(Downloads()), kInstallerAlone);
    const auto boxes = Events("messagebox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text("text"), kFailed + expected.reason + kTryAgain);
    EXPECT_EQ(boxes[0].number("buttons"), 0);
    EXPECT_THAT(hostsim::LogMessages(), ElementsAre(StartsWith(kFailedLog)));
  }
  EXPECT_EQ(m_packageRequests.load(), packagesBefore); // the mailto: address reached no server
}

TEST_F(NewVersionTest, LinkAnswerEndingInALineEndDownloads) {
  for (const std::string lineEnd : {"\n", "\r\n"}) {
    SCOPED_TRACE(lineEnd == "\n" ? "LF" : "CR LF");
    hostsim::ClearTranscript();
    std::filesystem::remove(Target());
    LinkAnswer(m_server.Origin() + "/download/Orvandel-2.5.pkg" + lineEnd);
    Download();
    EXPECT_EQ(Messages(), std::vector<std::string>{kDownloaded});
    EXPECT_EQ(ReadFile(Target()), NewPackage());
  }
}

TEST_F(NewVersionTest, NoHomeDownloadsNothingAndSaysSo) {
  DownloadLatestVersionTo(m_server.Origin(), "", "");
  EXPECT_EQ(Messages(), std::vector<std::string>{kFailed + "není nastavena proměnná HOME" + kTryAgain});
  EXPECT_TRUE(Entries(Downloads()).empty());
}

TEST_F(NewVersionTest, MissingDownloadsFolderStartsNoTransfer) {
  std::filesystem::remove(Downloads());
  Download();
  EXPECT_EQ(Messages(),
            std::vector<std::string>{kFailed + "ve složce Downloads nelze vytvořit soubor" + kTryAgain});
  EXPECT_EQ(m_server.requests(), 1); // the link query alone
}

TEST_F(NewVersionTest, GoodDownloadCarriesTheQuarantineAttribute) {
  LinkAnswer(GoodLink());
  const std::time_t before = std::time(nullptr);
  Download();
  ASSERT_EQ(Messages(), std::vector<std::string>{kDownloaded});
  EXPECT_EQ(ReadFile(Target()), NewPackage());
  // Flags of a download, the time in hex seconds, the agent; as browsers write it.
  const std::string value = QuarantineOf(Target());
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(value, parts, std::regex("0081;([0-9a-f]{8});Orvandel;"))) << value;
  const std::time_t written = static_cast<std::time_t>(std::stoll(parts[1].str(), nullptr, 16));
  EXPECT_GE(written, before);
  EXPECT_LE(written, std::time(nullptr));
  EXPECT_TRUE(hostsim::LogMessages().empty());
}

TEST_F(NewVersionTest, RefusedQuarantineAttributeStillDeliversThePackage) {
#ifdef __APPLE__
  GTEST_SKIP() << "a Mac's own file systems all keep extended attributes: nothing here refuses one";
#endif
  // A file system without extended attributes refuses each with ENOTSUP: the Darwin shim on its switch,
  // Linux for an attribute namespace it does not know (a name the shim, like a Mac, accepts).
  ScopedVariable refusal("DARWIN_SHIM_SETXATTR_ERROR", "ENOTSUP");
  ScopedVariable attribute("HOSTSIM_QUARANTINE_ATTRIBUTE", "nosuchnamespace.quarantine");
  LinkAnswer(GoodLink());
  Download();
  EXPECT_EQ(Messages(), std::vector<std::string>{kDownloaded});
  EXPECT_EQ(ReadFile(Target()), NewPackage());
  EXPECT_THAT(hostsim::LogMessages(),
              ElementsAre("QUORLEX: (downloadLatestVersion) quarantine attribute could not be set: " +
                          std::string(std::strerror(ENOTSUP))));
}

TEST_F(NewVersionTest, PinnedTeamAcceptsOnlyItsOwnInstallerSignature) {
  const std::string arguments = folder() + "/pkgutil-arguments";
  const std::string report = folder() + "/pkgutil-report";
  ScopedVariable checker("HOSTSIM_PKGUTIL", QUORLEX_PKGUTIL_STANDIN);
  ScopedVariable recorded("STANDIN_ARGUMENTS", arguments);
  ScopedVariable printed("STANDIN_REPORT", report);
  struct Case {
    const char* report;
    const char* exitStatus;
    bool accepted;
  };
  const Case cases[] = {
      {"other_team", "0", false}, {"unsigned", "1", false},      {"apple_development", "0", false},
      {"no_chain", "0", false},   {"signed_by_team", "0", true},
  };
  LinkAnswer(GoodLink());
  for (const Case& test : cases) {
    SCOPED_TRACE(test.report);
    hostsim::ClearTranscript();
    WriteFile(Target(), "previous package");
    WriteFile(report, updatetest::SignatureReport(test.report));
    ScopedVariable status("STANDIN_EXIT", test.exitStatus);
    Download("QX7T2M9K4B");
    // The checker saw the downloaded file before it replaced the previous package.
    EXPECT_THAT(ReadFile(arguments),
                StartsWith("--check-signature\n" + Downloads() + "/.Orvandel-installer.pkg."));
    const std::string refused = kFailed + "balíček není podepsán výrobcem České lokalizace" + kTryAgain;
    EXPECT_EQ(Messages(), std::vector<std::string>{test.accepted ? kDownloaded : refused});
    EXPECT_EQ(ReadFile(Target()), test.accepted ? NewPackage() : "previous package");
    if (!test.accepted) {
      EXPECT_THAT(hostsim::LogMessages(), ElementsAre(StartsWith(kFailedLog + "signature refused: ")));
    }
    EXPECT_EQ(Entries(Downloads()), kInstallerAlone);
  }
}

TEST_F(NewVersionTest, PinnedTeamWithoutAUsableCheckerRefusesThePackage) {
  FetchLimits limits;
  limits.signatureCheckMs = 500;
  ScopedFetchLimits shortened(limits);
  const std::string arguments = folder() + "/pkgutil-arguments";
  ScopedVariable recorded("STANDIN_ARGUMENTS", arguments);
  ScopedVariable printed("STANDIN_REPORT", QUORLEX_SIGNATURE_REPORTS "/signed_by_team.txt");
  ScopedVariable delay("STANDIN_DELAY", "20");
  struct Case {
    const char* name;
    const char* checker;
    const char* logReason;
  };
  const Case cases[] = {
      {"no checker", "", "the signature checker cannot be started"},
      {"checker past its time limit", QUORLEX_PKGUTIL_STANDIN, "the signature check took longer than 500 ms"},
  };
  LinkAnswer(GoodLink());
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    hostsim::ClearTranscript();
    WriteFile(Target(), "previous package");
    ScopedVariable checker("HOSTSIM_PKGUTIL", test.checker);
    const auto start = std::chrono::steady_clock::now();
    Download("QX7T2M9K4B");
    EXPECT_LT(updatetest::SecondsSince(start), 5.0);
    EXPECT_EQ(Messages(), std::vector<std::string>{kFailed + "podpis balíčku nelze ověřit" + kTryAgain});
    EXPECT_THAT(hostsim::LogMessages(), ElementsAre(StartsWith(kFailedLog + test.logReason)));
    EXPECT_EQ(ReadFile(Target()), "previous package");
    EXPECT_EQ(Entries(Downloads()), kInstallerAlone);
  }
}

TEST_F(NewVersionTest, ServerTextInTheLogIsEscapedAndBounded) {
  LinkAnswer("URL=https://127.0.0.1:1/a\nQUORLEX: forged.pkg");
  Download();
  EXPECT_THAT(
      hostsim::LogMessages(),
      ElementsAre(AllOf(HasSubstr("(https://127.0.0.1:1/a\\nQUORLEX: forged.pkg)"), Not(HasSubstr("\n")))));
  EXPECT_EQ(Messages().size(), 1u);

  // Separators and direction controls in an address, and an address and an id of 300 kB.
  hostsim::ClearTranscript();
  LinkAnswer("URL=https://127.0.0.1:1/a\u2028\u2029\u0085\u202e\u2066" + std::string(300000, 'x') + ".pkg");
  Download();
  hostsim::ClearTranscript();
  LinkAnswer("", 404);
  DownloadLatestVersionTo(m_server.Origin() + "/" + std::string(300000, 'i'), folder(), "");
  for (const std::string& line : hostsim::LogMessages()) {
    EXPECT_LE(line.size(), 1024u);
    for (const char* raw : {"\n", "\u2028", "\u2029", "\u0085", "\u202e", "\u2066"})
      EXPECT_EQ(line.find(raw), std::string::npos) << line;
  }
}

} // namespace
