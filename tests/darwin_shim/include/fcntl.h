// Darwin shim (tests only): <fcntl.h> with Darwin's F_FULLFSYNC. The shim's fcntl knows that command
// alone (Linux: fsync, which also empties the drive's cache); platform_darwin.cpp uses no other.
// DARWIN_SHIM_FULLFSYNC_ERROR makes it fail.
#pragma once

#include_next <fcntl.h>

#define F_FULLFSYNC 51

int darwin_shim_fcntl(int fd, int command, ...);
#define fcntl darwin_shim_fcntl
