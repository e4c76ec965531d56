// Start-up: locating the executable, the leading switches, the command
// table, the message boxes, and the silent run's exit code and log.
#include "zarnouns.h"

char SelfPath[TextSize];
char SelfDir[TextSize];
char SelfName[TextSize];
char MessageBuffer[TextSize];
int TestMode;
int SilentMode;
static int SilentCode;
static FILE* Log;  // the silent run's log, or none
// ZARNO_VERSION comes from the build, which has the version in one place.
const char ProgramTitle[] = "zarno's Uninstall Utility v" ZARNO_VERSION;

// A silent run shows nothing: nobody may be at the screen to answer.
static int ShowBox(const char* text, UINT type, int silentAnswer) {
    if (!SilentMode) return MessageBoxA(NULL, text, ProgramTitle, type);
    if (Log != NULL) {
        fprintf(Log, "box: %s\n", text);
        fflush(Log);
    }
    return silentAnswer;
}

int AskUser(const char* text) { return ShowBox(text, MB_YESNOCANCEL, IDYES); }

int TellUser(const char* text) { return ShowBox(text, MB_OK, IDOK); }

// Cancel keeps the installation as it is, for a later try.
int AskRetry(const char* text) { return ShowBox(text, MB_RETRYCANCEL, IDCANCEL); }

// Nobody at the screen waits for a program to be closed: the uninstall goes
// on, and the files in use go at the restart.
int AskTryContinue(const char* text) { return ShowBox(text, MB_CANCELTRYCONTINUE, IDCONTINUE); }

// Copy and starter append to the same log, each line as it comes: one
// flushed write per line keeps their lines whole.
int Trace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = vfprintf(stdout, format, args);
    va_end(args);
    if (Log != NULL) {
        va_start(args, format);
        vfprintf(Log, format, args);
        va_end(args);
        fflush(Log);
    }
    return n;
}

int TraceLine(const char* text) { return Trace("%s\n", text); }

void SetExitCode(int code) {
    if (SilentCode == 0) SilentCode = code;
}

int EndRun(int code) {
    if (!SilentMode) return code;
    if (Log != NULL) {
        fprintf(Log, "exit code: %d\n", SilentCode);
        fclose(Log);
        Log = NULL;
    }
    // The trace first: the starter's output then ends after the copy's.
    fflush(stdout);
    char report[16];
    FormatText(report, sizeof report, "%d\n", SilentCode);
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written;
    WriteFile(error, report, (DWORD)strlen(report), &written, NULL);
    // Closed, so that the starter's read ends here and not at this process's end.
    CloseHandle(error);
    return SilentCode;
}

// Opened for appending only: each write lands at the end as one piece,
// however many runs write at the same time.
static FILE* OpenToAppend(const char* path) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return NULL;
    int descriptor = _open_osfhandle((intptr_t)file, _O_APPEND | _O_TEXT);
    if (descriptor < 0) {
        CloseHandle(file);
        return NULL;
    }
    return _fdopen(descriptor, "a");
}

// zarnouns.log in the temporary folder of the account (the Windows one for
// SYSTEM), begun afresh past 1 MiB: the full one becomes zarnouns.log.old,
// where no other run has it open (one that does keeps appending to it, and
// nothing of its lines is lost). A log that cannot be written is done
// without.
static void OpenLog(void) {
    char path[TextSize], old[TextSize];
    DWORD length = GetTempPathA(sizeof path, path);
    if (length == 0 || length >= sizeof path || !AppendText(path, sizeof path, "zarnouns.log")) return;
    Log = OpenToAppend(path);
    if (Log != NULL && fseek(Log, 0, SEEK_END) == 0 && ftell(Log) > 1024L * 1024 &&
        FormatText(old, sizeof old, "%s.old", path)) {
        fclose(Log);
        MoveFileExA(path, old, MOVEFILE_REPLACE_EXISTING);
        Log = OpenToAppend(path);
    }
    if (Log == NULL) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    fprintf(Log, "%04u-%02u-%02u %02u:%02u:%02u %s\n", now.wYear, now.wMonth, now.wDay, now.wHour,
            now.wMinute, now.wSecond, GetCommandLineA());
    fflush(Log);
}

int ShowAbout(void) { return TellUser(Text(TextAbout)); }

// Ends the process when the executable cannot be located: -2 is its own code.
static void CannotLocate(const char* path) {
    FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextCannotLocate), path);
    TellUser(MessageBuffer);
    SetExitCode(ExitFailed);
    exit(EndRun(-2));
}

void LocateSelf(const char* program) {
    char* filePart = NULL;
    DWORD length = GetFullPathNameA(program, sizeof SelfDir, SelfDir, &filePart);
    // Room is kept for the ".exe" that may have to be appended.
    if (length == 0 || length + 4 >= sizeof SelfDir)
        CannotLocate(program);
    if (filePart == NULL || *filePart == '\0') CannotLocate(SelfDir);
    if (_access(SelfDir, 0) != 0) {
        AppendText(SelfDir, sizeof SelfDir, ".exe");
        if (_access(SelfDir, 0) != 0) CannotLocate(SelfDir);
    }
    CopyText(SelfName, sizeof SelfName, filePart);
    CopyText(SelfPath, sizeof SelfPath, SelfDir);
    *filePart = '\0';
}

static void RunRegister(char** argv) { Register(argv[2], argv[3]); }
static void RunStartUninstall(char** argv) { StartUninstall(argv[2]); }
static void RunUninstall(char** argv) { Uninstall(argv[2]); }

struct Command {
    int argc;  // counting the program name
    const char* option;
    void (*run)(char** argv);
};

static const Command Commands[] = {
    {3, "-u", RunStartUninstall},
    {3, "-d", RunUninstall},
    {4, "-r", RunRegister},
    {0, NULL, NULL},
};

// DLLs are looked for in the system folder only: never beside the
// executable (the temporary folder, for the copy) or in the working
// directory, where anyone could have put one. Windows before 8 without the
// update that brings SetDefaultDllDirectories at least leaves the working
// directory out.
static void RestrictDllSearch(void) {
    typedef BOOL(WINAPI * SetDirectoriesProc)(DWORD);
    SetDirectoriesProc setDirectories =
        (SetDirectoriesProc)SystemProcedure("kernel32.dll", "SetDefaultDllDirectories");
    if (setDirectories == NULL || !setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}

SystemProc SystemProcedure(const char* module, const char* name) {
    HMODULE loaded = GetModuleHandleA(module);
    return loaded != NULL ? (SystemProc)GetProcAddress(loaded, name) : NULL;
}

HMODULE LoadSystemLibrary(const char* name) {
    char system[TextSize], path[TextSize];
    UINT length = GetSystemDirectoryA(system, sizeof system);
    if (length == 0 || length >= sizeof system || !JoinPath(path, sizeof path, system, name))
        return NULL;
    return LoadLibraryA(path);
}

int IsElevated(void) {
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
    TOKEN_ELEVATION elevation;
    elevation.TokenIsElevated = 0;
    DWORD size = 0;
    BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return known && elevation.TokenIsElevated != 0;
}

int AppMain(int argc, char** argv) {
    RestrictDllSearch();
    const char* program = argc > 0 && argv[0] != NULL ? argv[0] : "";
    // "-t" and "-s" lead, in either order, each at most once. They are taken
    // before the executable is located, so that a silent run shows no box.
    for (int i = 0; i < 2 && argc > 1; i++) {
        int* flag = strcmp(argv[1], "-t") == 0   ? &TestMode
                    : strcmp(argv[1], "-s") == 0 ? &SilentMode
                                                 : NULL;
        if (flag == NULL || *flag) break;
        *flag = 1;
        argv[1] = argv[0];
        argv++;
        argc--;
    }
    if (SilentMode) OpenLog();
    LocateSelf(program);
    for (const Command* c = Commands; c->option != NULL; c++) {
        if (c->argc == argc && strcmp(c->option, argv[1]) == 0) {
            c->run(argv);
            int code = EndRun(0);
            DeleteStarter();
            return code;
        }
    }
    if (SilentMode)
        SetExitCode(ExitBadCommand);
    else
        ShowAbout();
    return EndRun(0);
}
