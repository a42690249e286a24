#include "unique_handles.h"
#include "utilities.h"

bool DirectoryExists(const std::string& path) {
  return UniqueDir(opendir(path.c_str())) != nullptr;
}
