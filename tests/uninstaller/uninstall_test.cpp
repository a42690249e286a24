#include "uninstall.h"

#include "legacy_paths.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;
using uninstaller::Mode;

namespace {

// Two lines of 29 asterisks around the Czech text, each piece as the user must see it.
const std::string kStars(29, '*');
const std::string kClosingMessage =
    "\n" + ("\n" + kStars + "\n") +
    "Soubory s lokalizaci a AddInu byly odstraneny.\nOkno Terminalu je mozne uzavrit" +
    ("\n" + kStars + "\n") + "\n";

const std::string kHostStringTable =
    "/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable/en-US/strings.txt";

std::string LegacyFile(const std::string& build, int index) {
  return build + legacy::kSingleFiles[index];
}
std::string LegacyTree(const std::string& build, int index) {
  return build + legacy::kTrees[index];
}

void AddLegacyPaths(const std::string& build, bool singles, bool firstTree, bool secondTree) {
  if (singles) {
    WriteFile(LegacyFile(build, 0), "<xml/>");
    WriteFile(LegacyFile(build, 1), "<html/>");
  }
  if (firstTree)
    WriteFile(LegacyTree(build, 0) + "images/a.png", "png");
  if (secondTree)
    WriteFile(LegacyTree(build, 1) + "strings.txt", "cs");
}

bool HoldsAnyLegacyPath(const std::string& build) {
  return Exists(LegacyFile(build, 0)) || Exists(LegacyFile(build, 1)) || Exists(LegacyTree(build, 0)) ||
         Exists(LegacyTree(build, 1));
}

struct Tree {
  TempFolder temp{"uninstaller-test-"};
  std::string production = temp.path() + "/production/";
  std::string own = temp.path() + "/AddIns/Orvandel";

  Tree() { WriteFile(own + "/Orvandel.so", "library"); }

  int Run(Mode mode = Mode::kRemove) {
    std::ostringstream outStream, errStream;
    const int status = uninstaller::Uninstall(production, own, mode, outStream, errStream);
    out = outStream.str();
    err = errStream.str();
    return status;
  }
  std::string out, err;
};

} // namespace

TEST(Uninstall, RemovesLegacyPathsFromEveryBuildAndNothingElse) {
  Tree tree;
  const std::string full = tree.production + "build-full";
  const std::string running = tree.production + "build-running"; // the one a host would run from
  const std::string onlyHelpTree = tree.production + "build-help-only";
  const std::string without = tree.production + "build-without";
  const std::string linkedTarget = tree.temp.path() + "/elsewhere/build-linked";
  for (const auto& build : {full, running, linkedTarget})
    AddLegacyPaths(build, true, true, true);
  AddLegacyPaths(onlyHelpTree, false, true, false);
  WriteFile(running + "/Autodesk Fusion.app/Contents/MacOS/host", "host");
  for (const auto& build : {full, running, onlyHelpTree, without, linkedTarget})
    WriteFile(build + kHostStringTable, "en");
  WriteFile(tree.production + "Autodesk Fusion.app/Contents/Libraries/Neutron/StringTable/cs-CZ/x",
            "current");
  WriteFile(tree.production + "notes.txt", "plain file");
  fs::create_directory_symlink(linkedTarget, tree.production + "build-linked");
  fs::create_symlink(tree.temp.path() + "/missing", tree.production + "dangling");

  EXPECT_EQ(tree.Run(), uninstaller::kExitSuccess) << tree.err;
  EXPECT_EQ(tree.out, kClosingMessage);
  EXPECT_EQ(tree.err, "");
  for (const auto& build : {full, running, onlyHelpTree, without, linkedTarget}) {
    SCOPED_TRACE(build);
    EXPECT_FALSE(HoldsAnyLegacyPath(build));
    EXPECT_EQ(ReadFile(build + kHostStringTable), "en");
    // Only the paths themselves go, not the folders that held them.
    EXPECT_TRUE(fs::is_directory(build + "/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable"));
  }
  EXPECT_EQ(ReadFile(running + "/Autodesk Fusion.app/Contents/MacOS/host"), "host");
  // The current bundle is an entry of its own: the legacy paths name the older bundle only.
  EXPECT_EQ(ReadFile(tree.production + "Autodesk Fusion.app/Contents/Libraries/Neutron/StringTable/cs-CZ/x"),
            "current");
  EXPECT_EQ(ReadFile(tree.production + "notes.txt"), "plain file");
  EXPECT_TRUE(Exists(tree.production + "dangling"));
  EXPECT_FALSE(Exists(tree.own));
  EXPECT_TRUE(fs::is_directory(tree.temp.path() + "/AddIns"));
}

TEST(Uninstall, RemovesOwnFolderWhenNoBuildNeedsCleaning) {
  for (const bool productionExists : {true, false}) {
    SCOPED_TRACE(productionExists ? "empty production folder" : "no production folder");
    Tree tree;
    if (productionExists)
      fs::create_directories(tree.production);
    EXPECT_EQ(tree.Run(), uninstaller::kExitSuccess);
    EXPECT_EQ(tree.out, kClosingMessage);
    EXPECT_EQ(tree.err, "");
    EXPECT_FALSE(Exists(tree.own));
    EXPECT_EQ(Exists(tree.production), productionExists);
  }
}

TEST(Uninstall, EndsSilentlyWhenOwnFolderIsGone) {
  Tree tree;
  AddLegacyPaths(tree.production + "build", true, true, true);
  fs::remove_all(tree.own);
  EXPECT_EQ(tree.Run(), uninstaller::kExitSuccess);
  EXPECT_EQ(tree.out, "");
  EXPECT_FALSE(HoldsAnyLegacyPath(tree.production + "build"));
}

TEST(Uninstall, RemovesLinkedLegacyTreesAsLinksWithoutEmptyingTheirTargets) {
  Tree tree;
  const std::string build = tree.production + "build";
  const std::string outside = tree.temp.path() + "/outside";
  WriteFile(outside + "/keep.txt", "keep");
  for (int index : {0, 1}) {
    std::string link = LegacyTree(build, index);
    link.pop_back(); // the tree paths end with a separator
    fs::create_directories(fs::path(link).parent_path());
    fs::create_directory_symlink(outside, link);
  }
  EXPECT_EQ(tree.Run(), uninstaller::kExitSuccess) << tree.err;
  EXPECT_FALSE(HoldsAnyLegacyPath(build));
  EXPECT_EQ(ReadFile(outside + "/keep.txt"), "keep");
}

TEST(Uninstall, ReportsFileSystemErrorWithPathAndKeepsOwnFolder) {
  struct Case {
    const char* name;
    void (*prepare)(const Tree&);
    std::string (*failingPath)(const Tree&);
  };
  const Case cases[] = {
      {"single legacy entry is a folder that is not empty",
       [](const Tree& t) { WriteFile(LegacyFile(t.production + "build", 0) + "/inner", "x"); },
       [](const Tree& t) { return LegacyFile(t.production + "build", 0); }},
      {"production folder is a plain file",
       [](const Tree& t) { WriteFile(t.production.substr(0, t.production.size() - 1), "x"); },
       [](const Tree& t) { return t.production; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Tree tree;
    c.prepare(tree);
    EXPECT_EQ(tree.Run(), uninstaller::kExitFileSystemError);
    EXPECT_EQ(tree.out, "");
    EXPECT_NE(tree.err.find("\"" + c.failingPath(tree) + "\""), std::string::npos) << tree.err;
    EXPECT_TRUE(Exists(tree.own + "/Orvandel.so"));
  }
}

TEST(Uninstall, DryRunListsExactlyWhatWouldGo) {
  Tree tree;
  const std::string build = tree.production + "build";
  AddLegacyPaths(build, false, true, false);
  WriteFile(LegacyFile(build, 1), "<html/>");
  const std::string before = Listing(tree.temp.path());

  EXPECT_EQ(tree.Run(Mode::kDryRun), uninstaller::kExitSuccess);
  std::string expected = LegacyFile(build, 1) + "\n" + LegacyTree(build, 0);
  expected.back() = '\n'; // printed without the tree's trailing separator
  expected += tree.own + "\n";
  EXPECT_NE(tree.out.find("\n" + expected), std::string::npos) << tree.out;
  EXPECT_EQ(tree.out.find("*****"), std::string::npos);
  EXPECT_EQ(Listing(tree.temp.path()), before);
}

TEST(RunUninstaller, RefusesWithoutAbsoluteHomeBeforeAnyRemoval) {
  TempFolder temp{"uninstaller-test-"};
  const std::string own = temp.path() + "/API/AddIns/Orvandel";
  WriteFile(own + "/Orvandel.so", "library");
  WriteFile(own + "/uninstaller", "program");
  for (const char* home : {static_cast<const char*>(nullptr), "", "relative/home"}) {
    SCOPED_TRACE(home ? home : "(unset)");
    std::ostringstream out, err;
    EXPECT_EQ(uninstaller::RunUninstaller({}, home, own + "/uninstaller", out, err),
              uninstaller::kExitNoHome);
    EXPECT_NE(err.str().find("HOME"), std::string::npos);
    EXPECT_TRUE(Exists(own + "/Orvandel.so"));
  }
}
