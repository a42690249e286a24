#include "platform.h"
#include "utilities.h"

std::string DirectoryOf(const std::string& path) {
  const auto separator = path.find_last_of("/\\");
  if (separator == std::string::npos)
    return std::string();
  return path.substr(0, separator);
}

std::string FolderOf(const std::string& path) {
  if (path.find('/') == std::string::npos)
    return ".";
  const std::string folder = DirectoryOf(path);
  return folder.empty() ? "/" : folder;
}

std::string NameOf(const std::string& path) {
  const auto separator = path.find_last_of('/');
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string GetExecutableDirectory() {
  return DirectoryOf(ExecutablePath());
}
