#include "uninstall.h"

#include "platform.h"
#include "product_constants.h"

#include <cstdlib>
#include <exception>
#include <iostream>

namespace {

constexpr const char* kAgain = "Spusťte odinstalátor znovu ze stejného místa; dokončí, co zbývá.\n";

} // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return uninstaller::RunUninstaller(arguments, std::getenv("HOME"), ExecutablePath(),
                                       SystemPath(product::kPackageRoot), std::cout, std::cerr);
  } catch (const std::exception& error) {
    std::cerr << "Chyba: " << error.what() << "\nOdinstalace nebyla dokončena. " << kAgain;
  } catch (...) {
    std::cerr << "Chyba: nastala neočekávaná chyba.\nOdinstalace nebyla dokončena. " << kAgain;
  }
  return uninstaller::kExitFileSystemError;
}
