// The guide add-in as the host sees it: the real module loaded into the in-memory host, started and
// stopped as the host does at every start of the application.
//
// The add-in finds its folder from the host's executable, so this program runs itself from a
// simulated host tree (a link named like the host's executable), made afresh for every process and
// removed when every test passed.
#include "platform.h"
#include "recording_opener.h"
#include "temp_folder.h"
#include "temporary_file.h"
#include "test_files.h"
#include "utilities.h"

#include <hostsim/control.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

using namespace adsk::core;
using hostsim::TranscriptEvent;
using miravelo_test::RecordingOpener;

namespace {

constexpr const char* kRootVariable = "MIRAVELO_TEST_HOST_ROOT";
constexpr const char* kUserLibrary = "/Users/user/Library/Application Support/Autodesk";
constexpr const char* kPaletteId = "teachPalete";
constexpr const char* kCommandId = "runTeachPalette";
constexpr const char* kLessTen = "resources/Pruvodce/LessTen";
constexpr const char* kImages = "resources/Pruvodce";

std::string Root() {
  return std::getenv(kRootVariable);
}

std::vector<TranscriptEvent> EventsOf(const std::string& type) {
  std::vector<TranscriptEvent> found;
  for (const TranscriptEvent& event : hostsim::Transcript()) {
    if (event.type == type)
      found.push_back(event);
  }
  return found;
}

// "type id" of every event, for comparing sequences.
std::vector<std::string> Outline() {
  std::vector<std::string> lines;
  for (const TranscriptEvent& event : hostsim::Transcript())
    lines.push_back(event.type + " " + event.text("id"));
  return lines;
}

class GuideAddinTest : public ::testing::Test {
protected:
  void SetUp() override {
    hostsim::ResetHost();
    std::filesystem::remove_all(m_addinFolder);
    std::filesystem::create_directories(m_addinFolder);
    std::filesystem::create_symlink(MIRAVELO_MODULE, m_addinFolder + "/Miravelo.so");
    std::filesystem::remove(Root() + "/opened.log");
    m_opener = std::make_unique<RecordingOpener>(Root());
  }

  void TearDown() override {
    if (!hostsim::LoadedAddins().empty())
      EndHost();
    hostsim::ResetHost();
  }

  // A new host process, set up by configure, that loads the add-in; returns the result of run.
  bool StartHost(bool offline = false, UserLanguages language = EnglishLanguage,
                 const std::function<void()>& configure = nullptr) {
    hostsim::ResetHost();
    hostsim::SetOfflineState(offline);
    hostsim::SetLanguage(language);
    if (configure)
      configure();
    bool result = false;
    std::string error;
    EXPECT_TRUE(hostsim::LoadAddin(m_addinFolder, &result, &error)) << error;
    return result;
  }

  // Unloads the add-in as the host does at exit; returns the result of stop.
  bool EndHost() {
    bool result = false;
    std::string error;
    EXPECT_TRUE(hostsim::UnloadAddin("Miravelo", &result, &error)) << error;
    return result;
  }

  // The module's own stop, called without unloading it.
  bool CallStop() {
    void* module = dlopen((m_addinFolder + "/Miravelo.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(nullptr, module);
    if (!module)
      return false;
    auto stop = reinterpret_cast<bool (*)(const char*)>(dlsym(module, "stop"));
    const bool result = stop && stop("");
    dlclose(module);
    return result;
  }

  const std::string m_addinFolder = Root() + kUserLibrary + "/Autodesk Fusion 360/API/AddIns/Miravelo";
  const std::string m_info = m_addinFolder + "/Miravelo_Info.txt";
  std::unique_ptr<RecordingOpener> m_opener;
};

TEST_F(GuideAddinTest, FirstStartOnlineOpensTheGuideAndOffersTheButton) {
  ASSERT_TRUE(StartHost(false, EnglishLanguage, [] { hostsim::SetEntitlementText("TRIAL-1"); }));

  for (const char* type : {"log", "messagebox", "error"})
    EXPECT_EQ(0u, EventsOf(type).size()) << type;
  EXPECT_EQ(ReadFile(m_info).substr(10), "\n1");

  ASSERT_TRUE(hostsim::HasPalette(kPaletteId));
  EXPECT_TRUE(hostsim::PaletteVisible(kPaletteId));
  const auto added = EventsOf("palette_added");
  ASSERT_EQ(1u, added.size());
  EXPECT_EQ("Miravelo", added[0].text("name"));
  EXPECT_EQ("https://learning.quorlex.cz/fusion360/learning.asp?lang=ENG&lic=TRIAL-1", added[0].text("url"));
  for (const char* flag : {"visible", "close_button", "resizable"})
    EXPECT_TRUE(added[0].boolean(flag)) << flag;
  EXPECT_EQ(300, added[0].number("width"));
  EXPECT_EQ(400, added[0].number("height"));
  const auto docking = EventsOf("palette_docking");
  ASSERT_EQ(1u, docking.size());
  EXPECT_EQ(4, docking[0].number("state"));

  const auto definitions = EventsOf("definition_added");
  ASSERT_EQ(1u, definitions.size());
  EXPECT_EQ(kCommandId, definitions[0].text("id"));
  EXPECT_EQ("Zobrazit průvodce", definitions[0].text("name"));
  EXPECT_EQ("Průvodce je pomocník pro začátečníky, integrovaný do prostředí programu Fusion 360 a napomáhá s "
            "prvními kroky v aplikaci.",
            definitions[0].text("tooltip"));
  EXPECT_EQ(kLessTen, hostsim::DefinitionResourceFolder(kCommandId));
  // Placed right after the help group.
  const auto controls = hostsim::ControlIds("QATRight");
  const auto help = std::find(controls.begin(), controls.end(), "HelpGroupCommand");
  ASSERT_NE(controls.end(), help);
  ASSERT_NE(controls.end(), help + 1);
  EXPECT_EQ(kCommandId, *(help + 1));
}

TEST_F(GuideAddinTest, OpensByItselfDuringTheFirstFourStartsOnly) {
  for (int start = 1; start <= 6; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    EXPECT_TRUE(StartHost());
    EXPECT_EQ(start <= 4, hostsim::HasPalette(kPaletteId));
    EXPECT_EQ(start == 1 ? kLessTen : kImages, hostsim::DefinitionResourceFolder(kCommandId));
    EXPECT_TRUE(EndHost());
  }
  EXPECT_EQ("\n6\n", ReadFile(m_info).substr(10));
}

TEST_F(GuideAddinTest, OnlineReportsOpenTheGuideWhileTheCounterIsInRange) {
  WriteFile(m_info, "07.12.2026\n2\n");
  EXPECT_TRUE(StartHost(/*offline=*/true));
  EXPECT_FALSE(hostsim::HasPalette(kPaletteId));

  hostsim::ReportOnlineStatus(false);
  EXPECT_TRUE(hostsim::PaletteVisible(kPaletteId));
  EXPECT_EQ(1u, EventsOf("palette_added").size());

  hostsim::ClearTranscript();
  hostsim::ReportOnlineStatus(true);
  EXPECT_EQ(std::vector<std::string>{"online_status "}, Outline());
  EXPECT_TRUE(hostsim::PaletteVisible(kPaletteId));

  hostsim::ReportOnlineStatus(false);
  EXPECT_EQ((std::vector<std::string>{"online_status ", "online_status ", "palette_visible teachPalete"}),
            Outline());
  EndHost();

  struct Case {
    const char* counter;
    bool opens;
  };
  for (const Case c : {Case{"0", true}, Case{"3", true}, Case{"4", false}, Case{"-5", false}}) {
    SCOPED_TRACE(c.counter);
    WriteFile(m_info, std::string("07.12.2026\n") + c.counter + "\n");
    StartHost(/*offline=*/true);
    hostsim::ReportOnlineStatus(false);
    EXPECT_EQ(c.opens, hostsim::HasPalette(kPaletteId));
    EndHost();
  }
}

TEST_F(GuideAddinTest, UnreadableCounterNeverOpensByItselfButTheButtonStillWorks) {
  std::filesystem::create_directory(m_info);
  EXPECT_TRUE(StartHost());
  EXPECT_FALSE(hostsim::HasPalette(kPaletteId));
  EXPECT_EQ(kLessTen, hostsim::DefinitionResourceFolder(kCommandId));
  hostsim::ReportOnlineStatus(false);
  EXPECT_FALSE(hostsim::HasPalette(kPaletteId));

  ASSERT_TRUE(hostsim::ClickCommand(kCommandId, nullptr));
  EXPECT_TRUE(hostsim::PaletteVisible(kPaletteId));
  EXPECT_TRUE(std::filesystem::is_directory(m_info));
}

TEST_F(GuideAddinTest, MissingToolbarStopsRunAfterCountingAndAttaching) {
  WriteFile(m_info, "07.12.2026\n2\n");
  EXPECT_FALSE(StartHost(/*offline=*/true, EnglishLanguage, [] { hostsim::RemoveToolbar("QATRight"); }));
  EXPECT_EQ("07.12.2026\n3\n", ReadFile(m_info));
  EXPECT_FALSE(hostsim::HasDefinition(kCommandId));
  // The online handler is in place all the same.
  hostsim::ReportOnlineStatus(false);
  EXPECT_TRUE(hostsim::PaletteVisible(kPaletteId));
  // stop removes the palette, then cannot find the toolbar.
  EXPECT_FALSE(EndHost());
  EXPECT_FALSE(hostsim::HasPalette(kPaletteId));
}

TEST_F(GuideAddinTest, StopRemovesInItsOrderAndASecondStopDoesNothing) {
  ASSERT_TRUE(StartHost());
  // The e-shop button of an earlier version, left in the host.
  Ptr<UserInterface> userInterface = Application::get()->userInterface();
  Ptr<CommandDefinition> eshop =
      userInterface->commandDefinitions()->addButtonDefinition("openEshop", "e", "e");
  ASSERT_TRUE(eshop);
  ASSERT_TRUE(userInterface->toolbars()->itemById("QATRight")->controls()->addCommand(eshop));

  hostsim::ClearTranscript();
  EXPECT_TRUE(CallStop());
  EXPECT_EQ((std::vector<std::string>{"palette_removed teachPalete", "definition_removed openEshop",
                                      "control_removed openEshop", "definition_removed runTeachPalette",
                                      "control_removed runTeachPalette"}),
            Outline());
  hostsim::ClearTranscript();
  EXPECT_TRUE(CallStop());
  EXPECT_TRUE(hostsim::Transcript().empty());
  EXPECT_TRUE(EndHost());
}

TEST_F(GuideAddinTest, StopWithoutPaletteRemovesTheButton) {
  WriteFile(m_info, "07.12.2026\n4\n");
  ASSERT_TRUE(StartHost());
  ASSERT_FALSE(hostsim::HasPalette(kPaletteId));
  hostsim::ClearTranscript();
  EXPECT_TRUE(EndHost());
  EXPECT_EQ((std::vector<std::string>{"definition_removed runTeachPalette", "control_removed runTeachPalette",
                                      "addin "}),
            Outline());
}

TEST_F(GuideAddinTest, PageAddressFollowsTheHostsLanguageAndEntitlement) {
  struct Case {
    UserLanguages language;
    const char* entitlement; // nullptr: the host's own, STUDENT
    const char* query;
  };
  for (const Case c : {Case{CzechLanguage, nullptr, "lang=CSY&lic=STUDENT"},
                       Case{EnglishLanguage, nullptr, "lang=ENG&lic=STUDENT"},
                       Case{GermanLanguage, nullptr, "lang=ENG&lic=STUDENT"},
                       // An empty entitlement ends the address.
                       Case{EnglishLanguage, "", "lang=ENG&lic="}}) {
    SCOPED_TRACE(c.query);
    std::filesystem::remove(m_info);
    EXPECT_TRUE(StartHost(/*offline=*/false, c.language, [&] {
      if (c.entitlement)
        hostsim::SetEntitlementText(c.entitlement);
    }));
    EXPECT_EQ(std::string("https://learning.quorlex.cz/fusion360/learning.asp?") + c.query,
              hostsim::PaletteUrl(kPaletteId));
    EndHost();
  }
}

TEST_F(GuideAddinTest, OpeningAgainShowsThePaletteWithoutReloading) {
  ASSERT_TRUE(StartHost());
  const std::string url = hostsim::PaletteUrl(kPaletteId);
  hostsim::SetLanguage(CzechLanguage);
  hostsim::SetEntitlementText("OTHER");
  hostsim::ClearTranscript();
  ASSERT_TRUE(hostsim::ClickCommand(kCommandId, nullptr));
  EXPECT_EQ((std::vector<std::string>{"click runTeachPalette", "palette_visible teachPalete"}), Outline());
  EXPECT_EQ(url, hostsim::PaletteUrl(kPaletteId));
}

TEST_F(GuideAddinTest, PageMessagesOpenTheirAddressWithoutQuotes) {
  SKIP_WITHOUT_SIMULATED_OPENER();
  ASSERT_TRUE(StartHost());
  ASSERT_TRUE(hostsim::SendHtml(kPaletteId, "\"https://learning.quorlex.cz/kurz?id=1\"", "openURL", nullptr));
  ASSERT_TRUE(hostsim::SendHtml(kPaletteId, "\"\"", "openURL", nullptr));
  ASSERT_TRUE(hostsim::SendHtml(kPaletteId, "x", "openURL", nullptr));
  ASSERT_TRUE(hostsim::SendHtml(kPaletteId, "", "", nullptr));
  EXPECT_EQ((std::vector<std::vector<std::string>>{{"https://learning.quorlex.cz/kurz?id=1"}}),
            m_opener->Calls());
}

TEST_F(GuideAddinTest, PaletteOfTheOnlineHandlerKeepsReactingAfterTheButtonShowsIt) {
  SKIP_WITHOUT_SIMULATED_OPENER();
  WriteFile(m_info, "07.12.2026\n1\n");
  ASSERT_TRUE(StartHost(/*offline=*/true));
  hostsim::ReportOnlineStatus(false);
  ASSERT_TRUE(hostsim::HasPalette(kPaletteId));
  ASSERT_TRUE(hostsim::ClickCommand(kCommandId, nullptr));
  EXPECT_EQ(1u, EventsOf("palette_added").size());
  ASSERT_TRUE(hostsim::SendHtml(kPaletteId, "\"https://x.example/\"", "openURL", nullptr));
  EXPECT_EQ((std::vector<std::vector<std::string>>{{"https://x.example/"}}), m_opener->Calls());
}

TEST_F(GuideAddinTest, FailingHostCallsStaySilent) {
  struct Case {
    const char* call;
    bool runResult;
    bool counted;
    bool palette;
  };
  const Case cases[] = {
      {"get", false, false, false},
      {"Application.userInterface", false, false, false},
      {"onlineStatusChanged", false, true, false},
      {"Toolbars.itemById", false, true, true},
      {"addButtonDefinition", false, true, true},
      {"addCommand", false, true, true},
      {"commandCreated", false, true, true},
      {"Palettes.add", true, true, false},
      {"generalPreferences", true, true, false},
      // Created before the failure, the palette stays.
      {"incomingFromHTML", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    std::filesystem::remove(m_info);
    hostsim::ResetHost();
    hostsim::FailCall(c.call, "boom");
    bool result = !c.runResult;
    ASSERT_TRUE(hostsim::LoadAddin(m_addinFolder, &result, nullptr));
    EXPECT_EQ(c.runResult, result);
    EXPECT_EQ(c.counted, std::filesystem::exists(m_info));
    EXPECT_EQ(c.palette, hostsim::HasPalette(kPaletteId));
    hostsim::ClickCommand(kCommandId, nullptr);
    hostsim::ReportOnlineStatus(false);
    EndHost();
    EXPECT_EQ(0u, EventsOf("log").size() + EventsOf("messagebox").size() + EventsOf("error").size());
  }
}

// Runs this program again from a simulated host tree, so that the add-in's folder is found as it is
// below the real host. Returns only when that fails.
int RunFromSimulatedHost(char** argv) {
  const std::string root = MakeTemporaryFolder("miravelo-host-");
  if (root.empty()) {
    perror("mkdtemp");
    return 1;
  }
  const std::string executableFolder =
      root + kUserLibrary + "/webdeploy/production/build/Autodesk Fusion.app/Contents/MacOS";
  const std::string executable = executableFolder + "/Autodesk Fusion";
  std::error_code error;
  std::filesystem::create_directories(executableFolder, error);
  std::filesystem::path self;
  if (!error)
    self = std::filesystem::canonical(ExecutablePath(), error);
  if (!error)
    std::filesystem::create_symlink(self, executable, error);
  if (error) {
    std::cerr << root << ": " << error.message() << "\n";
    return 1;
  }
  setenv(kRootVariable, root.c_str(), 1);
  execv(executable.c_str(), argv);
  perror("execv");
  return 1;
}

} // namespace

int main(int argc, char** argv) {
  if (!std::getenv(kRootVariable) || GetExecutableDirectory().find("Autodesk") == std::string::npos)
    return RunFromSimulatedHost(argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  if (result == 0) {
    std::error_code ignored;
    std::filesystem::remove_all(Root(), ignored);
  } else {
    std::cerr << "simulated host kept in " << Root() << "\n";
  }
  return result;
}
