#include "uninstall.h"

#include "file.h"
#include "messages.h"
#include "package_layout.h"
#include "path.h"

#include <unistd.h>

namespace uninstaller {

namespace {

// What a user with no usable HOME does next: Terminal under one's own account sets it.
constexpr const char* kFromOwnAccount =
    "Spusťte odinstalátor v Terminálu pod svým účtem, bez sudo a bez změny proměnné HOME.\n";

// The program where the package places it, as the user types it into Terminal.
constexpr const char* kProgram =
    "~/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns/Orvandel/uninstaller";

void WriteHelp(std::ostream& out) {
  out << "Použití: uninstaller [--dry-run] [--help]\n"
         "\n"
         "Odstraní soubory české lokalizace ze všech sestavení aplikace Fusion 360 ve složce\n"
      << ShellWord(std::string("~") + packagelayout::kProductionInHome)
      << "\n"
         "(z aktuální aplikace jen soubory, které balíček nainstaloval a které se od té doby\n"
         "nezměnily), doplněk průvodce Miravelo a nakonec složku doplňku Orvandel, ve které\n"
         "tento program leží. Co zůstane, vypíše i s důvodem.\n"
         "Spouštějte jej v Terminálu přímo z této složky, tímto příkazem:\n  "
      << ShellWord(kProgram)
      << "\n"
         "\n"
         "  --dry-run  jen vypíše, co by se odstranilo a co zůstane; nic nezmění\n"
         "  --help     vypíše tento text\n"
         "\n"
         "Návratové hodnoty:\n"
         "  0  hotovo (nebo jen nápověda či zkušební běh)\n"
         "  1  chyba souborového systému; co už bylo odstraněno, zůstává odstraněno a další spuštění\n"
         "     dokončí, co zbývá\n"
         "  2  neznámý parametr\n"
         "  3  odmítnuto: program neleží ve složce doplňku Orvandel v domovské složce podle proměnné\n"
         "     HOME, nebo běží jako root (sudo) a složka patří jinému uživateli; nic nebylo odstraněno\n"
         "  4  proměnná HOME chybí, neobsahuje absolutní cestu nebo neoznačuje existující složku; nic\n"
         "     nebylo odstraněno\n";
}

} // namespace

int RunUninstaller(const std::vector<std::string>& arguments, const char* home,
                   const std::string& executablePath, const std::string& packageRoot, std::ostream& out,
                   std::ostream& err) {
  Mode mode = Mode::kRemove;
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h") {
      WriteHelp(out);
      return kExitSuccess;
    }
    if (argument != "--dry-run") {
      err << "Neznámý parametr: " << argument << "\nNápovědu vypíše příkaz:\n  " << ShellWord(kProgram)
          << " --help\n";
      return kExitUsage;
    }
    mode = Mode::kDryRun;
  }

  // An empty or relative HOME would aim the cleanup at the system's /Library or at the working folder.
  if (!home || home[0] != '/') {
    err << (home && home[0] ? "Chyba: proměnná prostředí HOME neobsahuje absolutní cestu.\n"
                            : "Chyba: proměnná prostředí HOME není nastavena.\n")
        << "Nic nebylo odstraněno. " << kFromOwnAccount;
    return kExitNoHome;
  }
  if (StatType(home) != EntryType::kFolder) {
    err << "Chyba: složka " << ShellWord(home) << " z proměnné HOME neexistuje.\nNic nebylo odstraněno. "
        << kFromOwnAccount;
    return kExitNoHome;
  }

  OwnFolder own;
  std::string refusal;
  if (!LocateOwnFolder(executablePath, own, refusal)) {
    err << "Odinstalátor nebyl spuštěn ze složky doplňku Orvandel: " << refusal
        << ".\nNic nebylo odstraněno. Spusťte jej přímo z této složky (ne přes odkaz ani z kopie):\n  "
        << ShellWord(kProgram) << "\n";
    return kExitWrongPlace;
  }

  if (!CheckOwnFolderInHome(own.path, home, refusal)) {
    err << "Odinstalace odmítnuta: " << refusal
        << ".\nNic nebylo odstraněno. Spusťte jej bez sudo, pod účtem uživatele, který balíček "
           "nainstaloval:\n  "
        << ShellWord(kProgram) << "\n";
    return kExitWrongPlace;
  }

  // Every folder from HOME down is opened without following a link and kept open for the whole run; run
  // as root, each must be root's.
  const uid_t user = geteuid();
  Places places;
  places.ownName = NameOf(own.path);
  places.program = own.program;
  places.packageRoot = packageRoot;
  places.downloads = std::string(home) + "/Downloads";
  std::string notRoots, problem;
  const bool reached =
      OpenBelowHome(home, packagelayout::kProductionInHome, user, places.production, notRoots, problem) &&
      OpenBelowHome(home, kAddinsInHome, user, places.addins, notRoots, problem) &&
      CheckOwnFolderAt(places.addins, places.ownName, own.path, user, notRoots, problem);
  if (!notRoots.empty()) {
    err << "Odinstalace odmítnuta: odinstalátor běží jako root (sudo), ale složka " << ShellWord(notRoots)
        << " patří jinému uživateli.\nNic nebylo odstraněno. Spusťte jej pod svým účtem, bez sudo:\n  "
        << ShellWord(kProgram) << "\n";
    return kExitWrongPlace;
  }
  if (!reached) {
    err << "Odinstalace odmítnuta: " << problem << ".\nNic nebylo odstraněno.\n";
    return kExitWrongPlace;
  }
  return Uninstall(places, mode, out, err);
}

} // namespace uninstaller
