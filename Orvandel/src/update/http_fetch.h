// HTTPS GET requests to the maker's web server through the libcurl easy interface. Every request is
// one blocking transfer with its own handle, header list and sink; nothing is kept between requests.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>

// The two header lines of every request, in this order, exactly as the server expects them.
constexpr const char* HEADER_ACCEPT = "Accept:*/*";
constexpr const char* HEADER_USER_AGENT =
    "User-Agent:Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:107.0) Gecko/20100101 Firefox/107.0";

// Bounds of every request. One process-wide set; tests shorten it with ScopedFetchLimits.
struct FetchLimits {
  long connectTimeoutMs = 10000; // name resolution, TCP and TLS handshake together
  long stallSeconds = 30;        // a transfer that moves no byte for this long is ended
  long textTotalMs = 60000;      // whole text fetch, redirects included
  long maxRedirects = 10;
  std::size_t textMaxBytes = 1024 * 1024; // a longer text answer ends the transfer
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

struct FreeDeleter {
  void operator()(void* block) const noexcept { std::free(block); }
};

// Sink of a text fetch. Whenever memory is set it holds size received bytes and one zero byte after
// them. tooLarge records that callBack refused a delivery because of the text limit.
struct ResponseBuffer {
  std::unique_ptr<char, FreeDeleter> memory;
  std::size_t size = 0;
  std::size_t limit = CurrentFetchLimits().textMaxBytes;
  bool tooLarge = false;
};

// Write function of a text fetch: appends to the ResponseBuffer given as userData. Returns the bytes
// taken; 0 (the buffer unchanged) when the block cannot grow or the answer would pass its limit.
std::size_t callBack(void* contents, std::size_t size, std::size_t nmemb, void* userData) noexcept;
// Write function of a file fetch: fwrite into the FILE* given as stream; returns what fwrite returns.
std::size_t write_data(void* ptr, std::size_t size, std::size_t nmemb, void* stream) noexcept;

struct TextFetch {
  CURLcode code = CURLE_OK; // CURLE_FAILED_INIT when no handle could be made
  long status = 0;          // HTTP status of the final answer; 0 when none arrived
  std::size_t bytes = 0;    // bytes received, a zero byte counted
  bool tooLarge = false;
  std::string text; // the answer up to its first zero byte, also after a failure
};

// GET of url (a URL without a scheme is taken as https); the answer in memory.
TextFetch FetchText(const std::string& url);

enum class FileFetchOutcome {
  Complete,       // HTTP 200, every byte arrived and the file is in place
  CannotCreate,   // no temporary file beside the target: no transfer was made
  NoHandle,       // libcurl gave no handle: no transfer was made
  TransferFailed, // libcurl ended the transfer with an error (see code)
  HttpStatus,     // the server answered with a status other than 200
  CannotFinish    // the file could not be written to the end, closed or renamed (see systemError)
};

struct FileFetch {
  FileFetchOutcome outcome = FileFetchOutcome::NoHandle;
  CURLcode code = CURLE_OK;
  long status = 0;
  int systemError = 0; // errno of CannotCreate and CannotFinish
  bool ok() const { return outcome == FileFetchOutcome::Complete; }
};

// GET of url into the file at path. The answer streams into a temporary file in the same folder that
// replaces path only when the transfer is complete with HTTP 200; otherwise the temporary file is
// removed and whatever stood at path is left as it was.
FileFetch FetchFile(const std::string& url, const std::string& path);

// One English line that says what went wrong, for the host's log. Empty for a success.
std::string DescribeTextFetch(const TextFetch& fetch);
std::string DescribeFileFetch(const FileFetch& fetch);
