// Darwin shim (tests only): the part of <sys/proc_info.h> the platform layer reads.
#pragma once

#include <stdint.h>

#define PROC_PIDTBSDINFO 3

// Darwin's structure holds many more fields; the shim fills only these.
struct proc_bsdinfo {
  uint32_t pbi_flags;
  uint32_t pbi_status; // SRUN, SZOMB, ... of <sys/proc.h>
  uint32_t pbi_xstatus;
  uint32_t pbi_pid;
  uint32_t pbi_ppid;
};
