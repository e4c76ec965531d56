// The platform services the program calls, by their Win32 and C-runtime
// names. The Windows build finds the real headers; the native build puts the
// stand-in's include folder first, which provides the same names.
// <pathsep.h> supplies the directory separator, the only difference the
// program's code may see.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <wincrypt.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <restartmanager.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <pathsep.h>
