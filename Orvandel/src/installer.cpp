#include "installer.h"

#include "file_copy.h"
#include "host_support.h"

#include <legacy_paths.h>
#include <platform.h>
#include <product_constants.h>
#include <utilities.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>

using namespace adsk::core;
using orvandel::app;
using orvandel::ui;
namespace fs = std::filesystem;

namespace {

constexpr const char* kRoutine = "CopyCzechFiles";
// The CAM translation whose presence tells a run without force that the Czech files are in place.
constexpr const char* kMarkerName = "czech_cz.xml";

const wchar_t* const kSourceMissingMessage =
    L"Zdrojová data nebyla nalezena. Použijte znovu instalační soubor.";
const wchar_t* const kSuccessMessage =
    L"Instalace češtiny proběhla správně. Nastavení se projeví po restartu Fusion 360";
const wchar_t* const kFailureMessage = L"Instalace češtiny se nezdařila.";
const wchar_t* const kFailureFileLabel = L"Soubor: ";
const wchar_t* const kFailureReasonLabel = L"Důvod: ";

void Log(const std::string& message) {
  LogRoutine(kRoutine, message);
}

// Message boxes of the run: empty title, OK, no icon. Without a user interface there is no one to tell.
void Show(const std::string& text) {
  if (ui)
    ui->messageBox(text, "", static_cast<MessageBoxButtonTypes>(0), static_cast<MessageBoxIconTypes>(0));
}

void SetCzechLanguage() {
  const Ptr<Preferences> preferences = app ? app->preferences() : nullptr;
  const Ptr<GeneralPreferences> general = preferences ? preferences->generalPreferences() : nullptr;
  if (!general)
    throw std::runtime_error("the host gave no general preferences");
  general->userLanguage(static_cast<UserLanguages>(2));
}

// The reason for the user, in Czech where the system's text is a common one.
std::string CzechReason(const std::error_code& code) {
  if (code.category() == std::generic_category() || code.category() == std::system_category()) {
    switch (code.value()) {
    case EACCES:
    case EPERM:
      return Wstr2Str(L"přístup byl odepřen");
    case ENOENT:
      return Wstr2Str(L"soubor nebo složka neexistuje");
    case ENOSPC:
    case EDQUOT:
      return Wstr2Str(L"na disku není dost místa");
    case EROFS:
      return Wstr2Str(L"disk je jen pro čtení");
    case ELOOP:
      return Wstr2Str(L"symbolický odkaz vede zpět do kopírované složky");
    default:
      break;
    }
  }
  return code.message();
}

std::string FailedPaths(const fs::filesystem_error& error) {
  std::string paths = error.path1().string();
  if (!error.path2().empty())
    paths += " -> " + error.path2().string();
  return paths;
}

// The one report of a run that an error ended: a log line and a message box.
void ReportFailure(const std::string& paths, const std::string& reason, const std::string& reasonForUser) {
  try {
    Log(" installation failed: " + (paths.empty() ? reason : paths + ": " + reason));
    std::string text = Wstr2Str(kFailureMessage);
    if (!paths.empty())
      text += "\n" + Wstr2Str(kFailureFileLabel) + paths;
    text += "\n" + Wstr2Str(kFailureReasonLabel) + reasonForUser;
    Show(text);
  } catch (...) {
    // Nothing is left to report with: the host must not see the exception.
  }
}

void RunInstallation(bool force, const InstallPlaces& places) {
  const std::string camSource = places.packageRoot + "/vornidca/";
  const std::string baseSource = places.packageRoot + "/vornidfu/";
  const std::string helpSource = places.packageRoot + "/vornidhe/";
  const std::string qmSource = places.packageRoot + "/VornidQM/";
  const std::string hostBundle =
      places.home + "/Library/Application Support/Autodesk/webdeploy/production/Autodesk Fusion.app";
  const std::string camTranslations =
      hostBundle + "/Contents/Libraries/Applications/CAM360/Data/Translations/";
  const std::string stringTable = hostBundle + "/Contents/Libraries/Neutron/StringTable/";
  const std::string camHelp =
      hostBundle + "/Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/";
  const std::string qmFolder = hostBundle + "/Contents/Resources/AIRMAX/cs-CZ/";
  const std::string marker = camTranslations + kMarkerName;

  if (FileExists(marker) && !force) {
    Log(" target files with translate exists.");
    return;
  }

  if (DirectoryExists(baseSource)) {
    Log(" source files with Orvandel  exists.");
    std::string productionFolder;
    std::string currentBuild;
    if (FindProductionFolder(places.executableDirectory, &productionFolder, &currentBuild)) {
      RemoveFromOldDestination(productionFolder.c_str(), currentBuild);
      Log(" delete old files.");
    } else {
      Log(" no production folder in " + places.executableDirectory + ", old files not deleted.");
    }
    copyFileFromDirToAnotherDir(baseSource, stringTable);
    Log(" copy files for Fusion without CAM.");
    copyFileFromDirToAnotherDir(qmSource, qmFolder);
    Log(" copy QM files.");
    SetCzechLanguage();
    Log(" set Orvandel in preferences.");
  } else {
    Log(" files for Fusion without CAM wasn't find.");
    Show(Wstr2Str(kSourceMissingMessage));
  }

  if (!DirectoryExists(camSource)) {
    Show(Wstr2Str(kSourceMissingMessage));
    Log(" source data wasn't find.");
    return;
  }
  // The marker comes last, once the run has made every copy it will make: a run that a crash or an
  // error ends before then leaves no marker, so the next start without force completes it instead of
  // taking the Czech files as in place.
  const auto placeMarker = [&] {
    if (FileExists(camSource + kMarkerName))
      filecopy::CopyFileUpdating(camSource + kMarkerName, marker);
  };
  filecopy::CopyFolderUpdating(camSource, camTranslations, kMarkerName);
  Log(" copy files for Fusion CAM.");
  if (!FileExists(camHelp + "en-html.html")) {
    placeMarker();
    return;
  }
  filecopy::CopyFileUpdating(camHelp + "en-html.html", camHelp + "cz-html.html");
  Log(" copy en-html.html to cz-html.html.");
  copyFileFromDirToAnotherDir(camHelp + "en-html", camHelp + "cz-html");
  Log(" copy dir en-html to cz-html");
  // The entries of images land directly in cz-html.
  copyFileFromDirToAnotherDir(camHelp + "images", camHelp + "cz-html");
  Log(" copy picture of help do dir cz-html");
  if (DirectoryExists(helpSource)) {
    Log(" copy files for Help Fusion.");
    copyFileFromDirToAnotherDir(helpSource, camHelp);
  }
  placeMarker();
  Show(Wstr2Str(kSuccessMessage));
  Log(" finish successful");
}

} // namespace

InstallPlaces SystemInstallPlaces() {
  return InstallPlaces{SystemPath(product::kPackageRoot), HomeFolder(), GetExecutableDirectory()};
}

void CopyCzechFiles(bool force) {
  InstallPlaces places;
  try {
    places = SystemInstallPlaces();
  } catch (...) {
    // Out of memory before the run began: leave places empty, the run reports the unknown home.
  }
  InstallCzechFiles(force, places);
}

void InstallCzechFiles(bool force, const InstallPlaces& places) {
  try {
    Log(" start ...");
    if (places.home.empty()) {
      Log(" home folder unknown (no HOME, no user entry), nothing installed.");
      return;
    }
    RunInstallation(force, places);
  } catch (const fs::filesystem_error& error) {
    ReportFailure(FailedPaths(error), error.code().message(), CzechReason(error.code()));
  } catch (const std::exception& error) {
    ReportFailure(std::string(), error.what(), error.what());
  } catch (...) {
    ReportFailure(std::string(), "unknown error", "unknown error");
  }
}

void copyFileFromDirToAnotherDir(std::string source, std::string target) {
  filecopy::CopyFolderUpdating(source, target);
}

void RemoveFromOldDestination(const char* productionFolder, std::string currentBuild) {
  for (const fs::directory_entry& entry : fs::directory_iterator(productionFolder)) {
    if (!fs::is_directory(entry.path()))
      continue;
    const std::string build = entry.path().string();
    if (build.find(currentBuild) != std::string::npos)
      continue;
    for (const char* single : legacy::kSingleFiles) {
      if (FileExists(build + single))
        fs::remove(build + single);
    }
    for (const char* tree : legacy::kTrees) {
      // Without its trailing separator a link at the legacy path is removed as the link; with it,
      // remove_all would follow the link and empty the folder it points to.
      std::string path = build + tree;
      while (path.size() > 1 && path.back() == '/')
        path.pop_back();
      fs::remove_all(path);
    }
  }
}

bool FindProductionFolder(const std::string& executableDirectory, std::string* productionFolder,
                          std::string* currentBuild) {
  const auto found = executableDirectory.find("production");
  if (found == std::string::npos)
    return false;
  *productionFolder = executableDirectory.substr(0, found + 11);
  const std::string rest = executableDirectory.substr(productionFolder->size());
  *currentBuild = rest.substr(0, rest.find_first_of("/\\"));
  return true;
}
