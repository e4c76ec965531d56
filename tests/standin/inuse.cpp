// Files in use on the emulated machine, and the Restart Manager that tells
// who holds them: rstrtmgr.dll of the system folder, whose procedures are
// reached through GetProcAddress as on Windows.
#include <errno.h>
#include <restartmanager.h>
#include <string.h>
#include <strings.h>

#include <fstream>
#include <map>
#include <set>
#include <string>

#include "machine.h"

namespace {

// The list as this process last read it: once, and again after each message
// box, since only while a box waits for the user can anyone close a program.
std::map<std::string, std::string> Holders;
bool HoldersRead;

}  // namespace

void MachineForgetHolders() { HoldersRead = false; }

std::string MachineHolder(const std::string& path) {
    if (!HoldersRead) {
        Holders.clear();
        std::ifstream list(MachinePath("inuse"));
        std::string line;
        while (std::getline(list, line)) {
            size_t tab = line.find('\t');
            if (tab != std::string::npos) Holders[line.substr(0, tab)] = line.substr(tab + 1);
        }
        HoldersRead = true;
    }
    auto found = Holders.find(path);
    return found != Holders.end() ? found->second.substr(0, found->second.find('\t')) : std::string();
}

bool MachineLoaded(const std::string& path) {
    if (MachineHolder(path).empty()) return false;
    const std::string& held = Holders[path];
    return held.size() > 7 && held.compare(held.size() - 7, 7, "\tloaded") == 0;
}

void MachineMoveHeld(const std::string& from, const std::string& to) {
    std::ifstream in(MachinePath("inuse"));
    std::string line, list;
    while (std::getline(in, line))
        list += (line.compare(0, from.size() + 1, from + "\t") == 0 ? to + line.substr(from.size()) : line) + "\n";
    in.close();
    std::ofstream(MachinePath("inuse")) << list;
    HoldersRead = false;
}

namespace {

HMODULE const RestartManager = (HMODULE)(uintptr_t)0x4000;

// One session at a time: the files registered with it.
std::set<std::string> Registered;
bool SessionOpen;

std::string Narrow(LPCWSTR wide) {
    std::string text;
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, NULL, 0, NULL, NULL);
    if (n <= 0) return text;
    text.resize((size_t)n);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, &text[0], n, NULL, NULL);
    text.resize((size_t)n - 1);
    return text.compare(0, 4, "\\\\?\\") == 0 ? text.substr(4) : text;  // the long form
}

DWORD WINAPI StartSession(DWORD* session, DWORD, WCHAR* key) {
    if (!session || !key || SessionOpen) return ERROR_INVALID_PARAMETER;
    Registered.clear();
    SessionOpen = true;
    *session = 1;
    key[0] = 0;
    return ERROR_SUCCESS;
}

DWORD WINAPI RegisterResources(DWORD session, UINT files, LPCWSTR* names, UINT, RM_UNIQUE_PROCESS*,
                               UINT, LPCWSTR*) {
    if (session != 1 || !SessionOpen) return ERROR_INVALID_HANDLE;
    for (UINT i = 0; i < files; i++) Registered.insert(Narrow(names[i]));
    return ERROR_SUCCESS;
}

// One process for each registered file that a program holds, as Windows
// lists one for each process: a program that holds two files shows twice.
DWORD WINAPI GetList(DWORD session, UINT* needed, UINT* count, RM_PROCESS_INFO* programs,
                     DWORD* reasons) {
    if (session != 1 || !SessionOpen || !needed || !count) return ERROR_INVALID_HANDLE;
    std::string holders[64];
    UINT found = 0;
    for (const std::string& file : Registered) {
        std::string program = MachineHolder(file);
        if (!program.empty() && found < 64) holders[found++] = program;
    }
    *needed = found;
    if (reasons) *reasons = 0;
    if (found > *count) return ERROR_MORE_DATA;
    *count = found;
    for (UINT i = 0; i < found; i++) {
        memset(&programs[i], 0, sizeof programs[i]);
        programs[i].Process.dwProcessId = 1000 + i;
        MultiByteToWideChar(CP_ACP, 0, holders[i].c_str(), -1, programs[i].strAppName,
                            CCH_RM_MAX_APP_NAME + 1);
    }
    return ERROR_SUCCESS;
}

DWORD WINAPI EndSession(DWORD session) {
    if (session != 1 || !SessionOpen) return ERROR_INVALID_HANDLE;
    SessionOpen = false;
    Registered.clear();
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    return MachineGiveString(MachinePath("c/Windows/System32"), size, buffer);
}

HMODULE LoadLibraryA(LPCSTR path) {
    if (path && strcmp(path, (MachinePath("c/Windows/System32") + "/rstrtmgr.dll").c_str()) == 0)
        return RestartManager;
    errno = ENOENT;
    return NULL;
}

FARPROC StandInRestartManagerProcedure(HMODULE module, LPCSTR name) {
    if (module != RestartManager || !name) return NULL;
    if (strcmp(name, "RmStartSession") == 0) return (FARPROC)(void (*)(void))StartSession;
    if (strcmp(name, "RmRegisterResources") == 0) return (FARPROC)(void (*)(void))RegisterResources;
    if (strcmp(name, "RmGetList") == 0) return (FARPROC)(void (*)(void))GetList;
    if (strcmp(name, "RmEndSession") == 0) return (FARPROC)(void (*)(void))EndSession;
    return NULL;
}

}  // extern "C"
