// The platform layer: the only code that differs between macOS and the simulated Mac of hostsim.
//
// Simulation builds (HOSTSIM defined) honour these environment variables, all set by hostsim:
//   HOSTSIM_MAC_ROOT         folder that stands for the Mac's root; system folders such as
//                            /Library/Vornid are looked up below it
//   HOSTSIM_OPENER           program that opens an address in the simulated browser (else xdg-open)
//   HOSTSIM_SERVER_BASE_URL  origin of the update server, instead of the product's
//   HOSTSIM_CA_FILE          CA bundle that verifies the update server, instead of the system's
// Release builds compile none of this in and use the constants of product_constants.h.
#pragma once

#include <string>

// Path of the running process's main executable as it was started (links not resolved); empty when
// the system cannot tell.
std::string ExecutablePath();

// The path of a system-wide folder or file given as on the Mac ("/Library/Vornid").
std::string SystemPath(const std::string& macPath);

// The user's home folder: HOME when set and not empty, else the user database; empty when neither
// knows it.
std::string HomeFolder();

// Opens a web address in the default browser: the opener gets the address as its one argument and is
// started directly, never through a shell. Waits for the opener; true when it exited with status 0.
bool OpenInBrowser(const std::string& address);

// Origin of the maker's update server, and the CA bundle to verify it with (empty: libcurl's default).
std::string ServerBaseUrl();
std::string ServerCaFile();
