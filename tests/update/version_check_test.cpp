#include "update/new_version.h"
#include "update/offer_state.h"
#include "update/version_check.h"

#include "update_test_support.h"

#include <mutex>

namespace {

using updatetest::CheckNewVersionAt;

class VersionFileTest : public updatetest::UpdateTest {};

TEST_F(VersionFileTest, VersionIsTheLastLineLessItsFirstCharacter) {
  struct Case {
    const char* name;
    std::string content;
    std::string version;
  };
  const Case cases[] = {
      {"one line", "V1.0\n", "1.0"},
      {"no final line feed", "V1.0", "1.0"},
      {"several lines", "V1.0\nV2.5\n", "2.5"},
      {"CRLF keeps the carriage return", "V1.0\r\nV2.5\r\n", "2.5\r"},
      {"blanks stay", "V 2.5 \n", " 2.5 "},
      {"one character", "V\n", ""},
      {"empty last line", "V1.0\n\n", ""},
      {"empty file", "", ""},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.name);
    WriteFile(folder() + "/version.txt", expected.content);
    EXPECT_EQ(ReadLocalVersion(folder() + "/version.txt"), expected.version);
  }
  EXPECT_EQ(ReadLocalVersion(folder() + "/missing.txt"), "");
  EXPECT_EQ(ReadLocalVersion(folder()), ""); // a folder does not read as a file
}

// A maker's server whose version query answers what the test sets, recording each query's cv.
class CheckTest : public updatetest::UpdateTest {
protected:
  void SetUp() override {
    UpdateTest::SetUp();
    m_server.server().Get(
        "/_sys_/updverC.asp", [this](const httplib::Request& request, httplib::Response& response) {
          std::lock_guard<std::mutex> lock(m_mutex);
          m_queries.push_back(request.get_param_value("av") + " " + request.get_param_value("app") + " " +
                              request.get_param_value("cv"));
          response.status = m_status;
          response.set_content(m_answer, "text/plain");
        });
    ASSERT_TRUE(m_server.Start());
    localVersion.clear();
    serverVersion.clear();
    idServerVersion.clear();
  }

  void Answer(const std::string& answer, int status = 200) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = answer;
    m_status = status;
  }
  std::vector<std::string> Queries() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queries;
  }
  std::string VersionFile(const std::string& content) {
    std::string path = folder() + "/version.txt";
    WriteFile(path, content);
    return path;
  }
  bool Check(const std::string& versionFile) { return CheckNewVersionAt(versionFile, m_server.Origin()); }

private:
  std::mutex m_mutex;
  std::string m_answer;
  int m_status = 200;
  std::vector<std::string> m_queries;

protected:
  // Declared last, so that it stops, and its handlers end, before the members they use go away.
  loopback::Server m_server{loopback::Certificate::Trusted};
};

TEST_F(CheckTest, NoNewerVersionAnswerRaisesNothing) {
  Answer("Zandrelmac\n");
  EXPECT_FALSE(Check(VersionFile("V2.5\n")));
  EXPECT_EQ(Queries(), std::vector<std::string>{"1.0 Zandrelmac 2.5"});
  EXPECT_EQ(hostsim::LogMessages(), std::vector<std::string>{"QUORLEX: (CheckNewVersion) start function"});
  EXPECT_FALSE(hostsim::HasDefinition("newVerAddIn"));
  EXPECT_EQ(serverVersion, "Zandrelmac\n");
}

TEST_F(CheckTest, AnyOtherAnswerIsAnOfferSplitAtTheBars) {
  struct Case {
    std::string answer;
    std::string id;
    std::string offered;
    std::string logged; // the offered version as the log shows it
  };
  const Case cases[] = {
      {"Zandrelmac|17|2.5|x", "17", "2.5", "2.5"},
      {"Zandrelmac|17|2.5", "17", "2.5", "2.5"},
      // A server that ends its answers with a line end offers the version before it.
      {"Zandrelmac|17|2.5\n", "17", "2.5", "2.5"},
      {"Zandrelmac|17|2.5\r\n", "17", "2.5", "2.5"},
      {"|17|2.5|10.0.1", "2.5", "10.0.1", "10.0.1"}, // a leading '|' is no separator
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.answer);
    FreshHost();
    Answer(expected.answer);
    EXPECT_TRUE(Check(VersionFile("V1.0\n")));
    EXPECT_EQ(idServerVersion, expected.id);
    EXPECT_EQ(serverVersion, expected.offered);
    EXPECT_EQ(hostsim::LogMessages(), (std::vector<std::string>{
                                          "QUORLEX: (CheckNewVersion) start function",
                                          "QUORLEX: (CheckNewVersion) local ver: 1.0",
                                          "QUORLEX: (CheckNewVersion) server ver: " + expected.logged,
                                          "QUORLEX: (CheckNewVersion) end function",
                                      }));
    const std::vector<std::string> controls = hostsim::ControlIds("QATRight");
    const auto button = std::find(controls.begin(), controls.end(), "newVerAddIn");
    ASSERT_NE(button, controls.end());
    ASSERT_NE(button + 1, controls.end());
    EXPECT_EQ(*(button + 1), "UserDisplayNameCommand");
    EXPECT_EQ(hostsim::DefinitionResourceFolder("newVerAddIn"), "resources/NewCzech");
    std::string error;
    hostsim::QueueAnswers({adsk::core::DialogNo});
    ASSERT_TRUE(hostsim::ClickCommand("newVerAddIn", &error)) << error;
    EXPECT_EQ(Messages(), std::vector<std::string>{NewVersionQuestion(expected.offered, "1.0")});
  }
}

TEST_F(CheckTest, VersionNotNewerThanTheInstalledOneIsNoOffer) {
  struct Case {
    std::string installed; // the version file
    std::string answer;
    bool offered;
  };
  const Case cases[] = {
      {"V1.0\n", "Zandrelmac|17|0.9|x", false},
      {"V1.0\n", "Zandrelmac|17|1.0|x", false},
      {"V1.0\n", "Zandrelmac|17|01.0.0\n", false},
      {"V1.10\n", "Zandrelmac|17|1.9", false},
      {"V1.0\r\n", "Zandrelmac|17|1.0", false}, // the version file's CR is no part of the number
      {"V2.0.13\n", "Zandrelmac|17|2.5", true},
      {"V1.9\n", "Zandrelmac|17|1.10", true},
      // An installed version that is no number cannot be compared: the offer stands.
      {"Vbeta\n", "Zandrelmac|17|0.1", true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.installed + " / " + test.answer);
    FreshHost();
    idServerVersion.clear();
    Answer(test.answer);
    EXPECT_EQ(Check(VersionFile(test.installed)), test.offered);
    EXPECT_EQ(hostsim::HasDefinition("newVerAddIn"), test.offered);
    EXPECT_EQ(idServerVersion, test.offered ? "17" : "");
    const std::vector<std::string> log = hostsim::LogMessages();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1].find("QUORLEX: (CheckNewVersion) offered version "),
              test.offered ? std::string::npos : 0u)
        << log[1];
  }
}

TEST_F(CheckTest, FailedQueryOffersNothing) {
  const std::string kNoVersion = "offered version is not a version: ";
  struct Case {
    const char* name;
    std::string answer;
    int status;
    std::string reason;
  };
  const Case cases[] = {
      {"not found page", "<html>Not found</html>", 404, "HTTP status 404"},
      {"server error page", "<html>Error</html>", 500, "HTTP status 500"},
      {"no bytes", "", 200, "empty answer"},
      // Server text that is no version is never shown: quoted in the log, escaped and bounded.
      {"too few separators", "Zandrelmac|17", 200, kNoVersion + "Zandrelmac|17"},
      {"no separator", "Zandrelmac\r", 200, kNoVersion + "Zandrelmac\\r"},
      {"two line ends", "Zandrelmac|17|2.5\n\n", 200, kNoVersion + "2.5\\n"},
      {"Unicode digits", "Zandrelmac|17|２.５", 200, kNoVersion + "２.５"},
      {"words after the version", "Zandrelmac|17|2.5\n\nDŮLEŽITÉ: zadejte heslo správce|x", 200,
       kNoVersion + "2.5\\n\\nDŮLEŽITÉ: zadejte heslo správce"},
      {"forged log line", "Zandrelmac|17|2.5\nQUORLEX: forged|x", 200, kNoVersion + "2.5\\nQUORLEX: forged"},
      {"long number", "Zandrelmac|17|" + std::string(300, '9') + "|x", 200,
       kNoVersion + std::string(200, '9') + "… (300 bytes)"},
      {"line and direction controls", "Zandrelmac|17|2.5\u2028\u0085QUORLEX: \u202eforged|x", 200,
       kNoVersion + "2.5\\u2028\\u0085QUORLEX: \\u202eforged"},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.name);
    FreshHost();
    serverVersion = "before";
    Answer(expected.answer, expected.status);
    EXPECT_FALSE(Check(VersionFile("V1.0\n")));
    EXPECT_FALSE(hostsim::HasDefinition("newVerAddIn"));
    EXPECT_EQ(serverVersion, "before");
    EXPECT_EQ(idServerVersion, "");
    const std::vector<std::string> log = hostsim::LogMessages();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1], "QUORLEX: (CheckNewVersion) version query failed: " + expected.reason);
  }

  FreshHost();
  const std::string refused = "https://127.0.0.1:" + std::to_string(loopback::ClosedPort());
  EXPECT_FALSE(CheckNewVersionAt(VersionFile("V1.0\n"), refused));
  EXPECT_FALSE(hostsim::HasDefinition("newVerAddIn"));
}

TEST_F(CheckTest, MissingVersionFileRaisesTheNoticeWithoutARequest) {
  idServerVersion = "kept";
  EXPECT_TRUE(Check(folder() + "/version.txt"));
  EXPECT_TRUE(Queries().empty());
  EXPECT_EQ(hostsim::LogMessages(), (std::vector<std::string>{
                                        "QUORLEX: (CheckNewVersion) start function",
                                        "QUORLEX: (CheckNewVersion) file with local version wasn't find.",
                                        "QUORLEX: (CheckNewVersion) local ver: ",
                                        "QUORLEX: (CheckNewVersion) server ver: ",
                                        "QUORLEX: (CheckNewVersion) end function",
                                    }));
  EXPECT_EQ(idServerVersion, "kept");
  EXPECT_TRUE(hostsim::HasDefinition("newVerAddIn"));
  for (const auto& event : Events("log")) {
    EXPECT_EQ(event.number("level"), 2);
    EXPECT_EQ(event.number("type"), 0);
  }
}

TEST_F(CheckTest, VersionWithCarriageReturnAndBlanksReachesTheServerEncoded) {
  Answer("Zandrelmac|17|2.5");
  EXPECT_TRUE(Check(VersionFile("V1.0\r\n")));
  EXPECT_TRUE(Check(VersionFile("V1 0\n")));
  EXPECT_EQ(Queries(), (std::vector<std::string>{"1.0 Zandrelmac 1.0\r", "1.0 Zandrelmac 1 0"}));
}

TEST_F(CheckTest, NoQuickAccessToolbarNoButton) {
  ASSERT_TRUE(hostsim::RemoveToolbar("QATRight"));
  Answer("Zandrelmac|17|2.5");
  EXPECT_TRUE(Check(VersionFile("V1.0\n")));
  EXPECT_FALSE(hostsim::HasDefinition("newVerAddIn"));
  EXPECT_TRUE(Events("messagebox").empty());
}

} // namespace
