// Stand-in for the C runtime's <io.h>.
#pragma once
#include <unistd.h>

#ifdef __cplusplus
extern "C" {
#endif
int _access(const char* path, int mode);
// A file opened by CreateFileA as a C runtime descriptor, which then owns it.
#define _O_APPEND 0x0008
#define _O_TEXT 0x4000
int _open_osfhandle(intptr_t handle, int flags);
#define _close close
#ifdef __cplusplus
}
#endif
