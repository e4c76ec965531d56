// Starting the uninstall from a copy of the executable in the temporary
// directory, so that the installation directory can be deleted; and, for a
// per-machine entry that Windows asks an unelevated process to remove,
// starting it again with an administrator's rights.
#include "zarnouns.h"

// One uninstall of an entry at a time, whoever starts it: a mutex named
// after the entry's key name, its letters folded as the registry folds them,
// in the Global namespace that other sessions and elevated runs share. A
// name too long for Windows keeps its head and ends in a hash of the whole.
// 1 when this run may go on: the mutex is then owned (also when its last
// owner ended without letting go), up to the end of the process where
// `keep` is set, else let go at once. A mutex this user may not open was
// made by an elevated run and counts as held.
static int LockEntry(const char* name, int keep) {
    char text[TextSize];
    WCHAR mutexName[MaxNameLength + 32];
    FormatText(text, sizeof text, "Global\\zarnouns %s", name);
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, mutexName, MaxNameLength + 32) - 1;
    if (length < 16) return 1;
    CharUpperBuffW(mutexName + 16, (DWORD)length - 16);
    if (length > 240) {
        DWORD hash = 2166136261u;
        for (int i = 16; i < length; i++) hash = (hash ^ mutexName[i]) * 16777619u;
        for (int i = 0; i < 8; i++)
            mutexName[232 + i] = (WCHAR)"0123456789ABCDEF"[hash >> (28 - 4 * i) & 15];
        mutexName[240] = 0;
    }
    HANDLE mutex = CreateMutexW(NULL, FALSE, mutexName);
    if (mutex == NULL) return GetLastError() != ERROR_ACCESS_DENIED;
    if (WaitForSingleObject(mutex, 0) == WAIT_TIMEOUT) {
        CloseHandle(mutex);
        return 0;
    }
    if (!keep) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return 1;
}

int OpenProductEntry(const char* name, HKEY* key, int keep) {
    if (!CheckProductName(name)) return 0;
    int free = LockEntry(name, keep);
    int found = KeyOpen(UninstallPrefix, name, KeyPath, key, 0) ? 1
                // Not under the user either: the machine's entry is there, but closed.
                : MachineResult == ERROR_ACCESS_DENIED ? -1
                                                       : 0;
    if (found && !free) {
        FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextAlreadyRunning), ShownName(*key, name));
        found = 0;
        KeyClose(key);
        SetExitCode(ExitInUse);
    } else if (!found) {
        FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextNotInstalled), name);
        SetExitCode(ExitNotInstalled);
    }
    if (!found) TellUser(MessageBuffer);
    return found;
}

const char* ShownName(HKEY key, const char* name) {
    const char* displayName = key != NULL ? ValueGet(key, "DisplayName") : NULL;
    return displayName != NULL && displayName[0] != '\0' ? displayName : name;
}

void TellNeedsAdministrator(const char* name) {
    FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextNeedsAdministrator), name);
    TellUser(MessageBuffer);
    SetExitCode(ExitFailed);
}

// A silent run ends with the code of the run it started and waited for.
static void TakeExitCode(HANDLE process) {
    DWORD code = ExitFailed;
    WaitForSingleObject(process, INFINITE);
    if (!GetExitCodeProcess(process, &code)) code = ExitFailed;
    CloseHandle(process);
    SetExitCode((int)code);
}

// The same command again, elevated: Windows asks the user for consent. 0
// when the user declines or the prompt cannot be shown.
static int RunElevated(const char* name) {
    char parameters[TextSize];
    if (!FormatText(parameters, sizeof parameters, "%s%s-u \"%s\"", SilentMode ? "-s " : "",
                    TestMode ? "-t " : "", name))
        return 0;
    SHELLEXECUTEINFOA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SilentMode ? SEE_MASK_NOASYNC | SEE_MASK_NOCLOSEPROCESS : SEE_MASK_NOASYNC;
    info.lpVerb = "runas";
    info.lpFile = SelfPath;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    fflush(stdout);
    if (!ShellExecuteExA(&info)) return 0;
    if (SilentMode && info.hProcess != NULL) TakeExitCode(info.hProcess);
    return 1;
}

void StartUninstall(const char* name) {
    HKEY key = NULL;
    // Only probed here: the copy takes the entry's lock for the whole uninstall.
    int found = OpenProductEntry(name, &key, 0);
    if (found < 0) {
        // Already elevated and still refused: asking again would not help.
        if (IsElevated()) {
            TellNeedsAdministrator(name);
        } else if (!RunElevated(name)) {
            SetExitCode(ExitDeclined);
            TellNeedsAdministrator(name);
        }
        return;
    }
    if (!found) return;
    KeyClose(&key);

    char arguments[TextSize];
    int started = 0;
    if (FormatText(arguments, sizeof arguments, "%s-d \"%s\"", SilentMode ? "-s " : "", name))
        started = RunFromTemp(arguments);
    if (started) {
        puts("Executed succesfully!");
        return;
    }
    puts("Cannot execute the uninstaller in temporary directory.");
    Uninstall(name);
}

// A new folder inside the temporary directory, made by this run, into
// `folder`: a name that is already there is never used, so no file that
// anyone put there can stand in for the copy. An elevated run's folder
// admits only Administrators and SYSTEM.
static int MakeOwnFolder(const char* tempDir, char* folder, size_t size, int elevated) {
    SECURITY_ATTRIBUTES security = {sizeof security, NULL, FALSE};
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (elevated) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
                "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, NULL))
            return 0;
        security.lpSecurityDescriptor = descriptor;
    }
    int made = 0;
    for (unsigned n = 0; n < 100 && !made; n++) {
        char name[64];
        FormatText(name, sizeof name, "zarnouns-%lu-%u", (unsigned long)GetCurrentProcessId(), n);
        if (!JoinPath(folder, size, tempDir, name)) break;
        made = CreateDirectoryA(folder, &security);
    }
    LocalFree(descriptor);
    return made;
}

void DeleteAtRestart(const char* file, const char* folder) {
    MoveFileExA(file, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExA(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Files moved aside are named "zarnouns-PID-N.del", with the first N from 0
// that is free.
int IsMovedAside(const char* name) {
    char prefix[32];
    FormatText(prefix, sizeof prefix, "zarnouns-%lu-", (unsigned long)GetCurrentProcessId());
    return strncmp(name, prefix, strlen(prefix)) == 0;
}

// Through the wide functions, for files and folders deep in a tree.
static WCHAR From[WalkPathSize], To[WalkPathSize];

int DeleteAsideAtRestart(const char* file) {
    static char aside[WalkTextSize];
    if (!CopyText(aside, sizeof aside, file) || !LongPath(file, From)) return 0;
    char* name = strrchr(aside, PATH_SEP) + 1;
    for (unsigned n = 0; n < 100; n++) {
        if (!FormatText(name, sizeof aside - (size_t)(name - aside), "zarnouns-%lu-%u.del",
                        (unsigned long)GetCurrentProcessId(), n) ||
            !LongPath(aside, To))
            return 0;
        if (MoveFileExW(From, To, 0)) {
            printf("renamed: %s -> %s\n", file, aside);
            if (MoveFileExW(To, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
                printf("delete at restart: %s\n", aside);
                return 1;
            }
            MoveFileExW(To, From, 0);
            printf("renamed: %s -> %s\n", aside, file);
            return 0;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return 0;
    }
    return 0;
}

void RemoveFolderAtRestart(const char* folder) {
    int n = LongPath(folder, From);
    int cut = strlen(folder) > 1 && EndsInSeparator(folder);
    if (n == 0) return;
    if (cut) From[n - 1] = 0;
    if (MoveFileExW(From, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
        printf("delete at restart: %.*s\n", (int)strlen(folder) - cut, folder);
}

int RunFromTemp(const char* arguments) {
    char tempDir[TextSize];
    char folder[TextSize];
    char destination[TextSize];
    char commandLine[TextSize];

    DWORD length = GetTempPathA(sizeof tempDir, tempDir);
    if (length == 0 || length >= sizeof tempDir) return 0;
    tempDir[length] = '\0';
    int elevated = IsElevated();
    if (!MakeOwnFolder(tempDir, folder, sizeof folder, elevated)) return 0;
    // Both texts are composed before anything is copied, so that nothing is
    // left in the temporary directory when the start is given up.
    if (!JoinPath(destination, sizeof destination, folder, SelfName) ||
        !FormatText(commandLine, sizeof commandLine, "\"%s\" %s", destination, arguments)) {
        _rmdir(folder);
        return 0;
    }

    printf("Copying: %s -> %s\n", SelfPath, destination);
    if (!CopyFileA(SelfPath, destination, TRUE)) {
        _rmdir(folder);
        return 0;
    }
    printf("Executing: %s\n", commandLine);

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    memset(&process, 0, sizeof process);
    GetStartupInfoA(&startup);
    // A silent copy reports its exit code on its standard error, through a
    // pipe to this process, as soon as the uninstall is done: it outlives
    // this process to delete this process's file.
    HANDLE report = NULL, reportEnd = NULL;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
    if (SilentMode && CreatePipe(&report, &reportEnd, &inherited, 0)) {
        SetHandleInformation(report, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = reportEnd;
    }
    // The copy writes to the same output; what this process traced comes first.
    fflush(stdout);
    BOOL started = CreateProcessA(NULL, commandLine, NULL, NULL, report != NULL, 0, NULL, folder,
                                  &startup, &process);
    if (reportEnd != NULL) CloseHandle(reportEnd);
    if (!started) {
        if (report != NULL) CloseHandle(report);
        remove(destination);
        _rmdir(folder);
        return 0;
    }
    // The running copy cannot delete itself; where this user may, Windows
    // removes it and its folder at the next restart.
    if (elevated) DeleteAtRestart(destination, folder);
    CloseHandle(process.hThread);
    // A deployment tool waits for this process and judges by its exit code.
    if (report != NULL) {
        char text[16];
        DWORD got = 0, n = 0;
        while (got < sizeof text - 1 && ReadFile(report, text + got, sizeof text - 1 - got, &n, NULL) &&
               n > 0)
            got += n;
        text[got] = '\0';
        CloseHandle(report);
        CloseHandle(process.hProcess);
        // A copy that ended without a report failed on its way.
        SetExitCode(got > 0 ? atoi(text) : (int)ExitFailed);
        return started;
    }
    // Without the pipe, the copy is waited for and judged by its exit code.
    if (SilentMode)
        TakeExitCode(process.hProcess);
    else
        CloseHandle(process.hProcess);
    return started;
}
