// A run in two halves: a plan made by reading only (what goes, what stays and why), then its steps carried
// out in order. The dry run prints the plan; the real run carries it out.
#pragma once

#include <string>
#include <system_error>
#include <vector>

namespace uninstaller {

struct Step {
  enum class Kind {
    kEntry,       // one entry; a folder only when empty
    kTree,        // a whole tree; an absent tree is no error
    kEmptyFolder, // a folder that is empty once the earlier steps are done
    kAddinFolder, // an add-in folder: its entries, then the ones in last in that order, then the folder
  };
  Kind kind;
  std::string path;
  std::vector<std::string> last; // kAddinFolder only: entry names removed after all others
};

struct Kept {
  std::string path;
  std::string reason; // for the user
};

struct Failure {
  std::string action; // what was tried, for the user
  std::string path;   // the entry it was tried on
  std::error_code code;
  std::string detail; // the reason for the user when no code tells it
};

struct Plan {
  std::vector<Step> steps;
  std::vector<Kept> kept;
};

// Plans the four legacy paths of every folder entry of the production folder, those that exist. A
// missing production folder plans nothing. False with failure set when the production folder or an
// entry cannot be examined.
bool PlanLegacyPaths(const std::string& productionFolder, Plan& plan, Failure& failure);

// Plans folder as an add-in folder when it is a real folder (no link) that holds every entry of required
// as a regular file (one of the libraries: each of libraries is accepted), or that holds nothing but
// entries named in last (the remains of a run that ended while removing them). Anything else at folder
// is kept and named; a missing folder plans nothing.
void PlanAddinFolder(const std::string& folder, const std::vector<std::string>& libraries,
                     const std::vector<std::string>& required, const std::vector<std::string>& last,
                     Plan& plan);

// Carries out one step. False with failure naming the entry that could not be removed.
bool CarryOut(const Step& step, Failure& failure);

} // namespace uninstaller
