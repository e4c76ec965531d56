// Stand-in for the C runtime's <io.h>.
#pragma once
#include <unistd.h>

#ifdef __cplusplus
extern "C" {
#endif
int _access(const char* path, int mode);
#ifdef __cplusplus
}
#endif
