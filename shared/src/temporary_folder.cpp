#include "temporary_file.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include <stdlib.h>

std::string TemporaryFolderBase() {
  const char* base = std::getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

std::string MakeTemporaryFolder(const std::string& prefix) {
  const std::string pattern = TemporaryFolderBase() + "/" + prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data()))
    return std::string();
  return buffer.data();
}
