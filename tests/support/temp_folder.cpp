#include "temp_folder.h"

#include "temporary_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? info->name() : "none";
  for (char& character : name) {
    if (character == '/')
      character = '_';
  }
  return name;
}

TempFolder::TempFolder(const std::string& prefix) : m_path(MakeTemporaryFolder(prefix)) {
  if (m_path.empty())
    throw std::runtime_error("cannot make a temporary folder for " + prefix);
}

TempFolder::~TempFolder() {
  if (::testing::Test::HasFailure()) {
    std::cerr << "test files kept in " << m_path << "\n";
    return;
  }
  std::error_code ignored;
  // Undo read-only folders that a test made, then remove everything. Links are not followed.
  for (auto it = fs::recursive_directory_iterator(m_path, ignored); !ignored && it != fs::end(it);
       it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(m_path, ignored);
}

std::string TempFolder::operator/(const std::string& relative) const {
  return m_path + "/" + relative;
}
