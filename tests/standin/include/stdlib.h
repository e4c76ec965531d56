// The C library's <stdlib.h> with the Windows C runtime's _makepath added.
#pragma once
#include_next <stdlib.h>

#ifdef __cplusplus
extern "C" {
#endif
// drive:dir/name.ext, with the separator inserted after dir when it lacks one.
void _makepath(char* path, const char* drive, const char* dir, const char* name,
               const char* ext);
#ifdef __cplusplus
}
#endif
