// The version check that runs at the first online notification after load.
#pragma once

#include <string>

// Reads version.txt, asks the server and raises the new-version notice when due; true when raised.
bool CheckNewVersion();

// The whole check against the given version file and server origin (CheckNewVersion passes the
// add-in's own file and ServerBaseUrl()).
bool CheckNewVersionAt(const std::string& versionFile, const std::string& serverBaseUrl);

// The version held by the version file at path: its last line less the line's first character,
// nothing trimmed. Empty when the file is missing or unreadable; an empty last line gives empty.
std::string ReadLocalVersion(const std::string& path);
// "<add-in folder>/version.txt"; empty when the add-in folder is unknown.
std::string LocalVersionFile();
std::string GetLocalVersion();
