// Tree removal: depth first, each directory removed right after its contents.
// The walk never leaves the tree: a symbolic link or junction inside it is
// removed as a link, and nothing it points to is visited.
#include "zarnouns.h"

// Removes everything below `dir` and then `dir` itself. `dir` ends in a
// separator and fits a TextSize buffer.
static int RemoveLevel(const char* dir) {
    char path[TextSize];  // this level's listing pattern, then its entry paths
    WIN32_FIND_DATAA entry;

    // A working copy or another program's folder, as the search for files
    // in use recorded it: left whole, and so the folders above it.
    if (IsKeptFolderA(dir, KeptConsult)) return -1;
    printf("-> %s\n", dir);
    // The listing gives each entry's attributes with its name, so no entry
    // needs a call of its own to tell directories, links and files apart.
    // An empty path is never listed: "*" alone would list the current folder.
    // A folder whose path fills the buffer has no room for the pattern; no
    // entry of it would fit either, so it is skipped whole, and says so.
    HANDLE listing = INVALID_HANDLE_VALUE;
    if (dir[0] != '\0') {
        if (FormatText(path, sizeof path, "%s*", dir))
            listing = FindFirstFileA(path, &entry);
        else
            printf("skipped, path too long: %s*\n", dir);
    }
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            const char* name = entry.cFileName;
            if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
            if (!FormatText(path, sizeof path, "%s%s", dir, name)) {
                printf("skipped, path too long: %s%s\n", dir, name);
                continue;
            }
            DWORD attributes = entry.dwFileAttributes;
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // A link to a directory goes with _rmdir, a link to a file
                // with remove; the target is never touched.
                if (!TestMode && _rmdir(path) != 0) remove(path);
            } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!AppendText(path, sizeof path, PATH_SEP_TEXT)) {
                    printf("skipped, path too long: %s%s%s\n", dir, name, PATH_SEP_TEXT);
                    continue;
                }
                RemoveLevel(path);
            } else if (!TestMode) {
                remove(path);
            }
        } while (FindNextFileA(listing, &entry));
        FindClose(listing);
    }
    return _rmdir(dir);
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
