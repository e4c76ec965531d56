/* Stands in for the plug-in's harbo.dll in the example installer: a DLL
   with one export, so that the installer has a real library to carry. */
#include <windows.h>

__declspec(dllexport) DWORD WINAPI HarboVersion(void) { return MAKELONG(3, 0); }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
