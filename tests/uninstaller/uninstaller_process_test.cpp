// Runs the built program from copies laid out in simulated add-in trees, with HOME set to a simulated home.
#include "legacy_paths.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

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
      const std::string folder = production + build;
      WriteFile(folder + legacy::kSingleFiles[0], "<xml/>");
      WriteFile(folder + legacy::kSingleFiles[1], "<html/>");
      WriteFile(folder + legacy::kTrees[0] + "index.html", "help");
      WriteFile(folder + legacy::kTrees[1] + "strings.txt", "cs");
      WriteFile(folder + "/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable/en-US/strings.txt",
                "en");
    }
    WriteFile(production + "Autodesk Fusion.app/Contents/Info.plist", "plist");
    InstallProgram(addin);
    WriteFile(addins + "/Miravelo/Miravelo.so", "guide");
  }

  // The program with the add-in library beside it, as the package lays them out.
  static void InstallProgram(const std::string& folder) {
    fs::create_directories(folder);
    fs::copy_file(UNINSTALLER_EXECUTABLE, folder + "/uninstaller");
    fs::permissions(folder + "/uninstaller", fs::perms::owner_all);
    WriteFile(folder + "/Orvandel.so", "library");
    WriteFile(folder + "/version.txt", "1.0");
  }

  bool AnyLegacyPathLeft() const {
    for (const char* build : {"build-a", "build-b"}) {
      for (const char* path : legacy::kSingleFiles)
        if (Exists(production + build + path))
          return true;
      for (const char* path : legacy::kTrees)
        if (Exists(production + build + path))
          return true;
    }
    return false;
  }

  // Starts program directly (no shell) with this environment, HOME replaced by home or removed when null.
  Result Run(const std::string& program, const std::vector<std::string>& arguments, const char* homeValue) {
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t child = 0;
    Result result;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(spawned);
      return result;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
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
  EXPECT_EQ(result.out, "\n\n*****************************\nSoubory s lokalizaci a AddInu byly odstraneny.\n"
                        "Okno Terminalu je mozne uzavrit\n*****************************\n\n");
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(mac.AnyLegacyPathLeft());
  EXPECT_FALSE(Exists(mac.addin));
  EXPECT_EQ(ReadFile(mac.addins + "/Miravelo/Miravelo.so"), "guide");
  EXPECT_EQ(ReadFile(mac.production + "Autodesk Fusion.app/Contents/Info.plist"), "plist");
}

TEST(UninstallerProgram, RefusesAndRemovesNothingWhenNotStartedFromTheAddinFolder) {
  struct Case {
    const char* name;
    // Lays out the wrong place and returns the path to start the program by.
    std::function<std::string(SimulatedMac&)> prepare;
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedMac mac;
    const std::string program = c.prepare(mac);
    const std::string before = Listing(mac.temp.path());
    const Result result = mac.Run(program, {}, mac.home.c_str());
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("Nic nebylo odstraneno"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("API/AddIns/Orvandel/uninstaller"), std::string::npos) << result.err;
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
    if (c.arguments == std::vector<std::string>{"--dry-run"}) {
      for (const char* build : {"build-a", "build-b"}) {
        EXPECT_NE(result.out.find(mac.production + build + legacy::kSingleFiles[0] + "\n"),
                  std::string::npos);
        EXPECT_NE(result.out.find(mac.production + build + legacy::kSingleFiles[1] + "\n"),
                  std::string::npos);
      }
      EXPECT_NE(result.out.find(mac.addin + "\n"), std::string::npos) << result.out;
    }
  }
}
