// Stand-in for the C runtime's <direct.h>.
#pragma once
#include <unistd.h>

#ifdef __cplusplus
extern "C" {
#endif
int _rmdir(const char* path);
#ifdef __cplusplus
}
#endif
