#include "messages.h"

#include "file.h"
#include "path.h"
#include "product_constants.h"

namespace uninstaller {

namespace {

// The name the language add-in saves a newer installer package under, in the user's Downloads.
constexpr const char* kDownloadedPackage = "Orvandel-installer.pkg";

} // namespace

std::string UninstallReason(const std::error_code& code) {
  // The uninstaller meets EEXIST only where rmdir finds a folder not empty (POSIX allows either code).
  if (code == std::errc::file_exists)
    return CzechReason(std::make_error_code(std::errc::directory_not_empty));
  return CzechReason(code);
}

std::string ShellWord(const std::string& path) {
  const bool home = path.compare(0, 2, "~/") == 0;
  const std::string rest = home ? path.substr(2) : path;
  std::string word = home ? "~/" : "";
  if (rest.find_first_of("$`\\\"!") == std::string::npos)
    return word + "\"" + rest + "\"";
  word += '\'';
  for (const char c : rest)
    word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + '\'';
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
    err << "Chyba: macOS nedovolil změnit soubor uvnitř aplikace Fusion 360: " << ShellWord(path)
        << "\nOd macOS 13 to Terminál smí až po povolení: Nastavení systému > Soukromí a zabezpečení > "
           "Správa aplikací, zapněte tam Terminál."
           "\nDalší soubory nebyly odstraněny. Po povolení spusťte odinstalátor znovu ze stejného "
           "místa; dokončí, co zbývá.\n";
    return;
  }
  err << "Chyba: " << failure.action << " " << ShellWord(path)
      << " se nezdařilo: " << (failure.detail.empty() ? UninstallReason(code) : failure.detail) << "\n";
  if (!removing)
    err << "Nic nebylo odstraněno.\n";
  else
    err << "Odinstalace nebyla dokončena; co už bylo odstraněno, zůstává odstraněno. Po odstranění "
           "příčiny spusťte odinstalátor znovu ze stejného místa; dokončí, co zbývá.\n";
}

void WriteNotes(std::ostream& out, const std::string& packageRoot, const std::string& downloads) {
  out << "Poznámka: jazyk aplikace Fusion 360 odinstalátor změnit nemůže. Je-li nastavena čeština, "
         "přepněte jej zpět ve Fusion 360: Preferences > General > Language.\n";
  // A note only for what is there: where the system cannot tell (no right to look), none.
  const auto there = [](const std::string& path) {
    const EntryType type = LstatType(path);
    return type != EntryType::kMissing && type != EntryType::kUnknown;
  };
  if (there(packageRoot))
    out << "Poznámka: datový balíček " << product::kPackageRoot
        << " zůstává; jeho odstranění vyžaduje práva správce. V Terminálu jej odstraní příkaz:\n"
           "  sudo rm -rf "
        << ShellWord(product::kPackageRoot) << "\n";
  if (!downloads.empty() && there(JoinPath(downloads, kDownloadedPackage)))
    out << "Poznámka: stažený instalační balíček ~/Downloads/" << kDownloadedPackage
        << " zůstává; je to váš soubor. Nepotřebujete-li jej, v Terminálu jej odstraní příkaz:\n  rm "
        << ShellWord(std::string("~/Downloads/") + kDownloadedPackage) << "\n";
}

} // namespace uninstaller
