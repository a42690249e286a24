// Process-wide set-up of the update client, tied to the add-in's lifetime.
#pragma once

// Initialises libcurl; run calls it once before any request. False when libcurl cannot be
// initialised; requests then fail and are reported as failed transfers.
bool UpdateClientStart();
// Releases what UpdateClientStart set up; stop calls it. Does nothing without a successful start.
void UpdateClientStop();
