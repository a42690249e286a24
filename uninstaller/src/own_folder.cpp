#include "uninstall.h"

#include "file.h"
#include "messages.h"
#include "path.h"
#include "product_constants.h"
#include "removal.h"
#include "resolved_path.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace uninstaller {

namespace {

// True when folder (links followed) can be listed and holds no entry but the one named name.
bool HoldsOnly(const std::string& folder, const std::string& name) {
  std::vector<std::string> names;
  Failure unused;
  return ListFolder(folder, names, unused) &&
         std::all_of(names.begin(), names.end(), [&](const std::string& entry) { return entry == name; });
}

} // namespace

const char* const kAddinFolderInHome =
    "/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns/Orvandel";

bool LocateOwnFolder(const std::string& executablePath, OwnFolder& own, std::string& refusal) {
  const auto refuse = [&refusal](std::string reason) {
    refusal = std::move(reason);
    return false;
  };
  if (executablePath.empty())
    return refuse("cestu ke spuštěnému programu nelze zjistit");
  if (LstatType(executablePath) == EntryType::kLink)
    return refuse("program byl spuštěn přes symbolický odkaz " + ShellWord(executablePath));
  const std::string startedFolder = FolderOf(executablePath);
  if (LstatType(startedFolder) == EntryType::kLink)
    return refuse("složka " + ShellWord(startedFolder) + " je symbolický odkaz");

  const std::string resolved = ResolvedPath(executablePath);
  if (resolved.empty()) {
    // Taken before the message is built: its allocations may change errno.
    const int reason = errno;
    return refuse("cestu " + ShellWord(executablePath) +
                  " nelze ověřit: " + CzechReason(std::error_code(reason, std::generic_category())));
  }
  const std::string folder = FolderOf(resolved);
  const std::string program = NameOf(resolved);
  const std::string parent = FolderOf(folder);
  const std::string addinName = product::kLanguageAddinName;

  // The own folder renamed aside by a run that ended before it removed the program.
  const bool aside = NameOf(folder) == kOwnFolderAside && HoldsOnly(folder, program);
  if (NameOf(folder) != addinName && !aside)
    return refuse("složka " + ShellWord(folder) + " se nejmenuje " + addinName);
  if (NameOf(parent) != "AddIns" || NameOf(FolderOf(parent)) != "API")
    return refuse("složka " + ShellWord(folder) + " neleží přímo ve složce …/API/AddIns");
  if (LstatType(folder) != EntryType::kFolder)
    return refuse("složka " + ShellWord(folder) + " není skutečná složka");
  const auto hasLibrary = [&](const char* suffix) {
    return StatType(JoinPath(folder, addinName + suffix)) == EntryType::kRegularFile;
  };
  if (!aside && !hasLibrary(".so") && !hasLibrary(".dylib") && !HoldsOnly(folder, program))
    return refuse("ve složce " + ShellWord(folder) + " chybí knihovna doplňku " + addinName);
  own = OwnFolder{folder, program};
  return true;
}

bool CheckOwnFolderInHome(const std::string& ownFolder, const std::string& home, std::string& refusal) {
  const std::string expected = home + kAddinFolderInHome;
  if (ResolvedPath(expected) == ownFolder ||
      (NameOf(ownFolder) == kOwnFolderAside && ResolvedPath(FolderOf(expected)) == FolderOf(ownFolder)))
    return true;
  refusal = "odinstalátor leží ve složce " + ShellWord(ownFolder) + ", ale podle proměnné HOME (" +
            ShellWord(home) + ") má ležet ve složce " + ShellWord(expected);
  return false;
}

const char* const kAddinsInHome = "/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns";

namespace {

// path for the user, quoted so that it pastes into a shell as one word: below home as ~/"REST".
std::string QuotedBelowHome(const std::string& home, const std::string& path) {
  if (path.size() > home.size() + 1 && path.compare(0, home.size(), home) == 0 && path[home.size()] == '/')
    return "~/\"" + path.substr(home.size() + 1) + "\"";
  return "\"" + path + "\"";
}

} // namespace

bool OpenBelowHome(const std::string& home, const std::string& relative, uid_t effectiveUser,
                   StartFolder& folder, std::string& notRoots, std::string& problem) {
  StartFolder current = OpenStartFolder(home);
  const auto refuse = [&](int error) {
    problem = "složku " + QuotedBelowHome(home, current.path) +
              " nelze otevřít: " + CzechReason(std::error_code(error, std::generic_category())) +
              ".\nOvěřte, že ji smíte číst, a spusťte odinstalátor znovu";
    return false;
  };
  if (!current.fd.valid())
    return refuse(errno);
  std::string rest = relative;
  for (;;) {
    struct stat info {};
    if (fstat(current.fd.get(), &info) != 0)
      return refuse(errno);
    if (effectiveUser == 0 && info.st_uid != 0) {
      notRoots = current.path;
      return false;
    }
    while (!rest.empty() && rest.front() == '/')
      rest.erase(0, 1);
    if (rest.empty())
      break;
    const std::string::size_type slash = rest.find('/');
    const std::string name = rest.substr(0, slash);
    rest = slash == std::string::npos ? std::string() : rest.substr(slash);
    StartFolder next{current.path + "/" + name, UniqueFd(), 0};
    Failure failure;
    if (!removal::OpenFolderAt(current.fd.get(), name, next.path, next.fd, failure)) {
      const int error = failure.code.value();
      if (error == ENOENT) {
        folder = StartFolder{current.path + "/" + name + rest, UniqueFd(), ENOENT};
        return true;
      }
      current = std::move(next);
      if (error == ELOOP || error == ENOTDIR) {
        problem = QuotedBelowHome(home, current.path) +
                  " je symbolický odkaz nebo soubor, ne složka; odinstalátor cestou z domovské složky "
                  "žádný odkaz nenásleduje.\nDejte na jeho místo skutečnou složku a spusťte odinstalátor "
                  "znovu";
        return false;
      }
      return refuse(error);
    }
    current = std::move(next);
  }
  folder = std::move(current);
  return true;
}

bool CheckOwnFolderAt(const StartFolder& addins, const std::string& ownName, const std::string& ownFolder,
                      uid_t effectiveUser, std::string& notRoots, std::string& refusal) {
  struct stat reached {
  }, started{};
  if (!addins.fd.valid() || fstatat(addins.fd.get(), ownName.c_str(), &reached, AT_SYMLINK_NOFOLLOW) != 0 ||
      stat(ownFolder.c_str(), &started) != 0 || !S_ISDIR(reached.st_mode) ||
      reached.st_dev != started.st_dev || reached.st_ino != started.st_ino) {
    refusal = "odinstalátor leží ve složce \"" + ownFolder + "\", ale ta není složkou \"" +
              addins.Below(ownName) +
              "\" domovské složky (cesta k ní vede přes odkaz, nebo se mezitím změnila)";
    return false;
  }
  if (effectiveUser != 0)
    return true;
  struct stat guide {};
  if (reached.st_uid != 0)
    notRoots = addins.Below(ownName);
  else if (fstatat(addins.fd.get(), product::kGuideAddinName, &guide, AT_SYMLINK_NOFOLLOW) == 0 &&
           guide.st_uid != 0)
    notRoots = addins.Below(product::kGuideAddinName);
  return true;
}

} // namespace uninstaller
