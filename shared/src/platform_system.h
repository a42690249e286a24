// What platform_posix.cpp asks of the system file (platform_darwin.cpp or platform_linux.cpp).
#pragma once

#include <string>

// The process's environment, for the programs it starts: a library (the add-ins are libraries) on a Mac
// reaches it through _NSGetEnviron, not environ.
char** Environment();

// The program that opens an address in the default browser when no simulation override names one.
const char* SystemOpener();

// The name of the quarantine extended attribute on this system.
const char* QuarantineAttributeName();
// setxattr with this system's signature: 0 or the errno.
int SetExtendedAttribute(const std::string& path, const char* name, const std::string& value);
// getxattr with this system's signature: the value, empty when there is none or it cannot be read (the
// tests read back what MarkAsDownloaded wrote through it).
std::string ExtendedAttribute(const std::string& path, const char* name);
// The program that checks an installer package's signature; empty when the system has none.
const char* SystemPackageChecker();
