#include "utilities.h"

#include <dirent.h>

bool DirectoryExists(const std::string& path) {
  DIR* directory = opendir(path.c_str());
  if (!directory)
    return false;
  closedir(directory);
  return true;
}
