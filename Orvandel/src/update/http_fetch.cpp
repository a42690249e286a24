#include "http_fetch.h"

#include "platform.h"
#include "temporary_file.h"
#include "unique_handles.h"
#include "utilities.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>

namespace {

FetchLimits g_limits;
std::optional<SchemeOptions> g_forcedSchemeOptions;

using CurlHandle = std::unique_ptr<CURL, CReleaser<curl_easy_cleanup>>;
using HeaderList = std::unique_ptr<curl_slist, CReleaser<curl_slist_free_all>>;
using WriteFunction = std::size_t (*)(void*, std::size_t, std::size_t, void*) noexcept;

// Both header lines, in their order; empty when the list cannot be built.
HeaderList BuildHeaders() {
  HeaderList headers(curl_slist_append(nullptr, HEADER_ACCEPT));
  if (!headers)
    return headers;
  curl_slist* grown = curl_slist_append(headers.get(), HEADER_USER_AGENT);
  if (!grown)
    return HeaderList();
  static_cast<void>(headers.release()); // grown is the same list, longer by one
  headers.reset(grown);
  return headers;
}

SchemeOptions ActiveSchemeOptions() {
  if (g_forcedSchemeOptions)
    return *g_forcedSchemeOptions;
  static const SchemeOptions detected = [] {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info ? SchemeOptionsFor(info->version_num) : SchemeOptions::Bitmask;
  }();
  return detected;
}

int ReportProgress(void* progress, curl_off_t expected, curl_off_t received, curl_off_t,
                   curl_off_t) noexcept {
  try {
    const auto& report = *static_cast<const TransferProgress*>(progress);
    return report(static_cast<std::uint64_t>(received), static_cast<std::uint64_t>(expected)) ? 0 : 1;
  } catch (...) {
    return 1;
  }
}

// The options every request shares, in their fixed order, then the bounds that keep the host
// responsive and the transfer on HTTPS: a text fetch has a whole-transfer limit, a file fetch a cap on
// the announced length (its speed floor is kept by FetchFileUnplaced, the stall limit of both by
// Watched, in progress). The header list must outlive the transfer: libcurl keeps the pointer.
// CURLE_OK, or the code of an option libcurl refused; no transfer may run after a refusal.
CURLcode Configure(CURL* handle, const std::string& url, curl_slist* headers, WriteFunction write, void* sink,
                   bool textFetch, const TransferProgress& progress) {
  const FetchLimits& limits = CurrentFetchLimits();
  CURLcode code = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (code == CURLE_OK)
      code = curl_easy_setopt(handle, option, value);
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_DEFAULT_PROTOCOL, "https");
  set(CURLOPT_HTTPHEADER, headers);
  set(CURLOPT_WRITEFUNCTION, write);
  set(CURLOPT_WRITEDATA, sink);

  // The first request and every redirect speak HTTPS alone; a refused scheme fails before any byte.
  // libcurl before 7.85 knows only the bitmask options, and an option it refuses would end the chain.
  if (ActiveSchemeOptions() == SchemeOptions::Text) {
#if LIBCURL_VERSION_NUM >= 0x075500
    set(CURLOPT_PROTOCOLS_STR, "https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "https");
#endif
  } else {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    set(CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTPS));
    set(CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTPS));
#pragma GCC diagnostic pop
  }
  set(CURLOPT_MAXREDIRS, limits.maxRedirects);
  // The connect limit covers the TLS handshake too, so a server that never answers it is released.
  set(CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  if (textFetch)
    set(CURLOPT_TIMEOUT_MS, limits.textTotalMs);
  else
    set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(std::min<std::uint64_t>(
                                       limits.fileMaxBytes, std::numeric_limits<curl_off_t>::max())));
  // Time-outs must not use signals inside the host's process.
  set(CURLOPT_NOSIGNAL, 1L);
  const std::string caFile = ServerCaFile();
  if (!caFile.empty())
    set(CURLOPT_CAINFO, caFile.c_str());
  set(CURLOPT_XFERINFOFUNCTION, &ReportProgress);
  set(CURLOPT_XFERINFODATA, const_cast<void*>(static_cast<const void*>(&progress)));
  set(CURLOPT_NOPROGRESS, 0L);
  return code;
}

// The stall limit: a transfer ends once no byte of its answer has arrived for `seconds` (none at all
// since its start counts too). libcurl's own low-speed check averages its last few seconds, so that it
// ends a transfer that falls silent some five seconds late.
class StallWatch {
public:
  using Clock = std::chrono::steady_clock;
  explicit StallWatch(long seconds)
      : m_limit(std::chrono::seconds(std::max(seconds, 0L))), m_lastMove(Clock::now()) {}

  // False once the limit has passed since the count last moved.
  bool Holds(std::uint64_t received, Clock::time_point now) {
    if (received != m_received) {
      m_received = received;
      m_lastMove = now;
    }
    return m_limit.count() == 0 || now - m_lastMove < m_limit;
  }

private:
  std::chrono::steady_clock::duration m_limit;
  std::uint64_t m_received = 0;
  Clock::time_point m_lastMove;
};

// progress behind the stall limit: a stalled transfer sets stalled, which must outlive the transfer, and
// ends.
TransferProgress Watched(const TransferProgress& progress, bool& stalled) {
  auto watch = std::make_shared<StallWatch>(CurrentFetchLimits().stallSeconds);
  return [progress, &stalled, watch](std::uint64_t received, std::uint64_t expected) {
    if (!watch->Holds(received, StallWatch::Clock::now())) {
      stalled = true;
      return false;
    }
    return !progress || progress(received, expected);
  };
}

// curl_easy_perform, except that the transfer wakes at least every 100 ms, so that the progress
// callback, and a stop request or the stall limit with it, is read ten times a second even while
// nothing arrives (libcurl's own wait lasts up to a second).
CURLcode PerformTransfer(CURL* handle) {
  std::unique_ptr<CURLM, CReleaser<curl_multi_cleanup>> multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), handle) != CURLM_OK)
    return CURLE_OUT_OF_MEMORY;
  int running = 1;
  CURLMcode failure = CURLM_OK;
  while (running > 0 && failure == CURLM_OK) {
    failure = curl_multi_perform(multi.get(), &running);
    if (running > 0 && failure == CURLM_OK)
      failure = curl_multi_poll(multi.get(), nullptr, 0, /*timeout_ms=*/100, nullptr);
  }
  CURLcode code = failure == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_RECV_ERROR;
  int queued = 0;
  while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued))
    if (message->msg == CURLMSG_DONE && message->easy_handle == handle)
      code = message->data.result;
  curl_multi_remove_handle(multi.get(), handle);
  return code;
}

long ResponseStatus(CURL* handle) {
  long status = 0;
  if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK)
    return 0;
  return status;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size())
    return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view other) {
  return text.size() == other.size() && StartsWithIgnoringCase(text, other);
}

// Whether the answer being received is sent in chunks, whose end libcurl checks, and the first transfer
// coding the client never asked for (libcurl would decode it: a few kilobytes of gzip can make a
// gigabyte). Reset by every status line, so that only the final answer of a redirect chain counts; an
// unasked coding ends the transfer at its header, before any of the body is decoded.
struct ResponseFraming {
  bool chunked = false;
  // The unasked coding as the server named it, cut to the buffer: the header callback runs inside
  // libcurl, where nothing may throw, so it allocates nothing.
  char unaskedCoding[64] = {};
  std::size_t unaskedCodingSize = 0;
  std::string_view UnaskedCoding() const { return std::string_view(unaskedCoding, unaskedCodingSize); }
};

std::size_t RecordFraming(char* buffer, std::size_t size, std::size_t count, void* userData) noexcept {
  auto* framing = static_cast<ResponseFraming*>(userData);
  const std::string_view line(buffer, size * count);
  constexpr std::string_view kTransferEncoding = "transfer-encoding:";
  if (StartsWithIgnoringCase(line, "HTTP/")) {
    framing->chunked = false;
  } else if (StartsWithIgnoringCase(line, kTransferEncoding)) {
    const std::string_view value = line.substr(kTransferEncoding.size());
    constexpr std::string_view kBetween = " \t\r\n,";
    for (std::size_t at = value.find_first_not_of(kBetween); at != std::string_view::npos;
         at = value.find_first_not_of(kBetween, at)) {
      const std::size_t end = std::min(value.find_first_of(kBetween, at), value.size());
      const std::string_view coding = value.substr(at, end - at);
      if (EqualsIgnoringCase(coding, "chunked")) {
        framing->chunked = true;
      } else if (!EqualsIgnoringCase(coding, "identity")) {
        framing->unaskedCodingSize = std::min(coding.size(), sizeof framing->unaskedCoding);
        for (std::size_t i = 0; i < framing->unaskedCodingSize; ++i)
          framing->unaskedCoding[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(coding[i])));
        return 0; // ends the transfer with CURLE_WRITE_ERROR
      }
      at = end;
    }
  }
  return size * count;
}

// True when the end of the final answer was announced: a length, chunks, or HTTP/2 and later, whose
// streams end explicitly. An HTTP/1 answer without either ends when the connection closes, which a
// transfer cut short does too.
bool HasKnownEnd(CURL* handle, const ResponseFraming& framing) {
  curl_off_t length = -1;
  if (curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
    return true;
  long version = 0;
  if (curl_easy_getinfo(handle, CURLINFO_HTTP_VERSION, &version) == CURLE_OK &&
      version >= CURL_HTTP_VERSION_2_0)
    return true;
  return framing.chunked;
}

// The floor of a file fetch on its average speed: a transfer fails once some window of `window` since
// its start has brought fewer than `minimum` bytes. Fed from the progress callback (about ten times a
// second); samples are kept at most ten a second, so a window is measured from the newest sample at or
// before its start, and may be up to a sample's spacing longer than `window`.
class SpeedFloor {
public:
  using Clock = std::chrono::steady_clock;

  SpeedFloor(long bytesPerSecond, long seconds)
      : m_window(std::chrono::seconds(std::max(seconds, 0L))),
        m_minimum(static_cast<std::uint64_t>(std::max(bytesPerSecond, 0L)) *
                  static_cast<std::uint64_t>(std::max(seconds, 0L))),
        m_start(Clock::now()) {
    m_samples.push_back({m_start, 0});
  }

  // False once the window that ends now holds fewer bytes than the floor.
  bool Holds(std::uint64_t received, Clock::time_point now) {
    if (m_minimum == 0)
      return true;
    if (now - m_samples.back().at >= kSpacing)
      m_samples.push_back({now, received});
    const Clock::time_point windowStart = now - m_window;
    if (windowStart < m_start)
      return true;
    while (m_samples.size() >= 2 && m_samples[1].at <= windowStart)
      m_samples.pop_front();
    return received >= m_samples.front().received + m_minimum;
  }

private:
  static constexpr std::chrono::milliseconds kSpacing{100};
  struct Sample {
    Clock::time_point at;
    std::uint64_t received;
  };
  std::chrono::steady_clock::duration m_window;
  std::uint64_t m_minimum;
  Clock::time_point m_start;
  std::deque<Sample> m_samples; // the first at or before the current window's start
};

} // namespace

const FetchLimits& CurrentFetchLimits() {
  return g_limits;
}

ScopedFetchLimits::ScopedFetchLimits(const FetchLimits& limits) : m_previous(g_limits) {
  g_limits = limits;
}
ScopedFetchLimits::~ScopedFetchLimits() {
  g_limits = m_previous;
}

SchemeOptions SchemeOptionsFor(unsigned libcurlVersionNumber) {
#if LIBCURL_VERSION_NUM >= 0x075500
  return libcurlVersionNumber >= 0x075500 ? SchemeOptions::Text : SchemeOptions::Bitmask;
#else
  // Built against headers that do not name the text options.
  (void)libcurlVersionNumber;
  return SchemeOptions::Bitmask;
#endif
}

ScopedSchemeOptions::ScopedSchemeOptions(SchemeOptions options) {
  g_forcedSchemeOptions = options;
}
ScopedSchemeOptions::~ScopedSchemeOptions() {
  g_forcedSchemeOptions.reset();
}

std::size_t callBack(void* contents, std::size_t size, std::size_t nmemb, void* userData) noexcept {
  auto* buffer = static_cast<ResponseBuffer*>(userData);
  const std::size_t delivered = size * nmemb;
  if (delivered > buffer->limit || buffer->size > buffer->limit - delivered) {
    buffer->tooLarge = true;
    return 0;
  }
  auto* grown = static_cast<char*>(std::realloc(buffer->memory.get(), buffer->size + delivered + 1));
  if (!grown)
    return 0;
  static_cast<void>(buffer->memory.release()); // realloc has freed or kept it as grown
  buffer->memory.reset(grown);
  std::memcpy(grown + buffer->size, contents, delivered);
  buffer->size += delivered;
  grown[buffer->size] = '\0';
  return delivered;
}

std::size_t write_data(void* ptr, std::size_t size, std::size_t nmemb, void* stream) noexcept {
  auto* sink = static_cast<FileSink*>(stream);
  const std::uint64_t delivered = static_cast<std::uint64_t>(size) * nmemb;
  if (delivered > sink->limit || sink->bytes > sink->limit - delivered) {
    sink->tooLarge = true;
    return 0;
  }
  const std::size_t written = std::fwrite(ptr, size, nmemb, sink->file);
  sink->bytes += static_cast<std::uint64_t>(written) * size;
  return written;
}

TextFetch FetchText(const std::string& url, const TransferProgress& progress) {
  TextFetch result;
  CurlHandle handle(curl_easy_init());
  if (!handle) {
    result.code = CURLE_FAILED_INIT;
    return result;
  }
  ResponseBuffer buffer;
  HeaderList headers = BuildHeaders();
  if (!headers) {
    result.code = CURLE_OUT_OF_MEMORY;
    return result;
  }
  bool stalled = false;
  const TransferProgress watched = Watched(progress, stalled);
  result.code = curl_easy_setopt(handle.get(), CURLOPT_CUSTOMREQUEST, "GET");
  if (result.code == CURLE_OK)
    result.code = Configure(handle.get(), url, headers.get(), callBack, &buffer, /*textFetch=*/true, watched);
  if (result.code == CURLE_OK) {
    result.code = PerformTransfer(handle.get());
    result.status = ResponseStatus(handle.get());
    if (stalled)
      result.code = CURLE_OPERATION_TIMEDOUT;
  }
  handle.reset();
  result.bytes = buffer.size;
  result.tooLarge = buffer.tooLarge;
  if (buffer.memory)
    result.text = buffer.memory.get();
  return result;
}

FileFetch FetchFileUnplaced(const std::string& url, const std::string& path, const FileAcceptance& accept,
                            const TransferProgress& progress) {
  FileFetch result;
  CurlHandle handle(curl_easy_init());
  if (!handle) {
    result.outcome = FileFetchOutcome::NoHandle;
    return result;
  }
  // CreateBeside sweeps first what killed processes left behind.
  const std::string folder = DirectoryOf(path);
  TemporaryFile temporary = TemporaryFile::CreateBeside(path, 0666);
  UniqueFile file(temporary.valid() ? ::fdopen(temporary.fd(), "wb") : nullptr);
  if (!file) {
    result.outcome = FileFetchOutcome::CannotCreate;
    result.systemError = temporary.valid() ? errno : temporary.error();
    return result;
  }
  temporary.releaseFd();
  const std::string temporaryPath = (folder.empty() ? std::string() : folder + "/") + temporary.name();

  FileSink sink;
  sink.file = file.get();
  ResponseFraming framing;
  const FetchLimits& limits = CurrentFetchLimits();
  SpeedFloor floor(limits.fileMinBytesPerSecond, limits.fileSlowSeconds);
  bool stalled = false;
  const TransferProgress watched = Watched(
      [&](std::uint64_t received, std::uint64_t expected) {
        if (!floor.Holds(received, SpeedFloor::Clock::now())) {
          result.tooSlow = true;
          return false;
        }
        return !progress || progress(received, expected);
      },
      stalled);
  HeaderList headers = BuildHeaders();
  result.code = headers ? Configure(handle.get(), url, headers.get(), write_data, &sink,
                                    /*textFetch=*/false, watched)
                        : CURLE_OUT_OF_MEMORY;
  if (result.code == CURLE_OK)
    result.code = curl_easy_setopt(handle.get(), CURLOPT_HEADERFUNCTION, RecordFraming);
  if (result.code == CURLE_OK)
    result.code = curl_easy_setopt(handle.get(), CURLOPT_HEADERDATA, &framing);
  bool knownEnd = false;
  if (result.code == CURLE_OK) {
    result.code = PerformTransfer(handle.get());
    result.status = ResponseStatus(handle.get());
    knownEnd = HasKnownEnd(handle.get(), framing);
    result.stalled = stalled;
    if (result.tooSlow || stalled)
      result.code = CURLE_OPERATION_TIMEDOUT;
  }
  handle.reset();
  result.bytes = sink.bytes;
  result.coding = std::string(framing.UnaskedCoding());
  const bool whole = !sink.tooLarge && result.code == CURLE_OK && result.status == 200 && sink.bytes > 0 &&
                     knownEnd && result.coding.empty();
  // A whole answer is brought onto the storage here, on the worker: renaming a file over another makes
  // some file systems (ext4) write the new file's data inside the rename, which runs on the host's main
  // thread and would hold it for as long as a large package takes to write.
  int flushError = 0;
  if (whole)
    flushError = std::fflush(file.get()) != 0 ? errno : FlushToStorage(::fileno(file.get()));
  const bool closed = std::fclose(file.release()) == 0 && flushError == 0;
  const int closeError = flushError != 0 ? flushError : errno;

  if (!result.coding.empty()) {
    result.outcome = FileFetchOutcome::UnaskedCoding;
  } else if (sink.tooLarge || result.code == CURLE_FILESIZE_EXCEEDED) {
    result.outcome = FileFetchOutcome::TooLarge;
  } else if (result.code != CURLE_OK) {
    result.outcome = FileFetchOutcome::TransferFailed;
  } else if (result.status != 200) {
    result.outcome = FileFetchOutcome::HttpStatus;
  } else if (sink.bytes == 0) {
    result.outcome = FileFetchOutcome::Empty;
  } else if (!knownEnd) {
    result.outcome = FileFetchOutcome::Undelimited;
  } else if (!closed) {
    result.outcome = FileFetchOutcome::CannotFinish;
    result.systemError = closeError;
  } else if (accept && !accept(temporaryPath)) {
    result.outcome = FileFetchOutcome::Refused;
  } else {
    result.outcome = FileFetchOutcome::Complete;
    result.unplaced.emplace(std::move(temporary));
  }
  return result;
}

void PlaceFetchedFile(FileFetch& fetch) {
  if (!fetch.unplaced)
    return;
  if (const int error = fetch.unplaced->commit()) {
    fetch.outcome = FileFetchOutcome::CannotFinish;
    fetch.systemError = error;
  }
  fetch.unplaced.reset();
}

std::string DescribeTextFetch(const TextFetch& fetch) {
  if (fetch.tooLarge)
    return "answer longer than " + std::to_string(CurrentFetchLimits().textMaxBytes) + " bytes";
  if (fetch.code != CURLE_OK)
    return curl_easy_strerror(fetch.code);
  if (fetch.status != 200)
    return "HTTP status " + std::to_string(fetch.status);
  if (fetch.bytes == 0)
    return "empty answer";
  return std::string();
}

std::string DescribeFileFetch(const FileFetch& fetch) {
  switch (fetch.outcome) {
  case FileFetchOutcome::Complete:
    return std::string();
  case FileFetchOutcome::CannotCreate:
    return std::string("cannot create the file: ") + std::strerror(fetch.systemError);
  case FileFetchOutcome::NoHandle:
    return "no transfer handle";
  case FileFetchOutcome::TransferFailed:
    if (fetch.stalled)
      return "no data for " + std::to_string(CurrentFetchLimits().stallSeconds) + " s or more";
    if (fetch.tooSlow)
      return "fewer than " + std::to_string(CurrentFetchLimits().fileMinBytesPerSecond) + " bytes/s over " +
             std::to_string(CurrentFetchLimits().fileSlowSeconds) + " s";
    return curl_easy_strerror(fetch.code);
  case FileFetchOutcome::HttpStatus:
    return "HTTP status " + std::to_string(fetch.status);
  case FileFetchOutcome::Empty:
    return "empty answer";
  case FileFetchOutcome::Undelimited:
    return "answer without a length, ended by closing the connection";
  case FileFetchOutcome::TooLarge:
    return "answer longer than " + std::to_string(CurrentFetchLimits().fileMaxBytes) + " bytes";
  case FileFetchOutcome::UnaskedCoding:
    return "answer in a transfer coding not asked for: " + fetch.coding;
  case FileFetchOutcome::Refused:
    return "file refused";
  case FileFetchOutcome::CannotFinish:
    return std::string("cannot finish the file: ") + std::strerror(fetch.systemError);
  }
  return "unknown failure";
}
