// Files of the installation that another process holds. An IDE that has
// the plug-in loaded keeps its DLL from being deleted; the uninstall looks
// for such files before it changes anything, so that it never leaves half a
// plug-in behind under an entry that is gone.
#include "zarnouns.h"

// Files found free stay open (for writing and deletion, every sharing mode
// allowed) until the tree removal deletes them through these handles: each
// is opened once, where opening it to look and again to delete nearly
// doubles the removal, and no program can load or lock it in between. A
// larger tree has its further files opened and closed again, and deleted by
// name.
enum { MaxHeld = 16384, MaxHolderLines = 10, MaxPrograms = 32 };
static HANDLE Held[MaxHeld];
static int HeldCount;

// State of the walk. Besides the search, the same walk moves the files in
// use aside, or counts what the removal left.
enum { Search, MoveAside, CountLeft };
static int Mode;
static int KeepFree;
static int InUseCount;
static int Unmovable;  // files in use that cannot be renamed
static char FileLines[TextSize];  // the paths of the files in use, for the box
static int FileLineCount;
static char InstalledSelf[TextSize];  // this program's file in the installation

// The Restart Manager names the programs that hold files. It is looked up
// at run time from the system folder only (Vista and later); where it is
// missing or fails, the box names the files instead.
typedef DWORD(WINAPI* RmStartSessionProc)(DWORD*, DWORD, WCHAR*);
typedef DWORD(WINAPI* RmRegisterResourcesProc)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*,
                                                 UINT, LPCWSTR*);
typedef DWORD(WINAPI* RmGetListProc)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
typedef DWORD(WINAPI* RmEndSessionProc)(DWORD);
static RmRegisterResourcesProc RmRegister;
static RmGetListProc RmList;
static RmEndSessionProc RmEnd;
static DWORD RmSession;
static int RmStarted;

static SystemProc Procedure(HMODULE module, const char* name) {
    return (SystemProc)GetProcAddress(module, name);
}

static void StartRestartManager(void) {
    static HMODULE library;
    if (library == NULL) library = LoadSystemLibrary("rstrtmgr.dll");
    if (library == NULL) return;
    RmStartSessionProc start = (RmStartSessionProc)Procedure(library, "RmStartSession");
    RmRegister = (RmRegisterResourcesProc)Procedure(library, "RmRegisterResources");
    RmList = (RmGetListProc)Procedure(library, "RmGetList");
    RmEnd = (RmEndSessionProc)Procedure(library, "RmEndSession");
    WCHAR key[CCH_RM_SESSION_KEY + 1];
    RmStarted = start != NULL && RmRegister != NULL && RmList != NULL && RmEnd != NULL &&
                start(&RmSession, 0, key) == ERROR_SUCCESS;
}

static int HasLine(const char* list, const char* line) {
    size_t n = strlen(line);
    for (const char* p = list; *p != '\0'; p++) {
        if (strncmp(p, line, n) == 0 && (p[n] == '\n' || p[n] == '\0')) return 1;
        p = strchr(p, '\n');
        if (p == NULL) break;
    }
    return 0;
}

// Adds `line` to the lines in `list` (TextSize bytes) unless it is there
// already. A line past the last that may be shown, or one that does not
// fit, ends the list with "...". 0 once the list has ended.
int AddLine(char* list, int* lines, const char* line) {
    if (*lines > MaxHolderLines) return 0;
    if (HasLine(list, line)) return 1;
    size_t used = strlen(list);
    if (*lines < MaxHolderLines && AppendText(list, TextSize, used > 0 ? "\n" : "") &&
        AppendText(list, TextSize, line)) {
        (*lines)++;
        return 1;
    }
    list[used] = '\0';
    AppendText(list, TextSize, used > 0 ? "\n..." : "...");
    *lines = MaxHolderLines + 1;
    return 0;
}

// Another process that runs the file, has it loaded or holds it open
// without delete sharing makes this fail with ERROR_SHARING_VIOLATION. Asked
// for DELETE alone, it fails only for a file held without delete sharing: a
// loaded DLL may still be renamed. What is no longer the file listed (a
// link now) is not held: the removal deletes it as a link.
static HANDLE OpenToCheck(DWORD access, int* failed) {
    int state;
    HANDLE file = WalkOpen(access, &state);
    *failed = file == INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE && state == 1) CloseHandle(file);
    return state == 0 ? file : INVALID_HANDLE_VALUE;
}

// The folder that the search could not walk whole, for the caller's box.
static char TooDeep[TextSize];

// Visits the tree for the three walks: a link is removed as a link, so
// nothing it leads to is looked at. Each file is kept open when it is free,
// reported when another process holds it (or moved aside); in a count, one
// that is not a file moved aside nor `InstalledSelf` counts. WalkCount
// counts the files moved aside, or those left; a folder that holds one
// moved aside is removed at the restart after them.
static int CheckEntry(int event) {
    const char* path = WalkText;
    if (event == WalkDeep) {
        if (Mode == CountLeft) WalkCount++;
        if (Mode != Search) return 0;
        printf("too deep to walk: %s\n", path);
        CopyText(TooDeep, sizeof TooDeep, path);
        WalkStop = 1;
        return 0;
    }
    // A working copy or another program's folder is never entered, by any
    // walk: the search decides, before it opens any file in it; the moves
    // aside and the count ask what it recorded.
    if (event == WalkEnter)
        return !IsKeptFolder(WalkWide, path, Mode == Search ? KeptDecide : KeptConsult);
    if (event == WalkLeave && Mode == MoveAside && WalkCountBelow > 0) RemoveFolderAtRestart(path);
    if (event != WalkFile) return 1;
    if (Mode == CountLeft) {
        WalkCount += !IsMovedAside(WalkName) && _stricmp(path, InstalledSelf) != 0;
        return 0;
    }
    // The uninstaller's own files: the running one, which stays behind where
    // the uninstall runs from the installation folder itself, and the
    // installed one that started this copy and is just ending.
    if (_stricmp(path, SelfPath) == 0 || _stricmp(path, InstalledSelf) == 0) return 0;
    int failed;
    HANDLE file = OpenToCheck(GENERIC_WRITE | DELETE, &failed);
    // A system that cannot keep so many files open: none is kept, and the
    // file is looked at again.
    if (failed && HeldCount > 0 && GetLastError() == ERROR_TOO_MANY_OPEN_FILES) {
        ReleaseHeldFiles();
        KeepFree = 0;
        file = OpenToCheck(GENERIC_WRITE | DELETE, &failed);
    }
    if (file != INVALID_HANDLE_VALUE) {
        if (KeepFree && HeldCount < MaxHeld)
            Held[HeldCount++] = file;
        else
            CloseHandle(file);
        return 0;
    }
    // A read-only file or one this user may not change is refused with
    // another error: that is not "in use", and the removal reports it.
    if (!failed || GetLastError() != ERROR_SHARING_VIOLATION) return 0;
    if (Mode == MoveAside) {
        WalkCount += DeleteAsideAtRestart(path);
        return 0;
    }
    printf("in use: %s\n", path);
    file = OpenToCheck(DELETE, &failed);
    if (file == INVALID_HANDLE_VALUE)
        Unmovable++;
    else
        CloseHandle(file);
    // The Restart Manager is asked only when there is something to ask.
    if (InUseCount++ == 0) StartRestartManager();
    AddLine(FileLines, &FileLineCount, path);
    // A path on a drive goes as it is commonly written.
    LPCWSTR files[1] = {WalkWide[5] == ':' ? WalkWide + 4 : WalkWide};
    if (RmStarted) RmRegister(RmSession, 1, files, 0, NULL, 0, NULL);
    return 0;
}

// The programs that the Restart Manager names for the files registered
// with it, each once, into `holders`; 0 when it names none.
static int NameHolders(char* holders) {
    static RM_PROCESS_INFO programs[MaxPrograms];
    UINT needed = 0, count = MaxPrograms;
    DWORD reasons = 0;
    holders[0] = '\0';
    if (RmList(RmSession, &needed, &count, programs, &reasons) != ERROR_SUCCESS) return 0;
    int lines = 0;
    for (UINT i = 0; i < count && i < MaxPrograms; i++) {
        char name[TextSize];
        if (WideCharToMultiByte(CP_ACP, 0, programs[i].strAppName, -1, name, sizeof name, NULL,
                                NULL) <= 0 ||
            name[0] == '\0')
            continue;
        if (!AddLine(holders, &lines, name)) break;
    }
    return lines > 0;
}

int FindFilesInUse(const char* dir, char* holders, int keep, int* unmovable) {
    ReleaseHeldFiles();
    Mode = Search;
    KeepFree = keep;
    InUseCount = 0;
    Unmovable = 0;
    FileLines[0] = '\0';
    FileLineCount = 0;
    if (!JoinPath(InstalledSelf, sizeof InstalledSelf, dir, SelfName)) InstalledSelf[0] = '\0';
    TooDeep[0] = '\0';
    WalkTree(dir, CheckEntry, 0);
    if (TooDeep[0] != '\0') {
        ReleaseHeldFiles();
        CopyText(holders, TextSize, TooDeep);
        InUseCount = -1;
    } else if (InUseCount > 0) {
        // The user is asked to close what holds them; nothing is kept open
        // meanwhile.
        ReleaseHeldFiles();
        if (!RmStarted || !NameHolders(holders)) CopyText(holders, TextSize, FileLines);
    }
    if (RmStarted) RmEnd(RmSession);
    RmStarted = 0;
    *unmovable = Unmovable;
    return InUseCount;
}

// The other two walks, which keep no file open.
static int Walk(int mode, const char* dir, const char* except) {
    Mode = mode;
    KeepFree = 0;
    if (!CopyText(InstalledSelf, sizeof InstalledSelf, except)) InstalledSelf[0] = '\0';
    WalkTree(dir, CheckEntry, 0);
    return WalkCount;
}

int MoveFilesInUseAside(const char* dir) {
    char self[TextSize];
    if (!JoinPath(self, sizeof self, dir, SelfName)) self[0] = '\0';
    return Walk(MoveAside, dir, self);
}

int CountFilesLeft(const char* dir, const char* except) { return Walk(CountLeft, dir, except); }

void DeleteHeldFiles(void) {
    // Each was checked to be the file listed when it was opened.
    for (int i = 0; i < HeldCount; i++) {
        WalkDelete(Held[i]);
        CloseHandle(Held[i]);
    }
    HeldCount = 0;
}

void ReleaseHeldFiles(void) {
    for (int i = 0; i < HeldCount; i++) CloseHandle(Held[i]);
    HeldCount = 0;
}
