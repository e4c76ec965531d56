// Stand-in for the COM memory and start-up calls the program makes.
#pragma once
#include <windows.h>

#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4

#ifdef __cplusplus
extern "C" {
#endif
HRESULT CoInitializeEx(LPVOID reserved, DWORD flags);
void CoTaskMemFree(LPVOID memory);
#ifdef __cplusplus
}
#endif
