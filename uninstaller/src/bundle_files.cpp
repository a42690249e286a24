#include "bundle_files.h"

#include "install_record.h"
#include "platform.h"
#include "tree_removal.h"
#include "utilities.h"

#include <sys/stat.h>

#include <set>

namespace uninstaller {

namespace {

// Where the plan looks: the production folder it trusts and the bundle's name in it.
struct Bundle {
  const std::string& production;
  std::string name;

  Step StepFor(Step::Kind kind, const std::string& relative) const {
    return Step{kind, production, name + "/" + relative, {}};
  }
};

// Plans the file at relative when it still is the file the installer placed there.
bool PlanFile(const Bundle& bundle, const std::string& relative, const installrecord::RecordedFile& recorded,
              Plan& plan, std::set<std::string>& removed, Failure& failure) {
  const Step step = bundle.StepFor(Step::Kind::kEntry, relative);
  removal::EntryKind kind = removal::EntryKind::kAbsent;
  struct stat info {};
  if (!removal::ExamineBelow(bundle.production, step.relative, kind, info, failure))
    return false;
  if (kind == removal::EntryKind::kAbsent)
    return true;
  // A link among the folders of the path could lead out of the bundle, to a file that is not ours.
  if (kind == removal::EntryKind::kBehindLink) {
    plan.kept.push_back(Kept{step.Path(), "cesta k nemu vede pres symbolicky odkaz"});
    return true;
  }
  if (!S_ISREG(info.st_mode)) {
    plan.kept.push_back(Kept{step.Path(), "neni to obycejny soubor, jaky balicek nainstaloval"});
    return true;
  }
  const timespec modified = ModificationTime(info);
  if (static_cast<std::uint64_t>(info.st_size) != recorded.size || modified.tv_sec != recorded.mtimeSeconds ||
      modified.tv_nsec != recorded.mtimeNanoseconds) {
    plan.kept.push_back(Kept{step.Path(), "od instalace jej Fusion 360 nebo nekdo jiny zmenil"});
    return true;
  }
  plan.steps.push_back(step);
  removed.insert(step.Path());
  return true;
}

// Plans the folder at relative when it holds nothing but what the plan removes.
bool PlanFolder(const Bundle& bundle, const std::string& relative, Plan& plan, std::set<std::string>& removed,
                Failure& failure) {
  const Step step = bundle.StepFor(Step::Kind::kEmptyFolder, relative);
  removal::EntryKind kind = removal::EntryKind::kAbsent;
  struct stat info {};
  if (!removal::ExamineBelow(bundle.production, step.relative, kind, info, failure))
    return false;
  if (kind != removal::EntryKind::kFolder)
    return true; // the host's now, not the folder the installer made
  UniqueFd folder;
  std::vector<std::string> names;
  if (!removal::OpenFolderBelow(bundle.production, step.relative, folder, failure) ||
      !removal::ListFolder(folder.get(), step.Path(), names, failure))
    return false;
  for (const std::string& name : names) {
    if (removed.count(step.Path() + "/" + name) == 0) {
      plan.kept.push_back(Kept{step.Path(), "obsahuje soubory, ktere balicek nenainstaloval"});
      return true;
    }
  }
  plan.steps.push_back(step);
  removed.insert(step.Path());
  return true;
}

} // namespace

bool PlanBundleFiles(const std::string& production, const std::string& bundleName,
                     const std::string& recordPath, Plan& plan, Failure& failure) {
  installrecord::InstallRecord record;
  std::string error;
  if (!installrecord::ReadInstallRecord(recordPath, &record, &error)) {
    failure = Failure{"cteni zaznamu instalace", recordPath, std::error_code(),
                      "zaznam je poskozen (" + error +
                          "); smazte jej a spustte "
                          "odinstalator znovu"};
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
