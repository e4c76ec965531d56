// Stand-in for the C runtime's <direct.h>.
#pragma once
#include <unistd.h>

static inline int _rmdir(const char* path) { return rmdir(path); }
