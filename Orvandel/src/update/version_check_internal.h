// The version check's parts, with the add-in folder and the server origin as parameters.
#pragma once

#include <cstdint>
#include <string>

// The query values as they go into a URL: bytes that a URL may carry in a query value stay as they
// are, every other byte becomes %XX. Plain versions and ids ("2.5", "17") come back unchanged.
std::string EncodeQueryValue(const std::string& value);

// Position of the n-th occurrence of pattern in text, -1 when there are fewer. The search starts at
// index 1, so an occurrence at index 0 never counts; n = 0 gives 0.
std::int32_t NthOccurrence(const std::string& text, const std::string& pattern, int n);

// What a version-query answer says. Only the exact no-newer-version answer offers nothing; any other
// text is an offer whose fields are split at '|' by NthOccurrence: id between the 1st and 2nd, version
// between the 2nd and 3rd; a missing separator stretches a field to the answer's end (or takes the
// whole answer).
struct VersionAnswer {
  bool offersNewer = false;
  std::string id;      // download identifier; empty when nothing is offered
  std::string version; // offered version; the answer itself when nothing is offered
};
VersionAnswer SplitVersionAnswer(const std::string& answer);

// The version held by the version file at path: its last line less the line's first character,
// nothing trimmed. Empty when the file is missing or unreadable; an empty last line gives empty.
std::string ReadLocalVersion(const std::string& path);
// "<add-in folder>/version.txt"; empty when the add-in folder is unknown.
std::string LocalVersionFile();
std::string GetLocalVersion();

// The whole check against the given version file and server origin (CheckNewVersion passes the
// add-in's own file and ServerBaseUrl()).
bool CheckNewVersionAt(const std::string& versionFile, const std::string& serverBaseUrl);

// The version query URL for an installed version.
std::string VersionQueryUrl(const std::string& serverBaseUrl, const std::string& version);
