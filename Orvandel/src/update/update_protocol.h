// The conversation with the maker's web server as text: the queries sent and the answers read. Pure:
// no host, no libcurl, no file; the fuzz targets link this file alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The server's whole version-query answer when the installed version is the newest.
constexpr const char* kNoNewerVersionAnswer = "Zandrelmac\n";

// The query values as they go into a URL: bytes that a URL may carry in a query value stay as they
// are, every other byte becomes %XX. Plain versions and ids ("2.5", "17") come back unchanged.
std::string EncodeQueryValue(const std::string& value);

// The version query URL for an installed version.
std::string VersionQueryUrl(const std::string& serverBaseUrl, const std::string& version);
// The download-link query URL for a download identifier.
std::string DownloadLinkUrl(const std::string& serverBaseUrl, const std::string& id);

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

// Longest offered version accepted.
constexpr std::size_t kMaxVersionLength = 32;
// True for a version the user may be shown: numbers separated by single dots ("2.5", "10.0.1"), at
// most kMaxVersionLength characters. Anything else the server sends is not a version.
bool IsOfferedVersion(const std::string& version);

// The package address in a link answer: from just after the first "URL=" up to and including the
// first ".pkg" after it; the rest after "URL=" when it holds no ".pkg"; the whole answer without
// "URL=".
std::string PackageAddress(const std::string& linkAnswer);

// False for an address that holds a blank or a control character, and for an https address (or one
// without a scheme, which is taken as https) that names no server: empty, relative
// ("/download/a.pkg", "./a.pkg"), scheme-relative ("//host/a.pkg") or with an empty host
// ("https:///a.pkg"). Other schemes are left to the transfer, which refuses them as not https.
bool IsUsablePackageAddress(const std::string& address);

// True when the file begins as a flat installer package does, with the bytes "xar!".
bool IsFlatPackageStart(const std::string& firstBytes);

// Server-controlled text made safe for one log line: line feed and carriage return become \n and \r,
// every other control character (and DEL) \xNN with lower-case hex digits; the rest stays as it is.
std::string EscapeForLog(const std::string& text);
// text cut to at most limit bytes at a UTF-8 character boundary, with "..." after a cut: for a log
// line that quotes what a server sent.
std::string ShortenedForLog(const std::string& text, std::size_t limit);
