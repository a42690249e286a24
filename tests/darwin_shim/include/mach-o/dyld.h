// Darwin shim (tests only): the executable path of <mach-o/dyld.h>.
#pragma once

#include <stdint.h>

// Copies the path the running program was started as into buf and returns 0; when *bufsize is too
// small (or buf is null), sets *bufsize to the size needed, terminating zero included, and returns -1.
int _NSGetExecutablePath(char* buf, uint32_t* bufsize);
