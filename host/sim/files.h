// Whole-file reads and writes of hostsim's own small files (preferences, control files, scripts).
#pragma once

#include <string>

namespace hostsim {

// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file with content; a failure is not reported (the files are hostsim's bookkeeping).
void WriteFile(const std::string& path, const std::string& content);

} // namespace hostsim
