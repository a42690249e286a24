#include "removal.h"

#include "legacy_paths.h"
#include "tree_removal.h"
#include "utilities.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace uninstaller {

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The names of the entries of folder, read by path: for planning only, which changes nothing.
bool ListNames(const std::string& folder, std::vector<std::string>& names) {
  UniqueFd open;
  Failure unused;
  return removal::OpenFolderBelow(folder, std::string(), open, unused) &&
         removal::ListFolder(open.get(), folder, names, unused);
}

bool RemoveAddinFolder(const Step& step, Failure& failure) {
  UniqueFd parent, folder;
  if (!removal::OpenFolderBelow(step.start, std::string(), parent, failure))
    return false;
  if (!removal::OpenFolderAt(parent.get(), step.relative, step.Path(), folder, failure))
    return failure.code == std::errc::no_such_file_or_directory; // gone since it was planned
  std::vector<std::string> names;
  if (!removal::ListFolder(folder.get(), step.Path(), names, failure))
    return false;
  const bool own = step.kind == Step::Kind::kOwnFolder && !step.last.empty();
  const auto remove = [&](const std::string& name) {
    return removal::RemoveTreeAt(folder.get(), name, step.Path() + "/" + name, removal::AtLink::kRemoveLink,
                                 failure);
  };
  for (const std::string& name : names) {
    if (std::find(step.last.begin(), step.last.end(), name) == step.last.end() && !remove(name))
      return false;
  }
  for (std::size_t index = 0; index + (own ? 1 : 0) < step.last.size(); ++index) {
    if (!remove(step.last[index]))
      return false;
  }
  if (!own)
    return removal::RemoveEntryAt(parent.get(), step.relative, step.Path(), failure);

  // The folder now holds the program alone: rename it aside, then remove the program and the folder.
  const std::string aside = FolderOf(step.Path()) + "/" + kOwnFolderAside;
  if (step.relative != kOwnFolderAside) {
    // What an earlier run left there is the remains of this folder.
    if (!removal::RemoveTreeAt(parent.get(), kOwnFolderAside, aside, removal::AtLink::kRemoveLink, failure))
      return false;
    if (renameat(parent.get(), step.relative.c_str(), parent.get(), kOwnFolderAside) != 0) {
      failure = Failure{"přejmenování", step.Path(), std::error_code(errno, std::generic_category()),
                        std::string()};
      return false;
    }
  }
  return remove(step.last.back()) && removal::RemoveEntryAt(parent.get(), kOwnFolderAside, aside, failure);
}

} // namespace

const char* const kOwnFolderAside = ".Orvandel-odinstalace";

std::string Step::Path() const {
  return !start.empty() && start.back() == '/' ? start + relative : start + "/" + relative;
}

bool PlanLegacyPaths(const std::string& productionFolder, Plan& plan, Failure& failure) {
  std::vector<legacy::Place> places;
  if (!legacy::FindPlaces(productionFolder, std::string(), places, failure))
    return false;
  for (const legacy::Place& place : places) {
    const Step step{place.tree ? Step::Kind::kTree : Step::Kind::kEntry,
                    productionFolder,
                    place.relative,
                    {},
                    place.kind == removal::EntryKind::kLink ? removal::AtLink::kRemoveLink
                                                            : removal::AtLink::kStop};
    if (place.kind == removal::EntryKind::kBehindLink)
      plan.kept.push_back(Kept{step.Path(), "cesta k němu vede přes symbolický odkaz"});
    else
      plan.steps.push_back(step);
  }
  return true;
}

void PlanAddinFolder(const std::string& folder, const std::vector<std::string>& libraries,
                     const std::vector<std::string>& required, const std::vector<std::string>& last,
                     Plan& plan) {
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    if (errno != ENOENT)
      plan.kept.push_back(Kept{folder, "složku nelze ověřit"});
    return;
  }
  if (S_ISLNK(info.st_mode)) {
    plan.kept.push_back(Kept{folder, "je to symbolický odkaz, ne složka doplňku"});
    return;
  }
  if (!S_ISDIR(info.st_mode)) {
    plan.kept.push_back(Kept{folder, "není to složka"});
    return;
  }
  bool complete = std::any_of(libraries.begin(), libraries.end(),
                              [&](const std::string& name) { return IsRegularFile(folder + "/" + name); });
  for (const std::string& name : required)
    complete = complete && IsRegularFile(folder + "/" + name);
  if (!complete) {
    std::vector<std::string> names;
    const bool onlyLast =
        ListNames(folder, names) && std::all_of(names.begin(), names.end(), [&](const std::string& name) {
          return std::find(last.begin(), last.end(), name) != last.end();
        });
    if (!onlyLast) {
      plan.kept.push_back(Kept{folder, "neobsahuje knihovnu a popis doplňku, nejde tedy o náš doplněk"});
      return;
    }
  }
  plan.steps.push_back(Step{Step::Kind::kAddinFolder, FolderOf(folder), NameOf(folder), last});
}

bool CarryOut(const Step& step, Failure& failure) {
  switch (step.kind) {
  case Step::Kind::kEntry:
    return removal::RemoveEntryBelow(step.start, step.relative, failure);
  case Step::Kind::kEmptyFolder:
    // Something put into the folder since it was planned makes it the owner's: it stays.
    if (removal::RemoveEntryBelow(step.start, step.relative, failure))
      return true;
    if (failure.code != std::errc::directory_not_empty && failure.code != std::errc::file_exists)
      return false;
    failure = Failure();
    return true;
  case Step::Kind::kTree:
    return removal::RemoveTreeBelow(step.start, step.relative, step.atLink, failure);
  case Step::Kind::kAddinFolder:
  case Step::Kind::kOwnFolder:
    return RemoveAddinFolder(step, failure);
  }
  return true;
}

} // namespace uninstaller
