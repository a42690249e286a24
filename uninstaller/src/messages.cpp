#include "messages.h"

#include "product_constants.h"

#include <cerrno>
#include <sys/stat.h>

namespace uninstaller {

namespace {

// The name the language add-in saves a newer installer package under, in the user's Downloads.
constexpr const char* kDownloadedPackage = "Orvandel-installer.pkg";

} // namespace

std::string CzechReason(const std::error_code& code) {
  if (code.category() == std::generic_category() || code.category() == std::system_category()) {
    switch (code.value()) {
    case EACCES:
    case EPERM:
      return "pristup byl odepren";
    case ENOENT:
      return "soubor nebo slozka neexistuje";
    case ENOTEMPTY:
    case EEXIST:
      return "slozka neni prazdna";
    case ENOTDIR:
      return "cast cesty neni slozka";
    case EROFS:
      return "disk je jen pro cteni";
    case EBUSY:
      return "soubor nebo slozka se prave pouziva";
    case EIO:
      return "chyba cteni nebo zapisu na disku";
    default:
      break;
    }
  }
  return code.message();
}

bool IsInsideAppBundle(const std::string& path) {
  for (std::string::size_type found = path.find(".app/"); found != std::string::npos;
       found = path.find(".app/", found + 1)) {
    const auto nameStart = path.rfind('/', found);
    if (nameStart != std::string::npos && found > nameStart + 1)
      return true;
  }
  return false;
}

void WriteFailure(std::ostream& err, const Failure& failure, bool removing) {
  const std::string& path = failure.path;
  const std::error_code& code = failure.code;
  if (removing && code == std::errc::operation_not_permitted && IsInsideAppBundle(path)) {
    err << "Chyba: macOS nedovolil zmenit soubor uvnitr aplikace Fusion 360: " << path
        << "\nOd macOS 13 to Terminal smi az po povoleni: Nastaveni systemu > Soukromi a zabezpeceni > "
           "Sprava aplikaci, zapnete tam Terminal."
           "\nDalsi soubory nebyly odstraneny. Po povoleni spustte odinstalator znovu ze stejneho "
           "mista; dokonci, co zbyva.\n";
    return;
  }
  err << "Chyba: " << failure.action << " \"" << path
      << "\" se nezdarilo: " << (failure.detail.empty() ? CzechReason(code) : failure.detail) << "\n";
  if (!removing)
    err << "Nic nebylo odstraneno.\n";
  else
    err << "Odinstalace nebyla dokoncena; co uz bylo odstraneno, zustava odstraneno. Po odstraneni "
           "priciny spustte odinstalator znovu ze stejneho mista; dokonci, co zbyva.\n";
}

void WriteNotes(std::ostream& out, const std::string& packageRoot, const std::string& downloads) {
  out << "Poznamka: jazyk Fusion 360 odinstalator zmenit nemuze. Je-li nastavena cestina, prepnete jej "
         "zpet ve Fusion 360: Preferences > General > Language.\n";
  struct stat info {};
  if (lstat(packageRoot.c_str(), &info) == 0)
    out << "Poznamka: datovy balicek " << product::kPackageRoot
        << " zustava; jeho odstraneni vyzaduje spravce. V Terminalu jej odstrani prikaz:\n  sudo rm -rf "
        << product::kPackageRoot << "\n";
  if (!downloads.empty() && lstat((downloads + "/" + kDownloadedPackage).c_str(), &info) == 0)
    out << "Poznamka: stazeny instalacni balicek ~/Downloads/" << kDownloadedPackage
        << " zustava; je to vas soubor. Nepotrebujete-li jej, v Terminalu jej odstrani prikaz:\n  rm "
           "~/Downloads/"
        << kDownloadedPackage << "\n";
}

} // namespace uninstaller
