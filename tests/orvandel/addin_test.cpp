#include "addin_test_support.h"
#include "temp_folder.h"
#include "test_files.h"

#include <hostsim/control.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using addintest::MessageBoxes;

const std::string kRunLine = "QUORLEX: Run addIn and start of logging";
const std::string kStopLine = "QUORLEX: Stop addIn and stop of logging";
const std::string kInstallStart = "QUORLEX: (CopyCzechFiles) start ...";
const std::string kVersionCheckStart = "QUORLEX: (CheckNewVersion) start function";
const std::string kCamCopied = "QUORLEX: (CopyCzechFiles) copy files for Fusion CAM.";

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// The real module, loaded into the in-memory host, with HOME and the Mac's root in a temporary folder
// and the update server on a loopback port where nothing listens.
class LanguageAddin : public testing::Test {
protected:
  void SetUp() override {
    hostsim::ResetHost();
    setenv("HOME", (tree / "Users/user").c_str(), 1);
    setenv("HOSTSIM_MAC_ROOT", tree.path().c_str(), 1);
    setenv("HOSTSIM_SERVER_BASE_URL", "https://127.0.0.1:9", 1);
  }
  void TearDown() override {
    for (const std::string& name : hostsim::LoadedAddins())
      hostsim::UnloadAddin(name, nullptr, nullptr);
    hostsim::ResetHost();
  }

  bool Load() {
    bool result = false;
    std::string error;
    EXPECT_TRUE(hostsim::LoadAddin(ORVANDEL_ADDIN_DIR, &result, &error)) << error;
    return result;
  }
  // Idles as the host does, delivering what the add-in's workers report, until the log holds line
  // count times (at most 20 s), and a little longer for what follows it.
  void IdleUntilLogged(const std::string& line, int count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Count(hostsim::LogMessages(), line) < count && std::chrono::steady_clock::now() < deadline) {
      hostsim::WaitForCustomEvents(std::chrono::milliseconds(50));
      hostsim::DeliverCustomEvents();
    }
    EXPECT_EQ(Count(hostsim::LogMessages(), line), count) << line;
    // The run's end follows its last line on the worker at once, and reaches the host a delivery later.
    const auto quiet = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < quiet) {
      hostsim::WaitForCustomEvents(std::chrono::milliseconds(20));
      hostsim::DeliverCustomEvents();
    }
  }
  bool Unload() {
    bool result = false;
    std::string error;
    EXPECT_TRUE(hostsim::UnloadAddin("Orvandel", &result, &error)) << error;
    return result;
  }

  TempFolder tree{"orvandel-test-"};
};

TEST_F(LanguageAddin, RunAddsTheButtonAndStopRemovesIt) {
  ASSERT_TRUE(Load());
  EXPECT_EQ(hostsim::LogMessages(), std::vector<std::string>{kRunLine});
  EXPECT_TRUE(hostsim::HasDefinition("idCzButton"));
  EXPECT_EQ(hostsim::DefinitionResourceFolder("idCzButton"), "resources/Czech");
  const auto controls = hostsim::ControlIds("SolidScriptsAddinsPanel");
  EXPECT_NE(std::find(controls.begin(), controls.end(), "idCzButton"), controls.end());

  // No new-version button was ever made: stop finds none, and succeeds.
  EXPECT_TRUE(Unload());
  EXPECT_FALSE(hostsim::HasDefinition("idCzButton"));
  const auto after = hostsim::ControlIds("SolidScriptsAddinsPanel");
  EXPECT_EQ(std::find(after.begin(), after.end(), "idCzButton"), after.end());
  EXPECT_EQ(hostsim::LogMessages().back(), kStopLine);
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(LanguageAddin, HostWithoutApplicationObjectGetsFalseAndNothingElse) {
  hostsim::FailCall("get", "no application");
  EXPECT_FALSE(Load());
  EXPECT_TRUE(hostsim::LogMessages().empty());
  EXPECT_TRUE(MessageBoxes().empty());

  // stop after such a run touches no empty handle.
  EXPECT_TRUE(Unload());
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(LanguageAddin, HostWithoutUserInterfaceGetsFalseAndStopTouchesNothing) {
  hostsim::FailCall("userInterface", "no user interface");
  EXPECT_FALSE(Load());
  EXPECT_EQ(hostsim::LogMessages(), std::vector<std::string>{kRunLine});

  EXPECT_TRUE(Unload());
  EXPECT_EQ(hostsim::LogMessages(), (std::vector<std::string>{kRunLine, kStopLine}));
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(LanguageAddin, MissingPanelShowsTheHostErrorAndKeepsTheOnlineWork) {
  hostsim::RemovePanel("SolidScriptsAddinsPanel");
  EXPECT_FALSE(Load());
  // The host's own error text, with an empty title, OK and no icon.
  EXPECT_EQ(MessageBoxes(),
            std::vector<std::string>{"No toolbar panel with the id \"SolidScriptsAddinsPanel\"."});
  EXPECT_TRUE(hostsim::HasDefinition("idCzButton"));

  hostsim::ReportOnlineStatus(false);
  IdleUntilLogged(kVersionCheckStart);
  EXPECT_EQ(Count(hostsim::LogMessages(), kInstallStart), 1);
}

TEST_F(LanguageAddin, OnlyTheFirstOnlineNotificationInstallsAndChecks) {
  ASSERT_TRUE(Load());
  hostsim::ReportOnlineStatus(true);
  EXPECT_EQ(Count(hostsim::LogMessages(), kInstallStart), 0);

  hostsim::ReportOnlineStatus(false);
  hostsim::ReportOnlineStatus(true);
  hostsim::ReportOnlineStatus(false);

  // The version check follows the installation's lines.
  IdleUntilLogged(kVersionCheckStart);
  const auto log = hostsim::LogMessages();
  EXPECT_EQ(Count(log, kInstallStart), 1);
  EXPECT_LT(std::find(log.begin(), log.end(), kInstallStart),
            std::find(log.begin(), log.end(), kVersionCheckStart));
}

TEST_F(LanguageAddin, EachClickMakesOneForcedInstallation) {
  WriteFile(tree / "Library/Vornid/vornidca/czech_cz.xml", "czech cam");
  WriteFile(tree / ("Users/user" + addintest::kProduction + "Autodesk Fusion.app/" +
                    addintest::kTranslations + "czech_cz.xml"),
            "installed", 1000);
  ASSERT_TRUE(Load());

  std::string error;
  ASSERT_TRUE(hostsim::ClickCommand("idCzButton", &error)) << error;
  // A click while the run is on its worker starts nothing and says why.
  ASSERT_TRUE(hostsim::ClickCommand("idCzButton", &error)) << error;
  EXPECT_EQ(MessageBoxes(),
            std::vector<std::string>{"Instalace češtiny právě probíhá. Počkejte prosím, až skončí."});
  IdleUntilLogged(kCamCopied);
  EXPECT_FALSE(hostsim::ProgressDialogShowing());
  ASSERT_TRUE(hostsim::ClickCommand("idCzButton", &error)) << error;
  IdleUntilLogged(kCamCopied, 2);

  // The marker file is present, yet each forced run copies.
  const auto log = hostsim::LogMessages();
  EXPECT_EQ(Count(log, kInstallStart), 2);
  EXPECT_EQ(Count(log, "QUORLEX: (CopyCzechFiles) target files with translate exists."), 0);
}

// Cancel pressed while the run copies its CAM and help files, when the main thread has nothing of the
// run to deliver: the run asks the main thread before it places the marker, and ends there.
TEST_F(LanguageAddin, CancelPressedAsTheLastFilesAreCopiedLeavesNoMarker) {
  const std::string package = tree / "Library/Vornid";
  const std::string bundle = tree / ("Users/user" + addintest::kProduction + "Autodesk Fusion.app/");
  for (const char* file : {"/vornidfu/cs-CZ/strings.xml", "/VornidQM/main.qm", "/vornidca/czech_cz.xml",
                           "/vornidhe/cz-html/page.html"})
    WriteFile(package + file, "czech");
  for (const std::string& file :
       {addintest::kHelp + "en-html.html", addintest::kHelp + "en-html/page.html",
        addintest::kHelp + "images/picture.png", addintest::kStringTable + "en-US/strings.xml",
        std::string("Contents/Resources/AIRMAX/en-US/main.qm"), addintest::kTranslations + "english.xml"})
    WriteFile(bundle + file, "host");
  ASSERT_TRUE(Load());

  std::string error;
  ASSERT_TRUE(hostsim::ClickCommand("idCzButton", &error)) << error;
  // Idles until the main thread has set the language, the run's last question before the marker (what
  // the run posts meanwhile waits for the next delivery); then the main thread is busy elsewhere while
  // the worker copies the rest and comes to the marker.
  const auto languageSet = [] {
    const auto transcript = hostsim::Transcript();
    return std::any_of(transcript.begin(), transcript.end(), [](const hostsim::TranscriptEvent& event) {
      return event.type == "preference" && event.text("name") == "userLanguage";
    });
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!languageSet() && std::chrono::steady_clock::now() < deadline) {
    hostsim::WaitForCustomEvents(std::chrono::milliseconds(50));
    hostsim::DeliverCustomEvents();
  }
  ASSERT_TRUE(languageSet());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(hostsim::PressCancel(&error)) << error;
  IdleUntilLogged("QUORLEX: (CopyCzechFiles) installation cancelled; the next start completes it.");

  EXPECT_FALSE(Exists(bundle + addintest::kTranslations + "czech_cz.xml"));
  EXPECT_TRUE(Exists(bundle + addintest::kHelp + "cz-html/page.html"));
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{});
}

TEST_F(LanguageAddin, StopWithoutTheQuickAccessToolbarFailsAfterRemovingTheButton) {
  ASSERT_TRUE(Load());
  hostsim::RemoveToolbar("QATRight");

  EXPECT_FALSE(Unload());
  EXPECT_FALSE(hostsim::HasDefinition("idCzButton"));
  EXPECT_EQ(MessageBoxes().size(), 1u);
  EXPECT_EQ(Count(hostsim::LogMessages(), kStopLine), 0);
}

} // namespace
