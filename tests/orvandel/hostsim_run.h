// A hostsim run with --timings and --jsonl, read: its lines, its log, and how long the calls into the
// add-in held the main thread.
#pragma once

#include "process.h"

#include <string>
#include <vector>

struct HostsimRun {
  int exit = -1;
  std::string err;
  std::vector<std::string> lines; // JSON lines
  std::vector<std::string> log;   // every log line's message
  long long longestUs = -1;       // the longest call other than stop
  std::string longestWhat;
  std::vector<long long> stopUs; // each stop

  // The lines that hold text.
  int Count(const std::string& text) const;
  bool Printed(const std::string& text) const { return Count(text) > 0; }
};

HostsimRun ReadHostsimRun(const hostsim::ProgramResult& result);
