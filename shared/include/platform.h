// The platform layer: the only code that differs between macOS and the simulated Mac of hostsim.
// platform_posix.cpp holds what both share; platform_darwin.cpp and platform_linux.cpp what differs
// (the build compiles one of the two).
//
// Simulation builds (HOSTSIM defined) honour these environment variables, all set by hostsim:
//   HOSTSIM_MAC_ROOT         folder that stands for the Mac's root; system folders such as
//                            /Library/Vornid are looked up below it
//   HOSTSIM_OPENER           program that opens an address in the simulated browser (else the system's)
//   HOSTSIM_SERVER_BASE_URL  origin of the update server, instead of the product's
//   HOSTSIM_CA_FILE          CA bundle that verifies the update server, instead of the system's
//   HOSTSIM_FETCH_LIMITS     shorter limits for the update client's transfers, for tests that drive
//                            hostsim against a misbehaving server (update_client.h reads them)
//   HOSTSIM_PKGUTIL          program that stands for /usr/sbin/pkgutil: takes the same arguments and
//                            prints the same signature report; unset on Linux, no package can be checked
//   HOSTSIM_QUARANTINE_ATTRIBUTE  name of the extended attribute that stands for the quarantine
//                            attribute, instead of the system's (tests name one the system refuses)
// Release builds compile none of this in and use the constants of product_constants.h.
//
// Errors: each function here that returns an int returns 0 for success or the errno value of the
// failure, never -1 with errno set, so that nothing between the call and its caller can change the
// number; its comment names only the values a caller branches on. The caller reports the number with
// Fail (failure.h). The thin wrappers of temporary_file.h keep the same rule.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <string>

// --- The running program and the system ------------------------------------------------------

// Path of the running process's main executable as it was started (links not resolved); empty when
// the system cannot tell.
std::string ExecutablePath();

// The path of a system-wide folder or file given as on the Mac ("/Library/Vornid").
std::string SystemPath(const std::string& macPath);

// The user's home folder: HOME when set and not empty, else the user database; empty when neither
// knows it.
std::string HomeFolder();

// Opens a web address in the default browser: the opener gets the address as its one argument and is
// started directly, never through a shell. Waits for the opener; true when it exited with status 0.
bool OpenInBrowser(const std::string& address);

// Origin of the maker's update server, and the CA bundle to verify it with (empty: libcurl's default).
std::string ServerBaseUrl();
std::string ServerCaFile();
// The text of HOSTSIM_FETCH_LIMITS; empty in release builds.
std::string FetchLimitsOverride();

// True while the process runs; false when there is none, or when it has ended and only waits to be
// reaped (a zombie). A process that cannot be looked into counts as running.
bool ProcessIsRunning(pid_t pid);

// --- Files ------------------------------------------------------------------------------------

// Modification and access time of a file status, to the nanosecond.
timespec ModificationTime(const struct stat& status);
timespec AccessTime(const struct stat& status);

// Creates name in the folder open as folderFd as a clone of the open regular file sourceFd: a copy
// that shares the source's storage until either changes. EEXIST when name exists, ENOTSUP or EXDEV when
// no clone can be made there (the caller then copies the data).
int CloneFileAt(int sourceFd, int folderFd, const char* name);

// Copies the data from in's position to its end to out, in the kernel where it can.
int CopyFileData(int in, int out);

// Brings what was written to fd onto the storage itself, past the drive's own cache where the system
// tells the two apart.
int FlushToStorage(int fd);

// --- Downloads ----------------------------------------------------------------------------------

// The quarantine attribute's value as browsers write it: "0081;<seconds since 1970, 8 hex digits>;
// <agent>;" (downloaded from the internet; no event identifier).
std::string QuarantineValue(std::time_t when, const std::string& agent);
// Marks the file at path as downloaded from the internet by agent, so that the system checks its
// signature and notarization when the user opens it: the extended attribute com.apple.quarantine on
// macOS, user.com.apple.quarantine on Linux. ENOTSUP or EOPNOTSUPP where the file system keeps no
// extended attributes.
int MarkAsDownloaded(const std::string& path, const std::string& agent);

// What a program printed on its standard output and how it ended.
struct ProgramReport {
  bool started = false;
  int exitStatus = -1;    // -1 when it did not exit normally
  bool timedOut = false;  // killed when it ran past its time limit
  bool cancelled = false; // killed when the caller's stop request came
  std::string output;     // the first 64 KiB of standard output
};
// Runs `pkgutil --check-signature path` without a shell and collects its report (standard error is
// discarded): /usr/sbin/pkgutil on macOS; Linux has none (not started) unless HOSTSIM_PKGUTIL names one.
// The program runs in a process group of its own; when it has not ended within limit, or as soon as
// stopRequested() returns true (asked about ten times a second), the whole group is killed and reaped
// before this returns.
ProgramReport CheckPackageSignature(const std::string& path, std::chrono::milliseconds limit,
                                    const std::function<bool()>& stopRequested);
