// Start-up: locating the executable, the test switch, the command table and
// the three kinds of message box.
#include "zarnouns.h"

char SelfPath[TextSize];
char SelfDir[TextSize];
char SelfName[TextSize];
char MessageBuffer[TextSize];
int TestMode;
// ZARNO_VERSION comes from the build, which has the version in one place.
const char ProgramTitle[] = "zarno's Uninstall Utility v" ZARNO_VERSION;

static const char AboutText[] =
    "For more information about this utility, contact zarno's support.\n\r"
    "Copyright (C) zarno. All rights reserved.";

int AskUser(const char* text) { return MessageBoxA(NULL, text, ProgramTitle, MB_YESNOCANCEL); }

int TellUser(const char* text) { return MessageBoxA(NULL, text, ProgramTitle, MB_OK); }

int AskRetry(const char* text) { return MessageBoxA(NULL, text, ProgramTitle, MB_RETRYCANCEL); }

int ShowAbout(void) { return TellUser(AboutText); }

// Ends the process when the executable cannot be located: -2 is its own code.
static void CannotLocate(const char* format, const char* path) {
    FormatText(MessageBuffer, sizeof MessageBuffer, format, path);
    TellUser(MessageBuffer);
    exit(-2);
}

void LocateSelf(const char* program) {
    char* filePart = NULL;
    DWORD length = GetFullPathNameA(program, sizeof SelfDir, SelfDir, &filePart);
    // Room is kept for the ".exe" that may have to be appended.
    if (length == 0 || length + 4 >= sizeof SelfDir)
        CannotLocate("Cannot find executable name: %s", program);
    if (filePart == NULL || *filePart == '\0')
        CannotLocate("Cannot find executable name: %s", SelfDir);
    if (_access(SelfDir, 0) != 0) {
        AppendText(SelfDir, sizeof SelfDir, ".exe");
        if (_access(SelfDir, 0) != 0) CannotLocate("Cannot find executable name: %s", SelfDir);
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
    LocateSelf(argc > 0 && argv[0] != NULL ? argv[0] : "");
    if (argc > 1 && strcmp(argv[1], "-t") == 0) {
        TestMode = 1;
        argv[1] = argv[0];
        argv++;
        argc--;
    }
    for (const Command* c = Commands; c->option != NULL; c++) {
        if (c->argc == argc && strcmp(c->option, argv[1]) == 0) {
            c->run(argv);
            return 0;
        }
    }
    ShowAbout();
    return 0;
}
