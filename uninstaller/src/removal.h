// A run in two halves: a plan made by reading only (what goes, what stays and why), then its steps carried
// out in order, each by handle (tree_removal.h). The dry run prints the plan; the real run carries it out.
#pragma once

#include "failure.h"
#include "tree_removal.h"

#include <string>
#include <vector>

namespace uninstaller {

// A folder a run starts from: opened once, without following a link on the way from HOME, and kept open
// from planning to the last removal, so that a folder swapped for a link meanwhile cannot redirect it.
struct StartFolder {
  std::string path; // for the user
  UniqueFd fd;      // invalid when the folder is absent or could not be opened
  int error = 0;    // why it could not be opened: ENOENT when absent

  // path + "/" + relative, with one separator.
  std::string Below(const std::string& relative) const;
};

// The folder at path as the caller gives it (a path it trusts).
StartFolder OpenStartFolder(const std::string& path);

struct Step {
  enum class Kind {
    kEntry,       // one entry; a folder only when empty
    kTree,        // a whole tree; an absent tree is no error
    kEmptyFolder, // a folder that is empty once the earlier steps are done
    kAddinFolder, // an add-in folder: its entries, then the ones in last in that order, then the folder
    kOwnFolder,   // as kAddinFolder, but before the last entry of last (the running program) goes, the
                  // folder is renamed to kOwnFolderAside in the same parent: a kill between removing the
                  // program and the folder leaves no empty add-in folder
  };
  Kind kind;
  const StartFolder* start;      // kept open by the run
  std::string relative;          // the entry below start, reached without following any link
  std::vector<std::string> last; // kAddinFolder only: entry names removed after all others
  // kTree only: a link at the place was planned as one, and goes as the link; a folder planned there
  // and found a link when removed was swapped meanwhile, and stops the run.
  removal::AtLink atLink = removal::AtLink::kStop;

  // start and relative joined, for the user.
  std::string Path() const;
};

// The name the own folder takes for its last two steps. A run started from a folder of that name that
// holds nothing but the program finishes the job.
extern const char* const kOwnFolderAside;

struct Kept {
  std::string path;
  std::string reason; // for the user
};

struct Plan {
  std::vector<Step> steps;
  std::vector<Kept> kept;
};

// Plans the four legacy paths of every build folder of the production folder, those that hold something.
// A build folder is a real folder: an entry that is a link is passed over. A place that a link on the way
// would lead elsewhere is kept and named. A missing production folder plans nothing. False with failure
// set when the production folder or an entry cannot be examined.
bool PlanLegacyPaths(const StartFolder& production, Plan& plan, Failure& failure);

// Plans the entry name of addins as an add-in folder when it is a real folder (no link) that holds every
// entry of required as a regular file (one of the libraries: each of libraries is accepted), or that
// holds nothing but entries named in last (the remains of a run that ended while removing them).
// Anything else there is kept and named; a missing folder plans nothing.
void PlanAddinFolder(const StartFolder& addins, const std::string& name,
                     const std::vector<std::string>& libraries, const std::vector<std::string>& required,
                     const std::vector<std::string>& last, Plan& plan);

// Plans, as whole trees, what stopped installations of the package left in addins: the hidden copies
// ".NAME.installing.RUN" and previous folders ".NAME.replaced.RUN" of each add-in in names.
bool PlanInstallLeftovers(const StartFolder& addins, const std::vector<std::string>& names, Plan& plan,
                          Failure& failure);

// Carries out one step. False with failure naming the entry that could not be removed; a link found
// where the plan saw a folder stops it there.
bool CarryOut(const Step& step, Failure& failure);

} // namespace uninstaller
