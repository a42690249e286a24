#include "utilities.h"

#include <dirent.h>

#include <memory>

namespace {

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};

} // namespace

bool DirectoryExists(const std::string& path) {
  return std::unique_ptr<DIR, DirectoryCloser>(opendir(path.c_str())) != nullptr;
}
