#include "removal.h"

#include "legacy_paths.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace uninstaller {

namespace {

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

bool Fail(Failure& failure, const char* action, const std::string& path, std::error_code code) {
  failure = Failure{action, path, code, std::string()};
  return false;
}

// The type of the entry at path itself (a link is a link). A path with a plain file where one of its
// folders would be names nothing: not_found, as for a missing entry.
fs::file_type EntryType(const std::string& path, std::error_code& code) {
  const fs::file_status status = fs::symlink_status(path, code);
  if (status.type() == fs::file_type::not_found)
    code.clear();
  return status.type();
}

// The names of the entries of folder.
bool ListFolder(const std::string& folder, std::vector<std::string>& names, Failure& failure) {
  std::error_code code;
  fs::directory_iterator entry(folder, code);
  for (const fs::directory_iterator end; !code && entry != end; entry.increment(code))
    names.push_back(entry->path().filename().string());
  return code ? Fail(failure, "cteni slozky", folder, code) : true;
}

bool RemoveEntry(const std::string& path, Failure& failure) {
  std::error_code code;
  fs::remove(path, code);
  return code ? Fail(failure, "odstraneni", path, code) : true;
}

// Removes the tree at path depth first, so that a failure names the entry that could not be removed. A
// link is removed as the link, never followed.
bool RemoveTree(const std::string& path, Failure& failure) {
  std::error_code code;
  const fs::file_type type = EntryType(path, code);
  if (code)
    return Fail(failure, "zjisteni stavu", path, code);
  if (type == fs::file_type::not_found)
    return true;
  if (type == fs::file_type::directory) {
    std::vector<std::string> names;
    if (!ListFolder(path, names, failure))
      return false;
    for (const std::string& name : names) {
      if (!RemoveTree(path + "/" + name, failure))
        return false;
    }
  }
  return RemoveEntry(path, failure);
}

bool RemoveAddinFolder(const Step& step, Failure& failure) {
  std::vector<std::string> names;
  if (!ListFolder(step.path, names, failure))
    return false;
  for (const std::string& name : names) {
    if (std::find(step.last.begin(), step.last.end(), name) == step.last.end() &&
        !RemoveTree(step.path + "/" + name, failure))
      return false;
  }
  for (const std::string& name : step.last) {
    if (!RemoveTree(step.path + "/" + name, failure))
      return false;
  }
  return RemoveEntry(step.path, failure);
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

bool PlanLegacyPaths(const std::string& productionFolder, Plan& plan, Failure& failure) {
  const std::string production = WithoutTrailingSeparators(productionFolder);
  std::error_code code;
  const fs::file_status status = fs::status(production, code);
  if (status.type() == fs::file_type::not_found)
    return true;
  if (code)
    return Fail(failure, "zjisteni stavu", productionFolder, code);
  if (!fs::is_directory(status))
    return Fail(failure, "cteni slozky", productionFolder, std::make_error_code(std::errc::not_a_directory));

  fs::directory_iterator entry(productionFolder, code);
  for (const fs::directory_iterator end; !code && entry != end; entry.increment(code)) {
    const std::string buildFolder = entry->path().string();
    std::error_code statusCode;
    const fs::file_status entryStatus = entry->status(statusCode);
    if (entryStatus.type() == fs::file_type::not_found) // a dangling link
      continue;
    if (statusCode)
      return Fail(failure, "zjisteni stavu", buildFolder, statusCode);
    if (!fs::is_directory(entryStatus))
      continue;
    for (const char* single : legacy::kSingleFiles) {
      const std::string path = buildFolder + single;
      const fs::file_status singleStatus = fs::status(path, statusCode);
      if (singleStatus.type() == fs::file_type::not_found)
        continue;
      if (statusCode)
        return Fail(failure, "zjisteni stavu", path, statusCode);
      plan.steps.push_back(Step{Step::Kind::kEntry, path, {}});
    }
    for (const char* tree : legacy::kTrees) {
      // Without the trailing separator a link at the end of the path is the link itself; with it, the
      // system would follow the link and the folder it points to would be emptied.
      const std::string path = WithoutTrailingSeparators(buildFolder + tree);
      const fs::file_type type = EntryType(path, statusCode);
      if (statusCode)
        return Fail(failure, "zjisteni stavu", path, statusCode);
      if (type != fs::file_type::not_found)
        plan.steps.push_back(Step{Step::Kind::kTree, path, {}});
    }
  }
  return code ? Fail(failure, "cteni slozky", productionFolder, code) : true;
}

void PlanAddinFolder(const std::string& folder, const std::vector<std::string>& libraries,
                     const std::vector<std::string>& required, const std::vector<std::string>& last,
                     Plan& plan) {
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    if (errno != ENOENT)
      plan.kept.push_back(Kept{folder, "slozku nelze overit"});
    return;
  }
  if (S_ISLNK(info.st_mode)) {
    plan.kept.push_back(Kept{folder, "je to symbolicky odkaz, ne slozka doplnku"});
    return;
  }
  if (!S_ISDIR(info.st_mode)) {
    plan.kept.push_back(Kept{folder, "neni to slozka"});
    return;
  }
  bool complete = std::any_of(libraries.begin(), libraries.end(),
                              [&](const std::string& name) { return IsRegularFile(folder + "/" + name); });
  for (const std::string& name : required)
    complete = complete && IsRegularFile(folder + "/" + name);
  if (!complete) {
    std::vector<std::string> names;
    Failure unused;
    const bool onlyLast = ListFolder(folder, names, unused) &&
                          std::all_of(names.begin(), names.end(), [&](const std::string& name) {
                            return std::find(last.begin(), last.end(), name) != last.end();
                          });
    if (!onlyLast) {
      plan.kept.push_back(Kept{folder, "neobsahuje knihovnu a popis doplnku, nejde tedy o nas doplnek"});
      return;
    }
  }
  plan.steps.push_back(Step{Step::Kind::kAddinFolder, folder, last});
}

bool CarryOut(const Step& step, Failure& failure) {
  switch (step.kind) {
  case Step::Kind::kEntry:
    return RemoveEntry(step.path, failure);
  case Step::Kind::kEmptyFolder: {
    // Something put into the folder since it was planned makes it the owner's: it stays.
    std::error_code code;
    fs::remove(step.path, code);
    if (code == std::errc::directory_not_empty || code == std::errc::file_exists)
      return true;
    return code ? Fail(failure, "odstraneni", step.path, code) : true;
  }
  case Step::Kind::kTree:
    return RemoveTree(step.path, failure);
  case Step::Kind::kAddinFolder:
    return RemoveAddinFolder(step, failure);
  }
  return true;
}

} // namespace uninstaller
