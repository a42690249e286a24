#include "uninstall.h"

#include "product_constants.h"
#include "utilities.h"

#include <sys/stat.h>
#include <unistd.h>

namespace uninstaller {

namespace {

constexpr const char* kAddinFolder =
    "~/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns/Orvandel";

void WriteHelp(std::ostream& out) {
  out << "Pouziti: uninstaller [--dry-run] [--help]\n"
         "\n"
         "Odstrani soubory ceske lokalizace ze vsech sestaveni Fusion 360 ve slozce\n"
         "~/Library/Application Support/Autodesk/webdeploy/production/\n"
         "(z aktualni aplikace jen soubory, ktere balicek nainstaloval a ktere se od te doby\n"
         "nezmenily), doplnek pruvodce Miravelo a nakonec slozku doplnku Orvandel, ve ktere\n"
         "tento program lezi. Co zustane, vypise i s duvodem.\n"
         "Spoustejte jej primo z teto slozky:\n"
      << kAddinFolder
      << "/uninstaller\n"
         "\n"
         "  --dry-run  jen vypise, co by se odstranilo a co zustane; nic nezmeni\n"
         "  --help     vypise tento text\n"
         "\n"
         "Navratove hodnoty:\n"
         "  0  hotovo (nebo jen napoveda ci zkusebni beh)\n"
         "  1  chyba souboroveho systemu; co uz bylo odstraneno, zustava odstraneno a dalsi spusteni\n"
         "     dokonci, co zbyva\n"
         "  2  neznamy parametr\n"
         "  3  odmitnuto: program nelezi ve slozce doplnku Orvandel domovske slozky z HOME, nebo\n"
         "     bezi jako root (sudo) pro slozky jineho uzivatele; nic nebylo odstraneno\n"
         "  4  promenna HOME chybi, neni absolutni cestou nebo neoznacuje existujici slozku; nic\n"
         "     nebylo odstraneno\n";
}

// True when home names an existing folder (links followed).
bool IsFolder(const char* home) {
  struct stat info {};
  return stat(home, &info) == 0 && S_ISDIR(info.st_mode);
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
      err << "Neznamy parametr: " << argument << "\nNapovedu vypise: uninstaller --help\n";
      return kExitUsage;
    }
    mode = Mode::kDryRun;
  }

  // An empty or relative HOME would aim the cleanup at the system's /Library or at the working folder.
  if (!home || home[0] != '/') {
    err << (home && home[0] ? "Chyba: promenna prostredi HOME neobsahuje absolutni cestu.\n"
                            : "Chyba: promenna prostredi HOME neni nastavena.\n")
        << "Nic nebylo odstraneno.\n";
    return kExitNoHome;
  }
  if (!IsFolder(home)) {
    err << "Chyba: slozka " << home << " z promenne HOME neexistuje.\nNic nebylo odstraneno.\n";
    return kExitNoHome;
  }

  const OwnFolder own = LocateOwnFolder(executablePath);
  if (!own.refusal.empty()) {
    err << "Odinstalator nebyl spusten ze slozky doplnku Orvandel: " << own.refusal
        << ".\nNic nebylo odstraneno. Spustte jej primo z teto slozky (ne pres odkaz ani jeho kopii):\n"
        << kAddinFolder << "/uninstaller\n";
    return kExitWrongPlace;
  }

  const std::string notInHome = CheckOwnFolderInHome(own.path, home);
  if (!notInHome.empty()) {
    err << "Odinstalace odmitnuta: " << notInHome << ".\nNic nebylo odstraneno.\n";
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
  if (OpenBelowHome(home, kProductionInHome, user, places.production, notRoots, problem) &&
      OpenBelowHome(home, kAddinsInHome, user, places.addins, notRoots, problem))
    problem = CheckOwnFolderAt(places.addins, places.ownName, own.path, user, notRoots);
  if (!notRoots.empty()) {
    err << "Odinstalace odmitnuta: odinstalator bezi jako root (sudo), ale slozka " << notRoots
        << " patri jinemu uzivateli.\nSpustte jej jako sebe, bez sudo:\n  " << kAddinFolder
        << "/uninstaller\nNic nebylo odstraneno.\n";
    return kExitWrongPlace;
  }
  if (!problem.empty()) {
    err << "Odinstalace odmítnuta: " << problem << ".\nNic nebylo odstraněno.\n";
    return kExitWrongPlace;
  }
  return Uninstall(places, mode, out, err);
}

} // namespace uninstaller
