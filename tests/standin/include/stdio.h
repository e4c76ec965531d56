// The C library's <stdio.h> with the Windows C runtime's _vsnprintf added:
// -1 when the text does not fit, and no promise of a terminator then.
#pragma once
#include_next <stdio.h>
#include <stdarg.h>

static inline int _vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
    int n = vsnprintf(buffer, size, format, args);
    return n < 0 || (size_t)n >= size ? -1 : n;
}

// The Windows C runtime's fopen refuses a folder; the C library here opens
// one for reading and fails only at the first read.
#ifdef __cplusplus
extern "C" {
#endif
FILE* StandInOpenFile(const char* path, const char* mode);
// A descriptor opened for reading in text mode ("r" or "rt") reads from
// where it stands as the Windows C runtime reads it: CR LF as LF, nothing
// after a Ctrl-Z.
FILE* StandInOpenDescriptor(int fd, const char* mode);
#ifdef __cplusplus
}
#endif
#define fopen StandInOpenFile
#define _fdopen StandInOpenDescriptor
