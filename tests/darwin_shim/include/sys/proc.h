// Darwin shim (tests only): the process states of <sys/proc.h> that the platform layer reads.
#pragma once

#define SIDL 1
#define SRUN 2
#define SSLEEP 3
#define SSTOP 4
#define SZOMB 5
