// Darwin shim (tests only): fclonefileat of <sys/clonefile.h>.
#pragma once

#include <stdint.h>

// Creates name in the folder dst_dirfd as a clone of the regular file srcfd: the whole file, whatever
// srcfd's position (Linux: FICLONE, or a copy of the data where the file system cannot share storage, so
// that the clone succeeds wherever it would on APFS). 0, or -1 with errno: EEXIST when name exists. On
// failure nothing is left at name. flags must be 0. DARWIN_SHIM_CLONE_ERROR makes it fail (darwin_shim.cpp).
int fclonefileat(int srcfd, int dst_dirfd, const char* name, uint32_t flags);
