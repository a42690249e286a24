// Darwin shim (tests only): <sys/xattr.h> with Darwin's setxattr and getxattr, which take a position
// and options.
#pragma once

#include_next <sys/xattr.h>

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

// Darwin's setxattr (position and options must be 0). Darwin's attributes have no namespaces; the
// system's own (com.apple.*) are kept in Linux's user namespace, other names are passed as they stand,
// so that a name the file system refuses is still refused. 0, or -1 with errno set.
// DARWIN_SHIM_SETXATTR_ERROR makes it fail (darwin_shim.cpp).
int setxattr(const char* path, const char* name, const void* value, size_t size, uint32_t position,
             int options);
// Darwin's getxattr (position and options must be 0), names as setxattr keeps them. The size of the
// value, or -1 with errno set.
ssize_t getxattr(const char* path, const char* name, void* value, size_t size, uint32_t position,
                 int options);
