// Child processes of hostsim: programs run for the script's `run`, and the simulated browser opener.
#pragma once

#include <string>
#include <vector>

namespace hostsim {

struct ProgramResult {
  bool started = false;
  int exitStatus = -1; // 128 + signal number when a signal ended it
  std::string out;
  std::string err;
  std::string error; // why it did not start
};

// Runs argv[0] (looked up in PATH when it holds no '/') with the current environment and stdin from
// /dev/null, and collects its output.
ProgramResult RunProgram(const std::vector<std::string>& argv);

// The opener side: appends one record of the arguments it received to the file at logPath.
bool AppendOpenRecord(const std::string& logPath, const std::vector<std::string>& args);
// The host side: the records appended since *offset, which advances past them.
std::vector<std::vector<std::string>> ReadOpenRecords(const std::string& logPath, long long* offset);

} // namespace hostsim
