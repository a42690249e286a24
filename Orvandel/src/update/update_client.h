// Process-wide set-up of the update client, tied to the add-in's lifetime.
#pragma once

#include "http_fetch.h"

#include <string>

// Initialises libcurl; run calls it once before any request. False when libcurl cannot be
// initialised; requests then fail and are reported as failed transfers. In simulation builds the
// limits named by HOSTSIM_FETCH_LIMITS apply until UpdateClientStop.
bool UpdateClientStart();
// Releases what UpdateClientStart set up; stop calls it after the workers are joined. Does nothing
// without a successful start.
void UpdateClientStop();

// limits with the values that text names replaced: words "name=number" separated by blanks or commas,
// names connect_ms, stall_s, text_ms, file_min_bps, file_slow_s, file_max_bytes, check_ms. Other words and
// numbers that do not read whole are ignored.
FetchLimits ParseFetchLimits(const std::string& text, FetchLimits limits);
