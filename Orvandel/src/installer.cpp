#include "installer.h"

#include "bundle_record.h"
#include "file_copy.h"
#include "host_support.h"
#include "worker_bridge.h"

#include <file.h>
#include <install_record.h>
#include <legacy_paths.h>
#include <package_layout.h>
#include <path.h>
#include <platform.h>
#include <product_constants.h>
#include <temporary_file.h>
#include <tree_removal.h>
#include <unique_handles.h>
#include <utilities.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

using namespace adsk::core;
using orvandel::app;
using orvandel::ui;
namespace fs = std::filesystem;

namespace {

constexpr const char* kRoutine = "CopyCzechFiles";
// The package folders: the data package's folder and the bundle folder it is copied into.
using packagelayout::kPackageFolders;
constexpr const packagelayout::PackageFolder& kBase = kPackageFolders[packagelayout::kBaseFolder];
constexpr const packagelayout::PackageFolder& kQm = kPackageFolders[packagelayout::kQmFolder];
constexpr const packagelayout::PackageFolder& kCam = kPackageFolders[packagelayout::kCamFolder];
constexpr const packagelayout::PackageFolder& kHelp = kPackageFolders[packagelayout::kHelpFolder];

const wchar_t* const kSourceMissingMessage =
    L"Zdrojová data nebyla nalezena. Použijte znovu instalační soubor.";
const wchar_t* const kSuccessMessage =
    L"Instalace češtiny proběhla správně. Nastavení se projeví po restartu Fusion 360";
const char* const kFailureMessage = "Instalace češtiny se nezdařila.";
const char* const kFailureFileLabel = "Soubor: ";
const char* const kFailureReasonLabel = "Důvod: ";
const char* const kRemoveTheCause = "Odstraňte příčinu a spusťte instalaci znovu tlačítkem „Aktivace CZ“.";
const char* const kFreeSpace = "Uvolněte místo na disku a spusťte instalaci znovu tlačítkem „Aktivace CZ“.";
const char* const kInstallAgain =
    "Datový balíček české lokalizace chybí nebo jej nelze přečíst: nainstalujte českou lokalizaci znovu z "
    "instalačního balíčku.";

// The run's way to the host: its log lines, message boxes and the language preference reach the host
// on its main thread through the job's context, in the order the run makes them.
struct Reporting {
  workerbridge::JobContext& context;
  const InstallHooks& hooks;

  void Log(const std::string& message) const {
    context.Post([message] { LogRoutine(kRoutine, message); });
  }
  // Message boxes of the run: empty title, OK, no icon unless given. Without a user interface there is no
  // one to tell.
  void Show(const std::string& text, MessageBoxIconTypes icon = NoIconIconType) const {
    context.Post([text, icon, before = hooks.beforeMessage] {
      if (before)
        before();
      ShowMessageBox(text, std::string(), OKButtonType, icon);
    });
  }
  // False with CopyError::stopped once the run was asked to end, before the file path names.
  bool BetweenFiles(const std::string& path, Failure& failure) const {
    if (!hooks.betweenFiles || hooks.betweenFiles())
      return true;
    failure = Failure{"kopírování", path, filecopy::CopyError::stopped, std::string()};
    return false;
  }
};

// Errors of the run that are not the file system's.
enum class InstallError { noGeneralPreferences = 1 };

const std::error_category& InstallErrorCategory() {
  class Category final : public std::error_category {
  public:
    const char* name() const noexcept override { return "installation"; }
    std::string message(int value) const override {
      if (static_cast<InstallError>(value) == InstallError::noGeneralPreferences)
        return "the host gave no general preferences";
      return "unknown installation error";
    }
  };
  static const Category category;
  return category;
}

std::error_code MakeErrorCode(InstallError error) {
  return {static_cast<int>(error), InstallErrorCategory()};
}

// On the host's main thread, whose answer the run waits for: it goes on only once the host is Czech.
bool SetCzechLanguage(const Reporting& report, Failure& failure) {
  const bool set = report.context.Ask([] {
    const Ptr<Preferences> preferences = app ? app->preferences() : nullptr;
    const Ptr<GeneralPreferences> general = preferences ? preferences->generalPreferences() : nullptr;
    if (!general)
      return false;
    general->userLanguage(static_cast<UserLanguages>(2));
    return true;
  });
  if (set)
    return true;
  const std::error_code code = report.context.StopRequested()
                                   ? make_error_code(filecopy::CopyError::stopped)
                                   : MakeErrorCode(InstallError::noGeneralPreferences);
  failure = Failure{"nastavení jazyka", std::string(), code, std::string()};
  return false;
}

// The reason in Czech for the user; the log keeps the system's own text.
std::string ReasonForUser(const std::error_code& code) {
  if (code == filecopy::CopyError::linkLoop)
    return "symbolický odkaz vede zpět do kopírované složky";
  if (code == MakeErrorCode(InstallError::noGeneralPreferences))
    return "aplikace nevrátila obecné předvolby";
  if (code.category() != std::generic_category() && code.category() != std::system_category())
    return "neznámá chyba";
  return CzechReason(code);
}

// What the user does next after a failed run: make room on a full disk, install the package again when
// its own data cannot be read, else remove the cause; each ends with the button that runs it again. path
// is the entry the run failed at: of a copy, the one it wrote.
std::string NextStep(const std::error_code& code, const std::string& path, const std::string& packageRoot) {
  if (code == std::errc::no_space_on_device || code == std::error_condition(EDQUOT, std::generic_category()))
    return kFreeSpace;
  if (!packageRoot.empty() && path.compare(0, packageRoot.size() + 1, packageRoot + "/") == 0)
    return kInstallAgain;
  return kRemoveTheCause;
}

std::string FailedPaths(const Failure& failure) {
  std::string paths = failure.path;
  if (!failure.target.empty())
    paths += " -> " + failure.target;
  return paths;
}

// The one report of a run that an error ended: a log line and a message box with the warning icon that
// names the file, the reason and what to do next.
void ReportFailure(const Reporting& report, const std::string& paths, const std::string& reason,
                   const std::string& reasonForUser, const std::string& nextStep) {
  try {
    report.Log(" installation failed: " + (paths.empty() ? reason : paths + ": " + reason));
    std::string text = kFailureMessage;
    if (!paths.empty())
      text += std::string("\n") + kFailureFileLabel + paths;
    text += std::string("\n") + kFailureReasonLabel + reasonForUser + "\n" + nextStep;
    report.Show(text, WarningIconType);
  } catch (...) {
    // Nothing is left to report with: the host must not see the exception.
  }
}

// True when anything is at path, a dangling link included; a path the system cannot tell about counts.
bool HasEntry(const std::string& path) {
  return LstatType(path) != EntryType::kMissing;
}

// Removes the marker (a file, a link as the link, an empty folder) by handle below the host's bundle, so
// that no link inside the bundle is followed. An absent marker is no error.
bool RemoveMarker(const std::string& hostBundle, Failure& failure) {
  return removal::RemoveEntryBelow(hostBundle, JoinPath(kCam.target, kCam.markerLast), failure);
}

std::string HostBundle(const std::string& home) {
  return home + packagelayout::kProductionInHome + "/" + packagelayout::kCurrentBundle;
}

// A folder of the host bundle, with the separator at its end.
std::string InBundle(const std::string& home, const char* relative) {
  return HostBundle(home) + "/" + relative + "/";
}

// A folder of the data package, with the separator at its end.
std::string InPackage(const std::string& packageRoot, const packagelayout::PackageFolder& folder) {
  return packageRoot + "/" + folder.source + "/";
}

std::uint64_t CountFiles(const std::string& folder) {
  std::uint64_t count = 0;
  std::error_code error;
  fs::recursive_directory_iterator entry(folder, fs::directory_options::skip_permission_denied, error);
  for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error))
    count += entry->is_regular_file(error) ? 1 : 0;
  return count;
}

// A package folder that was missing where the run looked, or went away (or became a file) while the
// run copied it: the package's installer is replacing the data package, or it was damaged.
bool SourceMissing(const Failure& failure, const std::string& packageRoot) {
  return failure.path.compare(0, packageRoot.size() + 1, packageRoot + "/") == 0 &&
         (failure.code == std::errc::no_such_file_or_directory || failure.code == std::errc::not_a_directory);
}

// Which folder stands at a path, so that a package folder replaced during the run is told from the one
// the run began to copy; nothing (0, 0) for no folder.
std::pair<dev_t, ino_t> FolderAt(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
    return {0, 0};
  return {status.st_dev, status.st_ino};
}

// What a run learns on its way that decides how it ends.
struct RunState {
  bool sourceMissingShown = false;
  bool packageIncomplete = false; // a package folder was passed over: no marker, no success
};

// The source-missing message, once in a run however many package folders are missing.
void ShowSourceMissing(const Reporting& report, RunState& state) {
  state.packageIncomplete = true;
  if (!state.sourceMissingShown)
    report.Show(Wstr2Str(kSourceMissingMessage));
  state.sourceMissingShown = true;
}

// False with the failure that ended the run (CopyError::stopped for a run asked to end).
bool RunInstallation(bool force, const InstallPlaces& places, BundleRecorder& recorder,
                     const Reporting& report, RunState& state, Failure& failure) {
  const std::string camSource = InPackage(places.packageRoot, kCam);
  const std::string baseSource = InPackage(places.packageRoot, kBase);
  const std::string helpSource = InPackage(places.packageRoot, kHelp);
  const std::string qmSource = InPackage(places.packageRoot, kQm);
  const std::string hostBundle = HostBundle(places.home);
  const std::string camTranslations = InBundle(places.home, kCam.target);
  const std::string stringTable = InBundle(places.home, kBase.target);
  const std::string camHelp = InBundle(places.home, kHelp.target);
  const std::string qmFolder = InBundle(places.home, kQm.target);
  const std::string marker = camTranslations + kCam.markerLast;

  if (LstatType(marker) == EntryType::kRegularFile && !force) {
    // A run killed after its marker, while it rewrote the record, left the record's temporary: no later
    // write of the record comes to sweep it.
    SweepDeadTemporaries(FolderOf(places.installRecord));
    report.Log(" target files with translate exists.");
    return true;
  }
  // The marker tells later starts that the installation is complete. A forced run takes it away before
  // its first copy and places it at its end, so that a forced run ended early (an error, a force-quit
  // host) leaves a mix of package versions that the next start completes, not one it takes as done.
  const bool packageHasMarker = HasEntry(camSource + kCam.markerLast);
  // The package folders as the run finds them: the package's installer replacing the data package
  // during the run may leave a copy that lacks files without any copy failing.
  std::vector<std::pair<std::string, std::pair<dev_t, ino_t>>> packageFolders;
  for (const std::string& folder : {baseSource, qmSource, camSource, helpSource})
    packageFolders.emplace_back(folder, FolderAt(folder));
  if (force && packageHasMarker && HasEntry(marker) && !RemoveMarker(hostBundle, failure))
    return false;

  const auto copyFolder = [&](const std::string& source, const std::string& target) {
    return filecopy::CopyFolderUpdating(source, target, failure, std::string(), &recorder,
                                        report.hooks.betweenFiles);
  };

  if (DirectoryExists(baseSource)) {
    report.Log(" source files with Orvandel  exists.");
    std::string productionFolder;
    std::string currentBuild;
    if (FindProductionFolder(places.executableDirectory, productionFolder, currentBuild)) {
      if (!RemoveFromOldDestination(productionFolder.c_str(), currentBuild, failure))
        return false;
      report.Log(" delete old files.");
    } else {
      report.Log(" no production folder in " + places.executableDirectory + ", old files not deleted.");
    }
    if (!copyFolder(baseSource, stringTable))
      return false;
    report.Log(" copy files for Fusion without CAM.");
    if (!copyFolder(qmSource, qmFolder))
      return false;
    report.Log(" copy QM files.");
    if (!SetCzechLanguage(report, failure))
      return false;
    report.Log(" set Orvandel in preferences.");
  } else {
    report.Log(" files for Fusion without CAM wasn't find.");
    ShowSourceMissing(report, state);
  }

  if (!DirectoryExists(camSource)) {
    ShowSourceMissing(report, state);
    report.Log(" source data wasn't find.");
    return true;
  }
  // The marker comes last, once the run has made every copy it will make: a run that a crash, an error
  // or a Cancel ends before then leaves no marker, so the next start without force completes it
  // instead of taking the Czech files as in place. Neither does a run that passed over a package
  // folder place it. Every file is on the record before the marker: later starts take a run killed
  // right after the marker as complete.
  const auto placeMarker = [&] {
    for (const auto& [folder, found] : packageFolders) {
      if (found != FolderAt(folder)) {
        report.Log(" the data package changed during the installation: " + folder + ".");
        ShowSourceMissing(report, state);
      }
    }
    if (state.packageIncomplete) {
      report.Log(
          " installation incomplete: part of the data package is missing; the next start completes it.");
      return true;
    }
    if (!packageHasMarker)
      return recorder.Flush(failure);
    if (!recorder.Flush(failure) || !report.BetweenFiles(marker, failure))
      return false;
    // The last word on Cancel is the main thread's: the dialog's button may have been pressed since the
    // run last heard from it.
    if (!report.context.Ask([] { return true; })) {
      failure = Failure{"kopírování", marker, filecopy::CopyError::stopped, std::string()};
      return false;
    }
    return filecopy::CopyFileUpdating(camSource + kCam.markerLast, marker, failure, &recorder) &&
           recorder.Flush(failure);
  };
  if (!filecopy::CopyFolderUpdating(camSource, camTranslations, failure, kCam.markerLast, &recorder,
                                    report.hooks.betweenFiles))
    return false;
  report.Log(" copy files for Fusion CAM.");
  using packagelayout::kCzechHelpPage;
  using packagelayout::kCzechHelpTree;
  using packagelayout::kEnglishHelpPage;
  if (!FileExists(camHelp + kEnglishHelpPage))
    return placeMarker();
  if (!report.BetweenFiles(camHelp + kCzechHelpPage, failure) ||
      !filecopy::CopyFileUpdating(camHelp + kEnglishHelpPage, camHelp + kCzechHelpPage, failure, &recorder))
    return false;
  report.Log(" copy en-html.html to cz-html.html.");
  if (!copyFolder(camHelp + packagelayout::kEnglishHelpTree, camHelp + kCzechHelpTree))
    return false;
  report.Log(" copy dir en-html to cz-html");
  // The entries of images land directly in cz-html.
  if (!copyFolder(camHelp + packagelayout::kHelpImages, camHelp + kCzechHelpTree))
    return false;
  report.Log(" copy picture of help do dir cz-html");
  if (DirectoryExists(helpSource)) {
    report.Log(" copy files for Help Fusion.");
    if (!copyFolder(helpSource, camHelp))
      return false;
  }
  if (!placeMarker())
    return false;
  if (state.packageIncomplete)
    return true;
  report.Show(Wstr2Str(kSuccessMessage));
  report.Log(" finish successful");
  return true;
}

} // namespace

InstallPlaces SystemInstallPlaces() {
  const std::string executableDirectory = GetExecutableDirectory();
  const std::string addinFolder = GetAddinLocation(executableDirectory);
  return InstallPlaces{SystemPath(product::kPackageRoot), HomeFolder(), executableDirectory,
                       addinFolder.empty() ? std::string() : addinFolder + "/" + installrecord::kFileName};
}

void InstallCzechFiles(bool force, const InstallPlaces& places, workerbridge::JobContext& context,
                       const InstallHooks& hooks) {
  const Reporting report{context, hooks};
  std::unique_ptr<BundleRecorder> recorder;
  try {
    report.Log(" start ...");
    if (places.home.empty()) {
      report.Log(" home folder unknown (no HOME, no user entry), nothing installed.");
      return;
    }
    recorder =
        std::make_unique<BundleRecorder>(HostBundle(places.home), places.installRecord,
                                         [&report](const std::string& message) { report.Log(message); });
    Failure failure;
    RunState state;
    if (RunInstallation(force, places, *recorder, report, state, failure)) {
      // Done, or nothing to do.
    } else if (failure.code == filecopy::CopyError::stopped) {
      report.Log(" installation cancelled; the next start completes it.");
    } else if (SourceMissing(failure, places.packageRoot)) {
      report.Log(" part of the data package is missing: " + failure.path + ": " + failure.code.message() +
                 "; the next start completes the installation.");
      ShowSourceMissing(report, state);
    } else {
      ReportFailure(
          report, FailedPaths(failure), failure.code.message(), ReasonForUser(failure.code),
          NextStep(failure.code, failure.target.empty() ? failure.path : failure.target, places.packageRoot));
    }
  } catch (const std::system_error& error) {
    ReportFailure(report, std::string(), error.what(), ReasonForUser(error.code()),
                  NextStep(error.code(), std::string(), std::string()));
  } catch (const std::bad_alloc&) {
    ReportFailure(report, std::string(), "out of memory", "nedostatek paměti", kRemoveTheCause);
  } catch (const std::exception& error) {
    ReportFailure(report, std::string(), error.what(), "neočekávaná chyba", kRemoveTheCause);
  } catch (...) {
    ReportFailure(report, std::string(), "unknown error", "neznámá chyba", kRemoveTheCause);
  }
  // Every entry is on the record already; this only writes it whole again, shorter.
  if (recorder)
    recorder->Finish();
}

bool RemoveFromOldDestination(const char* productionFolder, const std::string& currentBuild,
                              Failure& failure) {
  // The build folders and the places below them are opened by handle, never through a link: an entry
  // of the production folder that is a link, or a link on the way to a place, is passed over.
  std::vector<legacy::Place> places;
  bool done = legacy::FindPlaces(productionFolder, currentBuild, places, failure);
  for (auto place = places.begin(); done && place != places.end(); ++place) {
    if (place->kind != removal::EntryKind::kBehindLink)
      done = legacy::RemovePlace(productionFolder, *place, failure);
  }
  return done;
}

std::uint64_t FilesToCopy(const InstallPlaces& places) {
  std::uint64_t count = 0;
  for (const packagelayout::PackageFolder& folder : kPackageFolders)
    count += CountFiles(InPackage(places.packageRoot, folder));
  const std::string camHelp = InBundle(places.home, kHelp.target);
  count += StatType(camHelp + packagelayout::kEnglishHelpPage) == EntryType::kRegularFile ? 1 : 0;
  return count + CountFiles(camHelp + packagelayout::kEnglishHelpTree) +
         CountFiles(camHelp + packagelayout::kHelpImages);
}

bool FindProductionFolder(const std::string& executableDirectory, std::string& productionFolder,
                          std::string& currentBuild) {
  // The last component named "production" that a build's name follows: the host runs from
  // production/BUILD/..., and a home, user or disk name before it may hold the word too.
  constexpr std::string_view kProduction = "production";
  const std::string_view path = executableDirectory;
  bool found = false;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos)
      end = path.size();
    if (path.substr(start, end - start) == kProduction && end < path.size()) {
      std::size_t buildEnd = path.find_first_of("/\\", end + 1);
      if (buildEnd == std::string_view::npos)
        buildEnd = path.size();
      if (buildEnd > end + 1) {
        productionFolder = executableDirectory.substr(0, end + 1);
        currentBuild = executableDirectory.substr(end + 1, buildEnd - end - 1);
        found = true;
      }
    }
    start = end + 1;
  }
  return found;
}
