#include "uninstall.h"

#include "messages.h"
#include "product_constants.h"
#include "removal.h"
#include "resolved_path.h"
#include "utilities.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace uninstaller {

namespace {

OwnFolder Refuse(std::string reason) {
  return OwnFolder{std::string(), std::string(), std::move(reason)};
}

// True when folder holds no entry but the one named name.
bool HoldsOnly(const std::string& folder, const std::string& name) {
  std::error_code code;
  std::filesystem::directory_iterator entry(folder, code);
  for (const std::filesystem::directory_iterator end; !code && entry != end; entry.increment(code)) {
    if (entry->path().filename() != name)
      return false;
  }
  return !code;
}

bool IsLink(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool IsRealFolder(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

const char* const kAddinFolderInHome =
    "/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns/Orvandel";

OwnFolder LocateOwnFolder(const std::string& executablePath) {
  if (executablePath.empty())
    return Refuse("cestu ke spuštěnému programu nelze zjistit");
  if (IsLink(executablePath))
    return Refuse("program byl spuštěn přes symbolický odkaz " + ShellWord(executablePath));
  const std::string startedFolder = FolderOf(executablePath);
  if (IsLink(startedFolder))
    return Refuse("složka " + ShellWord(startedFolder) + " je symbolický odkaz");

  const std::string resolved = ResolvedPath(executablePath);
  if (resolved.empty()) {
    // Taken before the message is built: its allocations may change errno.
    const int reason = errno;
    return Refuse("cestu " + ShellWord(executablePath) +
                  " nelze ověřit: " + CzechReason(std::error_code(reason, std::generic_category())));
  }
  const std::string folder = FolderOf(resolved);
  const std::string program = NameOf(resolved);
  const std::string parent = FolderOf(folder);
  const std::string addinName = product::kLanguageAddinName;

  // The own folder renamed aside by a run that ended before it removed the program.
  const bool aside = NameOf(folder) == kOwnFolderAside && HoldsOnly(folder, program);
  if (NameOf(folder) != addinName && !aside)
    return Refuse("složka " + ShellWord(folder) + " se nejmenuje " + addinName);
  if (NameOf(parent) != "AddIns" || NameOf(FolderOf(parent)) != "API")
    return Refuse("složka " + ShellWord(folder) + " neleží přímo ve složce …/API/AddIns");
  if (!IsRealFolder(folder))
    return Refuse("složka " + ShellWord(folder) + " není skutečná složka");
  if (!aside && !IsRegularFile(folder + "/" + addinName + ".so") &&
      !IsRegularFile(folder + "/" + addinName + ".dylib") && !HoldsOnly(folder, program))
    return Refuse("ve složce " + ShellWord(folder) + " chybí knihovna doplňku " + addinName);
  return OwnFolder{folder, program, std::string()};
}

std::string CheckOwnFolderInHome(const std::string& ownFolder, const std::string& home) {
  const std::string expected = home + kAddinFolderInHome;
  if (ResolvedPath(expected) == ownFolder ||
      (NameOf(ownFolder) == kOwnFolderAside && ResolvedPath(FolderOf(expected)) == FolderOf(ownFolder)))
    return std::string();
  return "odinstalátor leží ve složce " + ShellWord(ownFolder) + ", ale podle proměnné HOME (" +
         ShellWord(home) + ") má ležet ve složce " + ShellWord(expected);
}

std::string FolderRootMustNotActIn(uid_t effectiveUser, const std::vector<std::string>& folders) {
  if (effectiveUser != 0)
    return std::string();
  for (const std::string& folder : folders) {
    struct stat info {};
    if (lstat(folder.c_str(), &info) == 0 && info.st_uid != 0)
      return folder;
  }
  return std::string();
}

} // namespace uninstaller
