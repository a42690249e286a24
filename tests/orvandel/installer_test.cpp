#include "addin_test_support.h"
#include "installer.h"
#include "link_swapper.h"
#include "temp_folder.h"
#include "test_files.h"

#include <hostsim/control.h>
#include <install_record.h>
#include <utilities.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include <sys/resource.h>
#include <unistd.h>

using namespace addintest;
namespace fs = std::filesystem;

namespace {

// A log line of the installation run, from its suffix as the run writes it.
std::string Line(const std::string& suffix) {
  return "QUORLEX: (CopyCzechFiles" + suffix;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
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

// The first count lines of the full run, then the given events.
std::vector<std::string> FullRunUpTo(std::size_t count, const std::vector<std::string>& then = {}) {
  std::vector<std::string> events(kFullRun.begin(), kFullRun.begin() + static_cast<std::ptrdiff_t>(count));
  events.insert(events.end(), then.begin(), then.end());
  return events;
}

// The log line and the message box of a run that a missing path ended.
std::string MissingLine(const std::string& path) {
  return Line(") installation failed: " + path + ": No such file or directory");
}
// The next step the box names: a path of the data package asks for the package again.
const std::string kRemoveTheCause = "Odstraňte příčinu a spusťte instalaci znovu tlačítkem „Aktivace CZ“.";
const std::string kInstallAgain =
    "Datový balíček české lokalizace chybí nebo jej nelze přečíst: nainstalujte českou lokalizaci znovu z "
    "instalačního balíčku.";
std::string MissingBox(const std::string& path, const std::string& nextStep = kRemoveTheCause) {
  return "Instalace češtiny se nezdařila.\nSoubor: " + path + "\nDůvod: soubor nebo složka neexistuje\n" +
         nextStep;
}
bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A simulated Mac in a temporary folder: the host deployment with two builds (b2 running), the host
// bundle with its own files, and the whole data package; the run reports into the in-memory host.
class Installation : public testing::Test {
protected:
  explicit Installation(const std::string& homeBelowTree = "Users/user") : home(tree / homeBelowTree) {}

  void SetUp() override {
    AttachFreshHost();
    places =
        InstallPlaces{tree / "Library/Vornid", home, production + "b2/Autodesk Fusion.app/Contents/MacOS",
                      tree / "AddIns/Orvandel/Orvandel_InstallRecord.txt"};
    fs::create_directories(tree / "AddIns/Orvandel");
    fs::create_directories(places.executableDirectory);
    fs::create_directories(production + "b1");
    MakeHostBundle(true);
    MakePackage();
  }
  void TearDown() override { DetachHost(); }

  // The host's own files in its bundle, with or without the English CAM help index.
  void MakeHostBundle(bool englishHelp) {
    WriteFile(In(kStringTable + "en-US/strings.xml"), "host");
    WriteFile(In("Contents/Resources/AIRMAX/en-US/main.qm"), "host");
    WriteFile(In(kTranslations + "english.xml"), "host");
    if (englishHelp)
      WriteFile(help + "en-html.html", "help index");
    WriteFile(help + "en-html/page.html", "help page");
    WriteFile(help + "images/picture.png", "picture");
  }

  void MakePackage(bool base = true, bool qm = true, bool cam = true, bool helpPages = true) {
    if (base)
      WriteFile(places.packageRoot + "/vornidfu/cs-CZ/strings.xml", "czech strings");
    if (qm)
      WriteFile(places.packageRoot + "/VornidQM/main.qm", "czech qm");
    if (cam)
      WriteFile(places.packageRoot + "/vornidca/czech_cz.xml", "czech cam");
    if (helpPages)
      WriteFile(places.packageRoot + "/vornidhe/cz-html/page.html", "czech help");
  }
  // A fresh bundle and package for the next case of a table, and a fresh transcript.
  void Remake(bool englishHelp, bool base = true, bool qm = true, bool cam = true, bool helpPages = true) {
    fs::remove_all(places.packageRoot);
    fs::remove_all(bundle);
    MakeHostBundle(englishHelp);
    MakePackage(base, qm, cam, helpPages);
    hostsim::ClearTranscript();
  }
  // A further run, reported into a fresh transcript.
  void InstallAgain(bool force) {
    hostsim::ClearTranscript();
    RunInstallation(force, places);
  }

  // A path in the host bundle, or in an older build's bundle.
  std::string In(const std::string& relative) const { return bundle + "/" + relative; }
  std::string InLegacy(const std::string& build, const std::string& relative) const {
    return production + build + "/Autodesk Fusion 360.app/" + relative;
  }

  // The install record as it stands; fails the test when it cannot be read.
  installrecord::InstallRecord Record() const {
    installrecord::InstallRecord record;
    Failure failure;
    EXPECT_TRUE(installrecord::ReadInstallRecord(places.installRecord, record, failure))
        << failure.code.message();
    return record;
  }
  // A file's entry as the record would hold it now.
  installrecord::RecordedFile AsItStands(const std::string& relativePath) const {
    return addintest::AsItStands(In(relativePath));
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
  std::string home;
  std::string production = home + kProduction;
  std::string bundle = production + "Autodesk Fusion.app";
  std::string help = In(kHelp);
  std::string marker = In(kTranslations + "czech_cz.xml");
  InstallPlaces places;
};

TEST_F(Installation, FullRunCopiesEverySourceSwitchesTheLanguageAndLogsEachStage) {

  RunInstallation(false, places);

  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  ExpectLogLevels();
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{kSuccess});
  EXPECT_EQ(LanguageChanges(), std::vector<long long>{2});
  EXPECT_EQ(ReadFile(In(kStringTable + "cs-CZ/strings.xml")), "czech strings");
  EXPECT_EQ(ReadFile(In("Contents/Resources/AIRMAX/cs-CZ/main.qm")), "czech qm");
  EXPECT_EQ(ReadFile(marker), "czech cam");
  EXPECT_EQ(ReadFile(help + "cz-html.html"), "help index");
  EXPECT_EQ(ReadFile(help + "cz-html/page.html"),
            "czech help"); // the help package overrides the English page
  // The entries of images land directly in cz-html.
  EXPECT_EQ(ReadFile(help + "cz-html/picture.png"), "picture");
  EXPECT_FALSE(fs::exists(help + "cz-html/images"));
  EXPECT_EQ(ReadFile(In(kStringTable + "en-US/strings.xml")), "host");
}

TEST_F(Installation, MarkerFileStopsOnlyRunsWithoutForce) {
  WriteFile(marker, "installed earlier", 1000);

  RunInstallation(false, places);
  EXPECT_EQ(hostsim::LogMessages(), FullRunUpTo(1, {Line(") target files with translate exists.")}));
  EXPECT_TRUE(MessageBoxes().empty());
  EXPECT_TRUE(LanguageChanges().empty());
  EXPECT_EQ(ReadFile(marker), "installed earlier");
  EXPECT_FALSE(fs::exists(In("Contents/Resources/AIRMAX/cs-CZ")));

  InstallAgain(true);
  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{kSuccess});
  EXPECT_EQ(LanguageChanges(), std::vector<long long>{2});
  EXPECT_EQ(ReadFile(marker), "czech cam");
}

// Only a regular file at the marker's path is an installed package. A folder there makes a run without
// force go on and fail at the marker with the usual report; a forced run removes it when it is empty.
TEST_F(Installation, FolderAtTheMarkerPathIsNoInstalledPackage) {
  fs::create_directories(marker);
  RunInstallation(false, places);
  const std::vector<std::string> log = hostsim::LogMessages();
  ASSERT_EQ(log.size(), kFullRun.size());
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.end() - 1), FullRunUpTo(kFullRun.size() - 1));
  EXPECT_TRUE(EndsWith(log.back(), marker + ": Is a directory")) << log.back();
  const std::vector<std::string> boxes = MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(Contains(boxes[0], marker + "\nDůvod: je to složka\n" + kRemoveTheCause)) << boxes[0];
  EXPECT_EQ(LanguageChanges(), std::vector<long long>{2});
  EXPECT_TRUE(fs::is_directory(marker));

  InstallAgain(true);
  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  EXPECT_EQ(ReadFile(marker), "czech cam");
}

// A package folder missing when the run comes to it is shown once with the source-missing message; the
// run then places no marker and shows no success, so that the next start with the data whole completes
// the installation.
TEST_F(Installation, MissingPackageFoldersAreShownOnceAndTheNextStartCompletesTheRun) {
  struct Case {
    const char* name;
    bool base, qm, cam, helpPages, englishHelp;
    std::vector<std::string> events; // log lines and message boxes, in order
    bool languageSwitched;
    bool incomplete; // no marker, and the next start with the whole package completes the run
  };
  const std::string qmSource = tree / "Library/Vornid/VornidQM/";
  const std::string incomplete =
      Line(") installation incomplete: part of the data package is missing; the next start completes it.");
  const Case cases[] = {
      {"base source missing", false, true, true, true, true,
       FullRunUpTo(1, {Line(") files for Fusion without CAM wasn't find."), Shown(kSourceMissing),
                       Line(") copy files for Fusion CAM."), Line(") copy en-html.html to cz-html.html."),
                       Line(") copy dir en-html to cz-html"), Line(") copy picture of help do dir cz-html"),
                       Line(") copy files for Help Fusion."), incomplete}),
       false, true},
      {"both sources missing", false, true, false, true, true,
       FullRunUpTo(1, {Line(") files for Fusion without CAM wasn't find."), Shown(kSourceMissing),
                       Line(") source data wasn't find.")}),
       false, true},
      {"QM source missing", true, false, true, true, true,
       FullRunUpTo(4, {Line(") part of the data package is missing: " + qmSource +
                            ": No such file or directory; the next start completes the installation."),
                       Shown(kSourceMissing)}),
       false, true},
      {"help source missing", true, true, true, false, true,
       FullRunUpTo(10, {Shown(kSuccess), Line(") finish successful")}), true, false},
      {"no en-html.html in the host's help folder ends the run silently", true, true, true, true, false,
       FullRunUpTo(7), true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Remake(c.englishHelp, c.base, c.qm, c.cam, c.helpPages);

    RunInstallation(false, places);

    EXPECT_EQ(LogAndMessageBoxes(), c.events);
    EXPECT_EQ(LanguageChanges(), c.languageSwitched ? std::vector<long long>{2} : std::vector<long long>{});
    EXPECT_EQ(Exists(marker), !c.incomplete);
    if (c.incomplete) {
      MakePackage();
      InstallAgain(false);
      EXPECT_EQ(hostsim::LogMessages(), kFullRun);
      EXPECT_EQ(ReadFile(In(kStringTable + "cs-CZ/strings.xml")), "czech strings");
    }
  }
}

// A package folder that goes away, or becomes a file, while the run copies (the package's installer
// replacing the data package): the same as one missing from the start.
TEST_F(Installation, PackageFoldersVanishingDuringTheRunAreShownOnceAndCompletedByTheNextStart) {
  struct Case {
    const char* name;
    int atFile; // before which file the folder goes
    std::function<void(const std::string& package)> change;
  };
  // The files in the run's order: strings, qm, the CAM folder's extra.xml and sub/more.xml, the help
  // index, the English page, the picture, the help package's page, the marker.
  const Case cases[] = {
      {"the CAM folder removed", 2, [](const std::string& p) { fs::remove_all(p + "/vornidca"); }},
      {"the QM folder turned into a file", 1,
       [](const std::string& p) {
         fs::remove_all(p + "/VornidQM");
         WriteFile(p + "/VornidQM", "not a folder");
       }},
      {"a CAM sub-folder removed before its turn", 2,
       [](const std::string& p) { fs::remove_all(p + "/vornidca/sub"); }},
      // Moved aside, not removed, so that the new folder cannot take the old one's place on the disk.
      {"the help folder replaced by an empty one", 6,
       [](const std::string& p) {
         fs::rename(p + "/vornidhe", p + "/../vornidhe-old");
         fs::create_directories(p + "/vornidhe");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Remake(true);
    fs::remove_all(tree / "Library/vornidhe-old");
    WriteFile(places.packageRoot + "/vornidca/extra.xml", "czech extra");
    WriteFile(places.packageRoot + "/vornidca/sub/more.xml", "czech more");
    int files = 0;
    InstallHooks hooks;
    hooks.betweenFiles = [&] {
      if (files++ == c.atFile)
        c.change(places.packageRoot);
      return true;
    };
    RunInstallation(false, places, hooks);

    EXPECT_EQ(MessageBoxes(), std::vector<std::string>{kSourceMissing});
    EXPECT_FALSE(Exists(marker));

    fs::remove_all(places.packageRoot);
    MakePackage();
    InstallAgain(false);
    EXPECT_EQ(hostsim::LogMessages(), kFullRun);
    EXPECT_EQ(ReadFile(marker), "czech cam");
  }
}

TEST_F(Installation, HostOutsideAProductionFolderSkipsOnlyTheLegacyCleanup) {
  places.executableDirectory = tree / "Applications/Host/Contents/MacOS";

  RunInstallation(false, places);

  std::vector<std::string> expected = kFullRun;
  expected[2] = Line(") no production folder in " + places.executableDirectory + ", old files not deleted.");
  EXPECT_EQ(hostsim::LogMessages(), expected);
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{kSuccess});
}

TEST_F(Installation, UnknownHomeEndsTheRunWithALogLine) {
  places.home.clear();

  RunInstallation(true, places);

  EXPECT_EQ(hostsim::LogMessages(),
            FullRunUpTo(1, {Line(") home folder unknown (no HOME, no user entry), nothing installed.")}));
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(Installation, LegacyCleanupSparesTheRunningBuildPlainFilesAndCleanBuilds) {
  const std::string legacyFiles[] = {
      kTranslations + "czech_cz.xml",
      kHelp + "cz-html.html",
      kHelp + "cz-html/a.html",
      kStringTable + "cs-CZ/strings.xml",
  };
  // b20 is another build than the running b2, although its name begins with it.
  for (const std::string& file : legacyFiles) {
    WriteFile(InLegacy("b1", file), "old");
    WriteFile(InLegacy("b20", file), "old");
    WriteFile(InLegacy("b2", file), "running build");
    WriteFile(tree / ("linked-build/Autodesk Fusion 360.app/" + file), "not ours");
    WriteFile(tree / ("linked-bundle/" + file), "not ours");
  }
  const std::string keptInB1 = InLegacy("b1", kStringTable + "en-US/x");
  WriteFile(keptInB1, "host");
  fs::create_directories(production + "b3-clean");
  WriteFile(production + "notes.txt", "a plain file");
  // A legacy folder that is a link: the link goes, the folder it points to keeps its files.
  WriteFile(tree / "elsewhere/strings.xml", "not ours");
  fs::create_directories(InLegacy("b4", kStringTable));
  const std::string linkedLegacy = InLegacy("b4", kStringTable + "cs-CZ");
  fs::create_directory_symlink(tree / "elsewhere", linkedLegacy);
  // Links on the way to the legacy paths are never followed: a build, or a build's bundle, elsewhere.
  fs::create_directory_symlink(tree / "linked-build", production + "b5");
  fs::create_directories(production + "b6");
  fs::create_directory_symlink(tree / "linked-bundle", production + "b6/Autodesk Fusion 360.app");
  const std::string outside = Listing(tree / "linked-build") + Listing(tree / "linked-bundle");

  RunInstallation(false, places);

  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  for (const std::string& file : legacyFiles) {
    SCOPED_TRACE(file);
    EXPECT_FALSE(fs::exists(InLegacy("b1", file)));
    EXPECT_FALSE(fs::exists(InLegacy("b20", file)));
    EXPECT_EQ(ReadFile(InLegacy("b2", file)), "running build");
  }
  EXPECT_FALSE(fs::exists(InLegacy("b1", kStringTable + "cs-CZ")));
  EXPECT_EQ(ReadFile(keptInB1), "host");
  EXPECT_EQ(ReadFile(production + "notes.txt"), "a plain file");
  EXPECT_TRUE(fs::is_directory(production + "b3-clean"));
  EXPECT_FALSE(fs::is_symlink(linkedLegacy));
  EXPECT_EQ(ReadFile(tree / "elsewhere/strings.xml"), "not ours");
  EXPECT_EQ(Listing(tree / "linked-build") + Listing(tree / "linked-bundle"), outside);
}

TEST_F(Installation, FailedCopyIsLoggedAndShownOnceAndNothingLaterHappens) {
  // The CAM translations folder's parent is missing, so copy 3 fails.
  fs::remove_all(In("Contents/Libraries/Applications/CAM360/Data"));
  const std::string camFolder = In(kTranslations);

  RunInstallation(false, places);

  EXPECT_EQ(hostsim::LogMessages(), FullRunUpTo(6, {MissingLine(camFolder)}));
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{MissingBox(camFolder)});
  EXPECT_FALSE(fs::exists(help + "cz-html.html"));
  // The folder that could not be made is not recorded as the installation's.
  EXPECT_EQ(Record().folders.count("Contents/Libraries/Applications/CAM360/Data/Translations"), 0u);
}

// The marker is written last: a run that an error ends after the CAM translations were copied is not
// taken as done by the next start without force, which completes it.
TEST_F(Installation, RunEndedByAnErrorIsCompletedByTheNextStartWithoutForce) {
  WriteFile(places.packageRoot + "/vornidca/czech_cz_messages.xml", "czech messages");
  fs::remove_all(help + "en-html"); // copy 5 fails

  RunInstallation(false, places);
  EXPECT_EQ(ReadFile(In(kTranslations + "czech_cz_messages.xml")), "czech messages");
  EXPECT_FALSE(fs::exists(marker));
  // What the run placed before the error is recorded.
  EXPECT_EQ(Record().files.count(kTranslations + "czech_cz_messages.xml"), 1u);

  WriteFile(help + "en-html/page.html", "help page", 1000); // older than the package's page
  InstallAgain(false);
  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  EXPECT_EQ(ReadFile(marker), "czech cam");
  EXPECT_EQ(ReadFile(help + "cz-html/page.html"), "czech help");

  // A host without the English help index ends the run after the CAM translations, marker included.
  fs::remove(marker);
  fs::remove(help + "en-html.html");
  InstallAgain(false);
  EXPECT_EQ(hostsim::LogMessages().back(), Line(") copy files for Fusion CAM."));
  EXPECT_EQ(ReadFile(marker), "czech cam");
}

// The marker is a package file like any other: a package whose marker is a dangling link is a package
// with part of its data missing, shown as such, and the run leaves no marker behind.
TEST_F(Installation, MarkerThatCannotBeCopiedIsShownAsMissingDataAndNotPlaced) {
  const std::string packageMarker = places.packageRoot + "/vornidca/czech_cz.xml";
  fs::remove(packageMarker);
  fs::create_symlink(tree / "nowhere.xml", packageMarker);

  RunInstallation(false, places);

  EXPECT_EQ(hostsim::LogMessages().back(),
            Line(") part of the data package is missing: " + packageMarker +
                 ": No such file or directory; the next start completes the installation."));
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{kSourceMissing});
  EXPECT_FALSE(Exists(marker));
}

// A forced run takes the marker away before it copies anything, so that a forced run that ends early
// (an error here; a force-quit host alike) is completed by the next start instead of taken as done.
TEST_F(Installation, ForcedRunEndedEarlyIsCompletedByTheNextStart) {
  RunInstallation(false, places);
  ASSERT_EQ(ReadFile(marker), "czech cam");

  // A newer package, and a host whose English help pages are gone: the forced run ends at copy 5.
  const std::time_t newer = ModifiedSeconds(marker) + 100;
  WriteFile(places.packageRoot + "/vornidca/czech_cz.xml", "czech cam 2", newer);
  WriteFile(places.packageRoot + "/vornidca/extra.xml", "czech extra 2", newer);
  WriteFile(places.packageRoot + "/vornidhe/cz-html/page.html", "czech help 2", newer);
  fs::rename(help + "en-html", tree / "en-html");
  InstallAgain(true);
  EXPECT_EQ(MessageBoxes().size(), 1u);
  EXPECT_FALSE(Exists(marker));

  fs::rename(tree / "en-html", help + "en-html");
  InstallAgain(false);
  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  EXPECT_EQ(ReadFile(marker), "czech cam 2");
  EXPECT_EQ(ReadFile(help + "cz-html/page.html"), "czech help 2");

  // A package without a marker leaves the installed one alone.
  fs::remove(places.packageRoot + "/vornidca/czech_cz.xml");
  fs::rename(help + "en-html", tree / "en-html");
  InstallAgain(true);
  EXPECT_EQ(ReadFile(marker), "czech cam 2");
}

// A run asked to end (Cancel, stop) ends before its next file at whatever stage, says so in the log
// alone, records what it placed, and leaves no marker: the next start completes it.
TEST_F(Installation, RunStoppedBetweenFilesIsCompletedByTheNextStart) {
  const std::string lastLine = Line(") installation cancelled; the next start completes it.");
  struct Case {
    int filesBeforeStop;
    std::size_t linesBefore; // of the full run
  };
  // The package's files in the run's order: strings, qm, then the CAM folder; the help index last.
  const Case cases[] = {{0, 3}, {1, 4}, {2, 7}, {4, 9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filesBeforeStop);
    Remake(true);
    hostsim::ClearTranscript();
    int asked = 0;
    InstallHooks hooks;
    hooks.betweenFiles = [&] { return asked++ < c.filesBeforeStop; };
    RunInstallation(false, places, hooks);
    EXPECT_EQ(LogAndMessageBoxes(), FullRunUpTo(c.linesBefore, {lastLine}));
    EXPECT_FALSE(Exists(marker));
    EXPECT_EQ(Record().files.count(kStringTable + "cs-CZ/strings.xml"), c.filesBeforeStop > 0 ? 1u : 0u);

    InstallAgain(false);
    EXPECT_EQ(hostsim::LogMessages(), kFullRun);
    EXPECT_EQ(ReadFile(marker), "czech cam");
  }
}

// Other hosts (or the host's own updater) removing the same legacy trees at the same time: entries
// that vanish under the cleanup are gone, as it wanted, and no error.
TEST_F(Installation, LegacyCleanupRacingAnotherRemoverSucceeds) {
  for (int build = 0; build < 4; ++build) {
    const std::string legacy = "old" + std::to_string(build);
    for (int folder = 0; folder < 20; ++folder) {
      for (int file = 0; file < 20; ++file) {
        const std::string name = "/f" + std::to_string(folder) + "/p" + std::to_string(file) + ".html";
        WriteFile(InLegacy(legacy, kHelp + "cz-html" + name), "old");
        WriteFile(InLegacy(legacy, kStringTable + "cs-CZ" + name), "old");
      }
    }
  }

  // Children start together and each runs the whole cleanup; exit status 1 is an error.
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < 6; ++i) {
    children.push_back(ForkChild([&] {
      close(gate[1]);
      char byte;
      (void)!read(gate[0], &byte, 1);
      Failure failure;
      return RemoveFromOldDestination(production.c_str(), "b2", failure) ? 0 : 1;
    }));
  }
  close(gate[0]);
  close(gate[1]); // every child reads end of file at once
  for (const pid_t child : children)
    EXPECT_EQ(ExitStatus(child), 0);
  for (int build = 0; build < 4; ++build) {
    const std::string legacy = "old" + std::to_string(build);
    EXPECT_FALSE(Exists(InLegacy(legacy, kStringTable + "cs-CZ")));
    EXPECT_FALSE(Exists(InLegacy(legacy, kHelp + "cz-html")));
  }
}

// Every reason the message box gives is Czech; the log line keeps the system's English text.
TEST_F(Installation, EveryReasonShownToTheUserIsCzech) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string logged;   // the end of the log line
    std::wstring shown;   // the reason in the message box
    std::string nextStep; // what the box asks the user to do; empty: not checked
  };
  const std::string czechStrings = places.packageRoot + "/vornidfu/cs-CZ/";
  rlimit savedFiles{};
  getrlimit(RLIMIT_NOFILE, &savedFiles);
  const Case cases[] = {
      {"a file where a folder goes", [&] { WriteFile(In("Contents/Resources/AIRMAX/cs-CZ"), "file"); },
       ": Not a directory", L"část cesty není složka", kRemoveTheCause},
      {"a folder where a file goes",
       [&] { fs::create_directories(In(kStringTable + "cs-CZ/strings.xml/x")); }, ": Is a directory",
       L"je to složka", kRemoveTheCause},
      {"a link to itself", [&] { fs::create_symlink("self.xml", czechStrings + "self.xml"); },
       ": Too many levels of symbolic links", L"příliš mnoho úrovní symbolických odkazů", kInstallAgain},
      {"a link back into the package", [&] { fs::create_directory_symlink("..", czechStrings + "loop"); },
       ": symbolic link leads back into a folder being copied",
       L"symbolický odkaz vede zpět do kopírované složky", kInstallAgain},
      {"no general preferences", [&] { hostsim::FailCall("generalPreferences", "boom"); },
       ": the host gave no general preferences", L"aplikace nevrátila obecné předvolby", kRemoveTheCause},
      // Room for the source folder tests and a few descriptors of the copy, not for all of them.
      {"too many open files",
       [&] {
         const int lowestFree = dup(0);
         close(lowestFree);
         rlimit limited = savedFiles;
         limited.rlim_cur = static_cast<rlim_t>(lowestFree) + 2;
         setrlimit(RLIMIT_NOFILE, &limited);
       },
       ": Too many open files", L"příliš mnoho otevřených souborů", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Remake(true);
    hostsim::ClearFailures();
    c.arrange();

    RunInstallation(false, places);
    setrlimit(RLIMIT_NOFILE, &savedFiles);

    const std::string logged = hostsim::LogMessages().back();
    EXPECT_EQ(logged.rfind(Line(") installation failed: "), 0), 0u) << logged;
    EXPECT_TRUE(EndsWith(logged, c.logged)) << logged;
    const std::vector<std::string> shown = MessageBoxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(Contains(shown[0], Wstr2Str(L"\nDůvod: " + c.shown + L"\n") + c.nextStep)) << shown[0];
  }
  hostsim::ClearFailures();
}

// A home on a disk whose name holds "production" is no production folder of the host.
class InstallationOnProductionDisk : public Installation {
protected:
  InstallationOnProductionDisk() : Installation("Volumes/production-disk/production/Users/user") {}
};

TEST_F(InstallationOnProductionDisk, InstallsAndCleansTheOtherBuilds) {
  const std::string legacy = InLegacy("b1", kStringTable + "cs-CZ");
  WriteFile(legacy + "/strings.xml", "old");

  RunInstallation(false, places);

  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  EXPECT_FALSE(Exists(legacy));
}

TEST_F(Installation, RecordHoldsWhatTheRunsPlacedInTheBundleAsItWasPlaced) {
  WriteFile(InLegacy("b1", kStringTable + "cs-CZ/old.xml"), "old");
  const std::string strings = kStringTable + "cs-CZ/strings.xml";
  const std::string qm = "Contents/Resources/AIRMAX/cs-CZ/main.qm";
  const std::vector<std::string> placedFiles = {
      strings,
      qm,
      kTranslations + "czech_cz.xml",
      kHelp + "cz-html.html",
      kHelp + "cz-html/page.html", // copied from en-html, then replaced by the help package's
      kHelp + "cz-html/picture.png",
  };

  RunInstallation(false, places);

  installrecord::InstallRecord record = Record();
  std::vector<std::string> recordedFiles;
  for (const auto& [path, recorded] : record.files) {
    recordedFiles.push_back(path);
    EXPECT_EQ(recorded, AsItStands(path)) << path;
  }
  std::vector<std::string> expectedFiles = placedFiles;
  std::sort(expectedFiles.begin(), expectedFiles.end());
  EXPECT_EQ(recordedFiles, expectedFiles);
  // Only the folders the run created, none of the host's.
  EXPECT_EQ(record.folders, (std::set<std::string>{kStringTable + "cs-CZ", "Contents/Resources/AIRMAX/cs-CZ",
                                                   kHelp + "cz-html"}));

  // The host changes one Czech file after the installation (now newer than the package's), and a
  // newer package replaces another: the record keeps the first as it was placed and follows the second.
  const installrecord::RecordedFile placedStrings = record.files[strings];
  WriteFile(In(strings), "changed by the host", ModifiedSeconds(In(strings)) + 100);
  WriteFile(places.packageRoot + "/VornidQM/main.qm", "czech qm 2", ModifiedSeconds(In(qm)) + 100);
  InstallAgain(true);

  EXPECT_EQ(hostsim::LogMessages(), kFullRun);
  record = Record();
  EXPECT_EQ(record.files.size(), placedFiles.size());
  EXPECT_EQ(record.files[strings], placedStrings);
  EXPECT_EQ(record.files[qm], AsItStands(qm));
  EXPECT_EQ(ReadFile(In(qm)), "czech qm 2");
}

// An unreadable record is replaced by one holding what the run placed; a record that cannot be written
// ends the run with the failure report before the first file lands: no marker, no success.
TEST_F(Installation, UnreadableRecordIsReplacedAndUnwritableOneEndsTheRun) {
  WriteFile(places.installRecord, "not a record\n");

  RunInstallation(false, places);

  std::vector<std::string> logged = hostsim::LogMessages();
  const auto replaced = std::find_if(logged.begin(), logged.end(), [](const std::string& line) {
    return line.rfind(Line(") install record unreadable ("), 0) == 0 &&
           EndsWith(line, "), replaced by a new one.");
  });
  EXPECT_NE(replaced, logged.end());
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{kSuccess});
  EXPECT_EQ(Record().files.count(kTranslations + "czech_cz.xml"), 1u);

  // The record's folder is gone: nothing is placed unrecorded.
  places.installRecord = tree / "gone/Orvandel_InstallRecord.txt";
  Remake(true);
  fs::remove_all(In(kStringTable + "cs-CZ"));
  InstallAgain(false);
  EXPECT_EQ(hostsim::LogMessages(), FullRunUpTo(3, {MissingLine(places.installRecord)}));
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{MissingBox(places.installRecord)});
  EXPECT_FALSE(Exists(In(kStringTable + "cs-CZ")));
  EXPECT_FALSE(Exists(marker));
}

// The record is appended to as files land: a line that a kill cut short is no entry, and the next run
// writes the record whole before it appends.
TEST_F(Installation, RecordLineCutShortIsNoEntryAndIsGoneAfterTheNextRun) {
  RunInstallation(false, places);
  const installrecord::InstallRecord whole = Record();
  std::ofstream(places.installRecord, std::ios::app) << "F\t12\t1000\t0\tContents/cut";
  EXPECT_EQ(Record().files, whole.files);

  WriteFile(places.packageRoot + "/VornidQM/main.qm", "czech qm 2",
            ModifiedSeconds(In("Contents/Resources/AIRMAX/cs-CZ/main.qm")) + 100);
  InstallAgain(true);
  EXPECT_EQ(Record().files.size(), whole.files.size());
  EXPECT_EQ(Record().files["Contents/Resources/AIRMAX/cs-CZ/main.qm"],
            AsItStands("Contents/Resources/AIRMAX/cs-CZ/main.qm"));
  EXPECT_EQ(ReadFile(places.installRecord).find("Contents/cut"), std::string::npos);
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
      // Only a whole component counts, and the last one: the host runs from production/BUILD/....
      {"/production-old/production/b1", true, "/production-old/production/", "b1"},
      {"/Volumes/production-disk/Users/u/production/b1/MacOS", true,
       "/Volumes/production-disk/Users/u/production/", "b1"},
      {"/Users/production/webdeploy/production/b1/MacOS", true, "/Users/production/webdeploy/production/",
       "b1"},
      {"/x/production", false, "", ""},
      {"/x/production/", false, "", ""},
      {"/x/productions/b1", false, "", ""},
      {"/x/my-production/b1", false, "", ""},
      {"/Applications/Host.app/Contents/MacOS", false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.executableDirectory);
    std::string productionFolder;
    std::string currentBuild;
    EXPECT_EQ(FindProductionFolder(c.executableDirectory, productionFolder, currentBuild), c.found);
    EXPECT_EQ(productionFolder, c.productionFolder);
    EXPECT_EQ(currentBuild, c.currentBuild);
  }
}

} // namespace

// The cleanup runs with root's rights (an administrator's host) over a build whose legacy trees an
// ordinary account owns and swaps, with folders in them, for links to a system folder.
TEST(LegacyCleanup, AsRootNeverFollowsLinksAnotherUserSwapsIn) {
  Account nobody;
  if (!UnprivilegedAccount(nobody))
    GTEST_SKIP() << "needs root and the account nobody";
  for (int run = 0; run < 10; ++run) {
    TempFolder tree{"orvandel-test-"};
    fs::permissions(tree.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const std::string production = tree / "production/";
    const std::string system = tree / "private/etc";
    MakeSystemFolder(system);
    std::vector<std::string> swapped;
    for (const std::string& legacy : {kStringTable + "cs-CZ", kHelp + "cz-html"}) {
      const std::string top = production + "b1/Autodesk Fusion 360.app/" + legacy;
      for (int folder = 0; folder < 4; ++folder) {
        for (int file = 0; file < 20; ++file)
          WriteFile(top + "/sub" + std::to_string(folder) + "/page" + std::to_string(file), "old");
        swapped.push_back(top + "/sub" + std::to_string(folder));
      }
      for (const auto& entry : fs::recursive_directory_iterator(FolderOf(top)))
        GiveTo(entry.path().string(), nobody);
      GiveTo(FolderOf(top), nobody);
    }
    const std::string before = OwnedListing(system);
    {
      const LinkSwapper swapper(swapped, system, &nobody);
      // A swapped folder stops the cleanup: the installation reports it.
      Failure failure;
      RemoveFromOldDestination(production.c_str(), "b2", failure);
    }
    ASSERT_EQ(OwnedListing(system), before) << "run " << run;
  }
}
