// The guard in front of every tree removal: a drive or share root, anything
// inside the Windows folder, any folder the shell names, the native Program
// Files of a 64-bit Windows, the temporary folder, the profiles and any
// folder holding one of these is never an application's own directory and
// is never removed. Folders are judged by what they are: where a folder
// exists, by its identity (volume and file index), so that no spelling of it
// (letter case in any script, a "\\?\" or "\\.\" prefix, a drive letter
// mapped onto it, a short name, "." and "..") passes for another folder;
// where it does not, by its name, compared as the file system compares names.
#include "zarnouns.h"

// Copies `path` into `dst` with every separator as PATH_SEP, runs of
// separators folded into one (except the two that open a share path), and
// one trailing separator dropped. 0 when the path does not fit.
static int NormalizePath(char* dst, size_t size, const char* path) {
    if (!CopyText(dst, size, path)) return 0;
    size_t out = 0;
    for (size_t in = 0; dst[in] != '\0'; in++) {
        char c = dst[in];
        if (IsSeparator(c)) {
            c = PATH_SEP;
            if (out > 1 && dst[out - 1] == PATH_SEP) continue;
        }
        dst[out++] = c;
    }
    dst[out] = '\0';
    if (out > 0 && dst[out - 1] == PATH_SEP) dst[out - 1] = '\0';
    return 1;
}

// `path` without a "\\?\", "\\.\" or "\??\" prefix into `dst` (TextSize):
// "\\?\C:\x" is C:\x and "\\?\UNC\server\share" is \\server\share. Other
// device paths (a volume's GUID name) are kept whole and judged as they are.
static int WithoutPrefix(char* dst, const char* path) {
    int prefixed = IsSeparator(path[0]) && (IsSeparator(path[1]) || path[1] == '?') &&
                   (path[2] == '?' || path[2] == '.') && IsSeparator(path[3]);
    const char* rest = path + 4;
    if (prefixed && rest[0] != '\0' && rest[1] == ':') return CopyText(dst, TextSize, rest);
    if (prefixed && (rest[0] == 'U' || rest[0] == 'u') && (rest[1] == 'N' || rest[1] == 'n') &&
        (rest[2] == 'C' || rest[2] == 'c') && IsSeparator(rest[3]))
        return CopyText(dst, TextSize, "\\") && AppendText(dst, TextSize, rest + 3);
    return CopyText(dst, TextSize, path);
}

size_t RootLength(const char* path) {
    if (path[0] != '\0' && path[1] == ':') return 3;
    if (!IsSeparator(path[0]) || !IsSeparator(path[1])) return 1;
    size_t i = 0;
    for (int separators = 0; path[i] != '\0'; i++)
        if (IsSeparator(path[i]) && ++separators == 4) return i + 1;
    return i;
}

// A normalised path that names a root: "" (what is left of "\\" or "/"),
// "c:", or a share "\\server\share" (or less of one).
static int IsRootPath(const char* path) {
    if (path[0] == '\0' || (path[0] == PATH_SEP && path[1] == '\0')) return 1;
    if (path[1] == ':' && path[2] == '\0') return 1;
    if (path[0] == PATH_SEP && path[1] == PATH_SEP) {
        int parts = 0;
        for (const char* p = path + 2; *p != '\0'; p++)
            if (*p == PATH_SEP) parts++;
        return parts <= 1;
    }
    return 0;
}

// FolderId (zarnouns.h) is what makes a folder itself.
int SameId(const FolderId* a, const FolderId* b) {
    return a->volume == b->volume && a->indexHigh == b->indexHigh && a->indexLow == b->indexLow;
}

// The identity of what the UTF-16 `path` names: 1, or 0 when it cannot be
// opened. No access is asked and every sharing allowed, so that nothing is
// kept from anyone; backup semantics let a folder be opened at all.
int WideIdentity(const WCHAR* path, FolderId* id) {
    HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    int known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return 0;
    id->volume = info.dwVolumeSerialNumber;
    id->indexHigh = info.nFileIndexHigh;
    id->indexLow = info.nFileIndexLow;
    return 1;
}

// The same for the normalised `path`.
static int IdentityOf(const char* path, FolderId* id) {
    char open[TextSize];
    WCHAR wide[TextSize];
    // "C:" alone would name the drive's current folder, not its root.
    return CopyText(open, sizeof open, path) && AppendText(open, sizeof open, PATH_SEP_TEXT) &&
           MultiByteToWideChar(CP_ACP, 0, open, -1, wide, TextSize) > 0 && WideIdentity(wide, id);
}

// What a protected folder forbids of a location.
enum {
    Holds = 1,      // to be it or to hold it
    Within = 2,     // also to lie anywhere inside it (the Windows folder)
    OneInside = 4,  // also to be a folder directly in it (a profile)
    Programs = 8    // not a rule: a Program Files folder, where publishers' folders lie
};

// The protected folders of this process, gathered once: the shell is asked
// for some 80 folders, which takes longer than judging a location.
struct GuardedFolder {
    const WCHAR* name;  // normalised, in UTF-16, in NamePool
    int length;
    int rules;
    int known;  // 1 when it exists and `id` is its identity
    FolderId id;
};
enum { MaxFolders = 128, MaxCovered = 512, NamePoolSize = 32768 };
static GuardedFolder Folders[MaxFolders];
static int FolderCount;
static WCHAR NamePool[NamePoolSize];
static int NamePoolUsed;
// The identities of every protected folder and of each folder above one:
// a location with one of these is or holds a protected folder.
static FolderId Covered[MaxCovered];
static int CoveredCount;
static int Gathered;
// Set when a folder could not be taken in (too long, too many): then no
// location can be judged, and every one is refused.
static int Unjudgeable;

typedef int(WINAPI* CompareOrdinalProc)(const WCHAR*, int, const WCHAR*, int, BOOL);
static CompareOrdinalProc CompareOrdinal;

// 1 when the first `n` UTF-16 units of `a` and `b` are one name to the file
// system: every letter's case folded, as Windows folds it. Windows before
// Vista lacks the call; there only ASCII letters are folded.
int SameLetters(const WCHAR* a, const WCHAR* b, int n) {
    if (CompareOrdinal == NULL)
        CompareOrdinal = (CompareOrdinalProc)SystemProcedure("kernel32.dll", "CompareStringOrdinal");
    if (CompareOrdinal != NULL) return CompareOrdinal(a, n, b, n, TRUE) == CSTR_EQUAL;
    for (int i = 0; i < n; i++) {
        WCHAR x = a[i] >= 'a' && a[i] <= 'z' ? (WCHAR)(a[i] - 'a' + 'A') : a[i];
        WCHAR y = b[i] >= 'a' && b[i] <= 'z' ? (WCHAR)(b[i] - 'a' + 'A') : b[i];
        if (x != y) return 0;
    }
    return 1;
}

// 1 when the normalised name `dir` is `folder` or lies above it.
static int CoversName(const WCHAR* dir, int dirLength, const WCHAR* folder, int folderLength) {
    if (dirLength > folderLength || !SameLetters(dir, folder, dirLength)) return 0;
    return folderLength == dirLength || folder[dirLength] == PATH_SEP;
}

// A normalised path in UTF-16 into `wide` (TextSize units): its length, or
// -1 when it cannot be converted.
static int ToWide(const char* path, WCHAR* wide) {
    int n = MultiByteToWideChar(CP_ACP, 0, path, -1, wide, TextSize);
    return n > 0 ? n - 1 : -1;
}

static void AddCovered(const FolderId* id) {
    for (int i = 0; i < CoveredCount; i++)
        if (SameId(&Covered[i], id)) return;
    if (CoveredCount == MaxCovered)
        Unjudgeable = 1;
    else
        Covered[CoveredCount++] = *id;
}

// Takes in the folder at `path`, as Windows gives it, with `rules`.
static void AddFolder(const char* path, int rules) {
    char normal[TextSize];
    WCHAR wide[TextSize];
    if (path[0] == '\0') return;
    int length = NormalizePath(normal, sizeof normal, path) ? ToWide(normal, wide) : -1;
    if (length <= 0) {
        Unjudgeable = 1;
        return;
    }
    // Many numbers name the same folder: one row, with every rule.
    for (int i = 0; i < FolderCount; i++) {
        if (Folders[i].length == length && SameLetters(Folders[i].name, wide, length)) {
            Folders[i].rules |= rules;
            return;
        }
    }
    if (FolderCount == MaxFolders || NamePoolUsed + length + 1 > NamePoolSize) {
        Unjudgeable = 1;
        return;
    }
    GuardedFolder* folder = &Folders[FolderCount];
    memcpy(&NamePool[NamePoolUsed], wide, (length + 1) * sizeof(WCHAR));
    folder->name = &NamePool[NamePoolUsed];
    folder->length = length;
    folder->rules = rules;
    folder->known = IdentityOf(normal, &folder->id);
    NamePoolUsed += length + 1;
    // The folder and those above it, up to the first that is, by name, one
    // of an earlier folder or above one: the rest are in already.
    for (char* cut = normal + strlen(normal);;) {
        int above = 0;
        int upLength = ToWide(normal, wide);
        for (int i = 0; i < FolderCount && upLength >= 0 && !above; i++)
            above = CoversName(wide, upLength, Folders[i].name, Folders[i].length);
        if (above) break;
        FolderId id;
        if (IdentityOf(normal, &id)) AddCovered(&id);
        if (IsRootPath(normal)) break;
        while (cut > normal && *cut != PATH_SEP) cut--;
        *cut = '\0';
    }
    FolderCount++;
}

// The known folders that no CSIDL number names, and those a 32-bit process
// may be told of on a 64-bit Windows; the last three are folders programs
// are installed in.
struct KnownFolderRow {
    GUID id;
    int rules;
};
static const KnownFolderRow KnownFolders[] = {
    {{0x374de290, 0x123f, 0x4565, {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}}, Holds},  // Downloads
    {{0x4c5c32ff, 0xbb9d, 0x43b0, {0xb5, 0xb4, 0x2d, 0x72, 0xe5, 0x4e, 0xaa, 0xa4}}, Holds},  // Saved Games
    {{0xbfb9d5e0, 0xc6a9, 0x404c, {0xb2, 0xb2, 0xae, 0x6d, 0xb6, 0xaf, 0x49, 0x68}}, Holds},  // Links
    {{0x56784854, 0xc6cb, 0x462b, {0x81, 0x69, 0x88, 0xe3, 0x50, 0xac, 0xb8, 0x82}}, Holds},  // Contacts
    {{0x7d1d3a04, 0xdebb, 0x4115, {0x95, 0xcf, 0x2f, 0x29, 0xda, 0x29, 0x20, 0xda}}, Holds},  // Searches
    {{0x31c0dd25, 0x9439, 0x4f12, {0xbf, 0x41, 0x7f, 0xf4, 0xed, 0xa3, 0x87, 0x22}}, Holds},  // 3D Objects
    {{0xdfdf76a2, 0xc82a, 0x4d63, {0x90, 0x6a, 0x56, 0x44, 0xac, 0x45, 0x73, 0x85}}, Holds},  // Public
    {{0x3d644c9b, 0x1fb8, 0x4f30, {0x9b, 0x45, 0xf6, 0x70, 0x23, 0x5f, 0x79, 0xc0}}, Holds},  // Public Downloads
    {{0xa520a1a4, 0x1780, 0x4ff6, {0xbd, 0x18, 0x16, 0x73, 0x43, 0xc5, 0xaf, 0x16}}, Holds},  // LocalLow
    {{0xa52bba46, 0xe9e1, 0x435f, {0xb3, 0xd9, 0x28, 0xda, 0xa6, 0x48, 0xc0, 0xf6}}, Holds},  // OneDrive
    {{0x5cd7aee2, 0x2219, 0x4a67, {0xb8, 0x5d, 0x6c, 0x9c, 0xe1, 0x56, 0x60, 0xcb}}, Holds | Programs},  // user's Programs
    {{0x6d809377, 0x6af0, 0x444b, {0x89, 0x57, 0xa3, 0x77, 0x3f, 0x02, 0x20, 0x0e}}, Holds | Programs},  // Program Files (64-bit)
    {{0x6365d5a7, 0x0f0d, 0x45e5, {0x87, 0xf6, 0x0d, 0xa5, 0x6b, 0x6a, 0x4f, 0x7d}}, Holds | Programs},  // its Common Files
};
static const GUID UserProfiles = {
    0x0762d272, 0xc50a, 0x4bb0, {0xa3, 0x82, 0x69, 0x7d, 0xcd, 0x72, 0x9b, 0x80}};

// A known folder's path, in the ANSI code page, into `folder` (TextSize): 1.
// 0 when the shell has none or is older than Vista. -1 when the path does
// not fit: no location can be judged against it, so every one is refused.
static int KnownFolder(const GUID* id, char* folder) {
    typedef HRESULT(WINAPI * KnownFolderPathProc)(const GUID*, DWORD, HANDLE, WCHAR**);
    KnownFolderPathProc knownFolderPath =
        (KnownFolderPathProc)SystemProcedure("shell32.dll", "SHGetKnownFolderPath");
    folder[0] = '\0';
    if (knownFolderPath == NULL) return 0;
    WCHAR* wide = NULL;
    int found = 0;
    if (knownFolderPath(id, 0, NULL, &wide) == S_OK && wide != NULL && wide[0] != 0)
        found = WideCharToMultiByte(CP_ACP, 0, wide, -1, folder, TextSize, NULL, NULL) > 0 ? 1 : -1;
    CoTaskMemFree(wide);
    folder[TextSize - 1] = '\0';
    return found;
}

static void AddKnownFolder(const GUID* id, int rules) {
    char folder[TextSize];
    int known = KnownFolder(id, folder);
    if (known < 0) Unjudgeable = 1;
    if (known > 0) AddFolder(folder, rules);
}

// The folder named by an environment variable.
static void AddEnvironmentFolder(const char* name, int rules) {
    char folder[TextSize];
    DWORD length = GetEnvironmentVariableA(name, folder, TextSize);
    if (length > 0 && length < TextSize) AddFolder(folder, rules);
}

static int IsProgramsCsidl(int csidl) {
    return csidl == CSIDL_PROGRAM_FILES || csidl == CSIDL_PROGRAM_FILESX86 ||
           csidl == CSIDL_PROGRAM_FILES_COMMON || csidl == CSIDL_PROGRAM_FILES_COMMONX86;
}

static void GatherFolders(void) {
    if (Gathered) return;
    Gathered = 1;
    char folder[TextSize];
    // An application's own folder never lies inside the Windows folder
    // (nor in its aliases such as Sysnative).
    if (ShellFolderPath(CSIDL_WINDOWS, folder)) AddFolder(folder, Holds | Within);
    for (int csidl = 0; csidl < 0x40; csidl++)
        if (ShellFolderPath(csidl, folder))
            AddFolder(folder, IsProgramsCsidl(csidl) ? Holds | Programs : Holds);
    for (size_t i = 0; i < sizeof KnownFolders / sizeof KnownFolders[0]; i++)
        AddKnownFolder(&KnownFolders[i].id, KnownFolders[i].rules);
    // The user's own programs folder, also where the shell has no name for
    // it (Windows before 7, Wine).
    if (ShellFolderPath(CSIDL_LOCAL_APPDATA, folder) &&
        AppendText(folder, TextSize, PATH_SEP_TEXT "Programs"))
        AddFolder(folder, Holds | Programs);
    // What a 32-bit process on a 64-bit Windows is not told through the
    // shell: the native Program Files and its Common Files (in the
    // environment, and as the shell's Program Files without " (x86)"), the
    // WOW64 system folder.
    AddEnvironmentFolder("ProgramW6432", Holds | Programs);
    AddEnvironmentFolder("CommonProgramW6432", Holds | Programs);
    if (ShellFolderPath(CSIDL_PROGRAM_FILES, folder)) {
        static const char Suffix[] = " (x86)";
        size_t n = strlen(folder), s = sizeof Suffix - 1;
        if (n > s && strcmp(folder + n - s, Suffix) == 0) {
            folder[n - s] = '\0';
            AddFolder(folder, Holds | Programs);
        }
    }
    UINT length = GetSystemWow64DirectoryA(folder, TextSize);
    if (length > 0 && length < TextSize) AddFolder(folder, Holds);
    DWORD tempLength = GetTempPathA(TextSize, folder);
    if (tempLength > 0 && tempLength < TextSize) AddFolder(folder, Holds);
    // Another user's profile is not this user's to delete.
    AddKnownFolder(&UserProfiles, Holds | OneInside);
    // The profiles folder is where the user's own profile lies, also where
    // the shell cannot name it.
    if (ShellFolderPath(CSIDL_PROFILE, folder)) {
        char* cut = strrchr(folder, PATH_SEP);
        if (cut != NULL && cut != folder) {
            *cut = '\0';
            AddFolder(folder, Holds | OneInside);
        }
    }
}

// The latest location judged, and the verdict: the uninstall asks about its
// location at each step (before the script, before the walk, after it), and
// a judgement opens every folder above the location.
static char JudgedPath[TextSize];
static int JudgedVerdict;

void ForgetProtectedFolders(void) {
    Gathered = Unjudgeable = FolderCount = NamePoolUsed = CoveredCount = 0;
    JudgedPath[0] = '\0';
}

// The rules by name, for the normalised full path `dir`.
static int ProtectedByName(const char* dir) {
    WCHAR wide[TextSize];
    int length = ToWide(dir, wide);
    if (length < 0) return 1;
    for (int i = 0; i < FolderCount; i++) {
        const GuardedFolder* f = &Folders[i];
        if (CoversName(wide, length, f->name, f->length)) return 1;
        if ((f->rules & (Within | OneInside)) && CoversName(f->name, f->length, wide, length)) {
            if (f->rules & Within) return 1;
            // Here the location lies below the folder: one profile is a
            // name without a separator after the folder's.
            int inner = 0;
            for (const WCHAR* p = wide + f->length + 1; *p != 0; p++) inner |= *p == PATH_SEP;
            if (!inner) return 1;
        }
    }
    return 0;
}

// The rules by identity, for the normalised path `dir` and the folders above
// it: it is or holds a protected folder, lies in the Windows folder, or is a
// profile. A location that exists but cannot be opened is not judged, and so
// refused.
static int ProtectedByIdentity(const char* dir) {
    char path[TextSize];
    if (!CopyText(path, sizeof path, dir)) return 1;
    for (int level = 0;; level++) {
        FolderId id;
        if (IdentityOf(path, &id)) {
            if (level == 0)
                for (int i = 0; i < CoveredCount; i++)
                    if (SameId(&Covered[i], &id)) return 1;
            for (int i = 0; i < FolderCount; i++) {
                const GuardedFolder* f = &Folders[i];
                int rule = level == 1 ? Within | OneInside : Within;
                if ((f->rules & rule) && f->known && SameId(&f->id, &id)) return 1;
            }
        } else if (level == 0 && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
            return 1;
        }
        if (IsRootPath(path)) return 0;
        char* cut = strrchr(path, PATH_SEP);
        if (cut == NULL) return 0;
        *cut = '\0';
    }
}

static int JudgeFolder(const char* dir) {
    char plain[TextSize], normal[TextSize];
    // A path too long to judge is not removed either.
    if (!WithoutPrefix(plain, dir) || !NormalizePath(normal, sizeof normal, plain)) return 1;
    if (IsRootPath(normal)) return 1;
    GatherFolders();
    if (Unjudgeable || ProtectedByName(normal)) return 1;
    // The full path as well, so that "." or ".." components cannot lead the
    // removal above the directory that is named.
    char full[TextSize];
    char* filePart = NULL;
    DWORD length = GetFullPathNameA(plain, sizeof full, full, &filePart);
    if (length >= sizeof full) return 1;
    if (length > 0 && !NormalizePath(normal, sizeof normal, full)) return 1;
    if (IsRootPath(normal) || ProtectedByName(normal) || ProtectedByIdentity(normal)) return 1;
    // A prefixed path is opened as it is written by the removal, too.
    return strcmp(plain, dir) != 0 && NormalizePath(normal, sizeof normal, dir) &&
           ProtectedByIdentity(normal);
}

int IsProtectedFolder(const char* dir) {
    if (dir == NULL || dir[0] == '\0') return 1;
    if (JudgedPath[0] != '\0' && strcmp(dir, JudgedPath) == 0) return JudgedVerdict;
    int verdict = JudgeFolder(dir);
    // A relative path is judged anew: it names another folder elsewhere.
    int absolute = IsSeparator(dir[0]) || (dir[1] == ':' && IsSeparator(dir[2]));
    if (!absolute || !CopyText(JudgedPath, sizeof JudgedPath, dir)) JudgedPath[0] = '\0';
    JudgedVerdict = verdict;
    return verdict;
}

int FullFolderName(const char* path, char* normal) {
    char plain[TextSize], full[TextSize];
    char* filePart = NULL;
    if (!WithoutPrefix(plain, path)) return 0;
    DWORD length = GetFullPathNameA(plain, sizeof full, full, &filePart);
    return length > 0 && length < sizeof full && NormalizePath(normal, TextSize, full) &&
           !IsRootPath(normal);
}

int FolderWithin(const char* path, const FolderId* dir, FolderId* id) {
    char normal[TextSize];
    if (!FullFolderName(path, normal) || !IdentityOf(normal, id)) return 0;
    for (FolderId up = *id;;) {
        if (SameId(&up, dir)) return 1;
        char* cut = strrchr(normal, PATH_SEP);
        if (IsRootPath(normal) || cut == NULL) return 0;
        *cut = '\0';
        if (!IdentityOf(normal, &up)) return 0;
    }
}

int FolderIdentity(const char* path, FolderId* id) {
    char plain[TextSize], normal[TextSize];
    return WithoutPrefix(plain, path) && NormalizePath(normal, sizeof normal, plain) &&
           IdentityOf(normal, id);
}

// 1 when the directory, or a folder on its way from the root, is a link
// (as its listing tells): what it leads to cannot be judged by its name, so
// such a location is not walked at all.
static int LeadsThroughLink(const char* dir) {
    char full[TextSize];
    WCHAR path[TextSize];
    char* filePart = NULL;
    DWORD length = GetFullPathNameA(dir, sizeof full, full, &filePart);
    if (length == 0 || length >= sizeof full ||
        MultiByteToWideChar(CP_ACP, 0, full, -1, path, TextSize) == 0)
        return 0;  // judged by name only
    for (WCHAR* p = path + 1;; p++) {
        // Each prefix that ends before a separator names a folder; "C:"
        // alone would name the drive's current folder, so it is passed over.
        if (*p == PATH_SEP || *p == 0) {
            WCHAR kept = *p;
            if (p[-1] != ':' && p[-1] != PATH_SEP) {
                *p = 0;
                int link = ListedAsLink(path);
                *p = kept;
                if (link) return 1;
            }
            if (kept == 0) return 0;
        }
    }
}

int IsRemovableTree(const char* dir) { return !IsProtectedFolder(dir) && !LeadsThroughLink(dir); }

int RemoveTreeGuarded(const char* dir) {
    if (!IsRemovableTree(dir)) {
        ReleaseHeldFiles();
        printf("refusing to remove protected folder: %s\n", dir != NULL ? dir : "");
        return -1;
    }
    // The files checked free before the uninstall began go first, through
    // the handles that kept them so; the walk then finds only the folders.
    DeleteHeldFiles();
    return RemoveTree(dir);
}

// 1 when the normalised path `dir` is a Program Files folder (by identity).
static int IsProgramsFolder(const char* dir) {
    FolderId id;
    if (!IdentityOf(dir, &id)) return 0;
    for (int i = 0; i < FolderCount; i++)
        if ((Folders[i].rules & Programs) && Folders[i].known && SameId(&Folders[i].id, &id))
            return 1;
    return 0;
}

void RemovePublisherFolder(const char* location, int atRestart) {
    char plain[TextSize], full[TextSize], publisher[TextSize], programs[TextSize];
    char* filePart = NULL;
    if (TestMode || location == NULL || !WithoutPrefix(plain, location)) return;
    DWORD length = GetFullPathNameA(plain, sizeof full, full, &filePart);
    if (length == 0 || length >= sizeof full || !NormalizePath(publisher, sizeof publisher, full))
        return;
    // Now, the installation folder has gone; at the restart, it goes first.
    int gone = GetFileAttributesA(publisher) == INVALID_FILE_ATTRIBUTES;
    char* cut = strrchr(publisher, PATH_SEP);
    if (gone == atRestart || cut == NULL) return;
    *cut = '\0';
    const char* installation = cut + 1;
    CopyText(programs, sizeof programs, publisher);
    cut = strrchr(programs, PATH_SEP);
    if (cut == NULL || IsRootPath(publisher)) return;
    *cut = '\0';
    GatherFolders();
    if (!IsProgramsFolder(programs) || !IsRemovableTree(publisher)) return;
    // Removing a folder that holds anything fails: it is left as it is.
    if (!atRestart && _rmdir(publisher) == 0) printf("removed empty folder: %s\n", publisher);
    // Windows leaves a folder that is not empty by the restart.
    if (atRestart && FolderHoldsOnly(publisher, installation)) RemoveFolderAtRestart(publisher);
}
