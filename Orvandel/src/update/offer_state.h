// What the version check found, kept for the new-version command that the user may click long after
// the check returned. Written by the check, read by the command; both run on the host's main thread.
#pragma once

#include <string>

// Installed package version (empty when unknown), offered version (or the no-newer-version answer)
// and the download identifier.
extern std::string localVersion;
extern std::string serverVersion;
extern std::string idServerVersion;
