// The version check that runs at the first online notification after load.
#pragma once

#include <string>

// Installed package version, offered version (or the no-newer-version answer) and the download
// identifier; written by CheckNewVersion, read by the new-version command.
extern std::string localVersion;
extern std::string serverVersion;
extern std::string idServerVersion;

// Reads version.txt, asks the server and raises the new-version notice when due; true when raised.
bool CheckNewVersion();
