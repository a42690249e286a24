// The removal tool: takes the Czech files out of every host build and then removes the language add-in's
// folder that holds the tool. Paths, arguments and streams are parameters; only main reads the process's
// environment.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace uninstaller {

// Exit statuses of the program.
enum ExitStatus : int {
  kExitSuccess = 0,
  kExitFileSystemError = 1, // a removal or listing failed; removals already made stay made
  kExitUsage = 2,           // an unknown argument
  kExitWrongPlace = 3,      // not started from the language add-in's folder; nothing removed
  kExitNoHome = 4,          // HOME not set (or not absolute); nothing removed
};

enum class Mode { kRemove, kDryRun };

// HOME + "/Library/Application Support/Autodesk/webdeploy/production/" (with the trailing separator).
std::string ProductionFolderFor(const std::string& home);

// The five pieces of the closing message, joined.
std::string ClosingMessage();

// The folder the program may remove as its own, found from the executable's path as it was started.
struct OwnFolder {
  std::string path;    // link-resolved folder of the executable; set only when accepted
  std::string refusal; // why the folder is not the language add-in's folder; empty when accepted
};

// Accepts the folder only when the executable was started by a path whose file and folder are no links,
// and the resolved folder is named "Orvandel", lies directly in ".../API/AddIns", is a real folder and
// holds the add-in's library (Orvandel.so or Orvandel.dylib). A relative path counts from the working
// folder.
OwnFolder LocateOwnFolder(const std::string& executablePath);

// Removes the four legacy paths from every folder entry of productionFolder (links count as what they
// point to, other entries are passed over), then removes ownFolder as a whole tree and writes the closing
// message to out. A missing production folder has nothing to clean; a missing own folder ends the run
// silently. The first failed operation is reported on err with its path and reason and ends the run
// without the closing message. In kDryRun nothing changes: every path that would be removed is written
// to out instead.
int Uninstall(const std::string& productionFolder, const std::string& ownFolder, Mode mode, std::ostream& out,
              std::ostream& err);

// The whole program behind main. home is the value of HOME (null when unset); executablePath is the
// path of the running executable as it was started.
int RunUninstaller(const std::vector<std::string>& arguments, const char* home,
                   const std::string& executablePath, std::ostream& out, std::ostream& err);

} // namespace uninstaller
