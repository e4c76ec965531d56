// Stand-in for the C runtime's <io.h>.
#pragma once
#include <unistd.h>

static inline int _access(const char* path, int mode) { return access(path, mode); }
