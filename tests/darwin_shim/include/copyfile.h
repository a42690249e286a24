// Darwin shim (tests only): fcopyfile of <copyfile.h>, data only.
#pragma once

#include <stdint.h>

typedef struct _copyfile_state* copyfile_state_t;
typedef uint32_t copyfile_flags_t;

#define COPYFILE_DATA (1 << 3)

// With COPYFILE_DATA (the only flag the shim knows; state must be null): copies the data from from's
// position to its end to to. 0, or -1 with errno set. DARWIN_SHIM_FCOPYFILE_ERROR makes it fail.
int fcopyfile(int from, int to, copyfile_state_t state, copyfile_flags_t flags);
