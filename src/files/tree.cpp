// Tree removal: depth first, each directory removed right after its contents.
// The walk never leaves the tree: a symbolic link or junction inside it is
// removed as a link, and nothing it points to is visited.
#include "zarnouns.h"

// Each folder is traced as it is entered and removed right after its
// contents, through the handle that held it; the top one's removal is the
// walk's result. Files and links go through handles of their own: a link
// only where the handle is the link itself, so its target is never touched.
static int RemoveEntry(int event) {
    if (event == WalkEnter) {
        // A working copy or another program's folder, as the search for
        // files in use recorded it: left whole, and so the folders above it.
        if (IsKeptFolder(WalkWide, WalkText, KeptConsult)) return 0;
        printf("-> %s\n", WalkText);
    }
    if (event == WalkDeep) printf("too deep to walk: %s\n", WalkText);
    if (event == WalkLeave) return WalkRemoveFolder();
    if (TestMode || (event != WalkFile && event != WalkLink)) return 1;
    int state;
    HANDLE item = WalkOpen(DELETE, &state);
    if (item == INVALID_HANDLE_VALUE) return 1;
    WalkDelete(item);
    CloseHandle(item);
    return 1;
}

static int RemoveLevel(const char* dir) {
    // An empty path is never listed: "*" alone would list the current folder.
    if (dir[0] != '\0') return WalkTree(dir, RemoveEntry, 1);
    printf("-> %s\n", dir);
    return -1;
}

int RemoveTree(const char* dir) {
    if (dir[0] == '\0' || EndsInSeparator(dir)) {
        if (strlen(dir) >= TextSize) {
            printf("skipped, path too long: %s\n", dir);
            return -1;
        }
        return RemoveLevel(dir);
    }
    char withSeparator[TextSize];
    if (!JoinPath(withSeparator, sizeof withSeparator, dir, "")) {
        printf("skipped, path too long: %s%s\n", dir, PATH_SEP_TEXT);
        return -1;
    }
    return RemoveLevel(withSeparator);
}

int FolderHoldsOnly(const char* dir, const char* name) {
    char pattern[TextSize];
    WIN32_FIND_DATAA entry;
    if (!JoinPath(pattern, sizeof pattern, dir, "*")) return 0;
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return 0;
    int others = 0, found = 0;
    do {
        if (_stricmp(entry.cFileName, name) == 0)
            found = 1;
        else if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0)
            others = 1;
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return found && !others;
}
