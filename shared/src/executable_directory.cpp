#include "platform.h"
#include "utilities.h"

std::string DirectoryOf(const std::string& path) {
  const auto separator = path.find_last_of("/\\");
  if (separator == std::string::npos)
    return std::string();
  return path.substr(0, separator);
}

std::string GetExecutableDirectory() {
  return DirectoryOf(ExecutablePath());
}
