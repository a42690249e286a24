#include "removal.h"

#include "file.h"
#include "legacy_paths.h"
#include "path.h"
#include "tree_removal.h"
#include "utilities.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace uninstaller {

namespace {

bool IsRegularFileAt(int folder, const std::string& name) {
  struct stat info {};
  return fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

bool RemoveAddinFolder(const Step& step, Failure& failure) {
  const int parent = step.start->fd.get();
  UniqueFd folder;
  if (!removal::OpenFolderAt(parent, step.relative, step.Path(), folder, failure))
    return failure.code == std::errc::no_such_file_or_directory; // gone since it was planned
  std::vector<std::string> names;
  if (!ListFolder(folder.get(), step.Path(), names, failure))
    return false;
  const bool own = step.kind == Step::Kind::kOwnFolder && !step.last.empty();
  const auto remove = [&](const std::string& name) {
    return removal::RemoveTreeAt(folder.get(), name, JoinPath(step.Path(), name),
                                 removal::AtLink::kRemoveLink, failure);
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
    return removal::RemoveEntryAt(parent, step.relative, step.Path(), failure);

  // The folder now holds the program alone: rename it aside, then remove the program and the folder.
  const std::string aside = JoinPath(FolderOf(step.Path()), kOwnFolderAside);
  if (step.relative != kOwnFolderAside) {
    // What an earlier run left there is the remains of this folder.
    if (!removal::RemoveTreeAt(parent, kOwnFolderAside, aside, removal::AtLink::kRemoveLink, failure))
      return false;
    if (renameat(parent, step.relative.c_str(), parent, kOwnFolderAside) != 0) {
      const int error = errno;
      return Fail(error, "přejmenování", step.Path(), failure);
    }
  }
  return remove(step.last.back()) && removal::RemoveEntryAt(parent, kOwnFolderAside, aside, failure);
}

// True when name is "." + one of names + suffix + something more.
bool IsLeftoverOf(const std::string& name, const std::vector<std::string>& names, const std::string& suffix) {
  return std::any_of(names.begin(), names.end(), [&](const std::string& addin) {
    const std::string prefix = "." + addin + suffix;
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0;
  });
}

} // namespace

const char* const kOwnFolderAside = ".Orvandel-odinstalace";

std::string StartFolder::Below(const std::string& relative) const {
  return !path.empty() && path.back() == '/' ? path + relative : path + "/" + relative;
}

StartFolder OpenStartFolder(const std::string& path) {
  StartFolder folder{path, UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))};
  folder.error = folder.fd.valid() ? 0 : errno;
  return folder;
}

std::string Step::Path() const {
  return start->Below(relative);
}

bool PlanLegacyPaths(const StartFolder& production, Plan& plan, Failure& failure) {
  if (!production.fd.valid())
    return true;
  std::vector<legacy::Place> places;
  if (!legacy::FindPlaces(production.fd.get(), production.Below(std::string()), std::string(), places,
                          failure))
    return false;
  for (const legacy::Place& place : places) {
    const Step step{place.tree ? Step::Kind::kTree : Step::Kind::kEntry,
                    &production,
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

void PlanAddinFolder(const StartFolder& addins, const std::string& name,
                     const std::vector<std::string>& libraries, const std::vector<std::string>& required,
                     const std::vector<std::string>& last, Plan& plan) {
  const std::string path = addins.Below(name);
  struct stat info {};
  if (fstatat(addins.fd.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT)
      plan.kept.push_back(Kept{path, "složku nelze ověřit"});
    return;
  }
  if (S_ISLNK(info.st_mode)) {
    plan.kept.push_back(Kept{path, "je to symbolický odkaz, ne složka doplňku"});
    return;
  }
  if (!S_ISDIR(info.st_mode)) {
    plan.kept.push_back(Kept{path, "není to složka"});
    return;
  }
  UniqueFd folder;
  Failure unused;
  std::vector<std::string> names;
  if (!removal::OpenFolderAt(addins.fd.get(), name, path, folder, unused) ||
      !ListFolder(folder.get(), path, names, unused)) {
    plan.kept.push_back(Kept{path, "složku nelze ověřit"});
    return;
  }
  bool complete = std::any_of(libraries.begin(), libraries.end(), [&](const std::string& library) {
    return IsRegularFileAt(folder.get(), library);
  });
  for (const std::string& entry : required)
    complete = complete && IsRegularFileAt(folder.get(), entry);
  const bool onlyLast = std::all_of(names.begin(), names.end(), [&](const std::string& entry) {
    return std::find(last.begin(), last.end(), entry) != last.end();
  });
  if (!complete && !onlyLast) {
    plan.kept.push_back(Kept{path, "neobsahuje knihovnu a popis doplňku, nejde tedy o náš doplněk"});
    return;
  }
  plan.steps.push_back(Step{Step::Kind::kAddinFolder, &addins, name, last});
}

bool PlanInstallLeftovers(const StartFolder& addins, const std::vector<std::string>& names, Plan& plan,
                          Failure& failure) {
  std::vector<std::string> entries;
  if (!ListFolder(addins.fd.get(), addins.path, entries, failure))
    return false;
  std::sort(entries.begin(), entries.end());
  for (const std::string& entry : entries) {
    if (IsLeftoverOf(entry, names, ".installing.") || IsLeftoverOf(entry, names, ".replaced."))
      plan.steps.push_back(Step{Step::Kind::kTree, &addins, entry, {}, removal::AtLink::kRemoveLink});
  }
  return true;
}

bool CarryOut(const Step& step, Failure& failure) {
  switch (step.kind) {
  case Step::Kind::kEntry:
    return removal::RemoveEntryBelow(step.start->fd.get(), step.start->path, step.relative, failure);
  case Step::Kind::kEmptyFolder:
    // Something put into the folder since it was planned makes it the owner's: it stays.
    if (removal::RemoveEntryBelow(step.start->fd.get(), step.start->path, step.relative, failure))
      return true;
    if (failure.code != std::errc::directory_not_empty && failure.code != std::errc::file_exists)
      return false;
    failure = Failure();
    return true;
  case Step::Kind::kTree:
    return removal::RemoveTreeBelow(step.start->fd.get(), step.start->path, step.relative, step.atLink,
                                    failure);
  case Step::Kind::kAddinFolder:
  case Step::Kind::kOwnFolder:
    return RemoveAddinFolder(step, failure);
  }
  return true;
}

} // namespace uninstaller
