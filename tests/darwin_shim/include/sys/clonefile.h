// Darwin shim (tests only): fclonefileat of <sys/clonefile.h>.
#pragma once

#include <stdint.h>

// Creates name in the folder dst_dirfd as a clone of the regular file srcfd (Linux: FICLONE). 0, or -1
// with errno: EEXIST when name exists, ENOTSUP when the file system cannot clone, EXDEV across file
// systems. On failure nothing is left at name. flags must be 0.
int fclonefileat(int srcfd, int dst_dirfd, const char* name, uint32_t flags);
