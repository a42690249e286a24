// HTTPS GET requests to the maker's web server through the libcurl easy interface. Every request is
// one blocking transfer with its own handle, header list and sink; nothing is kept between requests.
#pragma once

#include "temporary_file.h"
#include "unique_handles.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// The two header lines of every request, in this order, exactly as the server expects them.
constexpr const char* HEADER_ACCEPT = "Accept:*/*";
constexpr const char* HEADER_USER_AGENT =
    "User-Agent:Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:107.0) Gecko/20100101 Firefox/107.0";

// Bounds of every request. One process-wide set; tests shorten it with ScopedFetchLimits.
struct FetchLimits {
  long connectTimeoutMs = 10000; // name resolution, TCP and TLS handshake together
  long stallSeconds = 30;        // a fetch that receives no byte of its answer for this long is ended
  long textTotalMs = 60000;      // whole text fetch, redirects included
  long maxRedirects = 10;
  std::size_t textMaxBytes = 1024 * 1024; // a longer text answer ends the transfer
  // A file fetch ends when fewer than fileMinBytesPerSecond x fileSlowSeconds bytes arrive in any
  // window of fileSlowSeconds, however they are bunched (measured here: libcurl's low-speed check
  // looks at its last few seconds alone, which a burst now and then resets), or when its decoded
  // bytes (what the write function is given) pass fileMaxBytes.
  long fileMinBytesPerSecond = 1024;
  long fileSlowSeconds = 60;
  std::uint64_t fileMaxBytes = std::uint64_t{1} << 30;
  // The signature check of a downloaded package: a checker still running after this is a failed check.
  long signatureCheckMs = 30000;
};
const FetchLimits& CurrentFetchLimits();

// Replaces the process-wide limits for its lifetime and restores the previous ones afterwards.
class ScopedFetchLimits {
public:
  explicit ScopedFetchLimits(const FetchLimits& limits);
  ~ScopedFetchLimits();
  ScopedFetchLimits(const ScopedFetchLimits&) = delete;
  ScopedFetchLimits& operator=(const ScopedFetchLimits&) = delete;

private:
  FetchLimits m_previous;
};

// Sink of a text fetch. Whenever memory is set it holds size received bytes and one zero byte after
// them. tooLarge records that callBack refused a delivery because of the text limit.
struct ResponseBuffer {
  UniqueMalloc<char> memory;
  std::size_t size = 0;
  std::size_t limit = CurrentFetchLimits().textMaxBytes;
  bool tooLarge = false;
};

// Sink of a file fetch: the open target file and the decoded bytes written into it so far.
struct FileSink {
  std::FILE* file = nullptr;
  std::uint64_t bytes = 0;
  std::uint64_t limit = CurrentFetchLimits().fileMaxBytes;
  bool tooLarge = false;
};

// Write function of a text fetch: appends to the ResponseBuffer given as userData. Returns the bytes
// taken; 0 (the buffer unchanged) when the block cannot grow or the answer would pass its limit.
std::size_t callBack(void* contents, std::size_t size, std::size_t nmemb, void* userData) noexcept;
// Write function of a file fetch: fwrite into the FileSink given as stream; returns what fwrite
// returns, 0 (nothing written) when the answer would pass the sink's limit.
std::size_t write_data(void* ptr, std::size_t size, std::size_t nmemb, void* stream) noexcept;

// Which options restrict the schemes of a request and its redirects: the text options of libcurl
// 7.85 and later, else the older bitmask options. Decided from the running library's version number.
enum class SchemeOptions { Text, Bitmask };
SchemeOptions SchemeOptionsFor(unsigned libcurlVersionNumber);
// Makes every request of its lifetime use the given options whatever the running libcurl offers,
// so that tests run the older path too; restores the automatic choice afterwards.
class ScopedSchemeOptions {
public:
  explicit ScopedSchemeOptions(SchemeOptions options);
  ~ScopedSchemeOptions();
  ScopedSchemeOptions(const ScopedSchemeOptions&) = delete;
  ScopedSchemeOptions& operator=(const ScopedSchemeOptions&) = delete;
};

// Called on the thread that runs the transfer whenever bytes arrive and about ten times a second while
// none do (also while connecting), with the bytes received so far and the size the answer announced
// (0 while unknown). Returning false ends the transfer at once with CURLE_ABORTED_BY_CALLBACK: this is
// how a transfer is cancelled.
using TransferProgress = std::function<bool(std::uint64_t received, std::uint64_t expected)>;

// The results of a transfer are structs rather than bool + Failure (failure.h): a caller needs more than
// why it failed (the HTTP status, the bytes that arrived, the text or the unplaced file, which limit
// ended it) to tell the user and the log what happened, and libcurl's code is no errno.
struct TextFetch {
  CURLcode code = CURLE_OK; // CURLE_FAILED_INIT when no handle could be made
  long status = 0;          // HTTP status of the final answer; 0 when none arrived
  std::size_t bytes = 0;    // bytes received, a zero byte counted
  bool tooLarge = false;
  std::string text; // the answer up to its first zero byte, also after a failure
};

// GET of url (a URL without a scheme is taken as https); the answer in memory.
TextFetch FetchText(const std::string& url, const TransferProgress& progress = nullptr);

enum class FileFetchOutcome {
  Complete,       // HTTP 200, every byte arrived and the file is in place
  CannotCreate,   // no temporary file beside the target: no transfer was made
  NoHandle,       // libcurl gave no handle: no transfer was made
  TransferFailed, // libcurl ended the transfer with an error (see code)
  HttpStatus,     // the server answered with a status other than 200
  Empty,          // HTTP 200 without a single byte
  Undelimited,    // an HTTP/1 answer with neither a length nor chunks, ended by closing the connection:
                  // it cannot be told apart from one cut short
  TooLarge,       // a length announced, or more decoded bytes received, over FetchLimits::fileMaxBytes
  UnaskedCoding,  // a transfer coding the client did not ask for (gzip and the like; see coding)
  Refused,        // the caller's check refused the complete file
  CannotFinish    // the file could not be written to the end, closed or renamed (see systemError)
};

struct FileFetch {
  FileFetchOutcome outcome = FileFetchOutcome::NoHandle;
  CURLcode code = CURLE_OK;
  long status = 0;
  int systemError = 0;     // errno of CannotCreate and CannotFinish
  std::uint64_t bytes = 0; // decoded bytes written
  bool tooSlow = false;    // ended by the speed floor (code CURLE_OPERATION_TIMEDOUT)
  bool stalled = false;    // ended by the stall limit (code CURLE_OPERATION_TIMEDOUT)
  std::string coding;      // the transfer coding of UnaskedCoding, as the server named it
  // FetchFileUnplaced: the accepted file under its temporary name, until PlaceFetchedFile; removed
  // with this object when it is never placed.
  std::optional<TemporaryFile> unplaced;
  bool ok() const { return outcome == FileFetchOutcome::Complete; }
};

// Looks at the complete, closed temporary file before it replaces the target; false refuses it.
using FileAcceptance = std::function<bool(const std::string& temporaryPath)>;

// GET of url into a temporary file beside path, which a Complete fetch holds in `unplaced`, leaving path
// as it was, so that the caller can still decide against a complete, accepted file. A fetch is Complete
// with HTTP 200, at least one byte, a known end and the acceptance's consent; a complete file is flushed
// to the storage before the acceptance looks at it, so that placing it is a rename alone. Any other
// outcome removes the temporary file.
FileFetch FetchFileUnplaced(const std::string& url, const std::string& path, const FileAcceptance& accept,
                            const TransferProgress& progress);
// Renames an unplaced file over its target; a failed rename makes the fetch CannotFinish. Does nothing
// to a fetch without an unplaced file.
void PlaceFetchedFile(FileFetch& fetch);

// One English line that says what went wrong, for the host's log. Empty for a success.
std::string DescribeTextFetch(const TextFetch& fetch);
std::string DescribeFileFetch(const FileFetch& fetch);
