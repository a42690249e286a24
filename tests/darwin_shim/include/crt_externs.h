// Darwin shim (tests only): <crt_externs.h>, the environment as a library reaches it on a Mac, where a
// library or bundle has no environ of its own to link against.
#pragma once

char*** _NSGetEnviron(void);
