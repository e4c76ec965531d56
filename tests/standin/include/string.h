// The C library's <string.h> with the Windows C runtime's _stricmp added.
#pragma once
#include_next <string.h>
#include <strings.h>

static inline int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
