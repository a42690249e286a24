#include "bundle_files.h"

#include "file.h"
#include "install_record.h"
#include "messages.h"
#include "package_layout.h"
#include "path.h"
#include "platform.h"
#include "tree_removal.h"
#include "utilities.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

namespace uninstaller {

namespace {

// Where the plan looks: the production folder it trusts and the bundle's name in it.
struct Bundle {
  const StartFolder& production;
  std::string name;

  Step StepFor(Step::Kind kind, const std::string& relative) const {
    return Step{kind, &production, JoinPath(name, relative), {}};
  }
};

// Looks at the bundle's file of step: regular is true when a regular file stands there, reached through
// no link. Anything else there is kept and named; nothing there is nothing to plan.
bool ExamineFile(const Bundle& bundle, const Step& step, Plan& plan, struct stat& info, bool& regular,
                 Failure& failure) {
  removal::EntryKind kind = removal::EntryKind::kAbsent;
  regular = false;
  if (!removal::ExamineBelow(bundle.production.fd.get(), bundle.production.path, step.relative, kind, info,
                             failure))
    return false;
  if (kind == removal::EntryKind::kAbsent)
    return true;
  // A link among the folders of the path could lead out of the bundle, to a file that is not ours.
  if (kind == removal::EntryKind::kBehindLink)
    plan.kept.push_back(Kept{step.Path(), "cesta k němu vede přes symbolický odkaz"});
  else if (!S_ISREG(info.st_mode))
    plan.kept.push_back(Kept{step.Path(), "není to obyčejný soubor, jaký balíček nainstaloval"});
  else
    regular = true;
  return true;
}

// Plans the bundle's file at relative when it is a regular file reached through no link and
// matches(info, same) finds it the installer's (info its lstat); one that differs is kept with the reason
// differs. False with failure set when the file cannot be examined or matches fails.
template <typename Matches>
bool PlanMatchingFile(const Bundle& bundle, const std::string& relative, const char* differs, Plan& plan,
                      std::set<std::string>& removed, Failure& failure, const Matches& matches) {
  const Step step = bundle.StepFor(Step::Kind::kEntry, relative);
  struct stat info {};
  bool regular = false;
  if (!ExamineFile(bundle, step, plan, info, regular, failure))
    return false;
  if (!regular)
    return true;
  bool same = false;
  if (!matches(info, same))
    return false;
  if (!same) {
    plan.kept.push_back(Kept{step.Path(), differs});
    return true;
  }
  plan.steps.push_back(step);
  removed.insert(step.Path());
  return true;
}

// Plans the file at relative when it still is the file the installer placed there.
bool PlanFile(const Bundle& bundle, const std::string& relative, const installrecord::RecordedFile& recorded,
              Plan& plan, std::set<std::string>& removed, Failure& failure) {
  return PlanMatchingFile(bundle, relative, "od instalace jej Fusion 360 nebo někdo jiný změnil", plan,
                          removed, failure, [&](const struct stat& info, bool& same) {
                            const timespec modified = ModificationTime(info);
                            same = static_cast<std::uint64_t>(info.st_size) == recorded.size &&
                                   modified.tv_sec == recorded.mtimeSeconds &&
                                   modified.tv_nsec == recorded.mtimeNanoseconds;
                            return true;
                          });
}

// Plans the folder at relative when it holds nothing but what the plan removes.
bool PlanFolder(const Bundle& bundle, const std::string& relative, Plan& plan, std::set<std::string>& removed,
                Failure& failure) {
  const Step step = bundle.StepFor(Step::Kind::kEmptyFolder, relative);
  removal::EntryKind kind = removal::EntryKind::kAbsent;
  struct stat info {};
  if (!removal::ExamineBelow(bundle.production.fd.get(), bundle.production.path, step.relative, kind, info,
                             failure))
    return false;
  if (kind != removal::EntryKind::kFolder)
    return true; // the host's now, not the folder the installer made
  UniqueFd folder;
  std::vector<std::string> names;
  if (!removal::OpenFolderBelow(bundle.production.fd.get(), bundle.production.path, step.relative, folder,
                                failure) ||
      !ListFolder(folder.get(), step.Path(), names, failure))
    return false;
  for (const std::string& name : names) {
    if (removed.count(JoinPath(step.Path(), name)) == 0) {
      plan.kept.push_back(Kept{step.Path(), "obsahuje soubory, které balíček nenainstaloval"});
      return true;
    }
  }
  plan.steps.push_back(step);
  removed.insert(step.Path());
  return true;
}

// Why the record cannot be used, for the user.
std::string RecordProblemText(const Failure& problem) {
  if (!problem.detail.empty())
    return problem.detail;
  return "záznam nelze přečíst: " + UninstallReason(problem.code);
}

// Reads up to size bytes, fewer only at the end of the file; -1 on an error.
ssize_t ReadFull(int fd, char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t part = read(fd, buffer + got, size - got);
    if (part < 0 && errno == EINTR)
      continue;
    if (part < 0)
      return -1;
    if (part == 0)
      break;
    got += static_cast<std::size_t>(part);
  }
  return static_cast<ssize_t>(got);
}

// Whether the bundle's file at relative (opened by handle) holds exactly the bytes of packageFile.
bool SameBytes(const Bundle& bundle, const std::string& relative, const std::string& packageFile, bool& same,
               Failure& failure) {
  const Step step = bundle.StepFor(Step::Kind::kEntry, relative);
  UniqueFd folder;
  if (!removal::OpenFolderBelow(bundle.production.fd.get(), bundle.production.path, FolderOf(step.relative),
                                folder, failure))
    return false;
  // Non-blocking: whatever was swapped in since it was examined, a pipe must not hold the run.
  const UniqueFd ours(
      openat(folder.get(), NameOf(step.relative).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  const int oursError = ours.valid() ? 0 : errno;
  const UniqueFd theirs(open(packageFile.c_str(), O_RDONLY | O_CLOEXEC));
  // The bundle's path is built before any call whose errno is reported.
  const std::string mineName = step.Path();
  const auto fail = [&](const std::string& path) { return Fail(errno, "čtení souboru", path, failure); };
  if (!ours.valid())
    return Fail(oursError, "čtení souboru", mineName, failure);
  if (!theirs.valid())
    return fail(packageFile);
  struct stat mineInfo {
  }, packageInfo{};
  if (fstat(ours.get(), &mineInfo) != 0 || fstat(theirs.get(), &packageInfo) != 0)
    return fail(mineName);
  same = S_ISREG(mineInfo.st_mode) && mineInfo.st_size == packageInfo.st_size;
  std::vector<char> mine(65536), package(65536);
  while (same) {
    const ssize_t mineCount = ReadFull(ours.get(), mine.data(), mine.size());
    if (mineCount < 0)
      return fail(mineName);
    const ssize_t packageCount = ReadFull(theirs.get(), package.data(), package.size());
    if (packageCount < 0)
      return fail(packageFile);
    same = mineCount == packageCount &&
           std::memcmp(mine.data(), package.data(), static_cast<std::size_t>(mineCount)) == 0;
    if (mineCount == 0)
      break;
  }
  return true;
}

// Plans the bundle's file at relative when it is the package's file packageFile.
bool PlanPackageFile(const Bundle& bundle, const std::string& relative, const std::string& packageFile,
                     Plan& plan, std::set<std::string>& removed, Failure& failure) {
  return PlanMatchingFile(bundle, relative,
                          "liší se od souboru datového balíčku, nelze poznat, zda je z balíčku", plan,
                          removed, failure, [&](const struct stat&, bool& same) {
                            return SameBytes(bundle, relative, packageFile, same, failure);
                          });
}

// Plans a known Czech place: a tree as a whole, or a single entry that is a regular file.
bool PlanKnownPlace(const Bundle& bundle, const std::string& relative, bool tree, Plan& plan,
                    std::set<std::string>& removed, Failure& failure) {
  const Step step = bundle.StepFor(tree ? Step::Kind::kTree : Step::Kind::kEntry, relative);
  removal::EntryKind kind = removal::EntryKind::kAbsent;
  struct stat info {};
  if (!removal::ExamineBelow(bundle.production.fd.get(), bundle.production.path, step.relative, kind, info,
                             failure))
    return false;
  if (kind == removal::EntryKind::kAbsent || removed.count(step.Path()) != 0)
    return true;
  if (kind == removal::EntryKind::kBehindLink)
    plan.kept.push_back(Kept{step.Path(), "cesta k němu vede přes symbolický odkaz"});
  else if (!tree && kind != removal::EntryKind::kOther)
    plan.kept.push_back(Kept{step.Path(), "není to obyčejný soubor, jaký balíček nainstaloval"});
  else {
    plan.steps.push_back(step);
    plan.steps.back().atLink =
        kind == removal::EntryKind::kLink ? removal::AtLink::kRemoveLink : removal::AtLink::kStop;
    removed.insert(step.Path());
  }
  return true;
}

// The package's known Czech places: planned as a whole tree or a single entry, never file by file.
struct KnownPlaces {
  std::vector<std::string> trees;
  std::vector<std::string> entries;

  // True when relative is a known entry, a known tree's place, or lies in a known tree.
  bool Hold(const std::string& relative) const {
    return std::find(entries.begin(), entries.end(), relative) != entries.end() ||
           std::any_of(trees.begin(), trees.end(), [&](const std::string& tree) {
             return relative == tree || relative.rfind(tree + "/", 0) == 0;
           });
  }
};

// Plans each file below the package folder source that the bundle holds byte for byte below target,
// and collects the folders there into folders. An entry is taken as what it points to; a link to a
// folder is not descended. What the known places hold is left to them.
bool PlanPackageTree(const Bundle& bundle, const std::string& source, const std::string& target,
                     const KnownPlaces& known, std::vector<std::string>& folders, Plan& plan,
                     std::set<std::string>& removed, Failure& failure) {
  std::vector<std::string> names;
  if (!ListFolder(source, names, failure))
    return false;
  for (const std::string& name : names) {
    const std::string path = JoinPath(source, name);
    const std::string relative = JoinPath(target, name);
    if (known.Hold(relative))
      continue;
    const EntryType type = StatType(path);
    if (type == EntryType::kFolder) {
      folders.push_back(relative);
      if (LstatType(path) == EntryType::kFolder &&
          !PlanPackageTree(bundle, path, relative, known, folders, plan, removed, failure))
        return false;
    } else if (type == EntryType::kRegularFile &&
               !PlanPackageFile(bundle, relative, path, plan, removed, failure)) {
      return false;
    }
  }
  return true;
}

} // namespace

bool DiscoverBundleFiles(const StartFolder& production, const std::string& bundleName,
                         const std::string& packageRoot, Plan& plan, Failure& failure) {
  using packagelayout::kCamHelp;
  const Bundle bundle{production, bundleName};
  std::set<std::string> removed;
  KnownPlaces known{{JoinPath(kCamHelp, packagelayout::kCzechHelpTree)},
                    {JoinPath(kCamHelp, packagelayout::kCzechHelpPage)}};
  for (const packagelayout::PackageFolder& source : packagelayout::kPackageFolders) {
    if (!DirectoryExists(JoinPath(packageRoot, source.source))) {
      if (source.knownTree)
        known.trees.emplace_back(source.knownTree);
      if (source.knownEntry)
        known.entries.emplace_back(source.knownEntry);
    }
  }
  for (const packagelayout::PackageFolder& source : packagelayout::kPackageFolders) {
    const std::string sourceFolder = JoinPath(packageRoot, source.source);
    if (!DirectoryExists(sourceFolder))
      continue;
    std::vector<std::string> folders;
    if (source.targetIsOurs)
      folders.emplace_back(source.target);
    if (!PlanPackageTree(bundle, sourceFolder, source.target, known, folders, plan, removed, failure))
      return false;
    // Sub-folders before their folder: a prefix sorts first.
    std::sort(folders.rbegin(), folders.rend());
    for (const std::string& folder : folders) {
      if (!PlanFolder(bundle, folder, plan, removed, failure))
        return false;
    }
  }
  for (const std::string& tree : known.trees) {
    if (!PlanKnownPlace(bundle, tree, true, plan, removed, failure))
      return false;
  }
  for (const std::string& single : known.entries) {
    if (!PlanKnownPlace(bundle, single, false, plan, removed, failure))
      return false;
  }
  return true;
}

bool PlanBundleFiles(const StartFolder& production, const std::string& bundleName,
                     const std::string& recordPath, Plan& plan, Failure& failure) {
  installrecord::InstallRecord record;
  Failure problem;
  if (!installrecord::ReadInstallRecord(recordPath, record, problem)) {
    failure = Failure{"čtení záznamu instalace", recordPath, std::error_code(),
                      RecordProblemText(problem) + "; smažte jej a spusťte odinstalátor znovu"};
    return false;
  }
  const Bundle bundle{production, bundleName};
  std::set<std::string> removed;
  for (const auto& [relative, recorded] : record.files) {
    if (!PlanFile(bundle, relative, recorded, plan, removed, failure))
      return false;
  }
  // Reverse order visits a folder's sub-folders before the folder: a prefix sorts first.
  for (auto folder = record.folders.rbegin(); folder != record.folders.rend(); ++folder) {
    if (!PlanFolder(bundle, *folder, plan, removed, failure))
      return false;
  }
  return true;
}

} // namespace uninstaller
