#include "platform.h"
#include "utilities.h"

std::string GetExecutableDirectory() {
  return DirectoryOf(ExecutablePath());
}
