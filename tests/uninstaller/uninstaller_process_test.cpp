// Runs the built program from copies laid out in simulated add-in trees, with HOME set to a simulated home.
#include "legacy_paths.h"
#include "link_swapper.h"
#include "temp_folder.h"
#include "test_files.h"
#include "uninstall_expectations.h"
#include "utilities.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr const char* kAddIns = "/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns";
constexpr const char* kProduction = "/Library/Application Support/Autodesk/webdeploy/production/";

struct Result {
  int status = -1;
  std::string out, err;
};

// Who runs the program where permission bits must count: root ignores them, so as root the program runs
// as "nobody" on files given to it; as anyone else, as that user.
struct OrdinaryUser {
  bool found = false;
  bool switchTo = false; // true when the program must be started as uid/gid
  uid_t uid = 0;
  gid_t gid = 0;
};

OrdinaryUser FindOrdinaryUser() {
  if (geteuid() != 0)
    return OrdinaryUser{true, false, geteuid(), getegid()};
  const passwd* entry = getpwnam("nobody");
  return entry ? OrdinaryUser{true, true, entry->pw_uid, entry->pw_gid} : OrdinaryUser{};
}

// Gives everything below root (root included) to user, so that it can change what it owns.
void GiveTree(const std::string& root, const OrdinaryUser& user) {
  if (!user.switchTo)
    return;
  ASSERT_EQ(lchown(root.c_str(), user.uid, user.gid), 0) << root;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    ASSERT_EQ(lchown(entry.path().c_str(), user.uid, user.gid), 0) << entry.path();
}

// A simulated Mac below a temporary folder: the user's home with two host builds holding the legacy
// paths, the language add-in's folder with the program and the add-in library, and the guide add-in.
struct SimulatedMac {
  TempFolder temp{"uninstaller-test-"};
  std::string home = temp.path() + "/Users/user";
  std::string addins = home + kAddIns;
  std::string addin = addins + "/Orvandel";
  std::string production = home + kProduction;

  SimulatedMac() {
    for (const char* build : {"build-a", "build-b"}) {
      AddLegacyPaths(production + build, true, true, true);
      WriteFile(production + build + kHostStringTable, "en");
    }
    WriteFile(production + "Autodesk Fusion.app/Contents/Info.plist", "plist");
    InstallProgram(addin);
    WriteFile(addins + "/Miravelo/Miravelo.so", "guide");
    WriteFile(addins + "/Miravelo/Miravelo.manifest", "{}");
  }

  // The program with the add-in library beside it, as the package lays them out.
  static void InstallProgram(const std::string& folder) {
    fs::create_directories(folder);
    fs::copy_file(UNINSTALLER_EXECUTABLE, folder + "/uninstaller");
    fs::permissions(folder + "/uninstaller", fs::perms::owner_all);
    WriteFile(folder + "/Orvandel.so", "library");
    WriteFile(folder + "/version.txt", "1.0");
  }

  // Lets user reach the temporary folder and own the simulated home.
  void HandTo(const OrdinaryUser& user) {
    if (!user.switchTo)
      return;
    fs::permissions(temp.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    GiveTree(temp.path() + "/Users", user);
  }

  bool AnyLegacyPathLeft() const {
    return HoldsAnyLegacyPath(production + "build-a") || HoldsAnyLegacyPath(production + "build-b");
  }

  // Starts program directly (no shell) with this environment, HOME replaced by home or removed when
  // null; as user when given.
  Result Run(const std::string& program, const std::vector<std::string>& arguments, const char* homeValue,
             const OrdinaryUser* user = nullptr) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable)
      if (std::strncmp(*variable, "HOME=", 5) != 0)
        environment.emplace_back(*variable);
    if (homeValue)
      environment.push_back(std::string("HOME=") + homeValue);
    std::vector<char*> envp;
    for (auto& variable : environment)
      envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);

    const std::string outFile = temp.path() + "/stdout", errFile = temp.path() + "/stderr";
    const bool switchUser = user && user->switchTo;
    const pid_t child = fork();
    if (child < 0) {
      ADD_FAILURE() << "cannot fork: " << std::strerror(errno);
      return Result{};
    }
    if (child == 0) {
      // Only async-signal-safe calls between fork and exec.
      const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
        _exit(126);
      if (switchUser && (setgroups(0, nullptr) != 0 || setgid(user->gid) != 0 || setuid(user->uid) != 0))
        _exit(126);
      execve(program.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    Result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(outFile);
    result.err = ReadFile(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return result;
  }
};

} // namespace

TEST(UninstallerProgram, CleansBuildsRemovesAddinAndPrintsClosingMessage) {
  SimulatedMac mac;
  const Result result = mac.Run(mac.addin + "/uninstaller", {}, mac.home.c_str());
  EXPECT_EQ(result.status, 0) << result.err;
  ExpectNotesThenClosingMessage(result.out);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(mac.AnyLegacyPathLeft());
  EXPECT_FALSE(Exists(mac.addin));
  EXPECT_FALSE(Exists(mac.addins + "/Miravelo"));
  EXPECT_TRUE(fs::is_directory(mac.addins));
  EXPECT_EQ(ReadFile(mac.production + "Autodesk Fusion.app/Contents/Info.plist"), "plist");
}

// sudo from the user's Terminal: root for a home that is the user's.
TEST(UninstallerProgram, RefusesRootForAUsersHomeAndRemovesNothing) {
  const OrdinaryUser user = FindOrdinaryUser();
  if (!user.switchTo)
    GTEST_SKIP() << "needs root and the account nobody";
  SimulatedMac mac;
  mac.HandTo(user);
  const std::string before = Listing(mac.temp.path());
  const Result result = mac.Run(mac.addin + "/uninstaller", {}, mac.home.c_str());
  EXPECT_EQ(result.status, 3) << result.err;
  EXPECT_NE(result.err.find("bez sudo"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Nic nebylo odstraněno"), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(Listing(mac.temp.path()), before);
}

// Root runs the program for a home that is root's, where an ordinary account owns the folders that
// hold two legacy trees and swaps them, and folders in them, for links to a system folder.
TEST(UninstallerProgram, AsRootNeverFollowsLinksAnotherUserSwapsIn) {
  Account nobody;
  if (!UnprivilegedAccount(nobody))
    GTEST_SKIP() << "needs root and the account nobody";
  for (int run = 0; run < 10; ++run) {
    SimulatedMac mac;
    fs::permissions(mac.temp.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const std::string system = mac.temp.path() + "/private/etc";
    MakeSystemFolder(system);
    std::vector<std::string> swapped;
    for (int tree : {0, 1}) {
      std::string top = LegacyTree(mac.production + "build-a", tree);
      top.pop_back();
      for (int folder = 0; folder < 4; ++folder) {
        for (int file = 0; file < 20; ++file)
          WriteFile(top + "/sub" + std::to_string(folder) + "/page" + std::to_string(file), "old");
      }
      GiveTree(FolderOf(top), OrdinaryUser{true, true, nobody.uid, nobody.gid});
      for (int folder = 0; folder < 4; ++folder)
        swapped.push_back(top + "/sub" + std::to_string(folder));
    }
    const std::string before = OwnedListing(system);
    {
      const LinkSwapper swapper(swapped, system, &nobody);
      const Result result = mac.Run(mac.addin + "/uninstaller", {}, mac.home.c_str());
      EXPECT_TRUE(result.status == 0 || result.status == 1) << result.err;
    }
    ASSERT_EQ(OwnedListing(system), before) << "run " << run;
  }
}

// The user's own run where API or webdeploy, on the way from HOME to the two folders the program starts
// from, is a link into another tree laid out the same (the add-in with the program there too), or is
// flipped to one and back as it runs: the run stops at a link, and nothing of the other tree is removed.
TEST(UninstallerProgram, FoldersOnTheWayFromHomeThatAreLinksRedirectNothing) {
  const OrdinaryUser user = FindOrdinaryUser();
  Account account{user.uid, user.gid};
  if (!user.found)
    GTEST_SKIP() << "needs the account nobody when run as root";
  const std::string apiInHome = FolderOf(kAddIns), webdeployInHome = FolderOf(FolderOf(kProduction));
  for (int run = 0; run < 6; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    SimulatedMac mac;
    const std::string other = mac.temp.path() + "/Users/other";
    AddLegacyPaths(other + kProduction + "build-x", true, true, true);
    WriteFile(other + kAddIns + "/Miravelo/Miravelo.so", "guide");
    WriteFile(other + kAddIns + "/Miravelo/Miravelo.manifest", "{}");
    SimulatedMac::InstallProgram(other + kAddIns + "/Orvandel");
    const std::string before = Listing(other);
    // Runs 0 and 1: a link that stays; then both flip.
    if (run < 2) {
      const std::string place = mac.home + (run == 0 ? apiInHome : webdeployInHome);
      fs::rename(place, place + ".real");
      fs::create_directory_symlink(other + (run == 0 ? apiInHome : webdeployInHome), place);
    }
    mac.HandTo(user);
    if (run < 2) {
      const Result result = mac.Run(mac.addin + "/uninstaller", {}, mac.home.c_str(), &user);
      EXPECT_EQ(result.status, 3) << result.err;
      EXPECT_NE(result.err.find("symbolický odkaz"), std::string::npos) << result.err;
    } else {
      const LinkSwapper api({mac.home + apiInHome}, other + apiInHome, user.switchTo ? &account : nullptr);
      const LinkSwapper webdeploy({mac.home + webdeployInHome}, other + webdeployInHome,
                                  user.switchTo ? &account : nullptr);
      mac.Run(mac.addin + "/uninstaller", {}, mac.home.c_str(), &user);
    }
    ASSERT_EQ(Listing(other), before);
  }
}

// What a run killed in its last steps leaves: the own folder renamed aside, with the program or empty.
TEST(UninstallerProgram, FinishesFromTheFolderRenamedAsideAndSweepsAnEmptyOne) {
  struct Case {
    const char* name;
    bool programLeft; // else the aside folder is empty and the package is installed again
  };
  for (const Case& c : {Case{"program left in the aside folder", true}, Case{"empty aside folder", false}}) {
    SCOPED_TRACE(c.name);
    SimulatedMac mac;
    const std::string aside = mac.addins + "/.Orvandel-odinstalace";
    fs::create_directories(aside);
    if (c.programLeft) {
      fs::rename(mac.addin + "/uninstaller", aside + "/uninstaller");
      fs::remove_all(mac.addin);
    }
    const Result result = mac.Run((c.programLeft ? aside : mac.addin) + "/uninstaller", {}, mac.home.c_str());
    EXPECT_EQ(result.status, 0) << result.err;
    ExpectNotesThenClosingMessage(result.out);
    EXPECT_FALSE(mac.AnyLegacyPathLeft());
    EXPECT_FALSE(Exists(aside));
    EXPECT_FALSE(Exists(mac.addin));
  }
}

TEST(UninstallerProgram, RefusesAndRemovesNothingWhenNotStartedFromTheAddinFolder) {
  struct Case {
    const char* name;
    // Lays out the wrong place and returns the path to start the program by.
    std::function<std::string(SimulatedMac&)> prepare;
    std::function<std::string(SimulatedMac&)> home = nullptr; // HOME, when not the simulated user's
  };
  const std::vector<Case> cases = {
      {"link in a bin folder",
       [](SimulatedMac& mac) {
         fs::create_directories(mac.home + "/bin");
         fs::create_symlink(mac.addin + "/uninstaller", mac.home + "/bin/uninstaller");
         return mac.home + "/bin/uninstaller";
       }},
      {"copy on the Desktop in a folder of the same name",
       [](SimulatedMac& mac) {
         SimulatedMac::InstallProgram(mac.home + "/Desktop/Orvandel");
         return mac.home + "/Desktop/Orvandel/uninstaller";
       }},
      {"renamed add-in folder",
       [](SimulatedMac& mac) {
         fs::rename(mac.addin, mac.addins + "/Orvandel-old");
         return mac.addins + "/Orvandel-old/uninstaller";
       }},
      {"add-in folder is a link to a folder elsewhere",
       [](SimulatedMac& mac) {
         fs::rename(mac.addin, mac.home + "/Orvandel");
         fs::create_directory_symlink(mac.home + "/Orvandel", mac.addin);
         return mac.addin + "/uninstaller";
       }},
      {"add-in folder is a link into another add-in tree",
       [](SimulatedMac& mac) {
         const std::string other = mac.temp.path() + "/other/API/AddIns/Orvandel";
         fs::create_directories(fs::path(other).parent_path());
         fs::rename(mac.addin, other);
         fs::create_directory_symlink(other, mac.addin);
         return mac.addin + "/uninstaller";
       }},
      {"add-in folder without the add-in library",
       [](SimulatedMac& mac) {
         fs::remove(mac.addin + "/Orvandel.so");
         return mac.addin + "/uninstaller";
       }},
      {"HOME names another user's home holding the package too",
       [](SimulatedMac& mac) {
         const std::string other = mac.temp.path() + "/Users/other";
         SimulatedMac::InstallProgram(other + kAddIns + "/Orvandel");
         WriteFile(other + kProduction + "build-a" + legacy::kSingleFiles[0], "<xml/>");
         return mac.addin + "/uninstaller";
       },
       [](SimulatedMac& mac) { return mac.temp.path() + "/Users/other"; }},
      {"HOME is /", [](SimulatedMac& mac) { return mac.addin + "/uninstaller"; },
       [](SimulatedMac&) { return std::string("/"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedMac mac;
    const std::string program = c.prepare(mac);
    const std::string before = Listing(mac.temp.path());
    const std::string home = c.home ? c.home(mac) : mac.home;
    const Result result = mac.Run(program, {}, home.c_str());
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("Nic nebylo odstraněno"), std::string::npos) << result.err;
    // The command it prints last pastes into a shell as one word, the program where the package put it.
    const std::string::size_type command = result.err.rfind("\n  ", result.err.size() - 2);
    ASSERT_NE(command, std::string::npos) << result.err;
    const Result pasted = mac.Run(
        "/bin/sh", {"-c", "set -- " + result.err.substr(command + 3) + "printf '%s|%s' \"$#\" \"$1\""},
        mac.home.c_str());
    EXPECT_EQ(pasted.out, "1|" + mac.addin + "/uninstaller") << result.err;
    EXPECT_EQ(Listing(mac.temp.path()), before);
  }
}

TEST(UninstallerProgram, ChangesNothingForDryRunHelpBadArgumentsOrMissingHome) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    bool withHome;
    int status;
  };
  const Case cases[] = {
      {"--dry-run", {"--dry-run"}, true, 0},
      {"--help", {"--help"}, true, 0},
      {"unknown argument", {"--force"}, true, 2},
      {"HOME not set", {}, false, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedMac mac;
    const std::string before = Listing(mac.temp.path());
    const Result result =
        mac.Run(mac.addin + "/uninstaller", c.arguments, c.withHome ? mac.home.c_str() : nullptr);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(Listing(mac.temp.path()), before);
    EXPECT_EQ(result.out.find("*****"), std::string::npos);
    if (c.status != 0) {
      EXPECT_NE(result.err, "");
    }
    if (c.arguments == std::vector<std::string>{"--help"}) {
      for (const char* status : {"\n  0  ", "\n  1  ", "\n  2  ", "\n  3  ", "\n  4  "})
        EXPECT_NE(result.out.find(status), std::string::npos) << "exit status" << status << result.out;
    }
    if (c.arguments == std::vector<std::string>{"--dry-run"}) {
      for (const char* build : {"build-a", "build-b"})
        for (const char* file : legacy::kSingleFiles)
          EXPECT_NE(result.out.find("\"" + mac.production + build + file + "\"\n"), std::string::npos)
              << result.out;
      EXPECT_NE(result.out.find("\"" + mac.addin + "\"\n"), std::string::npos) << result.out;
    }
  }
}

TEST(UninstallerProgram, RunStoppedByAReadOnlyFolderIsFinishedByASecondRun) {
  const OrdinaryUser user = FindOrdinaryUser();
  if (!user.found)
    GTEST_SKIP() << "running as root and no user \"nobody\" to run the program as: root ignores the "
                    "read-only folder";
  SimulatedMac mac;
  const std::string locked = mac.addin + "/resources/Czech";
  WriteFile(locked + "/16x16.png", "png");
  mac.HandTo(user);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);

  const Result first = mac.Run(mac.addin + "/uninstaller", {}, mac.home.c_str(), &user);
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(first.status, 1) << first.err;
  // The entry that could not be removed, not the folder above it; the program and library stay.
  EXPECT_NE(first.err.find("\"" + locked + "/16x16.png\""), std::string::npos) << first.err;
  EXPECT_NE(first.err.find("přístup byl odepřen"), std::string::npos) << first.err;
  EXPECT_EQ(first.out.find("*****"), std::string::npos);
  EXPECT_TRUE(Exists(mac.addin + "/uninstaller"));
  EXPECT_TRUE(Exists(mac.addin + "/Orvandel.so"));
  EXPECT_FALSE(mac.AnyLegacyPathLeft());

  const Result second = mac.Run(mac.addin + "/uninstaller", {}, mac.home.c_str(), &user);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.out.find("Soubory s lokalizaci a AddInu byly odstraneny"), std::string::npos);
  EXPECT_FALSE(Exists(mac.addin));
}

TEST(UninstallerProgram, RefusalInsideABundleGivesTheAppManagementAdviceAndStops) {
  const OrdinaryUser user = FindOrdinaryUser();
  if (!user.switchTo)
    GTEST_SKIP() << "needs root to give a file to another user (the refusal comes from a sticky folder "
                    "whose file the running user does not own); not root here";
  SimulatedMac mac;
  mac.HandTo(user);
  // A sticky folder lets only a file's owner remove it: the system refuses with EPERM, as macOS does
  // inside an app bundle until Terminal may manage apps.
  const std::string guarded = mac.production + "build-a" + legacy::kSingleFiles[0];
  const std::string folder = fs::path(guarded).parent_path().string();
  ASSERT_EQ(lchown(guarded.c_str(), 0, 0), 0);
  ASSERT_EQ(lchown(folder.c_str(), 0, 0), 0);
  fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
  const std::string before = Listing(mac.addins);

  const Result first = mac.Run(mac.addin + "/uninstaller", {}, mac.home.c_str(), &user);
  EXPECT_EQ(first.status, 1);
  EXPECT_NE(first.err.find("Nastavení systému > Soukromí a zabezpečení > Správa aplikací"), std::string::npos)
      << first.err;
  EXPECT_NE(first.err.find(guarded), std::string::npos) << first.err;
  // Nothing after the refused entry is removed.
  EXPECT_TRUE(Exists(mac.production + "build-a" + legacy::kSingleFiles[1]));
  EXPECT_TRUE(Exists(mac.production + "build-b" + legacy::kSingleFiles[0]));
  EXPECT_EQ(Listing(mac.addins), before);

  ASSERT_EQ(lchown(guarded.c_str(), user.uid, user.gid), 0); // what the permission changes
  const Result second = mac.Run(mac.addin + "/uninstaller", {}, mac.home.c_str(), &user);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_FALSE(mac.AnyLegacyPathLeft());
  EXPECT_FALSE(Exists(mac.addin));
}
