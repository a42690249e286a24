#include "http_fetch.h"

#include "platform.h"
#include "utilities.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

FetchLimits g_limits;

struct CurlCleanup {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct SlistFree {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
struct FileClose {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;
using File = std::unique_ptr<std::FILE, FileClose>;
using WriteFunction = std::size_t (*)(void*, std::size_t, std::size_t, void*) noexcept;

// Both header lines, in their order; empty when the list cannot be built.
HeaderList BuildHeaders() {
  HeaderList headers(curl_slist_append(nullptr, HEADER_ACCEPT));
  if (!headers)
    return headers;
  curl_slist* grown = curl_slist_append(headers.get(), HEADER_USER_AGENT);
  if (!grown)
    return HeaderList();
  headers.release();
  headers.reset(grown);
  return headers;
}

// The options every request shares, in their fixed order, then the bounds that keep the host
// responsive and the transfer on HTTPS. The header list must outlive the transfer: libcurl keeps the
// pointer. CURLE_OK, or the code of an option libcurl refused; no transfer may run after a refusal.
CURLcode Configure(CURL* handle, const std::string& url, curl_slist* headers, WriteFunction write, void* sink,
                   bool wholeTransferLimit) {
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
  set(CURLOPT_PROTOCOLS_STR, "https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "https");
  set(CURLOPT_MAXREDIRS, limits.maxRedirects);
  // The connect limit covers the TLS handshake too, so a server that never answers it is released.
  set(CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
  if (wholeTransferLimit)
    set(CURLOPT_TIMEOUT_MS, limits.textTotalMs);
  // Time-outs must not use signals inside the host's process.
  set(CURLOPT_NOSIGNAL, 1L);
  const std::string caFile = ServerCaFile();
  if (!caFile.empty())
    set(CURLOPT_CAINFO, caFile.c_str());
  return code;
}

long ResponseStatus(CURL* handle) {
  long status = 0;
  if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK)
    return 0;
  return status;
}

struct TemporaryFile {
  std::string path;
  File file;
};

// A new file beside target, named after it and hidden, created exclusively so that nothing else is
// overwritten. Sets errno and returns no file on failure.
TemporaryFile CreateTemporaryBeside(const std::string& target) {
  const std::string folder = DirectoryOf(target);
  const std::size_t separator = target.find_last_of("/\\");
  const std::string name = separator == std::string::npos ? target : target.substr(separator + 1);
  const std::string prefix =
      (separator == std::string::npos ? std::string() : folder + "/") + "." + name + ".";

  std::random_device seed;
  std::mt19937 generator(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(generator() & 0xffffffU));
    std::string path = prefix + suffix + ".part";
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) {
      if (errno == EEXIST)
        continue;
      return TemporaryFile();
    }
    File file(::fdopen(descriptor, "wb"));
    if (!file) {
      const int error = errno;
      ::close(descriptor);
      ::unlink(path.c_str());
      errno = error;
      return TemporaryFile();
    }
    return TemporaryFile{std::move(path), std::move(file)};
  }
  errno = EEXIST;
  return TemporaryFile();
}

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
  buffer->memory.release();
  buffer->memory.reset(grown);
  std::memcpy(grown + buffer->size, contents, delivered);
  buffer->size += delivered;
  grown[buffer->size] = '\0';
  return delivered;
}

std::size_t write_data(void* ptr, std::size_t size, std::size_t nmemb, void* stream) noexcept {
  return std::fwrite(ptr, size, nmemb, static_cast<std::FILE*>(stream));
}

TextFetch FetchText(const std::string& url) {
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
  result.code = curl_easy_setopt(handle.get(), CURLOPT_CUSTOMREQUEST, "GET");
  if (result.code == CURLE_OK)
    result.code = Configure(handle.get(), url, headers.get(), callBack, &buffer, /*wholeTransferLimit=*/true);
  if (result.code == CURLE_OK) {
    result.code = curl_easy_perform(handle.get());
    result.status = ResponseStatus(handle.get());
  }
  handle.reset();
  result.bytes = buffer.size;
  result.tooLarge = buffer.tooLarge;
  if (buffer.memory)
    result.text = buffer.memory.get();
  return result;
}

FileFetch FetchFile(const std::string& url, const std::string& path) {
  FileFetch result;
  CurlHandle handle(curl_easy_init());
  if (!handle) {
    result.outcome = FileFetchOutcome::NoHandle;
    return result;
  }
  TemporaryFile temporary = CreateTemporaryBeside(path);
  if (!temporary.file) {
    result.outcome = FileFetchOutcome::CannotCreate;
    result.systemError = errno;
    return result;
  }
  HeaderList headers = BuildHeaders();
  result.code = headers ? Configure(handle.get(), url, headers.get(), write_data, temporary.file.get(),
                                    /*wholeTransferLimit=*/false)
                        : CURLE_OUT_OF_MEMORY;
  if (result.code == CURLE_OK) {
    result.code = curl_easy_perform(handle.get());
    result.status = ResponseStatus(handle.get());
  }
  handle.reset();
  const bool closed = std::fclose(temporary.file.release()) == 0;
  const int closeError = errno;

  if (result.code != CURLE_OK) {
    result.outcome = FileFetchOutcome::TransferFailed;
  } else if (result.status != 200) {
    result.outcome = FileFetchOutcome::HttpStatus;
  } else if (!closed) {
    result.outcome = FileFetchOutcome::CannotFinish;
    result.systemError = closeError;
  } else if (std::rename(temporary.path.c_str(), path.c_str()) != 0) {
    result.outcome = FileFetchOutcome::CannotFinish;
    result.systemError = errno;
  } else {
    result.outcome = FileFetchOutcome::Complete;
    return result;
  }
  ::unlink(temporary.path.c_str());
  return result;
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
    return curl_easy_strerror(fetch.code);
  case FileFetchOutcome::HttpStatus:
    return "HTTP status " + std::to_string(fetch.status);
  case FileFetchOutcome::CannotFinish:
    return std::string("cannot finish the file: ") + std::strerror(fetch.systemError);
  }
  return "unknown failure";
}
