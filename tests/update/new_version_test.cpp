#include "update/new_version.h"
#include "update/offer_state.h"

#include "update/http_fetch.h"
#include "update_test_support.h"

#include <filesystem>
#include <mutex>

using adsk::core::DialogNo;
using adsk::core::DialogYes;

namespace {

const std::string kQuestionTitle = "Nová verze České lokalizace";
const std::string kDownloaded = "Instalační balíček nové verze české lokalizace najdete v Downloads";

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
      response.set_content(m_linkAnswer, "text/plain");
    });
    http.Get("/download/Orvandel-2.5.pkg", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(NewPackage(), "application/octet-stream");
    });
    http.Get("/download/missing.pkg", [](const httplib::Request&, httplib::Response& response) {
      response.status = 404;
      response.set_content("<html>Not found</html>", "text/html");
    });
    ASSERT_TRUE(m_server.Start());
    LinkAnswer("Location: URL=" + m_server.Origin() + "/download/Orvandel-2.5.pkg?session=1\n");
    std::filesystem::create_directory(Downloads());
    localVersion = "1.0";
    serverVersion = "2.5";
    idServerVersion = "17";
  }

  static const std::string& NewPackage() {
    static const std::string bytes = std::string("xar!") + std::string(50000, '\x5a') + std::string(1, '\0');
    return bytes;
  }
  std::string Downloads() const { return folder() + "/Downloads"; }
  std::string Target() const { return Downloads() + "/Orvandel-installer.pkg"; }
  void LinkAnswer(const std::string& answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_linkAnswer = answer;
  }
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
  void Download() { DownloadLatestVersionTo(m_server.Origin(), folder()); }
  // Text of every message box, in order.
  static std::vector<std::string> Messages() {
    std::vector<std::string> texts;
    for (const auto& event : Events("messagebox"))
      texts.push_back(event.text("text"));
    return texts;
  }

  loopback::Server m_server{loopback::Certificate::Trusted};

private:
  std::mutex m_mutex;
  std::string m_linkAnswer;
  std::vector<std::string> m_ids;
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
  // The command reads HOME and the server origin itself; point them at this test for the click.
  const char* home = std::getenv("HOME");
  const std::string savedHome = home ? home : "";
  ::setenv("HOME", folder().c_str(), 1);
  ::setenv("HOSTSIM_SERVER_BASE_URL", m_server.Origin().c_str(), 1);
  ClickAndAnswer(DialogYes);
  ::unsetenv("HOSTSIM_SERVER_BASE_URL");
  if (home)
    ::setenv("HOME", savedHome.c_str(), 1);
  else
    ::unsetenv("HOME");

  EXPECT_EQ(Ids(), std::vector<std::string>{"17"});
  EXPECT_EQ(ReadFile(Target()), NewPackage());
  EXPECT_EQ(Entries(Downloads()), std::vector<std::string>{"Orvandel-installer.pkg"});
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

TEST_F(NewVersionTest, EmptyLinkAnswerEndsSilently) {
  WriteFile(Target(), "previous package");
  LinkAnswer("");
  Download();
  EXPECT_EQ(Ids().size(), 1u);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(ReadFile(Target()), "previous package");
}

TEST_F(NewVersionTest, FailedLinkQueryLogsUrlAndErrorAtLevelZero) {
  const std::string origin = "https://127.0.0.1:" + std::to_string(loopback::ClosedPort());
  DownloadLatestVersionTo(origin, folder());
  const auto lines = Events("log");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text("message"), "QUORLEX: " + origin + "/dl_file.asp?ID=17");
  EXPECT_EQ(lines[1].text("message"), std::string("QUORLEX: ") + curl_easy_strerror(CURLE_COULDNT_CONNECT));
  for (const auto& line : lines) {
    EXPECT_EQ(line.number("level"), 0);
    EXPECT_EQ(line.number("type"), 0);
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(NewVersionTest, FailedDownloadKeepsThePreviousPackageAndSaysWhy) {
  struct Case {
    std::string linkAnswer;
    std::string message;
  };
  const std::string previous = "previous package \x01\x02";
  const std::string local = folder() + "/local.pkg";
  WriteFile(local, "local file");
  const Case cases[] = {
      {"URL=" + m_server.Origin() + "/download/missing.pkg",
       "Stažení nové verze České lokalizace se nezdařilo: server odpověděl chybou HTTP 404."},
      {"URL=file://" + local, "Stažení nové verze České lokalizace se nezdařilo: adresa balíčku nepoužívá "
                              "zabezpečený protokol HTTPS."},
      {"<html>\nerror page\n</html>",
       "Stažení nové verze České lokalizace se nezdařilo: adresa balíčku je neplatná."},
  };
  WriteFile(Target(), previous);
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.linkAnswer);
    hostsim::ClearTranscript();
    LinkAnswer(expected.linkAnswer);
    Download();
    EXPECT_EQ(ReadFile(Target()), previous);
    EXPECT_EQ(Entries(Downloads()), std::vector<std::string>{"Orvandel-installer.pkg"});
    const auto boxes = Events("messagebox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text("text"), expected.message);
    EXPECT_EQ(boxes[0].number("buttons"), 0);
    const auto lines = hostsim::LogMessages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("QUORLEX: (downloadLatestVersion) download failed: ", 0), 0u) << lines[0];
  }
}

TEST_F(NewVersionTest, NoHomeDownloadsNothingAndSaysSo) {
  DownloadLatestVersionTo(m_server.Origin(), "");
  EXPECT_EQ(Messages(),
            std::vector<std::string>{
                "Stažení nové verze České lokalizace se nezdařilo: není nastavena proměnná HOME."});
  EXPECT_TRUE(Entries(Downloads()).empty());
}

TEST_F(NewVersionTest, MissingDownloadsFolderStartsNoTransfer) {
  std::filesystem::remove(Downloads());
  Download();
  EXPECT_EQ(
      Messages(),
      std::vector<std::string>{
          "Stažení nové verze České lokalizace se nezdařilo: ve složce Downloads nelze vytvořit soubor."});
  EXPECT_EQ(m_server.requests(), 1); // the link query alone
}

} // namespace
