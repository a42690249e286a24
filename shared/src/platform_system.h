// What platform_posix.cpp asks of the system file (platform_darwin.cpp or platform_linux.cpp).
#pragma once

// The program that opens an address in the default browser when no simulation override names one.
const char* SystemOpener();
