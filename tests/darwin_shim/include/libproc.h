// Darwin shim (tests only): proc_pidinfo of <libproc.h>, flavour PROC_PIDTBSDINFO alone.
#pragma once

#include <stdint.h>
#include <sys/proc_info.h>

// Fills buffer (a proc_bsdinfo of buffersize bytes) for process pid from Linux's /proc and returns the
// number of bytes filled; 0 with errno set when the process cannot be looked into. As XNU, finds a
// zombie only when arg is non-zero (ESRCH otherwise).
int proc_pidinfo(int pid, int flavor, uint64_t arg, void* buffer, int buffersize);
