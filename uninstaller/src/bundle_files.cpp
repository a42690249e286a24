#include "bundle_files.h"

#include "install_record.h"
#include "platform.h"
#include "resolved_path.h"
#include "utilities.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace uninstaller {

namespace {

bool Fail(Failure& failure, const char* action, const std::string& path, int error) {
  failure = Failure{action, path, std::error_code(error, std::generic_category()), std::string()};
  return false;
}

// True when lstat found nothing at path: missing, or a plain file where one of its folders would be.
bool IsAbsent(int error) {
  return error == ENOENT || error == ENOTDIR;
}

// True when path, its links resolved, is resolvedFolder or lies below it.
bool LiesIn(const std::string& resolvedFolder, const std::string& path) {
  const std::string resolved = ResolvedPath(path);
  return resolved == resolvedFolder || resolved.rfind(resolvedFolder + "/", 0) == 0;
}

// Plans path when it still is the file the installer placed there.
bool PlanFile(const std::string& path, const installrecord::RecordedFile& recorded,
              const std::string& resolvedBundle, Plan& plan, std::set<std::string>& removed,
              Failure& failure) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    const int error = errno;
    return IsAbsent(error) ? true : Fail(failure, "zjisteni stavu", path, error);
  }
  if (!S_ISREG(info.st_mode)) {
    plan.kept.push_back(Kept{path, "neni to obycejny soubor, jaky balicek nainstaloval"});
    return true;
  }
  // A link among the folders of the path could lead out of the bundle, to a file that is not ours.
  if (!LiesIn(resolvedBundle, DirectoryOf(path))) {
    plan.kept.push_back(Kept{path, "pres symbolicky odkaz vede mimo aplikaci Fusion 360"});
    return true;
  }
  const timespec modified = ModificationTime(info);
  if (static_cast<std::uint64_t>(info.st_size) != recorded.size || modified.tv_sec != recorded.mtimeSeconds ||
      modified.tv_nsec != recorded.mtimeNanoseconds) {
    plan.kept.push_back(Kept{path, "od instalace jej Fusion 360 nebo nekdo jiny zmenil"});
    return true;
  }
  plan.steps.push_back(Step{Step::Kind::kEntry, path, {}});
  removed.insert(path);
  return true;
}

// Plans folder when it holds nothing but what the plan removes.
bool PlanFolder(const std::string& folder, const std::string& resolvedBundle, Plan& plan,
                std::set<std::string>& removed, Failure& failure) {
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    const int error = errno;
    return IsAbsent(error) ? true : Fail(failure, "zjisteni stavu", folder, error);
  }
  if (!S_ISDIR(info.st_mode) || !LiesIn(resolvedBundle, folder))
    return true; // the host's now, not the folder the installer made
  std::error_code code;
  fs::directory_iterator entry(folder, code);
  for (const fs::directory_iterator end; !code && entry != end; entry.increment(code)) {
    if (removed.count(entry->path().string()) == 0) {
      plan.kept.push_back(Kept{folder, "obsahuje soubory, ktere balicek nenainstaloval"});
      return true;
    }
  }
  if (code) {
    failure = Failure{"cteni slozky", folder, code, std::string()};
    return false;
  }
  plan.steps.push_back(Step{Step::Kind::kEmptyFolder, folder, {}});
  removed.insert(folder);
  return true;
}

} // namespace

bool PlanBundleFiles(const std::string& bundle, const std::string& recordPath, Plan& plan, Failure& failure) {
  installrecord::InstallRecord record;
  std::string error;
  if (!installrecord::ReadInstallRecord(recordPath, &record, &error)) {
    failure = Failure{"cteni zaznamu instalace", recordPath, std::error_code(),
                      "zaznam je poskozen (" + error +
                          "); smazte jej a spustte "
                          "odinstalator znovu"};
    return false;
  }
  const std::string resolvedBundle = ResolvedPath(bundle);
  if (resolvedBundle.empty())
    return true; // no bundle: nothing of it is left to remove
  std::set<std::string> removed;
  for (const auto& [relative, recorded] : record.files) {
    if (!PlanFile(bundle + "/" + relative, recorded, resolvedBundle, plan, removed, failure))
      return false;
  }
  // Reverse order visits a folder's sub-folders before the folder: a prefix sorts first.
  for (auto folder = record.folders.rbegin(); folder != record.folders.rend(); ++folder) {
    if (!PlanFolder(bundle + "/" + *folder, resolvedBundle, plan, removed, failure))
      return false;
  }
  return true;
}

} // namespace uninstaller
