// Folders inside the installation that are not the plug-in's. A user may
// install into a folder that already holds a working copy or another tool,
// and the tree removal would take them along: a folder whose listing holds
// a version-control system's own entry, or that another Uninstall entry
// names, is kept whole. The first walk of the uninstall decides and records;
// the walks after it ask the record.
#include "zarnouns.h"

// The entries that make a folder a working copy, each a folder or a file
// (the ".git" of a worktree or submodule), one after another.
static const char Markers[] = ".git\0.svn\0.hg\0.bzr\0_darcs\0CVS\0.jj\0.pijul\0.fslckout\0_FOSSIL_\0";

enum { MaxOthers = 64, NameSize = 128, KeptPoolSize = 65536, WideMax = 32768 };

// Other programs' folders that are the installation folder or lie in it,
// with the name the list of programs shows.
struct OtherProgram {
    FolderId id;
    char name[NameSize];
};
static OtherProgram Others[MaxOthers];
static int OtherCount;

// A pool of names in UTF-16, each after its length.
struct NamePool {
    WCHAR* units;
    int size, used;
};

static int PoolHolds(const NamePool* pool, const WCHAR* name, int n) {
    for (int i = 0; i < pool->used; i += pool->units[i] + 1)
        if (pool->units[i] == n && SameLetters(&pool->units[i + 1], name, n)) return 1;
    return 0;
}

// 0 when the name does not fit.
static int PoolAdd(NamePool* pool, const WCHAR* name, int n) {
    if (pool->used + n + 1 > pool->size) return 0;
    pool->units[pool->used] = (WCHAR)n;
    memcpy(&pool->units[pool->used + 1], name, n * sizeof(WCHAR));
    pool->used += n + 1;
    return 1;
}

// The folders the first walk kept, as it walked them, without a trailing
// separator. One that does not fit makes the later walks look again for
// themselves.
static WCHAR KeptUnits[KeptPoolSize];
static NamePool Kept = {KeptUnits, KeptPoolSize, 0};
static int KeptOverflow;
static char KeptList[TextSize];  // for the box
static int KeptLines;

static WCHAR Pattern[WideMax + 2];  // the listing pattern of a folder looked at

// The folder of the program that a command or an icon names, into `folder`
// (TextSize): a quoted path up to its closing quote, an unquoted one up to
// its ".exe"; an icon's ",N" is dropped. 0 when it names no folder.
static int CommandFolder(const char* text, char* folder) {
    while (*text == ' ') text++;
    const char* end = NULL;
    if (*text == '"') {
        end = strchr(++text, '"');
    } else {
        for (const char* p = text; *p != '\0' && end == NULL; p++)
            if (p[0] == '.' && (p[1] | 32) == 'e' && (p[2] | 32) == 'x' && (p[3] | 32) == 'e')
                end = p + 4;
        if (end == NULL) end = strrchr(text, ',');
        if (end == NULL) end = text + strlen(text);
    }
    if (end == NULL || end - text >= TextSize) return 0;
    size_t n = end - text;
    while (n > 0 && !IsSeparator(text[n - 1])) n--;
    if (n == 0) return 0;
    memcpy(folder, text, n);
    folder[n] = '\0';
    return 1;
}

// Whether another program's folder can lie inside the installation is told
// by names where names can tell: a folder whose full name lies inside the
// installation's is inside, and one whose name lies elsewhere on the same
// drive is outside, unless a folder on its way there is a link (a junction,
// a mount point, any reparse point), which could lead anywhere, or a name
// is a short one ("PROGRA~1"). Only those, and other drives and shares (a
// drive letter may be mapped onto any folder), are judged by identity, each
// folder above them opened in turn. A machine lists some 300 programs whose
// folders share their parents, so each folder on the way is looked at once
// per run: the pool remembers the folders found to be plain.
enum { PlainPoolSize = 65536 };
static WCHAR PlainUnits[PlainPoolSize];
static NamePool Plain = {PlainUnits, PlainPoolSize, 0};
static char InsideName[TextSize];       // the installation's full name
static WCHAR InsideWide[TextSize];
static int InsideLength;

static int HasShortName(const WCHAR* name, int n) {
    for (int i = 0; i < n; i++)
        if (name[i] == '~') return 1;
    return 0;
}

// What the folder `name` (n units) is: 1 a folder and no reparse point, 0
// not there, -1 anything else (a link, a file, a folder it cannot see).
static int PlainFolder(const WCHAR* name, int n) {
    if (PoolHolds(&Plain, name, n)) return 1;
    WCHAR path[TextSize];
    memcpy(path, name, n * sizeof(WCHAR));
    path[n] = 0;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    PoolAdd(&Plain, name, n);
    return 1;
}

// Where the folder of the full name `name` lies: 1 inside the installation,
// 0 outside (or nowhere), -1 where names cannot tell.
static int InsideByName(const char* name) {
    WCHAR wide[TextSize];
    int n = MultiByteToWideChar(CP_ACP, 0, name, -1, wide, TextSize) - 1;
    if (n <= 0 || InsideLength == 0) return -1;
    if (n >= InsideLength && SameLetters(wide, InsideWide, InsideLength) &&
        (n == InsideLength || wide[InsideLength] == PATH_SEP))
        return 1;
    // Both under one drive's root ("C:\") or the one root ("/"), spelt
    // alike, and no short name: a share's or a device's names never tell
    // where a folder is.
    size_t root = RootLength(name);
    int tells = root == 3 ? name[1] == ':' && IsSeparator(name[2]) : root == 1 && IsSeparator(name[0]);
    if (!tells || RootLength(InsideName) != root || !SameLetters(wide, InsideWide, (int)root) ||
        HasShortName(wide, n) || HasShortName(InsideWide, InsideLength))
        return -1;
    // Every folder on the way, from the first below the root.
    for (int i = (int)root + 1; i <= n; i++) {
        if (i < n && wide[i] != PATH_SEP) continue;
        int plain = PlainFolder(wide, i);
        if (plain <= 0) return plain;
    }
    return 0;
}

// The values that name a program's folder: the first itself, the others
// by a program or icon in it.
static const char FolderValues[] = "InstallLocation\0UninstallString\0QuietUninstallString\0DisplayIcon\0";

// Notes the folders that the entry `name` of the open Uninstall key `list`
// names inside the installation folder `inside`.
static void NoteEntry(HKEY list, const char* name, REGSAM view, const FolderId* inside) {
    HKEY entry;
    if (RegOpenKeyExA(list, name, 0, KEY_READ | view, &entry) != ERROR_SUCCESS) return;
    for (const char* valueName = FolderValues; *valueName != '\0';
         valueName += strlen(valueName) + 1) {
        char folder[TextSize], name[TextSize];
        const char* value = ValueGet(entry, valueName);
        FolderId id;
        if (value == NULL || !(valueName == FolderValues ? CopyText(folder, sizeof folder, value)
                                                         : CommandFolder(value, folder)) ||
            folder[0] == '\0' || !FullFolderName(folder, name))
            continue;
        int by = InsideByName(name);
        if (by == 0 || (by == 1 && !FolderIdentity(name, &id)) ||
            (by == -1 && !FolderWithin(name, inside, &id)))
            continue;
        int known = 0;
        for (int k = 0; k < OtherCount; k++) known |= SameId(&Others[k].id, &id);
        if (known || OtherCount == MaxOthers) continue;
        Others[OtherCount].id = id;
        value = ValueGet(entry, "DisplayName");
        CopyText(Others[OtherCount++].name, NameSize, value != NULL ? value : "");
    }
    RegCloseKey(entry);
}

void FindOtherPrograms(const char* ownName, const char* dir) {
    // HKLM's 64-bit and 32-bit views (one and the same on 32-bit Windows),
    // then the user's own entries.
    static const REGSAM Views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY, 0};
    char path[TextSize], name[TextSize];
    FolderId inside;
    // A new run: nothing is kept yet.
    OtherCount = Kept.used = KeptOverflow = KeptLines = Plain.used = InsideLength = 0;
    KeptList[0] = '\0';
    if (dir == NULL || !FolderIdentity(dir, &inside)) return;
    if (FullFolderName(dir, InsideName))
        InsideLength = MultiByteToWideChar(CP_ACP, 0, InsideName, -1, InsideWide, TextSize) - 1;
    if (InsideLength < 0) InsideLength = 0;
    CopyText(path, sizeof path, UninstallPrefix);
    path[strlen(path) - 1] = '\0';
    for (int v = 0; v < 3; v++) {
        HKEY list;
        if (RegOpenKeyExA(v < 2 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, path, 0,
                          KEY_READ | Views[v], &list) != ERROR_SUCCESS)
            continue;
        DWORD length = sizeof name;
        for (DWORD i = 0; RegEnumKeyExA(list, i, name, &length, NULL, NULL, NULL, NULL) ==
                          ERROR_SUCCESS;
             i++, length = sizeof name)
            // This product's own entry, in any hive or view, is an earlier
            // registration of the plug-in, never another program.
            if (_stricmp(name, ownName) != 0) NoteEntry(list, name, Views[v], &inside);
        RegCloseKey(list);
    }
}

int IsMarker(const WCHAR* name, int n) {
    for (const char* m = Markers; *m != '\0'; m += strlen(m) + 1) {
        WCHAR marker[16];
        int k = 0;
        while ((marker[k] = m[k]) != 0) k++;
        if (k == n && SameLetters(name, marker, k)) return 1;
    }
    return 0;
}

// 1 when the listing of the folder `dir` (n units) holds a marker; the walk
// that is entering it has read that listing already.
static int HoldsMarker(const WCHAR* dir, int n) {
    if (WalkMarked >= 0) return WalkMarked;
    if (n + 2 > WideMax) return 0;
    memcpy(Pattern, dir, n * sizeof(WCHAR));
    Pattern[n] = PATH_SEP;
    Pattern[n + 1] = '*';
    Pattern[n + 2] = 0;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(Pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return 0;
    int found = 0;
    do {
        int k = 0;
        while (entry.cFileName[k] != 0) k++;
        found = IsMarker(entry.cFileName, k);
    } while (!found && FindNextFileW(listing, &entry));
    FindClose(listing);
    return found;
}

// Why the folder `dir` (n units) is kept: 1 a working copy, 2 + i where
// Others[i] is installed; 0 when it is not. Identities are compared only
// where another program's folder lies inside the installation at all.
static int KeptReason(const WCHAR* dir, int n) {
    if (HoldsMarker(dir, n)) return 1;
    FolderId id;
    if (OtherCount == 0 || !WideIdentity(dir, &id)) return 0;
    for (int i = 0; i < OtherCount; i++)
        if (SameId(&Others[i].id, &id)) return 2 + i;
    return 0;
}

int IsKeptFolder(const WCHAR* dir, const char* text, int how) {
    int n = 0;
    while (dir[n] != 0) n++;
    while (n > 0 && IsSeparator(dir[n - 1])) n--;
    if (n == 0) return 0;
    if (PoolHolds(&Kept, dir, n)) return 1;
    if (how == KeptConsult && !KeptOverflow) return 0;
    int reason = KeptReason(dir, n);
    if (reason == 0 || how != KeptDecide) return reason != 0;
    if (!PoolAdd(&Kept, dir, n)) KeptOverflow = 1;
    AddLine(KeptList, &KeptLines, text);
    const char* name = reason == 1 ? "" : Others[reason - 2].name;
    printf(reason == 1 ? "kept: %s (a working copy)\n" : "kept: %s (where %s is installed)\n", text,
           name[0] != '\0' ? name : "another program");
    return 1;
}

int IsKeptFolderA(const char* dir, int how) {
    // The form the walk gives its folders, so that the record matches.
    static WCHAR wide[WalkPathSize];
    return dir[0] != '\0' && LongPath(dir, wide) > 0 && IsKeptFolder(wide, dir, how);
}

int KeptFolders(char* list) {
    if (list != NULL) CopyText(list, TextSize, KeptList);
    return KeptLines;
}
