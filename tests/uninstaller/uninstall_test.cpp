#include "uninstall.h"

#include "install_record.h"
#include "messages.h"
#include "platform.h"
#include "temp_folder.h"
#include "test_files.h"
#include "uninstall_expectations.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;
using uninstaller::Mode;

namespace {

struct Tree {
  TempFolder temp{"uninstaller-test-"};
  std::string production = temp.path() + "/production/";
  std::string addins = temp.path() + "/AddIns";
  std::string own = addins + "/Orvandel";
  std::string guide = addins + "/Miravelo";
  std::string packageRoot = temp.path() + "/Library/Vornid";
  std::string downloads = temp.path() + "/Downloads";

  Tree() {
    WriteFile(own + "/Orvandel.so", "library");
    WriteFile(own + "/uninstaller", "program");
  }

  int Run(Mode mode = Mode::kRemove) {
    std::ostringstream outStream, errStream;
    const int status = uninstaller::Uninstall(
        uninstaller::Places{uninstaller::OpenStartFolder(production), uninstaller::OpenStartFolder(addins),
                            "Orvandel", "uninstaller", packageRoot, downloads},
        mode, outStream, errStream);
    out = outStream.str();
    err = errStream.str();
    return status;
  }
  std::string out, err;
};

// The record entry of the file at path as it stands now.
installrecord::RecordedFile RecordedNow(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  const timespec modified = ModificationTime(info);
  return installrecord::RecordedFile{static_cast<std::uint64_t>(info.st_size), modified.tv_sec,
                                     modified.tv_nsec};
}

void WriteRecord(const std::string& ownFolder, const installrecord::InstallRecord& record) {
  Failure failure;
  ASSERT_TRUE(installrecord::WriteInstallRecord(ownFolder + "/" + installrecord::kFileName, record, failure))
      << failure.code.message();
}

} // namespace

TEST(Uninstall, RemovesRecordedBundleFilesThatStillMatchAndNothingElse) {
  Tree tree;
  const std::string bundle = tree.production + "Autodesk Fusion.app";
  const std::string table = "Contents/Libraries/Neutron/StringTable/";
  const std::string qm = "Contents/Resources/AIRMAX/";
  const std::string translations = "Contents/Libraries/Applications/CAM360/Data/Translations/";
  const std::string help = "Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/";
  const std::vector<std::string> hostFiles = {table + "en-US/strings.txt", qm + "main.qm",
                                              translations + "english.xml", help + "en-html.html"};
  for (const auto& file : hostFiles)
    WriteFile(bundle + "/" + file, "host's own");

  installrecord::InstallRecord record;
  const auto place = [&](const std::string& relative, const std::string& content) {
    WriteFile(bundle + "/" + relative, content, 1700000000);
    record.files[relative] = RecordedNow(bundle + "/" + relative);
  };
  place(table + "cs-CZ/Neutron.xml", "cs");
  place(table + "cs-CZ/Dialogs/Main.xml", "cs");
  place(qm + "cs-CZ/main_cs.qm", "qm");
  place(translations + "czech_cz.xml", "<cs/>");
  place(translations + "sametime.xml", "<cs/>");
  place(translations + "samesize.xml", "<cs/>");
  place(help + "cz-html/obsah.html", "obsah");
  place(help + "linked/page.html", "page");
  record.files[translations + "gone.xml"] = installrecord::RecordedFile{3, 1700000000, 0};
  for (const auto& folder : {table + "cs-CZ", table + "cs-CZ/Dialogs", qm + "cs-CZ", help + "cz-html",
                             help + "linked", help + "never-made"})
    record.folders.insert(folder);
  WriteRecord(tree.own, record);

  // What the host did since: rewrote two files, added one to a folder the installer made, and a link
  // now leads a recorded path out of the bundle to a file that matches the record.
  WriteFile(bundle + "/" + translations + "sametime.xml", "<CS/>", 1700000000); // same size and time
  WriteFile(bundle + "/" + translations + "samesize.xml", "<CS/>", 1700000005);
  WriteFile(bundle + "/" + translations + "czech_cz.xml", "<cs>changed</cs>", 1700000000);
  WriteFile(bundle + "/" + help + "cz-html/host-added.html", "host");
  const std::string outside = tree.temp.path() + "/outside";
  fs::rename(bundle + "/" + help + "linked", outside);
  fs::create_directory_symlink(outside, bundle + "/" + help + "linked");

  EXPECT_EQ(tree.Run(), uninstaller::kExitSuccess) << tree.err;
  ExpectNotesThenClosingMessage(tree.out);
  for (const auto& file : hostFiles)
    EXPECT_EQ(ReadFile(bundle + "/" + file), "host's own") << file;
  for (const auto& gone : {table + "cs-CZ", qm + "cs-CZ", help + "cz-html/obsah.html"})
    EXPECT_FALSE(Exists(bundle + "/" + gone)) << gone;
  // Same size and time pass for the installed file: that is all the record can tell.
  EXPECT_FALSE(Exists(bundle + "/" + translations + "sametime.xml"));
  for (const auto& kept : {translations + "samesize.xml", translations + "czech_cz.xml", help + "cz-html"}) {
    EXPECT_TRUE(Exists(bundle + "/" + kept)) << kept;
    EXPECT_NE(tree.out.find("Zůstává: \"" + bundle + "/" + kept + "\" ("), std::string::npos) << tree.out;
  }
  EXPECT_EQ(ReadFile(outside + "/page.html"), "page");
  EXPECT_NE(tree.out.find("Zůstává: \"" + bundle + "/" + help + "linked/page.html\" ("), std::string::npos)
      << tree.out;
  EXPECT_TRUE(fs::is_directory(bundle + "/" + qm));
}

TEST(Uninstall, UnreadableRecordStopsBeforeAnyRemoval) {
  Tree tree;
  AddLegacyPaths(tree.production + "build", true, true, true);
  WriteFile(tree.own + "/" + installrecord::kFileName, "# Orvandel install record 1\nX\tnonsense\n");
  const std::string before = Listing(tree.temp.path());
  EXPECT_EQ(tree.Run(), uninstaller::kExitFileSystemError);
  EXPECT_NE(tree.err.find(tree.own + "/" + installrecord::kFileName), std::string::npos) << tree.err;
  EXPECT_NE(tree.err.find("Nic nebylo odstraněno"), std::string::npos) << tree.err;
  EXPECT_EQ(tree.out, "");
  EXPECT_EQ(Listing(tree.temp.path()), before);
}

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
  ExpectNotesThenClosingMessage(tree.out);
  EXPECT_EQ(tree.err, "");
  // A link among the builds is passed over: what it points to is not the user's build to clean.
  EXPECT_TRUE(HoldsAnyLegacyPath(linkedTarget));
  for (const auto& build : {full, running, onlyHelpTree, without}) {
    SCOPED_TRACE(build);
    EXPECT_FALSE(HoldsAnyLegacyPath(build));
    EXPECT_EQ(ReadFile(build + kHostStringTable), "en");
    // Only the paths themselves go, not the folders that held them.
    EXPECT_TRUE(fs::is_directory(build + "/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable"));
  }
  EXPECT_EQ(ReadFile(running + "/Autodesk Fusion.app/Contents/MacOS/host"), "host");
  // The legacy paths name the older bundle only; the current bundle loses its Czech string table as a
  // known Czech place (no record, no data package), and nothing else.
  EXPECT_FALSE(Exists(tree.production + "Autodesk Fusion.app/Contents/Libraries/Neutron/StringTable/cs-CZ"));
  EXPECT_TRUE(
      fs::is_directory(tree.production + "Autodesk Fusion.app/Contents/Libraries/Neutron/StringTable"));
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
    ExpectNotesThenClosingMessage(tree.out);
    EXPECT_EQ(tree.err, "");
    EXPECT_FALSE(Exists(tree.own));
    EXPECT_EQ(Exists(tree.production), productionExists);
  }
}

// What stopped installations of the package left beside the add-ins goes (a link as the link); other
// hidden entries stay.
TEST(Uninstall, RemovesWhatStoppedInstallationsLeftInTheAddinsFolder) {
  Tree tree;
  WriteFile(tree.addins + "/.Orvandel.installing.41/Orvandel.so", "partial copy");
  WriteFile(tree.addins + "/.Miravelo.replaced.41/Miravelo_Info.txt", "07.12.2026\n3\n");
  fs::create_directories(tree.addins + "/.Miravelo.replaced.42");
  WriteFile(tree.temp.path() + "/elsewhere/file", "not ours");
  fs::create_directory_symlink(tree.temp.path() + "/elsewhere", tree.addins + "/.Orvandel.replaced.43");
  for (const char* kept : {"/.Orvandel.installing.", "/.Orvandelx.replaced.1", "/.hidden"})
    WriteFile(tree.addins + kept + "/file", "the user's");
  EXPECT_EQ(tree.Run(), uninstaller::kExitSuccess) << tree.err;
  for (const char* gone : {"/.Orvandel.installing.41", "/.Miravelo.replaced.41", "/.Miravelo.replaced.42",
                           "/.Orvandel.replaced.43"})
    EXPECT_FALSE(Exists(tree.addins + gone)) << gone;
  for (const char* kept : {"/.Orvandel.installing.", "/.Orvandelx.replaced.1", "/.hidden"})
    EXPECT_TRUE(Exists(tree.addins + kept + "/file")) << kept;
  EXPECT_EQ(ReadFile(tree.temp.path() + "/elsewhere/file"), "not ours");
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

TEST(Uninstall, DryRunListsWhatWouldGoAndWhatStays) {
  Tree tree;
  const std::string build = tree.production + "build";
  AddLegacyPaths(build, false, true, false);
  WriteFile(LegacyFile(build, 1), "<html/>");
  WriteFile(tree.guide + "/Miravelo.so", "guide");
  WriteFile(tree.guide + "/Miravelo.manifest", "{}");
  WriteFile(tree.packageRoot + "/vornidfu/cs-CZ/Neutron.xml", "cs");
  const std::string before = Listing(tree.temp.path());

  EXPECT_EQ(tree.Run(Mode::kDryRun), uninstaller::kExitSuccess);
  std::string tree0 = LegacyTree(build, 0);
  tree0.pop_back(); // printed without the tree's trailing separator
  const std::string expected =
      "\"" + LegacyFile(build, 1) + "\"\n\"" + tree0 + "\"\n\"" + tree.guide + "\"\n\"" + tree.own + "\"\n";
  EXPECT_NE(tree.out.find("\n" + expected), std::string::npos) << tree.out;
  EXPECT_NE(tree.out.find("sudo rm -rf \"/Library/Vornid\"\n"), std::string::npos) << tree.out;
  EXPECT_EQ(tree.out.find("*****"), std::string::npos);
  EXPECT_EQ(Listing(tree.temp.path()), before);
}

TEST(Uninstall, DryRunThatHitsAnErrorSaysNothingWasRemoved) {
  Tree tree;
  WriteFile(tree.production.substr(0, tree.production.size() - 1), "a plain file");
  const std::string before = Listing(tree.temp.path());
  EXPECT_EQ(tree.Run(Mode::kDryRun), uninstaller::kExitFileSystemError);
  EXPECT_NE(tree.err.find("Nic nebylo odstraněno"), std::string::npos) << tree.err;
  EXPECT_EQ(Listing(tree.temp.path()), before);
}

TEST(Uninstall, TreeBelowAPlainFileIsAbsent) {
  Tree tree;
  // Where a build folder would hold the older bundle, or the bundle one of the trees' folders.
  WriteFile(tree.production + "build-bundle-is-file/Autodesk Fusion 360.app", "not a bundle");
  WriteFile(tree.production + "build-folder-is-file/Autodesk Fusion 360.app/Contents/Libraries/Neutron",
            "not a folder");
  EXPECT_EQ(tree.Run(), uninstaller::kExitSuccess) << tree.err;
  ExpectNotesThenClosingMessage(tree.out);
  EXPECT_EQ(ReadFile(tree.production + "build-bundle-is-file/Autodesk Fusion 360.app"), "not a bundle");
  EXPECT_FALSE(Exists(tree.own));
}

TEST(Uninstall, RemovesTheGuideAddinOnlyWhenItIsARealGuideFolder) {
  struct Case {
    const char* name;
    void (*prepare)(const Tree&);
    bool removed;
  };
  const Case cases[] = {
      {"guide folder with its library, manifest and start counter",
       [](const Tree& t) {
         WriteFile(t.guide + "/Miravelo.so", "guide");
         WriteFile(t.guide + "/Miravelo.manifest", "{}");
         WriteFile(t.guide + "/Miravelo_Info.txt", "3");
         WriteFile(t.guide + "/resources/Pruvodce/16x16.png", "png");
       },
       true},
      {"remains of a run ended while removing the library",
       [](const Tree& t) { WriteFile(t.guide + "/Miravelo.dylib", "guide"); }, true},
      {"guide's library without its manifest",
       [](const Tree& t) {
         WriteFile(t.guide + "/Miravelo.so", "guide");
         WriteFile(t.guide + "/Miravelo_Info.txt", "3");
       },
       false},
      {"folder without the guide's library",
       [](const Tree& t) { WriteFile(t.guide + "/Miravelo_Info.txt", "3"); }, false},
      {"library is a link",
       [](const Tree& t) {
         WriteFile(t.temp.path() + "/elsewhere/Miravelo.so", "guide");
         WriteFile(t.guide + "/notes.txt", "mine");
         fs::create_symlink(t.temp.path() + "/elsewhere/Miravelo.so", t.guide + "/Miravelo.so");
       },
       false},
      {"folder is a link to another folder",
       [](const Tree& t) {
         WriteFile(t.temp.path() + "/elsewhere/Miravelo.so", "guide");
         fs::create_directory_symlink(t.temp.path() + "/elsewhere", t.guide);
       },
       false},
      {"a plain file of that name", [](const Tree& t) { WriteFile(t.guide, "a file"); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Tree tree;
    fs::create_directories(tree.temp.path() + "/elsewhere");
    c.prepare(tree);
    const std::string linkTarget = Listing(tree.temp.path() + "/elsewhere");
    EXPECT_EQ(tree.Run(), uninstaller::kExitSuccess) << tree.err;
    ExpectNotesThenClosingMessage(tree.out);
    EXPECT_FALSE(Exists(tree.own));
    EXPECT_EQ(Exists(tree.guide), !c.removed);
    EXPECT_EQ(tree.out.find("Zůstává: \"" + tree.guide + "\" ("), c.removed ? std::string::npos : 0)
        << tree.out;
    EXPECT_EQ(Listing(tree.temp.path() + "/elsewhere"), linkTarget);
  }
}

TEST(Uninstall, NamesTheDataPackageAndTheDownloadedPackageWithTheCommandsThatRemoveThem) {
  for (const bool present : {true, false}) {
    SCOPED_TRACE(present ? "both packages there" : "neither package there");
    Tree tree;
    if (present) {
      WriteFile(tree.packageRoot + "/VornidQM/main_cs.qm", "qm");
      WriteFile(tree.downloads + "/Orvandel-installer.pkg", "xar!");
    }
    EXPECT_EQ(tree.Run(), uninstaller::kExitSuccess) << tree.err;
    ExpectNotesThenClosingMessage(tree.out);
    EXPECT_EQ(tree.out.find("Poznámka: datový balíček /Library/Vornid zůstává") != std::string::npos, present)
        << tree.out;
    EXPECT_EQ(tree.out.find("\n  sudo rm -rf \"/Library/Vornid\"\n") != std::string::npos, present);
    EXPECT_EQ(tree.out.find("~/Downloads/Orvandel-installer.pkg zůstává") != std::string::npos, present);
    EXPECT_EQ(tree.out.find("\n  rm ~/\"Downloads/Orvandel-installer.pkg\"\n") != std::string::npos, present);
    EXPECT_EQ(Exists(tree.packageRoot), present);
    EXPECT_EQ(Exists(tree.downloads + "/Orvandel-installer.pkg"), present);
  }
}

// Without a record the current bundle's Czech files are found by the data package (byte for byte) or,
// where the package is gone, by the package's known Czech places; the host's own files stay.
TEST(Uninstall, WithoutRecordFindsThePackagesFilesInTheCurrentBundle) {
  const std::string table = "Contents/Libraries/Neutron/StringTable/";
  const std::string qm = "Contents/Resources/AIRMAX/";
  const std::string translations = "Contents/Libraries/Applications/CAM360/Data/Translations/";
  const std::string help = "Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/";
  // Source in the data package, place in the bundle.
  const std::vector<std::pair<std::string, std::string>> packageFiles = {
      {"vornidfu/cs-CZ/Neutron.xml", table + "cs-CZ/Neutron.xml"},
      {"vornidfu/cs-CZ/Dialogs/Main.xml", table + "cs-CZ/Dialogs/Main.xml"},
      {"VornidQM/main_cs.qm", qm + "cs-CZ/main_cs.qm"},
      {"vornidca/czech_cz.xml", translations + "czech_cz.xml"},
      {"vornidca/czech_cz_messages.xml", translations + "czech_cz_messages.xml"},
      {"vornidhe/cz-html/obsah.html", help + "cz-html/obsah.html"},
  };
  const std::vector<std::string> hostFiles = {table + "en-US/strings.txt", qm + "main.qm",
                                              translations + "english.xml", help + "en-html.html"};
  struct Case {
    const char* name;
    bool packageThere;
    std::vector<std::string> kept; // named in the output
    std::vector<std::string> gone;
  };
  const Case cases[] = {
      {"data package there, one file changed since",
       true,
       {translations + "czech_cz_messages.xml"},
       {table + "cs-CZ", qm + "cs-CZ", translations + "czech_cz.xml", help + "cz-html",
        help + "cz-html.html"}},
      {"data package gone too",
       false,
       {},
       {table + "cs-CZ", qm + "cs-CZ", translations + "czech_cz.xml", help + "cz-html",
        help + "cz-html.html"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tree tree;
    const std::string bundle = tree.production + "Autodesk Fusion.app/";
    for (const auto& file : hostFiles)
      WriteFile(bundle + file, "host's own");
    for (const auto& [source, place] : packageFiles) {
      WriteFile(bundle + place, "czech " + source);
      if (c.packageThere)
        WriteFile(tree.packageRoot + "/" + source, "czech " + source);
    }
    WriteFile(bundle + help + "cz-html.html", "help index");
    WriteFile(bundle + help + "cz-html/page.html", "help page");
    WriteFile(bundle + translations + "czech_cz_messages.xml", "changed by the host");

    const std::string before = Listing(tree.temp.path());
    EXPECT_EQ(tree.Run(Mode::kDryRun), uninstaller::kExitSuccess) << tree.err;
    EXPECT_EQ(Listing(tree.temp.path()), before);
    for (const auto& gone : c.gone)
      EXPECT_NE(tree.out.find("\n\"" + bundle + gone + "\"\n"), std::string::npos) << gone << tree.out;

    EXPECT_EQ(tree.Run(), uninstaller::kExitSuccess) << tree.err;
    ExpectNotesThenClosingMessage(tree.out);
    for (const auto& gone : c.gone)
      EXPECT_FALSE(Exists(bundle + gone)) << gone;
    for (const auto& kept : c.kept) {
      EXPECT_TRUE(Exists(bundle + kept)) << kept;
      EXPECT_NE(tree.out.find("Zůstává: \"" + bundle + kept + "\" ("), std::string::npos) << tree.out;
    }
    for (const auto& file : hostFiles)
      EXPECT_EQ(ReadFile(bundle + file), "host's own") << file;
    EXPECT_TRUE(fs::is_directory(bundle + table));
    EXPECT_TRUE(fs::is_directory(bundle + qm));
  }
}

// Every reason a record cannot be used is Czech, and nothing is removed.
TEST(Uninstall, RecordThatCannotBeUsedIsReportedInCzech) {
  struct Case {
    const char* name;
    std::function<void(const std::string& record)> prepare;
    const char* reason;
  };
  const Case cases[] = {
      {"larger than 64 MiB",
       [](const std::string& record) {
         WriteFile(record, "# Orvandel install record 1\n");
         fs::resize_file(record, 65 * 1024 * 1024);
       },
       "záznam je příliš velký (více než 64 MiB)"},
      {"a folder", [](const std::string& record) { fs::create_directories(record); },
       "záznam není obyčejný soubor"},
      {"not a record", [](const std::string& record) { WriteFile(record, "hello\n"); },
       "soubor není záznamem instalace"},
      {"damaged line",
       [](const std::string& record) { WriteFile(record, "# Orvandel install record 1\nD\tok\nX\tbad\n"); },
       "záznam je poškozen (řádek 3)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tree tree;
    AddLegacyPaths(tree.production + "build", true, true, true);
    c.prepare(tree.own + "/" + installrecord::kFileName);
    const std::string before = Listing(tree.temp.path());
    EXPECT_EQ(tree.Run(), uninstaller::kExitFileSystemError);
    EXPECT_NE(tree.err.find(c.reason), std::string::npos) << tree.err;
    EXPECT_NE(tree.err.find("Nic nebylo odstraněno"), std::string::npos) << tree.err;
    EXPECT_EQ(tree.err.find("Invalid argument"), std::string::npos) << tree.err;
    EXPECT_EQ(Listing(tree.temp.path()), before);
  }
}

// A HOME that is not the own folder's home refuses as a wrong place; an unusable HOME (unset, empty,
// relative, missing) refuses before the place is looked at.
TEST(RunUninstaller, RefusesAWrongOrUnusableHomeBeforeAnyRemoval) {
  TempFolder temp{"uninstaller-test-"};
  const std::string userHome = temp.path() + "/Users/user";
  const std::string otherHome = temp.path() + "/Users/other";
  const std::string own = userHome + uninstaller::kAddinFolderInHome;
  WriteFile(own + "/Orvandel.so", "library");
  WriteFile(own + "/uninstaller", "program");
  WriteFile(otherHome + uninstaller::kAddinFolderInHome + "/Orvandel.so", "other's library");
  const std::string belowHome = userHome + "/Library", missingHome = temp.path() + "/Users/nobody-here";
  struct Case {
    const char* home;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {otherHome.c_str(), uninstaller::kExitWrongPlace, "bez sudo"},
      {"/", uninstaller::kExitWrongPlace, "bez sudo"},
      {belowHome.c_str(), uninstaller::kExitWrongPlace, "bez sudo"},
      {nullptr, uninstaller::kExitNoHome, "HOME"},
      {"", uninstaller::kExitNoHome, "HOME"},
      {"relative/home", uninstaller::kExitNoHome, "HOME"},
      {missingHome.c_str(), uninstaller::kExitNoHome, "HOME"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.home ? c.home : "(unset)");
    const std::string before = Listing(temp.path());
    std::ostringstream out, err;
    EXPECT_EQ(
        uninstaller::RunUninstaller({}, c.home, own + "/uninstaller", temp.path() + "/Vornid", out, err),
        c.status);
    EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(Listing(temp.path()), before);
  }
}

// Each folder from HOME down is opened without following a link; run as root, each one passed must be
// root's, HOME included. A missing folder leaves the place absent.
TEST(RunUninstaller, OpensEveryFolderBelowHomeWithoutLinksAndAsRootOnlyRoots) {
  TempFolder temp{"uninstaller-test-"};
  const std::string home = temp.path() + "/home";
  fs::create_directories(home + "/a/users/b/c");
  fs::create_directories(temp.path() + "/elsewhere/c");
  fs::create_symlink(temp.path() + "/elsewhere", home + "/a/link");
  // As root the middle folder is given to an ordinary account; as anyone else it is that user's already.
  if (geteuid() == 0) {
    ASSERT_EQ(lchown((home + "/a/users").c_str(), 65534, 65534), 0);
  }
  struct Case {
    uid_t effectiveUser;
    const char* relative;
    bool opened; // false: refused
    std::string notRoots;
    const char* problem;
  };
  const Case cases[] = {
      {0, "/a/users/b/c", false, home + "/a/users", ""},
      {0, "/a", true, "", ""},
      {0, "/a/missing/c", true, "", ""},
      {1000, "/a/users/b/c", true, "", ""},
      {1000, "/a/link/c", false, "", "symbolický odkaz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.relative);
    uninstaller::StartFolder folder;
    std::string notRoots, problem;
    EXPECT_EQ(uninstaller::OpenBelowHome(home, c.relative, c.effectiveUser, folder, notRoots, problem),
              c.opened);
    EXPECT_EQ(notRoots, c.notRoots);
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    EXPECT_EQ(folder.fd.valid(), c.opened && std::string(c.relative).find("missing") == std::string::npos);
    if (folder.fd.valid()) {
      EXPECT_EQ(folder.path, home + c.relative);
    }
  }
}

// A path the program prints pastes into a shell as one word and means that path, whatever it holds; a
// leading "~/" still expands to the home folder.
TEST(Messages, PrintedPathPastesIntoAShellAsOneWord) {
  TempFolder temp{"shell-word-"};
  const std::string script = temp.path() + "/paste.sh";
  for (const std::string& path : {std::string("/Users/u/Library/Application Support/Autodesk Fusion 360"),
                                  std::string("/a/$HOME/`id`/\"quoted\"/it's/back\\slash/bang!/*"),
                                  std::string("~/Library/Application Support/x"), std::string("~/it's $x")}) {
    SCOPED_TRACE(path);
    WriteFile(script, "set -- " + uninstaller::ShellWord(path) + "\nprintf '%s|%s' \"$#\" \"$1\"\n");
    FILE* shell = popen(("HOME=/home/u /bin/sh " + script).c_str(), "r");
    ASSERT_NE(shell, nullptr);
    std::string out;
    char buffer[512];
    for (std::size_t count; (count = fread(buffer, 1, sizeof buffer, shell)) > 0;)
      out.append(buffer, count);
    EXPECT_EQ(pclose(shell), 0);
    EXPECT_EQ(out, "1|" + (path.rfind("~/", 0) == 0 ? "/home/u/" + path.substr(2) : path));
  }
}
