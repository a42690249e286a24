// A fresh temporary folder per test: removed when the test passed, kept and printed when it failed.
#pragma once

#include <string>

// The running test's name, usable in a folder name ('/' of parameterised tests becomes '_').
std::string CurrentTestName();

// Owns a MakeTemporaryFolder (temporary_file.h) for the length of a test. When the test failed, the folder
// stays and "test files kept in <path>" goes to stderr; otherwise it is removed, read-only sub-folders
// included.
class TempFolder {
public:
  // prefix makes the folder recognisable, e.g. "orvandel-test-". Throws when no folder can be made.
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return m_path; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const;

private:
  std::string m_path;
};
