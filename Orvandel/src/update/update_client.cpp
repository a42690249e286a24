#include "update_client.h"

#include "platform.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <sstream>

namespace {
bool g_started = false;
std::optional<ScopedFetchLimits> g_shortened;

// The whole of word as a non-negative number.
bool ReadNumber(const std::string& word, unsigned long long& value) {
  if (word.empty() || word[0] < '0' || word[0] > '9')
    return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(word.c_str(), &end, 10);
  return errno == 0 && *end == '\0';
}
} // namespace

FetchLimits ParseFetchLimits(const std::string& text, FetchLimits limits) {
  std::string words = text;
  for (char& character : words)
    if (character == ',')
      character = ' ';
  std::istringstream in(words);
  for (std::string word; in >> word;) {
    const std::size_t equals = word.find('=');
    unsigned long long value = 0;
    if (equals == std::string::npos || !ReadNumber(word.substr(equals + 1), value))
      continue;
    const std::string name = word.substr(0, equals);
    const long small = static_cast<long>(std::min<unsigned long long>(value, 1000000000ULL));
    if (name == "connect_ms")
      limits.connectTimeoutMs = small;
    else if (name == "stall_s")
      limits.stallSeconds = small;
    else if (name == "text_ms")
      limits.textTotalMs = small;
    else if (name == "file_min_bps")
      limits.fileMinBytesPerSecond = small;
    else if (name == "file_slow_s")
      limits.fileSlowSeconds = small;
    else if (name == "file_max_bytes")
      limits.fileMaxBytes = value;
    else if (name == "check_ms")
      limits.signatureCheckMs = small;
  }
  return limits;
}

bool UpdateClientStart() {
  if (g_started)
    return true;
  g_started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  const std::string shortened = FetchLimitsOverride();
  if (g_started && !shortened.empty())
    g_shortened.emplace(ParseFetchLimits(shortened, CurrentFetchLimits()));
  return g_started;
}

void UpdateClientStop() {
  if (!g_started)
    return;
  g_shortened.reset();
  curl_global_cleanup();
  g_started = false;
}
