#include "path.h"

std::string DirectoryOf(const std::string& path) {
  const auto separator = path.find_last_of("/\\");
  if (separator == std::string::npos)
    return std::string();
  return path.substr(0, separator);
}

std::string FolderOf(const std::string& path) {
  const auto separator = path.rfind('/');
  if (separator == std::string::npos)
    return ".";
  return separator == 0 ? "/" : path.substr(0, separator);
}

std::string NameOf(const std::string& path) {
  const auto separator = path.rfind('/');
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty())
    return name;
  const std::string trimmed = WithoutTrailingSlashes(folder);
  return trimmed == "/" ? "/" + name : trimmed + "/" + name;
}

PathSplit SplitLastName(const std::string& path) {
  std::string trimmed = path;
  while (!trimmed.empty() && trimmed.back() == '/')
    trimmed.pop_back();
  const auto slash = trimmed.rfind('/');
  if (slash == std::string::npos)
    return PathSplit{std::string(), trimmed};
  return PathSplit{trimmed.substr(0, slash), trimmed.substr(slash + 1)};
}
