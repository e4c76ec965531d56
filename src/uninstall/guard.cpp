// The guard in front of every tree removal: a drive or share root, anything
// inside the Windows folder, any folder the shell names, the native Program
// Files of a 64-bit Windows, the temporary folder, the profiles and any
// folder holding one of these is never an application's own directory and
// is never removed.
#include "zarnouns.h"

static int IsSeparator(char c) { return c == '\\' || c == '/'; }

// Copies `path` into `dst` in a form that compares as the file system does:
// ASCII letters in lower case, every separator as '\\', runs of separators
// folded into one (except the two that open a share path), and one trailing
// separator dropped. 0 when the path does not fit.
static int NormalizePath(char* dst, size_t size, const char* path) {
    if (!CopyText(dst, size, path)) return 0;
    size_t out = 0;
    for (size_t in = 0; dst[in] != '\0'; in++) {
        char c = dst[in];
        if (IsSeparator(c)) {
            c = '\\';
            if (out > 1 && dst[out - 1] == '\\') continue;
        } else if (c >= 'A' && c <= 'Z') {
            c = (char)(c - 'A' + 'a');
        }
        dst[out++] = c;
    }
    dst[out] = '\0';
    if (out > 0 && dst[out - 1] == '\\') dst[out - 1] = '\0';
    return 1;
}

// NormalizePath of the long form of `path`: a generated short name (such as
// PROGRA~1) is another spelling of the same folder. 0 for an empty path,
// which names no folder.
static int NormalizeLong(char* dst, size_t size, const char* path) {
    if (path[0] == '\0') return 0;
    char longPath[TextSize];
    if (strchr(path, '~') != NULL) {
        DWORD length = GetLongPathNameA(path, longPath, sizeof longPath);
        if (length > 0 && length < sizeof longPath) path = longPath;
    }
    return NormalizePath(dst, size, path);
}

// A normalised path that names a root: "" (what is left of "\\" or "/"),
// "c:", or a share "\\server\share" (or less of one).
static int IsRootPath(const char* path) {
    if (path[0] == '\0' || strcmp(path, "\\") == 0) return 1;
    if (path[1] == ':' && path[2] == '\0') return 1;
    if (path[0] == '\\' && path[1] == '\\') {
        int parts = 0;
        for (const char* p = path + 2; *p != '\0'; p++)
            if (*p == '\\') parts++;
        return parts <= 1;
    }
    return 0;
}

// 1 when normalised `dir` equals normalised `folder` or lies above it.
static int CoversPath(const char* dir, const char* folder) {
    size_t n = strlen(dir);
    if (strncmp(dir, folder, n) != 0) return 0;
    return folder[n] == '\0' || folder[n] == '\\';
}

// 1 when normalised `dir` equals or holds `folder`, a path as Windows gives it.
static int Covers(const char* dir, const char* folder) {
    char normal[TextSize];
    if (!NormalizeLong(normal, sizeof normal, folder)) return 0;
    return CoversPath(dir, normal);
}

// 1 when normalised `dir` is `folder` or lies anywhere inside it.
static int LiesIn(const char* dir, const char* folder) {
    char normal[TextSize];
    if (!NormalizeLong(normal, sizeof normal, folder)) return 0;
    return CoversPath(normal, dir);
}

// 1 when normalised `dir` is the profiles folder `folder`, holds it, or is
// one profile in it: another user's profile is not this user's to delete.
static int CoversProfiles(const char* dir, const char* folder) {
    char normal[TextSize];
    if (!NormalizeLong(normal, sizeof normal, folder)) return 0;
    if (CoversPath(dir, normal)) return 1;
    size_t n = strlen(normal);
    return CoversPath(normal, dir) && strchr(dir + n + 1, '\\') == NULL;
}

// The known folders that no CSIDL number names, and those a 32-bit process
// may be told of on a 64-bit Windows.
static const GUID KnownFolders[] = {
    {0x374de290, 0x123f, 0x4565, {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}},  // Downloads
    {0x4c5c32ff, 0xbb9d, 0x43b0, {0xb5, 0xb4, 0x2d, 0x72, 0xe5, 0x4e, 0xaa, 0xa4}},  // Saved Games
    {0xbfb9d5e0, 0xc6a9, 0x404c, {0xb2, 0xb2, 0xae, 0x6d, 0xb6, 0xaf, 0x49, 0x68}},  // Links
    {0x56784854, 0xc6cb, 0x462b, {0x81, 0x69, 0x88, 0xe3, 0x50, 0xac, 0xb8, 0x82}},  // Contacts
    {0x7d1d3a04, 0xdebb, 0x4115, {0x95, 0xcf, 0x2f, 0x29, 0xda, 0x29, 0x20, 0xda}},  // Searches
    {0x31c0dd25, 0x9439, 0x4f12, {0xbf, 0x41, 0x7f, 0xf4, 0xed, 0xa3, 0x87, 0x22}},  // 3D Objects
    {0xdfdf76a2, 0xc82a, 0x4d63, {0x90, 0x6a, 0x56, 0x44, 0xac, 0x45, 0x73, 0x85}},  // Public
    {0x3d644c9b, 0x1fb8, 0x4f30, {0x9b, 0x45, 0xf6, 0x70, 0x23, 0x5f, 0x79, 0xc0}},  // Public Downloads
    {0xa520a1a4, 0x1780, 0x4ff6, {0xbd, 0x18, 0x16, 0x73, 0x43, 0xc5, 0xaf, 0x16}},  // LocalLow
    {0x5cd7aee2, 0x2219, 0x4a67, {0xb8, 0x5d, 0x6c, 0x9c, 0xe1, 0x56, 0x60, 0xcb}},  // user's Programs
    {0xa52bba46, 0xe9e1, 0x435f, {0xb3, 0xd9, 0x28, 0xda, 0xa6, 0x48, 0xc0, 0xf6}},  // OneDrive
    {0x6d809377, 0x6af0, 0x444b, {0x89, 0x57, 0xa3, 0x77, 0x3f, 0x02, 0x20, 0x0e}},  // Program Files (64-bit)
    {0x6365d5a7, 0x0f0d, 0x45e5, {0x87, 0xf6, 0x0d, 0xa5, 0x6b, 0x6a, 0x4f, 0x7d}},  // its Common Files
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

// The folder named by an environment variable into `folder` (TextSize).
static int EnvironmentFolder(const char* name, char* folder) {
    DWORD length = GetEnvironmentVariableA(name, folder, TextSize);
    if (length == 0 || length >= TextSize) folder[0] = '\0';
    return folder[0] != '\0';
}

// What a 32-bit process on a 64-bit Windows is not told through the shell:
// the native Program Files and its Common Files (in the environment, and
// as the shell's Program Files without " (x86)"), the WOW64 system folder.
static int CoversNativeFolders(const char* dir) {
    char folder[TextSize];
    if (EnvironmentFolder("ProgramW6432", folder) && Covers(dir, folder)) return 1;
    if (EnvironmentFolder("CommonProgramW6432", folder) && Covers(dir, folder)) return 1;
    char normal[TextSize];
    if (ShellFolderPath(CSIDL_PROGRAM_FILES, folder) &&
        NormalizeLong(normal, sizeof normal, folder)) {
        static const char Suffix[] = " (x86)";
        size_t n = strlen(normal), s = sizeof Suffix - 1;
        if (n > s && strcmp(normal + n - s, Suffix) == 0) {
            normal[n - s] = '\0';
            if (CoversPath(dir, normal)) return 1;
        }
    }
    UINT length = GetSystemWow64DirectoryA(folder, TextSize);
    return length > 0 && length < TextSize && Covers(dir, folder);
}

// Judges one normalised spelling of the directory.
static int IsProtectedPath(const char* dir) {
    if (IsRootPath(dir)) return 1;
    char folder[TextSize];
    // An application's own folder never lies inside the Windows folder
    // (nor in its aliases such as Sysnative).
    if (ShellFolderPath(CSIDL_WINDOWS, folder) && LiesIn(dir, folder)) return 1;
    for (int csidl = 0; csidl < 0x40; csidl++)
        if (ShellFolderPath(csidl, folder) && Covers(dir, folder)) return 1;
    for (size_t i = 0; i < sizeof KnownFolders / sizeof KnownFolders[0]; i++) {
        int known = KnownFolder(&KnownFolders[i], folder);
        if (known < 0 || (known > 0 && Covers(dir, folder))) return 1;
    }
    if (CoversNativeFolders(dir)) return 1;
    DWORD length = GetTempPathA(TextSize, folder);
    if (length > 0 && length < TextSize && Covers(dir, folder)) return 1;
    int profiles = KnownFolder(&UserProfiles, folder);
    if (profiles < 0 || (profiles > 0 && CoversProfiles(dir, folder))) return 1;
    // The profiles folder is where the user's own profile lies, also where
    // the shell cannot name it.
    if (ShellFolderPath(CSIDL_PROFILE, folder)) {
        char* cut = strrchr(folder, PATH_SEP);
        if (cut != NULL && cut != folder) {
            *cut = '\0';
            if (CoversProfiles(dir, folder)) return 1;
        }
    }
    return 0;
}

int IsProtectedFolder(const char* dir) {
    char normal[TextSize];
    if (dir == NULL || dir[0] == '\0') return 1;
    // A path too long to judge is not removed either.
    if (!NormalizePath(normal, sizeof normal, dir)) return 1;
    if (IsProtectedPath(normal)) return 1;
    // The full path as well, so that "." or ".." components cannot lead the
    // removal above the directory that is named, in its long form.
    char full[TextSize];
    char* filePart = NULL;
    DWORD length = GetFullPathNameA(dir, sizeof full, full, &filePart);
    if (length == 0) return 0;
    if (length >= sizeof full) return 1;
    char fullNormal[TextSize];
    if (!NormalizeLong(fullNormal, sizeof fullNormal, full)) return 1;
    // The same text is judged once: each judgement asks the shell for every folder.
    return strcmp(fullNormal, normal) != 0 && IsProtectedPath(fullNormal);
}

// 1 when the directory, or a folder on its way from the root, is a link
// (a junction or symbolic link): what it leads to cannot be judged by its
// name, so such a location is not walked at all.
static int LeadsThroughLink(const char* dir) {
    char path[TextSize];
    char* filePart = NULL;
    DWORD length = GetFullPathNameA(dir, sizeof path, path, &filePart);
    if (length == 0 || length >= sizeof path) return 0;  // judged by name only
    for (char* p = path + 1;; p++) {
        // Each prefix that ends before a separator names a folder; "C:"
        // alone would name the drive's current folder, so it is passed over.
        if (*p == PATH_SEP || *p == '\0') {
            char kept = *p;
            if (p[-1] != ':' && p[-1] != PATH_SEP) {
                *p = '\0';
                DWORD attributes = GetFileAttributesA(path);
                *p = kept;
                if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    return 1;
            }
            if (kept == '\0') return 0;
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
