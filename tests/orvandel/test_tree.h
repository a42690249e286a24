// A fresh temporary folder per test, removed when the test passed and kept (and named) when it failed,
// and small helpers to lay files out in it.
#pragma once

#include <ctime>
#include <string>

class TestTree {
public:
  TestTree();
  ~TestTree();
  TestTree(const TestTree&) = delete;
  TestTree& operator=(const TestTree&) = delete;

  // root + "/" + relative
  std::string operator/(const std::string& relative) const;
  const std::string& root() const { return m_root; }

private:
  std::string m_root;
};

// Writes content to path, creating missing parent folders; with modified > 0 sets the file's
// modification time to that many seconds after the epoch.
void WriteFile(const std::string& path, const std::string& content, std::time_t modified = 0);
// The whole file, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);
std::time_t ModifiedSeconds(const std::string& path);
void SetModified(const std::string& path, std::time_t modified);
