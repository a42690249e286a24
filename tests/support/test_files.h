// Small file helpers of the tests: whole-file writes and reads, modification times, and listings of
// folders and trees to compare before and after.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <map>
#include <string>
#include <vector>

// Writes content to path, replacing the file and creating missing parent folders (throws when they
// cannot be made); with modified > 0 sets the file's modification time to that many seconds after the
// epoch.
void WriteFile(const std::string& path, const std::string& content, std::time_t modified = 0);
// The whole file, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);
// The modification time in whole seconds; 0 when path cannot be examined.
std::time_t ModifiedSeconds(const std::string& path);
// Sets access and modification time; throws when it cannot.
void SetModified(const std::string& path, std::time_t modified);
// True when anything, a dangling link included, is at path.
bool Exists(const std::string& path);

// The value of the attribute MarkAsDownloaded writes on the file at path (HOSTSIM_QUARANTINE_ATTRIBUTE
// or the system's quarantine attribute), read through the platform layer; empty when it has none.
std::string QuarantineAttribute(const std::string& path);

// The names of the entries of folder, sorted.
std::vector<std::string> Entries(const std::string& folder);

// Every entry below root by its path relative to root: "dir" for a folder, "link <target>" for a
// symbolic link (not followed), "file <mode> <size> <hash of the content>" for anything else.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot Snapshot(const std::string& root);
// The snapshot of root as text, one sorted "<path> <description>" line per entry.
std::string Listing(const std::string& root);
// The paths in which two snapshots differ ("missing", "extra" or "changed" and the path, a line each),
// at most ten; empty when they are equal.
std::string Differences(const TreeSnapshot& expected, const TreeSnapshot& actual);

// The id of a process that has ended and been reaped: no process runs under it (until the system
// reuses it). -1 when no process can be started.
pid_t ReapedProcessId();
