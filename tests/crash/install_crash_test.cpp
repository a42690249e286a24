// Installations killed (SIGKILL) at random moments and then run again to their end: the host bundle
// and the other builds end exactly as after one untroubled installation, and no temporary file is left in
// any folder the product writes.
#include "crash_support.h"

#include "addin_test_support.h"
#include "file_copy.h"
#include "installer.h"
#include "temp_folder.h"
#include "test_files.h"

#include <hostsim/control.h>
#include <install_record.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace addintest;
namespace fs = std::filesystem;

namespace {

constexpr int kTrials = 30;

// Content of a generated file: size bytes that differ from file to file.
std::string Content(int seed, std::size_t size) {
  std::string text(size, ' ');
  for (std::size_t i = 0; i < size; ++i)
    text[i] = static_cast<char>('a' + (seed * 7 + static_cast<int>(i) * 13) % 26);
  return text;
}

// A data package big enough that a kill lands inside a copy: four source folders with sub-folders,
// many small files and some larger ones. Each version has contents of its own.
void MakePackage(const std::string& root, int version = 0) {
  int n = version * 1000;
  auto files = [&](const std::string& folder, int count) {
    for (int i = 0; i < count; ++i, ++n)
      WriteFile(folder + "/file" + std::to_string(i) + ".txt", Content(n, i % 10 == 0 ? 48 * 1024 : 700));
  };
  files(root + "/vornidfu/cs-CZ", 60);
  files(root + "/vornidfu/cs-CZ/dialogs", 30);
  files(root + "/VornidQM", 30);
  WriteFile(root + "/vornidca/czech_cz.xml", "czech cam");
  files(root + "/vornidca/extra", 40);
  files(root + "/vornidhe/cz-html", 50);
  files(root + "/vornidhe/cz-html/images", 30);
}

// The user's home of a simulated Mac: build b2 running, b1 holding Czech files of the older bundle,
// the host bundle with its own files, and Downloads.
void MakeHome(const std::string& home) {
  fs::create_directories(home + "/Downloads");
  const std::string production = home + kProduction;
  fs::create_directories(production + "b2/Autodesk Fusion.app/Contents/MacOS");
  const std::string legacy = production + "b1/Autodesk Fusion 360.app/";
  WriteFile(legacy + kTranslations + "czech_cz.xml", "old");
  WriteFile(legacy + kHelp + "cz-html/page.html", "old");
  WriteFile(legacy + kStringTable + "cs-CZ/strings.xml", "old");
  WriteFile(legacy + kStringTable + "en-US/strings.xml", "host");

  const std::string bundle = production + "Autodesk Fusion.app/";
  WriteFile(bundle + kStringTable + "en-US/strings.xml", "host");
  WriteFile(bundle + "Contents/Resources/AIRMAX/en-US/main.qm", "host");
  WriteFile(bundle + kTranslations + "english.xml", "host");
  WriteFile(bundle + kHelp + "en-html.html", "help index");
  for (int i = 0; i < 20; ++i) {
    WriteFile(bundle + kHelp + "en-html/page" + std::to_string(i) + ".html", Content(i, 2000));
    WriteFile(bundle + kHelp + "images/picture" + std::to_string(i) + ".png", Content(i + 50, 3000));
  }
}

// A Czech file of the package's own, named "<version>" so that a mix of versions shows.
void MarkVersion(const std::string& package, int version) {
  WriteFile(package + "/vornidca/czech_cz.xml", "czech cam " + std::to_string(version));
}

// The add-in folders, and so the install record, lie beside the home, out of the trees that are compared.
std::string AddInsOf(const std::string& home) {
  return home + "-addins";
}

InstallPlaces PlacesFor(const std::string& package, const std::string& home) {
  fs::create_directories(AddInsOf(home) + "/Orvandel");
  fs::create_directories(AddInsOf(home) + "/Miravelo");
  return InstallPlaces{package, home, home + kProduction + "b2/Autodesk Fusion.app/Contents/MacOS",
                       AddInsOf(home) + "/Orvandel/Orvandel_InstallRecord.txt"};
}

// The temporary files left in every folder the product writes: the host bundle and the older builds,
// Downloads, both add-in folders.
std::vector<std::string> LeftTemporaries(const std::string& home) {
  std::vector<std::string> found = TemporaryFiles(home);
  const std::vector<std::string> inAddIns = TemporaryFiles(AddInsOf(home));
  found.insert(found.end(), inAddIns.begin(), inAddIns.end());
  return found;
}

void RemoveHome(const std::string& home) {
  fs::remove_all(home);
  fs::remove_all(AddInsOf(home));
}

// The entries below home that an installation added, relative to the host bundle: files, and
// folders ("dir" in a snapshot).
std::vector<std::string> AddedToTheBundle(const TreeSnapshot& fresh, const TreeSnapshot& installed,
                                          const char* kind) {
  const std::string bundle = kProduction.substr(1) + "Autodesk Fusion.app/";
  std::vector<std::string> added;
  for (const auto& [path, description] : installed) {
    if (!fresh.count(path) && path.rfind(bundle, 0) == 0 && description.rfind(kind, 0) == 0)
      added.push_back(path.substr(bundle.size()));
  }
  return added;
}

struct Added {
  std::vector<std::string> files;
  std::vector<std::string> folders;
};

Added AddedToTheBundle(const TreeSnapshot& fresh, const TreeSnapshot& installed) {
  return Added{AddedToTheBundle(fresh, installed, "file"), AddedToTheBundle(fresh, installed, "dir")};
}

// Every file and folder the installation added is in the install record, the files as they stand.
void ExpectRecorded(const Added& added, const InstallPlaces& places) {
  installrecord::InstallRecord record;
  Failure failure;
  ASSERT_TRUE(installrecord::ReadInstallRecord(places.installRecord, record, failure))
      << failure.code.message();
  for (const std::string& folder : added.folders)
    EXPECT_EQ(record.folders.count(folder), 1u) << "folder not recorded: " << folder;
  const std::string bundle = places.home + kProduction + "Autodesk Fusion.app/";
  for (const std::string& file : added.files) {
    const auto recorded = record.files.find(file);
    if (recorded == record.files.end()) {
      ADD_FAILURE() << "not recorded: " << file;
      return;
    }
    EXPECT_EQ(recorded->second, AsItStands(bundle + file)) << file;
  }
}

// One installation run as the first online start of the host makes it (without force), or as
// "Aktivace CZ" does (with force), reporting into a fresh in-memory host. A start after a crash must
// complete what the crash left undone.
void Install(const InstallPlaces& places, bool force = false) {
  AttachFreshHost();
  RunInstallation(force, places);
}

// The run finished the installation, or found it finished (a kill after the last copy).
bool InstallationComplete() {
  for (const hostsim::TranscriptEvent& event : hostsim::Transcript()) {
    const std::string message = event.type == "log" ? event.text("message") : std::string();
    if (message == "QUORLEX: (CopyCzechFiles) finish successful" ||
        message == "QUORLEX: (CopyCzechFiles) target files with translate exists.")
      return true;
  }
  return false;
}

class InstallCrash : public testing::Test {
protected:
  void TearDown() override { DetachHost(); }

  // A new home below the test's folder (see MakeHome), with package installed in it when one is given.
  std::string NewHome(const std::string& name, const std::string& package = "") {
    std::string home = tree / name;
    MakeHome(home);
    if (!package.empty())
      Install(PlacesFor(package, home));
    return home;
  }

  // Two versions of the package, the newer written later, so newer than every file of the older one.
  static void MakeOlderAndNewerPackages(const std::string& older, const std::string& newer) {
    MakePackage(older, 1);
    MarkVersion(older, 1);
    MakePackage(newer, 2);
    MarkVersion(newer, 2);
  }

  TempFolder tree{"crash-test-"};
};

TEST_F(InstallCrash, KilledInstallationsEndAsACleanOneAfterARun) {
  const std::string package = tree / "Library/Vornid";
  MakePackage(package);

  const std::string cleanHome = NewHome("clean");
  long duration = crash::TimeInChild([&] { Install(PlacesFor(package, cleanHome)); });
  const auto clean = Snapshot(cleanHome);
  const Added added = AddedToTheBundle(Snapshot(NewHome("fresh")), clean);
  ASSERT_FALSE(added.files.empty());
  ASSERT_FALSE(added.folders.empty());
  // The first run meets cold caches; the kills aim at the time a run takes once they are warm.
  for (int i = 0; i < 2; ++i) {
    const std::string home = NewHome("timed" + std::to_string(i));
    duration = std::min(duration, crash::TimeInChild([&] { Install(PlacesFor(package, home)); }));
  }
  ASSERT_TRUE(clean.count(kProduction.substr(1) + "Autodesk Fusion.app/" + kTranslations + "czech_cz.xml"));

  const std::uint32_t seed = crash::TrialSeed();
  std::cout << "install crash trials: seed " << seed << " (QUORLEX_CRASH_SEED), untroubled run " << duration
            << " us\n";
  crash::KillMoments moments(seed, duration);
  std::mt19937 random(seed + 1); // how many kills each trial has
  int killed = 0;
  int kills = 0;
  int trial = 0;
  for (; trial < kTrials; ++trial) {
    const std::string home = NewHome("trial" + std::to_string(trial));
    const InstallPlaces places = PlacesFor(package, home);
    // One or two kills in a row, each run starting from what the one before left.
    const int killsInTrial = 1 + static_cast<int>(random() % 2);
    std::string delays;
    for (int k = 0; k < killsInTrial; ++k) {
      const long delay = moments.Next();
      delays += std::to_string(delay) + " us ";
      bool finishedWell = false;
      const pid_t child = crash::StartChild([&] { Install(places); });
      if (crash::KillAfter(child, delay, &finishedWell)) {
        ++killed;
      } else {
        ASSERT_TRUE(finishedWell) << "trial " << trial << ": the installation failed by itself";
        moments.FinishedBefore(delay);
      }
      ++kills;
    }
    SCOPED_TRACE("trial " + std::to_string(trial) + ", killed after " + delays);

    Install(places);
    EXPECT_TRUE(InstallationComplete());
    EXPECT_EQ(LeftTemporaries(home), std::vector<std::string>{});
    EXPECT_EQ(Differences(clean, Snapshot(home)), "");
    ExpectRecorded(added, places);
    if (HasFailure())
      break;
    RemoveHome(home);
  }
  std::cout << "install crash trials: " << trial << " trials, " << kills << " kills, " << killed
            << " of them during the run\n";
  // Kills must land inside the installation, or the trials prove little; on a loaded machine some
  // land after the end, until the moments have shrunk below the run's real length.
  EXPECT_GE(killed * 4, kills);
}

// "Aktivace CZ" over an installed older package, killed (users force-quit the blocked host): the next
// start completes the newer package instead of taking the mix as installed.
TEST_F(InstallCrash, KilledForcedRunsOverAnOlderPackageAreCompletedByTheNextStart) {
  constexpr int kForcedTrials = 10;
  const std::string older = tree / "older/Library/Vornid";
  const std::string newer = tree / "newer/Library/Vornid";
  MakeOlderAndNewerPackages(older, newer);

  const std::string cleanHome = NewHome("clean", older);
  const auto cleanOlder = Snapshot(cleanHome);
  long duration = crash::TimeInChild([&] { Install(PlacesFor(newer, cleanHome), /*force=*/true); });
  const auto clean = Snapshot(cleanHome);
  // As above: the kills aim at the time a run takes with warm caches.
  for (int i = 0; i < 2; ++i) {
    const std::string home = NewHome("timed" + std::to_string(i), older);
    duration =
        std::min(duration, crash::TimeInChild([&] { Install(PlacesFor(newer, home), /*force=*/true); }));
  }
  const Added added = AddedToTheBundle(Snapshot(NewHome("fresh")), clean);

  const std::uint32_t seed = crash::TrialSeed();
  crash::KillMoments moments(seed, duration);
  int killed = 0;
  for (int trial = 0; trial < kForcedTrials; ++trial) {
    const std::string home = NewHome("forced" + std::to_string(trial), older);
    const long delay = moments.Next();
    SCOPED_TRACE("trial " + std::to_string(trial) + ", killed after " + std::to_string(delay) + " us");
    bool finishedWell = false;
    const pid_t child = crash::StartChild([&] { Install(PlacesFor(newer, home), /*force=*/true); });
    if (crash::KillAfter(child, delay, &finishedWell)) {
      ++killed;
    } else {
      ASSERT_TRUE(finishedWell) << "the forced installation failed by itself";
      moments.FinishedBefore(delay);
    }

    Install(PlacesFor(newer, home));
    EXPECT_TRUE(InstallationComplete());
    EXPECT_EQ(LeftTemporaries(home), std::vector<std::string>{});
    // A kill before the forced run changed anything leaves the older installation whole; any later
    // kill must end in the newer one. Never a mix.
    const auto installed = Snapshot(home);
    if (!Differences(cleanOlder, installed).empty()) {
      EXPECT_EQ(Differences(clean, installed), "");
      ExpectRecorded(added, PlacesFor(newer, home));
    }
    if (HasFailure())
      break;
    RemoveHome(home);
  }
  std::cout << "forced install crash trials: seed " << seed << ", " << killed << " of " << kForcedTrials
            << " killed during the run\n";
  EXPECT_GE(killed * 4, kForcedTrials);
}

// The package's installer replacing the data package while a start installs it (its old folders
// removed, the new ones written one by one), at random moments: a start that placed the marker left the whole
// installation; one that did not is completed by the next start, the data whole again.
TEST_F(InstallCrash, DataPackageReplacedDuringARunNeverLeavesAMarkerOverAPartialInstallation) {
  constexpr int kReplacements = 12;
  const std::string package = tree / "Library/Vornid";
  const std::string replaced = tree / "Library/Vornid-old";
  MakePackage(package);
  const std::string cleanHome = NewHome("clean");
  const long duration = crash::TimeInChild([&] { Install(PlacesFor(package, cleanHome)); });
  const auto clean = Snapshot(cleanHome);
  const std::string marker = kProduction + "Autodesk Fusion.app/" + kTranslations + "czech_cz.xml";

  crash::KillMoments moments(crash::TrialSeed(), duration);
  int markerLeft = 0;
  for (int trial = 0; trial < kReplacements; ++trial) {
    const long delay = moments.Next();
    SCOPED_TRACE("trial " + std::to_string(trial) + ", replaced after " + std::to_string(delay) + " us");
    const std::string home = NewHome("replaced" + std::to_string(trial));
    const InstallPlaces places = PlacesFor(package, home);
    const pid_t child = crash::StartChild([&] { Install(places); });
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    fs::remove_all(replaced);
    fs::rename(package, replaced);
    fs::create_directory(package);
    // The new folders one after another, as an installer unpacks them.
    for (const char* folder : {"/vornidca", "/VornidQM", "/vornidfu", "/vornidhe"}) {
      fs::copy(replaced + folder, package + folder, fs::copy_options::recursive);
      std::this_thread::sleep_for(std::chrono::microseconds(duration / 10));
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    if (Exists(home + marker)) {
      ++markerLeft;
      EXPECT_EQ(Differences(clean, Snapshot(home)), "");
    }
    Install(places);
    EXPECT_TRUE(InstallationComplete());
    EXPECT_EQ(Differences(clean, Snapshot(home)), "");
    if (HasFailure())
      break;
    RemoveHome(home);
  }
  std::cout << "package replacement trials: " << kReplacements - markerLeft << " of " << kReplacements
            << " runs left no marker\n";
}

// The language add-in's folder in a home, where a package installs the uninstaller and the record lies.
const std::string kAddinInHome =
    "/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns/Orvandel";

// The places of a home whose add-in folder holds the record, the uninstaller and a stand-in library.
InstallPlaces PlacesWithUninstaller(const std::string& package, const std::string& home) {
  const std::string addin = home + kAddinInHome;
  WriteFile(addin + "/Orvandel.so", "library");
  fs::copy_file(UNINSTALLER_EXECUTABLE, addin + "/uninstaller", fs::copy_options::overwrite_existing);
  fs::permissions(addin + "/uninstaller", fs::perms::owner_all);
  return InstallPlaces{package, home, home + kProduction + "b2/Autodesk Fusion.app/Contents/MacOS",
                       addin + "/" + installrecord::kFileName};
}

// Killed at any moment, a first start or "Aktivace CZ" over an older package leaves a bundle from which
// the uninstaller, run at once, takes every package file and folder: only the host's own stay.
TEST_F(InstallCrash, UninstallerRunRightAfterAKillLeavesOnlyTheHostsFiles) {
  constexpr int kTrialsEach = 12;
  const std::string older = tree / "older/Library/Vornid";
  const std::string newer = tree / "newer/Library/Vornid";
  MakeOlderAndNewerPackages(older, newer);
  const std::string hostBundle = kProduction + "Autodesk Fusion.app";
  const TreeSnapshot hostOnly = Snapshot(NewHome("fresh") + hostBundle);

  struct Case {
    const char* name;
    bool overOlder; // the older package installed first, then a forced run
  };
  const Case cases[] = {{"first start", false}, {"Aktivace CZ over an older package", true}};
  const std::uint32_t seed = crash::TrialSeed();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int home = 0;
    const auto prepare = [&] {
      const std::string path = NewHome(std::string(c.overOlder ? "older" : "first") + std::to_string(home++));
      if (c.overOlder)
        Install(PlacesWithUninstaller(older, path));
      return PlacesWithUninstaller(newer, path);
    };
    const InstallPlaces timed = prepare();
    crash::KillMoments moments(seed, crash::TimeInChild([&] { Install(timed, c.overOlder); }));
    int killed = 0;
    for (int trial = 0; trial < kTrialsEach; ++trial) {
      const InstallPlaces places = prepare();
      const long delay = moments.Next();
      SCOPED_TRACE("trial " + std::to_string(trial) + ", killed after " + std::to_string(delay) + " us");
      bool finishedWell = false;
      const pid_t child = crash::StartChild([&] { Install(places, c.overOlder); });
      if (crash::KillAfter(child, delay, &finishedWell))
        ++killed;
      else
        moments.FinishedBefore(delay);

      EXPECT_EQ(crash::RunToTheEnd(places.home + kAddinInHome + "/uninstaller", places.home, tree / "newer"),
                0);
      EXPECT_EQ(Differences(hostOnly, Snapshot(places.home + hostBundle)), "");
      if (HasFailure())
        return;
      RemoveHome(places.home);
    }
    std::cout << c.name << ": " << killed << " of " << kTrialsEach
              << " killed during the run, then uninstalled\n";
    EXPECT_GE(killed * 4, kTrialsEach);
  }
}

// A copy run again clears only what copies of dead processes left: a copy still running elsewhere
// keeps its temporary file, and files that merely look alike stay.
TEST_F(InstallCrash, RunAgainRemovesOnlyTemporariesOfDeadCopies) {
  WriteFile(tree / "source/page.html", "page");
  const pid_t dead = crash::StartChild([] {});
  bool finishedWell = false;
  crash::KillAfter(dead, 0, &finishedWell);
  const std::string deadTemporary = ".page.html." + std::to_string(dead) + "-3.qxtmp";
  const std::string liveTemporary = ".page.html." + std::to_string(getppid()) + "-3.qxtmp";
  const std::vector<std::string> kept = {liveTemporary, ".notes.txt.qxtmp", ".x.1-2.txt",
                                         "page.html." + std::to_string(dead) + "-3.qxtmp"};
  WriteFile(tree / ("target/sub/" + deadTemporary), "half");
  for (const std::string& name : kept)
    WriteFile(tree / ("target/sub/" + name), "other");
  WriteFile(tree / "source/sub/file.txt", "file");

  Failure failure;
  ASSERT_TRUE(filecopy::CopyFolderUpdating(tree / "source", tree / "target", failure));
  EXPECT_FALSE(fs::exists(tree / ("target/sub/" + deadTemporary)));
  for (const std::string& name : kept)
    EXPECT_TRUE(fs::exists(tree / ("target/sub/" + name))) << name;

  WriteFile(tree / ("target/" + deadTemporary), "half");
  ASSERT_TRUE(filecopy::CopyFileUpdating(tree / "source/page.html", tree / "target/page.html", failure));
  EXPECT_FALSE(fs::exists(tree / ("target/" + deadTemporary)));
  EXPECT_EQ(ReadFile(tree / "target/page.html"), "page");
}

} // namespace
