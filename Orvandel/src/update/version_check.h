// The version check that runs at the first online notification after load.
#pragma once

#include "http_fetch.h"

#include <string>

// Logs the check's start and leaves the version file and the server to a worker of the bridge, whose
// result comes back to the main thread (FinishVersionCheck). False when the worker cannot start.
bool CheckNewVersion();
// The query against the given version file and server origin on a worker of the bridge;
// FinishVersionCheck runs with its result on the main thread when it ends, unless the bridge's workers
// were stopped first. False while a check runs, or when the host refuses the custom event or no thread
// can be made. Main thread only.
bool StartVersionCheck(const std::string& versionFile, const std::string& serverBaseUrl);

// The check in its three parts. BeginVersionCheck and FinishVersionCheck call the host and belong on
// its main thread; QueryVersion calls no host function and runs on the worker. FinishVersionCheck writes
// the offer state, logs what the query found, raises the notice when due and returns whether it did; an
// offer whose version is no version (IsOfferedVersion) counts as a failed query and offers nothing, and
// one that is not newer than the installed version (CompareVersions) offers nothing either. An installed
// version that is no version number (a CR at its end aside) cannot be compared: the offer stands.
struct VersionQuery {
  std::string localVersion; // empty: the version file is missing, unreadable or names no version
  bool asked = false;       // the server was asked (only with a local version)
  TextFetch answer;
};
void BeginVersionCheck();
VersionQuery QueryVersion(const std::string& versionFile, const std::string& serverBaseUrl,
                          const TransferProgress& progress = nullptr);
bool FinishVersionCheck(const VersionQuery& query);

// The version held by the version file at path: its last line less the line's first character,
// nothing trimmed. Empty when the file is missing, unreadable or over 64 KiB; an empty last line gives empty.
std::string ReadLocalVersion(const std::string& path);
// "<add-in folder>/version.txt"; empty when the add-in folder is unknown.
std::string LocalVersionFile();
