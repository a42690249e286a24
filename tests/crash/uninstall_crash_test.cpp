// The uninstaller killed (SIGKILL) at random moments of its removals: where a program is left (in the
// add-in folder, or in the folder renamed aside for the last steps), one more run of it finishes the
// job; where none is, the tree is already what an untroubled run leaves, but for an empty aside folder
// when the kill came between the program and its folder (the next installation removes that one).
#include "crash_support.h"

#include "temp_folder.h"
#include "test_files.h"
#include "utilities.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace {

constexpr int kTrials = 30;
const std::string kAddIns = "/Users/user/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns";
const std::string kProduction = "/Users/user/Library/Application Support/Autodesk/webdeploy/production/";

// A simulated Mac at root: an older build's Czech files, the current bundle with the data package's
// files in it (no record: the package tells them), both add-ins with what a stopped installation left
// beside them, and a downloaded package.
void MakeMac(const std::string& root) {
  const std::string legacy = root + kProduction + "b1/Autodesk Fusion 360.app/Contents/Libraries/";
  const std::string bundle = root + kProduction + "Autodesk Fusion.app/Contents/";
  const std::string help = "Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/";
  for (int i = 0; i < 30; ++i) {
    const std::string name = "/file" + std::to_string(i);
    WriteFile(legacy + "Neutron/StringTable/cs-CZ" + name, "old");
    WriteFile(legacy + "Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/cz-html" + name, "old");
    WriteFile(root + "/Library/Vornid/vornidfu/cs-CZ" + name, "czech" + name);
    WriteFile(bundle + "Libraries/Neutron/StringTable/cs-CZ" + name, "czech" + name);
    WriteFile(root + "/Library/Vornid/VornidQM" + name, "qm" + name);
    WriteFile(bundle + "Resources/AIRMAX/cs-CZ" + name, "qm" + name);
    WriteFile(bundle + help + "cz-html" + name, "help" + name);
  }
  WriteFile(root + "/Library/Vornid/vornidca/czech_cz.xml", "cam");
  WriteFile(bundle + "Libraries/Applications/CAM360/Data/Translations/czech_cz.xml", "cam");
  WriteFile(bundle + "Libraries/Applications/CAM360/Data/Translations/english.xml", "host");
  WriteFile(bundle + "Libraries/Neutron/StringTable/en-US/strings.xml", "host");
  WriteFile(bundle + help + "en-html.html", "host");
  WriteFile(bundle + help + "cz-html.html", "host");

  for (const std::string addin : {"Orvandel", "Miravelo"}) {
    const std::string folder = root + kAddIns + "/" + addin;
    WriteFile(folder + "/" + addin + ".so", "library");
    WriteFile(folder + "/" + addin + ".manifest", "{}");
    for (int i = 0; i < 10; ++i)
      WriteFile(folder + "/resources/icon" + std::to_string(i) + ".png", "png");
  }
  for (const std::string left : {"/.Orvandel.installing.7", "/.Miravelo.replaced.7"}) {
    for (int i = 0; i < 10; ++i)
      WriteFile(root + kAddIns + left + "/resources/icon" + std::to_string(i) + ".png", "png");
  }
  fs::copy_file(UNINSTALLER_EXECUTABLE, root + kAddIns + "/Orvandel/uninstaller");
  fs::permissions(root + kAddIns + "/Orvandel/uninstaller", fs::perms::owner_all);
  WriteFile(root + "/Users/user/Downloads/Orvandel-installer.pkg", "xar!");
}

// Runs the program at path in the child that calls it, for the simulated Mac at root; no output.
void Exec(const std::string& program, const std::string& root) {
  crash::ExecProgram(program, root + "/Users/user", root);
}

// The exit status of one untroubled run of program.
int RunToTheEnd(const std::string& program, const std::string& root) {
  return crash::RunToTheEnd(program, root + "/Users/user", root);
}

} // namespace

TEST(UninstallCrash, KilledRunsAreFinishedByTheProgramTheyLeaveOrLeaveACleanTree) {
  TempFolder tree{"uninstall-crash-"};
  const std::string program = kAddIns + "/Orvandel/uninstaller";
  const std::string aside = kAddIns + "/.Orvandel-odinstalace/uninstaller";

  const std::string cleanRoot = tree / "clean";
  MakeMac(cleanRoot);
  const long duration = crash::TimeInChild([&] { Exec(cleanRoot + program, cleanRoot); });
  const TreeSnapshot clean = Snapshot(cleanRoot);
  ASSERT_FALSE(Exists(cleanRoot + kAddIns + "/Orvandel"));

  const std::uint32_t seed = crash::TrialSeed();
  crash::KillMoments moments(seed, duration);
  int killed = 0, finishedByASecondRun = 0, emptyAside = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    const std::string root = tree / ("trial" + std::to_string(trial));
    MakeMac(root);
    const long delay = moments.Next();
    SCOPED_TRACE("trial " + std::to_string(trial) + ", killed after " + std::to_string(delay) + " us");
    bool finishedWell = false;
    const pid_t child = crash::StartChild([&] { Exec(root + program, root); });
    if (crash::KillAfter(child, delay, &finishedWell)) {
      ++killed;
    } else {
      ASSERT_TRUE(finishedWell) << "the uninstaller failed by itself";
      moments.FinishedBefore(delay);
    }
    for (const std::string& left : {program, aside}) {
      if (Exists(root + left)) {
        EXPECT_EQ(RunToTheEnd(root + left, root), 0) << left;
        ++finishedByASecondRun;
      }
    }
    const std::string asideFolder = root + FolderOf(aside);
    if (Exists(asideFolder)) {
      EXPECT_TRUE(fs::is_empty(asideFolder));
      fs::remove(asideFolder);
      ++emptyAside;
    }
    EXPECT_EQ(Differences(clean, Snapshot(root)), "");
    if (HasFailure())
      break;
    fs::remove_all(root);
  }
  std::cout << "uninstall crash trials: seed " << seed << ", " << killed << " of " << kTrials
            << " killed during the run, " << finishedByASecondRun << " finished by a second run, "
            << emptyAside << " left an empty aside folder\n";
  EXPECT_GE(killed * 4, kTrials);
}
