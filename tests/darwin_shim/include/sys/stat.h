// Darwin shim (tests only): <sys/stat.h> with Darwin's names of the file times.
#pragma once

#include_next <sys/stat.h>

#define st_mtimespec st_mtim
#define st_atimespec st_atim
