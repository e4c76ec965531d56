// The guard in front of every tree removal: a drive or share root, the
// Windows or system folder, a special folder or any folder holding one is
// never an application's own directory and is never removed.
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

// 1 when normalised `dir` equals or holds the shell's folder `csidl`.
static int CoversFolder(const char* dir, int csidl) {
    char folder[MAX_PATH];
    char normal[MAX_PATH];
    folder[0] = '\0';
    if (!SHGetSpecialFolderPathA(NULL, folder, csidl, FALSE)) return 0;
    folder[sizeof folder - 1] = '\0';
    if (folder[0] == '\0' || !NormalizePath(normal, sizeof normal, folder)) return 0;
    return CoversPath(dir, normal);
}

// Judges one normalised spelling of the directory.
static int IsProtectedPath(const char* dir) {
    if (IsRootPath(dir)) return 1;
    if (CoversFolder(dir, CSIDL_WINDOWS) || CoversFolder(dir, CSIDL_SYSTEM)) return 1;
    for (const SpecialFolder* row = SpecialFolders; row->name != NULL; row++)
        if (CoversFolder(dir, row->csidl)) return 1;
    return 0;
}

int IsProtectedFolder(const char* dir) {
    char normal[TextSize];
    if (dir == NULL || dir[0] == '\0') return 1;
    // A path too long to judge is not removed either.
    if (!NormalizePath(normal, sizeof normal, dir)) return 1;
    if (IsProtectedPath(normal)) return 1;
    // The full path as well, so that "." or ".." components cannot lead the
    // removal above the directory that is named.
    char full[TextSize];
    char* filePart = NULL;
    DWORD length = GetFullPathNameA(dir, sizeof full, full, &filePart);
    if (length == 0) return 0;
    if (length >= sizeof full) return 1;
    if (!NormalizePath(normal, sizeof normal, full)) return 1;
    return IsProtectedPath(normal);
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

int RemoveTreeGuarded(const char* dir) {
    if (IsProtectedFolder(dir) || LeadsThroughLink(dir)) {
        printf("refusing to remove protected folder: %s\n", dir != NULL ? dir : "");
        return -1;
    }
    return RemoveTree(dir);
}
