#include "test_files.h"

#include "platform.h"
#include "platform_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& content, std::time_t modified) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  if (modified > 0)
    SetModified(path, modified);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return "<missing>";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::time_t ModifiedSeconds(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0)
    return 0;
  return ModificationTime(status).tv_sec;
}

void SetModified(const std::string& path, std::time_t modified) {
  const timespec times[2] = {{modified, 0}, {modified, 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw std::runtime_error("cannot set the time of " + path);
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::symlink_status(path, ignored).type() != fs::file_type::not_found;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TreeSnapshot Snapshot(const std::string& root) {
  TreeSnapshot entries;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      entries[relative] = "link " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      entries[relative] = "dir";
    } else {
      const std::string content = ReadFile(entry.path().string());
      struct stat status {};
      stat(entry.path().c_str(), &status);
      entries[relative] = "file " + std::to_string(status.st_mode & 07777) + " " +
                          std::to_string(content.size()) + " " +
                          std::to_string(std::hash<std::string>()(content));
    }
  }
  return entries;
}

std::string Listing(const std::string& root) {
  std::ostringstream text;
  for (const auto& [path, description] : Snapshot(root))
    text << path << ' ' << description << '\n';
  return text.str();
}

std::string Differences(const TreeSnapshot& expected, const TreeSnapshot& actual) {
  std::string report;
  int shown = 0;
  auto note = [&](const std::string& what, const std::string& path) {
    if (shown++ < 10)
      report += what + " " + path + "\n";
  };
  for (const auto& [path, description] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end())
      note("missing", path);
    else if (found->second != description)
      note("changed", path);
  }
  for (const auto& entry : actual) {
    if (expected.count(entry.first) == 0)
      note("extra", entry.first);
  }
  return report;
}

pid_t ReapedProcessId() {
  const pid_t child = fork();
  if (child == 0)
    _exit(0);
  if (child < 0 || waitpid(child, nullptr, 0) != child)
    return -1;
  return child;
}

std::string QuarantineAttribute(const std::string& path) {
  const char* name = std::getenv("HOSTSIM_QUARANTINE_ATTRIBUTE");
  return ExtendedAttribute(path, name && *name ? name : QuarantineAttributeName());
}
