#include "resolved_path.h"

#include "unique_handles.h"

#include <cstdlib>

namespace uninstaller {

std::string ResolvedPath(const std::string& path) {
  const UniqueMalloc<char> resolved(realpath(path.c_str(), nullptr));
  return resolved ? std::string(resolved.get()) : std::string();
}

} // namespace uninstaller
