#include "uninstall.h"

#include "platform.h"
#include "product_constants.h"

#include <cstdlib>
#include <exception>
#include <iostream>

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return uninstaller::RunUninstaller(arguments, std::getenv("HOME"), ExecutablePath(),
                                       SystemPath(product::kPackageRoot), std::cout, std::cerr);
  } catch (const std::exception& error) {
    std::cerr << "Chyba: " << error.what() << "\nOdinstalace nebyla dokoncena.\n";
  } catch (...) {
    std::cerr << "Chyba: neocekavana vyjimka.\nOdinstalace nebyla dokoncena.\n";
  }
  return uninstaller::kExitFileSystemError;
}
