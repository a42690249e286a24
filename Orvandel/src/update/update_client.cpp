#include "update_client.h"

#include <curl/curl.h>

namespace {
bool g_started = false;
} // namespace

bool UpdateClientStart() {
  if (g_started)
    return true;
  g_started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return g_started;
}

void UpdateClientStop() {
  if (!g_started)
    return;
  curl_global_cleanup();
  g_started = false;
}
