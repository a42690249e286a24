#include "host_support.h"
#include "installer.h"
#include "temp_folder.h"
#include "test_files.h"

#include <hostsim/control.h>
#include <utilities.h>

#include <gtest/gtest.h>

#include <filesystem>

using namespace adsk::core;
using orvandel::app;
using orvandel::ui;
namespace fs = std::filesystem;

namespace {

// A log line of the installation run, from its suffix as the run writes it.
std::string Line(const std::string& suffix) {
  return "QUORLEX: (CopyCzechFiles" + suffix;
}

const std::string kSourceMissing =
    Wstr2Str(L"Zdrojová data nebyla nalezena. Použijte znovu instalační soubor.");
const std::string kSuccess =
    Wstr2Str(L"Instalace češtiny proběhla správně. Nastavení se projeví po restartu Fusion 360");

const std::vector<std::string> kFullRun = {
    Line(") start ..."),
    Line(") source files with Orvandel  exists."),
    Line(") delete old files."),
    Line(") copy files for Fusion without CAM."),
    Line(") copy QM files."),
    Line(") set Orvandel in preferences."),
    Line(") copy files for Fusion CAM."),
    Line(") copy en-html.html to cz-html.html."),
    Line(") copy dir en-html to cz-html"),
    Line(") copy picture of help do dir cz-html"),
    Line(") copy files for Help Fusion."),
    Line(") finish successful"),
};

// A simulated Mac in a temporary folder: the host deployment with two builds (b2 running), the host
// bundle with its own files, and the data package; the run reports into the in-memory host.
class Installation : public testing::Test {
protected:
  void SetUp() override {
    hostsim::ResetHost();
    app = Application::get();
    ui = app->userInterface();
    places = InstallPlaces{tree / "Library/Vornid", tree / "Users/user",
                           production + "b2/Autodesk Fusion.app/Contents/MacOS"};
    fs::create_directories(places.executableDirectory);
    fs::create_directories(production + "b1");
    MakeHostBundle(true);
  }
  void TearDown() override {
    ui = nullptr;
    app = nullptr;
    hostsim::ResetHost();
  }

  // The host's own files in its bundle, with or without the English CAM help index.
  void MakeHostBundle(bool englishHelp) {
    WriteFile(bundle + "/Contents/Libraries/Neutron/StringTable/en-US/strings.xml", "host");
    WriteFile(bundle + "/Contents/Resources/AIRMAX/en-US/main.qm", "host");
    WriteFile(bundle + "/Contents/Libraries/Applications/CAM360/Data/Translations/english.xml", "host");
    if (englishHelp)
      WriteFile(help + "en-html.html", "help index");
    WriteFile(help + "en-html/page.html", "help page");
    WriteFile(help + "images/picture.png", "picture");
  }

  void MakePackage(bool base, bool qm, bool cam, bool helpPages) {
    if (base)
      WriteFile(places.packageRoot + "/vornidfu/cs-CZ/strings.xml", "czech strings");
    if (qm)
      WriteFile(places.packageRoot + "/VornidQM/main.qm", "czech qm");
    if (cam)
      WriteFile(places.packageRoot + "/vornidca/czech_cz.xml", "czech cam");
    if (helpPages)
      WriteFile(places.packageRoot + "/vornidhe/cz-html/page.html", "czech help");
  }

  static std::vector<std::string> MessageBoxes() {
    std::vector<std::string> texts;
    for (const auto& event : hostsim::Transcript()) {
      if (event.type == "messagebox") {
        EXPECT_EQ(event.text("title"), "");
        EXPECT_EQ(event.number("buttons"), 0);
        EXPECT_EQ(event.number("icon"), 0);
        texts.push_back(event.text("text"));
      }
    }
    return texts;
  }
  // Log lines and message boxes in the order the run made them; a box reads "messagebox: " + its text.
  static std::vector<std::string> LogAndMessageBoxes() {
    std::vector<std::string> events;
    for (const auto& event : hostsim::Transcript()) {
      if (event.type == "log")
        events.push_back(event.text("message"));
      if (event.type == "messagebox")
        events.push_back(Shown(event.text("text")));
    }
    MessageBoxes(); // checks the title, buttons and icon of each
    return events;
  }
  static std::string Shown(const std::string& text) { return "messagebox: " + text; }
  static std::vector<long long> LanguageChanges() {
    std::vector<long long> values;
    for (const auto& event : hostsim::Transcript()) {
      if (event.type == "preference" && event.text("name") == "userLanguage")
        values.push_back(event.number("value"));
    }
    return values;
  }
  static void ExpectLogLevels() {
    for (const auto& event : hostsim::Transcript()) {
      if (event.type == "log") {
        EXPECT_EQ(event.number("level"), 2) << event.text("message");
        EXPECT_EQ(event.number("type"), 0) << event.text("message");
      }
    }
  }

  TempFolder tree{"orvandel-test-"};
  std::string production = tree / "Users/user/Library/Application Support/Autodesk/webdeploy/production/";
  std::string bundle = production + "Autodesk Fusion.app";
  std::string help = bundle + "/Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/";
  std::string marker = bundle + "/Contents/Libraries/Applications/CAM360/Data/Translations/czech_cz.xml";
  InstallPlaces places;
};

TEST_F(Installation, FullRunCopiesEverySourceSwitchesTheLanguageAndLogsEachStage) {
  MakePackage(true, true, true, true);

  InstallCzechFiles(false, places);

  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  ExpectLogLevels();
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{kSuccess});
  EXPECT_EQ(LanguageChanges(), std::vector<long long>{2});
  EXPECT_EQ(ReadFile(bundle + "/Contents/Libraries/Neutron/StringTable/cs-CZ/strings.xml"), "czech strings");
  EXPECT_EQ(ReadFile(bundle + "/Contents/Resources/AIRMAX/cs-CZ/main.qm"), "czech qm");
  EXPECT_EQ(ReadFile(marker), "czech cam");
  EXPECT_EQ(ReadFile(help + "cz-html.html"), "help index");
  EXPECT_EQ(ReadFile(help + "cz-html/page.html"),
            "czech help"); // the help package overrides the English page
  // The entries of images land directly in cz-html.
  EXPECT_EQ(ReadFile(help + "cz-html/picture.png"), "picture");
  EXPECT_FALSE(fs::exists(help + "cz-html/images"));
  EXPECT_EQ(ReadFile(bundle + "/Contents/Libraries/Neutron/StringTable/en-US/strings.xml"), "host");
}

TEST_F(Installation, MarkerFileStopsOnlyRunsWithoutForce) {
  MakePackage(true, true, true, true);
  WriteFile(marker, "installed earlier", 1000);

  InstallCzechFiles(false, places);
  EXPECT_EQ(hostsim::LogMessages(),
            (std::vector<std::string>{Line(") start ..."), Line(") target files with translate exists.")}));
  EXPECT_TRUE(MessageBoxes().empty());
  EXPECT_TRUE(LanguageChanges().empty());
  EXPECT_EQ(ReadFile(marker), "installed earlier");
  EXPECT_FALSE(fs::exists(bundle + "/Contents/Resources/AIRMAX/cs-CZ"));

  hostsim::ClearTranscript();
  InstallCzechFiles(true, places);
  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{kSuccess});
  EXPECT_EQ(LanguageChanges(), std::vector<long long>{2});
  EXPECT_EQ(ReadFile(marker), "czech cam");
}

TEST_F(Installation, MissingPackageFoldersAreReportedAndTheRunGoesOnOrEndsAsDue) {
  struct Case {
    const char* name;
    bool base, qm, cam, helpPages, englishHelp;
    std::vector<std::string> events; // log lines and message boxes, in order
    bool languageSwitched;
  };
  const std::string qmSource = tree / "Library/Vornid/VornidQM/";
  const Case cases[] = {
      {"base source missing",
       false,
       true,
       true,
       true,
       true,
       {Line(") start ..."), Line(") files for Fusion without CAM wasn't find."), Shown(kSourceMissing),
        Line(") copy files for Fusion CAM."), Line(") copy en-html.html to cz-html.html."),
        Line(") copy dir en-html to cz-html"), Line(") copy picture of help do dir cz-html"),
        Line(") copy files for Help Fusion."), Shown(kSuccess), Line(") finish successful")},
       false},
      {"both sources missing",
       false,
       true,
       false,
       true,
       true,
       // The first message follows its log line, the second precedes its own.
       {Line(") start ..."), Line(") files for Fusion without CAM wasn't find."), Shown(kSourceMissing),
        Shown(kSourceMissing), Line(") source data wasn't find.")},
       false},
      {"help source missing",
       true,
       true,
       true,
       false,
       true,
       {Line(") start ..."), Line(") source files with Orvandel  exists."), Line(") delete old files."),
        Line(") copy files for Fusion without CAM."), Line(") copy QM files."),
        Line(") set Orvandel in preferences."), Line(") copy files for Fusion CAM."),
        Line(") copy en-html.html to cz-html.html."), Line(") copy dir en-html to cz-html"),
        Line(") copy picture of help do dir cz-html"), Shown(kSuccess), Line(") finish successful")},
       true},
      {"no en-html.html in the host's help folder ends the run silently",
       true,
       true,
       true,
       true,
       false,
       {Line(") start ..."), Line(") source files with Orvandel  exists."), Line(") delete old files."),
        Line(") copy files for Fusion without CAM."), Line(") copy QM files."),
        Line(") set Orvandel in preferences."), Line(") copy files for Fusion CAM.")},
       true},
      // The QM source is not tested before its copy: the copy's error ends the run and is reported.
      {"QM source missing",
       true,
       false,
       true,
       true,
       true,
       {Line(") start ..."), Line(") source files with Orvandel  exists."), Line(") delete old files."),
        Line(") copy files for Fusion without CAM."),
        Line(") installation failed: " + qmSource + ": No such file or directory"),
        Shown(Wstr2Str(L"Instalace češtiny se nezdařila.\nSoubor: ") + qmSource +
              Wstr2Str(L"\nDůvod: soubor nebo složka neexistuje"))},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(places.packageRoot);
    fs::remove_all(bundle);
    MakeHostBundle(c.englishHelp);
    MakePackage(c.base, c.qm, c.cam, c.helpPages);
    hostsim::ClearTranscript();

    InstallCzechFiles(false, places);

    EXPECT_EQ(LogAndMessageBoxes(), c.events);
    EXPECT_EQ(LanguageChanges(), c.languageSwitched ? std::vector<long long>{2} : std::vector<long long>{});
  }
}

TEST_F(Installation, HostOutsideAProductionFolderSkipsOnlyTheLegacyCleanup) {
  MakePackage(true, true, true, true);
  places.executableDirectory = tree / "Applications/Host/Contents/MacOS";

  InstallCzechFiles(false, places);

  std::vector<std::string> expected = kFullRun;
  expected[2] = Line(") no production folder in " + places.executableDirectory + ", old files not deleted.");
  EXPECT_EQ(hostsim::LogMessages(), expected);
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{kSuccess});
}

TEST_F(Installation, UnknownHomeEndsTheRunWithALogLine) {
  MakePackage(true, true, true, true);
  places.home.clear();

  InstallCzechFiles(true, places);

  EXPECT_EQ(
      hostsim::LogMessages(),
      (std::vector<std::string>{Line(") start ..."),
                                Line(") home folder unknown (no HOME, no user entry), nothing installed.")}));
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(Installation, LegacyCleanupSparesTheRunningBuildPlainFilesAndCleanBuilds) {
  MakePackage(true, true, true, true);
  const char* legacyFiles[] = {
      "/Autodesk Fusion 360.app/Contents/Libraries/Applications/CAM360/Data/Translations/czech_cz.xml",
      "/Autodesk Fusion "
      "360.app/Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/cz-html.html",
      "/Autodesk Fusion "
      "360.app/Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/cz-html/a.html",
      "/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable/cs-CZ/strings.xml",
  };
  for (const char* file : legacyFiles) {
    WriteFile(production + "b1" + file, "old");
    WriteFile(production + "b2" + file, "running build");
  }
  const std::string keptInB1 =
      production + "b1/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable/en-US/x";
  WriteFile(keptInB1, "host");
  fs::create_directories(production + "b3-clean");
  WriteFile(production + "notes.txt", "a plain file");
  // A legacy folder that is a link: the link goes, the folder it points to keeps its files.
  WriteFile(tree / "elsewhere/strings.xml", "not ours");
  fs::create_directories(production + "b4/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable");
  const std::string linkedLegacy =
      production + "b4/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable/cs-CZ";
  fs::create_directory_symlink(tree / "elsewhere", linkedLegacy);

  InstallCzechFiles(false, places);

  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  for (const char* file : legacyFiles) {
    SCOPED_TRACE(file);
    EXPECT_FALSE(fs::exists(production + "b1" + file));
    EXPECT_EQ(ReadFile(production + "b2" + file), "running build");
  }
  EXPECT_FALSE(
      fs::exists(production + "b1/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable/cs-CZ"));
  EXPECT_EQ(ReadFile(keptInB1), "host");
  EXPECT_EQ(ReadFile(production + "notes.txt"), "a plain file");
  EXPECT_TRUE(fs::is_directory(production + "b3-clean"));
  EXPECT_FALSE(fs::is_symlink(linkedLegacy));
  EXPECT_EQ(ReadFile(tree / "elsewhere/strings.xml"), "not ours");
}

TEST_F(Installation, FailedCopyIsLoggedAndShownOnceAndNothingLaterHappens) {
  MakePackage(true, true, true, true);
  // The CAM translations folder's parent is missing, so copy 3 fails.
  fs::remove_all(bundle + "/Contents/Libraries/Applications/CAM360/Data");
  const std::string camFolder = bundle + "/Contents/Libraries/Applications/CAM360/Data/Translations/";

  InstallCzechFiles(false, places);

  const std::vector<std::string> expected = {
      kFullRun[0],
      kFullRun[1],
      kFullRun[2],
      kFullRun[3],
      kFullRun[4],
      kFullRun[5],
      Line(") installation failed: " + camFolder + ": No such file or directory")};
  EXPECT_EQ(hostsim::LogMessages(), expected);
  EXPECT_EQ(MessageBoxes(),
            std::vector<std::string>{Wstr2Str(L"Instalace češtiny se nezdařila.\nSoubor: ") + camFolder +
                                     Wstr2Str(L"\nDůvod: soubor nebo složka neexistuje")});
  EXPECT_FALSE(fs::exists(help + "cz-html.html"));
}

// The marker is written last: a run that an error ends after the CAM translations were copied is not
// taken as done by the next start without force, which completes it.
TEST_F(Installation, RunEndedByAnErrorIsCompletedByTheNextStartWithoutForce) {
  MakePackage(true, true, true, true);
  WriteFile(places.packageRoot + "/vornidca/czech_cz_messages.xml", "czech messages");
  fs::remove_all(help + "en-html"); // copy 5 fails

  InstallCzechFiles(false, places);
  EXPECT_EQ(
      ReadFile(bundle + "/Contents/Libraries/Applications/CAM360/Data/Translations/czech_cz_messages.xml"),
      "czech messages");
  EXPECT_FALSE(fs::exists(marker));

  WriteFile(help + "en-html/page.html", "help page", 1000); // older than the package's page
  hostsim::ClearTranscript();
  InstallCzechFiles(false, places);
  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  EXPECT_EQ(ReadFile(marker), "czech cam");
  EXPECT_EQ(ReadFile(help + "cz-html/page.html"), "czech help");

  // A host without the English help index ends the run after the CAM translations, marker included.
  fs::remove(marker);
  fs::remove(help + "en-html.html");
  hostsim::ClearTranscript();
  InstallCzechFiles(false, places);
  EXPECT_EQ(hostsim::LogMessages().back(), Line(") copy files for Fusion CAM."));
  EXPECT_EQ(ReadFile(marker), "czech cam");
}

TEST(ProductionFolder, IsFoundFromTheHostExecutableFolder) {
  struct Case {
    const char* executableDirectory;
    bool found;
    const char* productionFolder;
    const char* currentBuild;
  };
  const Case cases[] = {
      {"/Users/u/Library/Application Support/Autodesk/webdeploy/production/b1/Autodesk "
       "Fusion.app/Contents/MacOS",
       true, "/Users/u/Library/Application Support/Autodesk/webdeploy/production/", "b1"},
      {"/x/production/b1\\y/z", true, "/x/production/", "b1"},
      {"/x/production/b1", true, "/x/production/", "b1"},
      // The first occurrence counts, and the character after it is taken whatever it is.
      {"/production-old/production/b1", true, "/production-", "old"},
      {"/x/production", true, "/x/production", ""},
      {"/Applications/Host.app/Contents/MacOS", false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.executableDirectory);
    std::string productionFolder;
    std::string currentBuild;
    EXPECT_EQ(FindProductionFolder(c.executableDirectory, &productionFolder, &currentBuild), c.found);
    EXPECT_EQ(productionFolder, c.productionFolder);
    EXPECT_EQ(currentBuild, c.currentBuild);
  }
}

} // namespace
