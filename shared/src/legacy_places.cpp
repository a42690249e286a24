#include "legacy_paths.h"

#include "file.h"
#include "path.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace legacy {

namespace {

bool FindPlacesOfBuild(int production, const std::string& productionFolder, const std::string& build,
                       const char* legacyPath, bool tree, std::vector<Place>& places, Failure& failure) {
  Place place{build + WithoutTrailingSlashes(legacyPath), tree, removal::EntryKind::kAbsent};
  struct stat info {};
  if (!removal::ExamineBelow(production, productionFolder, place.relative, place.kind, info, failure))
    return false;
  if (place.kind != removal::EntryKind::kAbsent)
    places.push_back(std::move(place));
  return true;
}

} // namespace

bool FindPlaces(const std::string& productionFolder, const std::string& currentBuild,
                std::vector<Place>& places, Failure& failure) {
  UniqueFd production;
  if (!removal::OpenFolderBelow(productionFolder, std::string(), production, failure)) {
    if (failure.code != std::errc::no_such_file_or_directory)
      return false;
    failure = Failure();
    return true;
  }
  return FindPlaces(production.get(), productionFolder, currentBuild, places, failure);
}

bool FindPlaces(int production, const std::string& productionFolder, const std::string& currentBuild,
                std::vector<Place>& places, Failure& failure) {
  std::vector<std::string> names;
  if (!ListFolder(production, productionFolder, names, failure))
    return false;
  for (const std::string& build : names) {
    struct stat info {};
    if (fstatat(production, build.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      const int error = errno;
      if (error == ENOENT) // gone meanwhile (the host's updater)
        continue;
      return Fail(error, "zjištění stavu", productionFolder + build, failure);
    }
    if (!S_ISDIR(info.st_mode) || build == currentBuild)
      continue;
    for (const char* single : kSingleFiles) {
      if (!FindPlacesOfBuild(production, productionFolder, build, single, false, places, failure))
        return false;
    }
    for (const char* tree : kTrees) {
      if (!FindPlacesOfBuild(production, productionFolder, build, tree, true, places, failure))
        return false;
    }
  }
  return true;
}

bool RemovePlace(const std::string& productionFolder, const Place& place, Failure& failure) {
  return place.tree ? removal::RemoveTreeBelow(productionFolder, place.relative, removal::AtLink::kRemoveLink,
                                               failure)
                    : removal::RemoveEntryBelow(productionFolder, place.relative, failure);
}

} // namespace legacy
