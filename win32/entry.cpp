// The Windows program's entry. The program is linked without the MinGW
// start-up (-nostartfiles): the process starts here, takes its arguments from
// msvcrt, wildcards expanded as the program has always had them, and ends
// through exit(), which flushes standard output and the log.
//
// Nothing else of that start-up is needed: the program has no static
// constructors, no thread-local data and imports no data from a DLL (so no
// pseudo-relocation to apply); msvcrt sets up its standard streams and its
// text mode on its own when it is loaded.
#include <stdlib.h>

#include "zarnouns.h"

extern "C" {
struct StartupInfo {
    int newMode;
};
__declspec(dllimport) int __cdecl __getmainargs(int* argc, char*** argv, char*** env,
                                                int expandWildcards, StartupInfo* info);
__declspec(dllimport) void __cdecl __set_app_type(int type);

// Windows aligns the stack to 4 bytes only for a 32-bit entry; the code GCC
// makes assumes 16.
#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
__attribute__((noreturn)) void ProgramEntry(void) {
    enum { GuiApp = 2 };
    // Runtime errors of msvcrt as a box, not on a console the program lacks.
    __set_app_type(GuiApp);
    int argc = 0;
    char** argv = NULL;
    char** env = NULL;
    StartupInfo info = {0};
    if (__getmainargs(&argc, &argv, &env, 1, &info) < 0) exit(255);
    exit(AppMain(argc, argv));
}
}
