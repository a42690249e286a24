// The removal tool: takes the Czech files out of every host build and out of the current host bundle,
// then removes the guide add-in's folder and the language add-in's folder that holds the tool. Paths,
// arguments and streams are parameters; only main reads the process's environment.
#pragma once

#include "removal.h"

#include <sys/types.h>

#include <ostream>
#include <string>
#include <vector>

namespace uninstaller {

// Exit statuses of the program.
enum ExitStatus : int {
  kExitSuccess = 0,
  kExitFileSystemError = 1, // a removal or listing failed; removals already made stay made
  kExitUsage = 2,           // an unknown argument
  kExitWrongPlace = 3,      // not started from the add-in's folder in HOME, or root in a user's tree;
                            // nothing removed
  kExitNoHome = 4,          // HOME not set, not absolute or not an existing folder; nothing removed
};

enum class Mode { kRemove, kDryRun };

// "/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns/Orvandel": the language add-in's
// folder below a home folder.
extern const char* const kAddinFolderInHome;

// The five pieces of the closing message, joined.
std::string ClosingMessage();

// The folder the program may remove as its own, found from the executable's path as it was started.
struct OwnFolder {
  std::string path;    // link-resolved folder of the executable
  std::string program; // the executable's file name in path
};

// The checks of where the program was started answer true to go on, or false with refusal set: why,
// for the user, a sentence without its full stop. A refusal is no system error, so it is no Failure.

// Accepts the folder, into own, only when the executable was started by a path whose file and folder
// are no links, and the resolved folder is named "Orvandel", lies directly in ".../API/AddIns", is a
// real folder and holds the add-in's library (Orvandel.so or Orvandel.dylib, a link to a regular file
// counting as one), or holds nothing but the program: what an earlier run leaves when removing the
// program itself failed. A relative path counts from the working folder.
bool LocateOwnFolder(const std::string& executablePath, OwnFolder& own, std::string& refusal);

// True when ownFolder (link-resolved) is exactly home + kAddinFolderInHome with the links of that path
// resolved; otherwise refusal says why the folder is not taken as the add-in of this home.
bool CheckOwnFolderInHome(const std::string& ownFolder, const std::string& home, std::string& refusal);

// "/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns": the add-ins' folder below a
// home folder (the production folder below it is packagelayout::kProductionInHome).
extern const char* const kAddinsInHome;

// Opens home as given, then each folder of relative (below home, '/'-separated) without following a
// link, into folder; a missing one leaves folder absent. Run by root (effectiveUser 0), every folder
// opened, home included, must be root's: root removing in a tree another user controls would do, with
// root's rights, whatever that user swaps in there. False when the run must not go on: notRoots names
// the first folder that is not root's, or problem says, for the user, which folder is a link, not a
// folder, or cannot be opened.
bool OpenBelowHome(const std::string& home, const std::string& relative, uid_t effectiveUser,
                   StartFolder& folder, std::string& notRoots, std::string& problem);

// True when the entry ownName of addins is the folder ownFolder (the same folder, no link); otherwise
// refusal says why not. Run by root, that folder and the guide add-in's folder beside it, if any, must
// be root's: notRoots names the first that is not (the answer is still true).
bool CheckOwnFolderAt(const StartFolder& addins, const std::string& ownName, const std::string& ownFolder,
                      uid_t effectiveUser, std::string& notRoots, std::string& refusal);

// Where a run works: two folders kept open from planning to the last removal, and paths it only reads.
struct Places {
  StartFolder production;  // HOME + packagelayout::kProductionInHome; absent when missing
  StartFolder addins;      // the folder that holds the own folder
  std::string ownName;     // the own folder's name in addins (accepted by LocateOwnFolder)
  std::string program;     // the program's file name in the own folder
  std::string packageRoot; // the localization data package's folder as this system reaches it
  std::string downloads;   // the user's Downloads folder, where the add-in saves a newer package
};

// Removes, in this order: the four legacy paths from every build folder of the production folder (a
// real folder; other entries are passed over); from the current bundle (production + "Autodesk
// Fusion.app") each file of the install record in the own folder that still matches its record, then the
// recorded folders left empty; what stopped installations left in addins; the guide add-in's folder
// beside the own folder when it is a real folder holding the guide's library and manifest; the own
// folder with everything in it, the add-in's library and the program last. Then writes what stays and why,
// the notes (language preference, the data package), and the closing message to out. A missing production
// folder has nothing to clean; a missing own folder ends the run silently. The first failed operation is
// reported on err with the entry that could not be removed and the reason, and ends the run without the
// closing message; running again completes it. In kDryRun nothing changes: every path that would be removed,
// and what would stay and why, is written to out instead.
int Uninstall(const Places& places, Mode mode, std::ostream& out, std::ostream& err);

// The whole program behind main. home is the value of HOME (null when unset); executablePath is the
// path of the running executable as it was started; packageRoot as in Places.
int RunUninstaller(const std::vector<std::string>& arguments, const char* home,
                   const std::string& executablePath, const std::string& packageRoot, std::ostream& out,
                   std::ostream& err);

} // namespace uninstaller
