#include "temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/uninstaller-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data()))
    throw std::runtime_error("mkdtemp failed for " + pattern);
  m_path = buffer.data();
}

TempFolder::~TempFolder() {
  if (::testing::Test::HasFailure()) {
    std::cerr << "test files kept in " << m_path << '\n';
    return;
  }
  std::error_code ignored;
  fs::remove_all(m_path, ignored);
}

void WriteFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::symlink_status(path, ignored).type() != fs::file_type::not_found;
}

std::string Listing(const std::string& root) {
  std::set<std::string> lines;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).string();
    if (entry.is_symlink())
      lines.insert(name + " -> " + fs::read_symlink(entry.path()).string());
    else if (entry.is_directory())
      lines.insert(name + "/");
    else
      lines.insert(name + " " + std::to_string(entry.file_size()) + " " +
                   std::to_string(std::hash<std::string>()(ReadFile(entry.path().string()))));
  }
  std::ostringstream text;
  for (const auto& line : lines)
    text << line << '\n';
  return text.str();
}
