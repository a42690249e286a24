#include "test_tree.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

TestTree::TestTree() {
  std::string pattern = (fs::temp_directory_path() / "orvandel-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data()))
    throw std::runtime_error("cannot make a temporary folder");
  m_root = buffer.data();
}

TestTree::~TestTree() {
  if (testing::Test::HasFailure()) {
    std::cerr << "test files kept in " << m_root << "\n";
    return;
  }
  std::error_code ignored;
  // Undo read-only folders that a test made, then remove everything.
  for (auto it = fs::recursive_directory_iterator(m_root, ignored); !ignored && it != fs::end(it);
       it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(m_root, ignored);
}

std::string TestTree::operator/(const std::string& relative) const {
  return m_root + "/" + relative;
}

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
  return status.st_mtim.tv_sec;
}

void SetModified(const std::string& path, std::time_t modified) {
  const timespec times[2] = {{modified, 0}, {modified, 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw std::runtime_error("cannot set the time of " + path);
}
