// Stand-in for the shell's process start (see windows.h). The verb "runas"
// is the elevation prompt: its answer is the next line of <machine>/answers
// ("yes" starts the program as administrator, anything else declines with
// ERROR_CANCELLED), and the prompt is logged to <machine>/boxes.log as
// "runas<TAB>file<TAB>parameters".
#pragma once
#include <windows.h>

#define SEE_MASK_NOCLOSEPROCESS 0x40
#define SEE_MASK_NOASYNC 0x100
#define SEE_MASK_FLAG_NO_UI 0x400
#define SW_SHOWNORMAL 1

typedef struct _SHELLEXECUTEINFOA {
    DWORD cbSize;
    DWORD fMask;
    HWND hwnd;
    LPCSTR lpVerb;
    LPCSTR lpFile;
    LPCSTR lpParameters;
    LPCSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIcon;
    HANDLE hProcess;
} SHELLEXECUTEINFOA, *LPSHELLEXECUTEINFOA;

#ifdef __cplusplus
extern "C" {
#endif
BOOL ShellExecuteExA(LPSHELLEXECUTEINFOA info);
// The stand-in's files hold no icons: asked how many a file has (index -1),
// it answers none.
typedef struct HICON__* HICON;
UINT ExtractIconExW(LPCWSTR file, int index, HICON* large, HICON* small, UINT count);
#ifdef __cplusplus
}
#endif
