// Darwin shim (tests only): <sys/xattr.h> with Darwin's setxattr and getxattr, which take a position
// and options.
#pragma once

#include_next <sys/xattr.h>

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

// Darwin's setxattr (position and options must be 0). Darwin's attributes have no namespaces: any name
// is accepted and read back as given (kept in Linux's user namespace). 0, or -1 with errno set.
// DARWIN_SHIM_SETXATTR_ERROR makes it fail; DARWIN_SHIM_RECORD records the name (darwin_shim.cpp).
int setxattr(const char* path, const char* name, const void* value, size_t size, uint32_t position,
             int options);
// Darwin's getxattr (position and options must be 0), names as setxattr keeps them. The size of the
// value, or -1 with errno set.
ssize_t getxattr(const char* path, const char* name, void* value, size_t size, uint32_t position,
                 int options);
