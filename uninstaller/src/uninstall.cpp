#include "uninstall.h"

#include "bundle_files.h"
#include "install_record.h"
#include "messages.h"
#include "package_layout.h"
#include "product_constants.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace uninstaller {

namespace {

constexpr const char* kClosingPieces[] = {
    "\n",
    "\n*****************************\n",
    "Soubory s lokalizaci a AddInu byly odstraneny.\nOkno Terminalu je mozne uzavrit",
    "\n*****************************\n",
    "\n",
};

// Every step of the run, in the order they are carried out: the legacy paths, the package's files in the
// current bundle, what stopped installations left, the guide add-in's folder, the own folder.
bool MakePlan(const Places& places, bool withOwnFolder, Plan& plan, Failure& failure) {
  for (const StartFolder* start : {&places.production, &places.addins}) {
    if (start->error != 0 && start->error != ENOENT)
      return Fail(start->error, "otevření složky", start->path, failure);
  }
  if (!PlanLegacyPaths(places.production, plan, failure))
    return false;
  // Without a record (none kept by an older version, or removed by the user) the data package and the
  // known Czech places tell the package's files apart from the host's.
  // Only a record that is not there (ENOENT) is none: a plain file in the own folder's place (ENOTDIR,
  // which LstatType counts as missing too) is reported when the record is read.
  const std::string record = places.addins.Below(places.ownName + "/" + installrecord::kFileName);
  struct stat info {};
  const bool withoutRecord = lstat(record.c_str(), &info) != 0 && errno == ENOENT;
  using packagelayout::kCurrentBundle;
  if (places.production.fd.valid() &&
      (withoutRecord
           ? !DiscoverBundleFiles(places.production, kCurrentBundle, places.packageRoot, plan, failure)
           : !PlanBundleFiles(places.production, kCurrentBundle, record, plan, failure)))
    return false;

  const std::string guide = product::kGuideAddinName;
  const std::string language = product::kLanguageAddinName;
  if (!places.addins.fd.valid())
    return true;
  if (!PlanInstallLeftovers(places.addins, {language, guide}, plan, failure))
    return false;
  PlanAddinFolder(places.addins, guide, {guide + ".so", guide + ".dylib"}, {guide + ".manifest"},
                  {guide + ".manifest", guide + ".so", guide + ".dylib"}, plan);

  if (!withOwnFolder)
    return true;
  plan.steps.push_back(Step{Step::Kind::kOwnFolder,
                            &places.addins,
                            places.ownName,
                            {language + ".so", language + ".dylib", places.program}});
  return true;
}

void WriteKept(std::ostream& out, const std::vector<Kept>& kept) {
  for (const Kept& item : kept)
    out << "Zůstává: " << ShellWord(item.path) << " (" << item.reason << ")\n";
}

} // namespace

std::string ClosingMessage() {
  std::string message;
  for (const char* piece : kClosingPieces)
    message += piece;
  return message;
}

int Uninstall(const Places& places, Mode mode, std::ostream& out, std::ostream& err) {
  const bool dryRun = mode == Mode::kDryRun;
  struct stat own {};
  const bool ownFolderThere =
      places.addins.fd.valid() &&
      fstatat(places.addins.fd.get(), places.ownName.c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(own.st_mode);
  Plan plan;
  Failure failure;
  if (!MakePlan(places, ownFolderThere, plan, failure)) {
    WriteFailure(err, failure, /*removing=*/false);
    return kExitFileSystemError;
  }

  if (dryRun) {
    out << "Zkušební běh (--dry-run): odstranilo by se následující, nic se nemění.\n";
    for (const Step& step : plan.steps)
      out << ShellWord(step.Path()) << '\n';
    WriteKept(out, plan.kept);
    WriteNotes(out, places.packageRoot, places.downloads);
    return kExitSuccess;
  }

  for (const Step& step : plan.steps) {
    if (!CarryOut(step, failure)) {
      out.flush();
      WriteFailure(err, failure, /*removing=*/true);
      return kExitFileSystemError;
    }
  }
  // Without its own folder the run cannot claim that the add-in was removed: it ends silently.
  if (!ownFolderThere)
    return kExitSuccess;
  WriteKept(out, plan.kept);
  WriteNotes(out, places.packageRoot, places.downloads);
  out << ClosingMessage();
  out.flush();
  return kExitSuccess;
}

} // namespace uninstaller
