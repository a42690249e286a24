#pragma once

#include <string>

namespace uninstaller {

// path with every link, "." and ".." resolved; empty when it cannot be resolved (errno tells why).
std::string ResolvedPath(const std::string& path);

} // namespace uninstaller
