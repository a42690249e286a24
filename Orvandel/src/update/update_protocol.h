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

// text without one line end (LF or CR LF) at its end; any other text as it is. Servers end their
// answers with one or leave it out; a second line end, or a lone CR, stays.
std::string WithoutLineEnd(const std::string& text);

// What a version-query answer says, read without one line end at its end. Only the no-newer-version
// answer (with either line end or none) offers nothing; any other text is an offer whose fields are
// split at '|' by NthOccurrence: id between the 1st and 2nd, version between the 2nd and 3rd; a missing
// separator stretches a field to the answer's end (or takes the whole answer).
struct VersionAnswer {
  bool offersNewer = false;
  std::string id;      // download identifier; empty when nothing is offered
  std::string version; // offered version; the whole answer as it came when nothing is offered
};
VersionAnswer SplitVersionAnswer(const std::string& answer);

// Longest offered version accepted.
constexpr std::size_t kMaxVersionLength = 32;
// True for a version the user may be shown: numbers separated by single dots ("2.5", "10.0.1"), at
// most kMaxVersionLength characters. Anything else the server sends is not a version.
bool IsOfferedVersion(const std::string& version);
// Orders two versions of numbers separated by single dots number by number, each read as a digit
// string of any length ("02" equals "2", "1.10" is after "1.9"); a missing number counts as 0 ("2.5"
// equals "2.5.0"). Negative, 0 or positive as left is before, equal to or after right. Only for texts
// that IsVersionNumber accepts.
int CompareVersions(const std::string& left, const std::string& right);
// Numbers separated by single dots, of any length.
bool IsVersionNumber(const std::string& version);

// The package address in a link answer read without one line end at its end: from just after the
// first "URL=" up to and including the first ".pkg" after it; the rest after "URL=" when it holds no
// ".pkg"; the whole answer without "URL=".
std::string PackageAddress(const std::string& linkAnswer);

// True for "https://" and a server, and for an address without a scheme that begins with a server
// ("host/a.pkg", "host:8443/a.pkg"), which the transfer takes as https. False for an address that holds
// a blank or a control character, one that names no server (empty, relative "/download/a.pkg" or
// "./a.pkg", scheme-relative "//host/a.pkg", "https:///a.pkg"), one with user information before its
// server, and one of a scheme without "//" ("mailto:a@b.c", "data:...", "javascript:..."). Other schemes
// with "//" ("http://", "ftp://") are left to the transfer, which refuses them as not https.
bool IsUsablePackageAddress(const std::string& address);

// True when the file begins as a flat installer package does, with the bytes "xar!".
bool IsFlatPackageStart(const std::string& firstBytes);

// Server-controlled text made safe for one log line, read as UTF-8: line feed and carriage return
// become \n and \r, every other control character (and DEL) and every byte that is not part of a
// valid UTF-8 character \xNN, the C1 controls (U+0080 to U+009F), the line and paragraph separators
// (U+2028, U+2029) and the marks and controls of writing direction (U+061C, U+200E, U+200F, U+202A to
// U+202E, U+2066 to U+2069) \uNNNN, all with lower-case hex digits; the rest stays as it is.
std::string EscapeForLog(const std::string& text);
// How much of one piece of server text a log line quotes.
constexpr std::size_t kLoggedPieceBytes = 200;
// text as a log line quotes it: its first kLoggedPieceBytes bytes at most, cut before a character,
// escaped (EscapeForLog); after a cut "… (N bytes)" with the whole piece's length.
std::string QuoteForLog(const std::string& text);
