// Test helpers: a fresh temporary folder per test and small file-tree builders.
#pragma once

#include <string>

// A fresh folder below TMPDIR (else /tmp); removed at the end unless the test failed, then kept and
// printed.
class TempFolder {
public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return m_path; }

private:
  std::string m_path;
};

// Writes text to path, creating the missing parent folders.
void WriteFile(const std::string& path, const std::string& text);
// The file's contents; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// True when anything, a dangling link included, is at path.
bool Exists(const std::string& path);
// Every entry below root, one sorted line each: relative path, type, and the size and contents of files
// or the target of links. Links are not followed.
std::string Listing(const std::string& root);
