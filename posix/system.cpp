// The rest of the emulated 64-bit Windows that the program asks about: its
// environment's folders, modules and their procedures, the process token,
// security descriptors, code pages and COM memory.
#include <errno.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <string>

#include "machine.h"

namespace {

HMODULE const Kernel32 = (HMODULE)(uintptr_t)0x1000;
HMODULE const Shell32 = (HMODULE)(uintptr_t)0x2000;
HANDLE const ProcessToken = (HANDLE)(uintptr_t)0x3000;

BOOL WINAPI StandInSetDefaultDllDirectories(DWORD flags) { return flags != 0; }

}  // namespace

extern "C" {

// A 32-bit process on a 64-bit Windows finds the native Program Files in its
// environment; everything else is the real environment.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    if (!name) return 0;
    std::string value;
    if (strcasecmp(name, "ProgramW6432") == 0) {
        value = MachinePath("c/Program Files");
    } else if (strcasecmp(name, "CommonProgramW6432") == 0) {
        value = MachinePath("c/Program Files/Common Files");
    } else {
        const char* v = getenv(name);
        if (!v) {
            errno = ENOENT;
            return 0;
        }
        value = v;
    }
    return MachineGiveString(value, size, buffer);
}

UINT GetSystemWow64DirectoryA(LPSTR buffer, UINT size) {
    return MachineGiveString(MachinePath("c/Windows/SysWOW64"), size, buffer);
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int wideCount, LPSTR text, int size, LPCSTR,
                        LPBOOL) {
    if (!wide) return 0;
    size_t n = 0;
    if (wideCount < 0) {
        while (wide[n]) n++;
        n++;  // the NUL is converted too
    } else {
        n = (size_t)wideCount;
    }
    if (size == 0) return (int)n;
    if (!text || (size_t)size < n) {
        errno = ERANGE;
        return 0;
    }
    for (size_t i = 0; i < n; i++) text[i] = wide[i] < 0x80 ? (char)wide[i] : '?';
    return (int)n;
}

HMODULE GetModuleHandleA(LPCSTR name) {
    if (name && strcasecmp(name, "kernel32.dll") == 0) return Kernel32;
    if (name && strcasecmp(name, "shell32.dll") == 0) return Shell32;
    errno = ENOENT;
    return NULL;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (!name) return NULL;
    if (module == Kernel32 && strcmp(name, "SetDefaultDllDirectories") == 0)
        return (FARPROC)(void (*)(void))StandInSetDefaultDllDirectories;
    if (module == Kernel32 && strcmp(name, "SetFileInformationByHandle") == 0)
        return (FARPROC)(void (*)(void))StandInSetFileInformationByHandle;
    if (FARPROC procedure = StandInRestartManagerProcedure(module, name)) return procedure;
    if (module == Shell32 && strcmp(name, "SHGetKnownFolderPath") == 0)
        return (FARPROC)(void (*)(void))StandInGetKnownFolderPath;
    errno = ENOENT;
    return NULL;
}

BOOL SetDllDirectoryA(LPCSTR) { return TRUE; }

HANDLE GetCurrentProcess(void) { return (HANDLE)(intptr_t)-1; }
DWORD GetCurrentProcessId(void) { return (DWORD)getpid(); }

BOOL OpenProcessToken(HANDLE process, DWORD, HANDLE* token) {
    if (process != GetCurrentProcess() || !token) {
        errno = EINVAL;
        return FALSE;
    }
    *token = ProcessToken;
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data, DWORD size,
                         LPDWORD needed) {
    if (token != ProcessToken || kind != TokenElevation) {
        errno = EINVAL;
        return FALSE;
    }
    if (needed) *needed = sizeof(TOKEN_ELEVATION);
    if (!data || size < sizeof(TOKEN_ELEVATION)) {
        errno = ERANGE;
        return FALSE;
    }
    static_cast<TOKEN_ELEVATION*>(data)->TokenIsElevated = MachineIsNonAdmin() ? 0 : 1;
    return TRUE;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          DWORD* size) {
    if (!text || !descriptor) {
        errno = EINVAL;
        return FALSE;
    }
    *descriptor = malloc(1);
    if (size) *size = 1;
    return *descriptor != NULL;
}

HLOCAL LocalFree(HLOCAL memory) {
    free(memory);
    return NULL;
}

HRESULT CoInitializeEx(LPVOID, DWORD) { return S_OK; }
void CoTaskMemFree(LPVOID memory) { free(memory); }

}  // extern "C"
