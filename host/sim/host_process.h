// The host process: runs the add-ins and the script commands; started (and restarted) by hostsim.
#pragma once

#include "options.h"

#include <hostsim/control.h>

namespace hostsim {

// Files in the control folder that hostsim and its host process share.
constexpr const char* kActivityFile = "activity"; // what the host process is doing right now
constexpr const char* kFinishedFile = "finished"; // written when the host process ends by itself
constexpr const char* kOpenLogFile = "open.log";  // records of the simulated browser opener
constexpr const char* kLongestFile = "longest";   // the longest call into an add-in so far (--timings)

// Exit statuses of hostsim and its host process.
enum ExitStatus {
  kExitOk = 0,
  kExitUsage = 1,
  kExitBadScript = 2,
  kExitLoadFailed = 3,
  kExitCrashed = 4,
  kExitWaitTimedOut = 5,
};

int RunHostProcess(const Options& options);

// Prints one transcript event as hostsim does (readable or JSON), flushed at once.
void PrintEvent(const TranscriptEvent& event, bool jsonl);

} // namespace hostsim
