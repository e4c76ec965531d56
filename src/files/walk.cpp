// The one walk of the installation tree, shared by the search for files in
// use, the moves aside, the count of what is left, the size and the tree
// removal. It runs in UTF-16 through the wide functions with the "\\?\"
// prefix, the form every Windows 10 and 11 takes past MAX_PATH without a
// system setting. It is iterative: one path buffer that each level extends
// and cuts back, and per level only its listing and two lengths, so that no
// depth of tree can exhaust the stack.
#include "zarnouns.h"

WCHAR WalkWide[WalkPathSize];
char WalkText[WalkTextSize];
const char* WalkName;
WIN32_FIND_DATAW WalkEntry;
int WalkCount, WalkCountBelow, WalkStop;

static struct {
    HANDLE listing;
    int wide, text;  // lengths of the folder's path, its separator included
    int count;       // WalkCount when the folder was entered
} Levels[MaxWalkDepth + 1];

// Reparse points that hold the item's own data: cloud-file placeholders (a
// Desktop or Documents synced to the cloud, every variant of the tag),
// deduplicated files and system-compressed ones. Such an item is a file or
// folder like any other.
static int HoldsOwnData(DWORD tag) {
    return (tag & 0xFFFF0FFFu) == 0x9000001Au  // IO_REPARSE_TAG_CLOUD and _CLOUD_1 to _F
           || tag == 0x80000013u               // IO_REPARSE_TAG_DEDUP
           || tag == 0x80000017u;              // IO_REPARSE_TAG_WOF
}

int IsLink(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !HoldsOwnData(tag);
}

int LongPath(const char* text, WCHAR* wide) {
    static WCHAR given[WalkPathSize];
    if (text[0] == '\0' || MultiByteToWideChar(CP_ACP, 0, text, -1, given, WalkPathSize) == 0)
        return 0;
    // The prefix turns off the system's own clean-up of the path, so "..",
    // "." and '/' are resolved here first, as the guard resolves them.
    DWORD n = GetFullPathNameW(given, WalkPathSize - 8, wide + 6, NULL);
    if (n == 0 || n >= WalkPathSize - 8) return 0;
    static const char prefix[] = "\\\\?\\UNC";
    int unc = wide[6] == PATH_SEP && wide[7] == PATH_SEP;
    // A path given as "\\?\..." or "\\.\..." keeps its form, the second
    // as the first. "\\server\share" becomes "\\?\UNC\server\share": the
    // prefix takes the place of the first separator. Any other path follows
    // "\\?\".
    int device = unc && (wide[8] == '?' || wide[8] == '.') && wide[9] == PATH_SEP;
    if (!unc || device) memmove(wide + 4, wide + (device ? 10 : 6), (n + 1) * sizeof(WCHAR));
    for (int i = 0; i < (unc && !device ? 7 : 4); i++) wide[i] = prefix[i];
    return (int)n + (!unc ? 4 : device ? 0 : 6);
}

// Puts the entry's name after the folder at `level`, and for a folder its
// separator; how many units that added, 0 when the path would not fit with
// the "*" of a listing (the text is then the folder's).
static int Extend(int level, int folder) {
    int wide = Levels[level].wide, text = Levels[level].text;
    const WCHAR* name = WalkEntry.cFileName;
    int n = 0;
    while (name[n] != 0) n++;
    WalkName = WalkText + text;
    WalkText[text] = '\0';
    if (wide + n + 2 >= WalkPathSize) return 0;
    // Each UTF-16 unit takes at most three bytes: the text always fits.
    int bytes = WideCharToMultiByte(CP_ACP, 0, name, -1, WalkText + text,
                                    WalkTextSize - text - 1, NULL, NULL);
    if (bytes <= 0) return 0;
    memcpy(WalkWide + wide, name, (n + 1) * sizeof(WCHAR));
    if (folder) {
        WalkWide[wide + n++] = PATH_SEP;
        WalkWide[wide + n] = 0;
        WalkText[text + bytes - 1] = PATH_SEP;
        WalkText[text + bytes] = '\0';
    }
    return n;
}

// Every walk enters every folder, the top one included, here and nowhere
// else, before the folder's listing is opened, WalkWide naming it in full:
// the one place to tell a folder that is to be kept whole, so that nothing
// in it is opened. 0 passes over the folder.
static int EnterFolder(WalkVisit visit) { return visit(WalkEnter); }

int WalkTree(const char* dir, WalkVisit visit) {
    WalkCount = 0;
    WalkStop = 0;
    int wide = LongPath(dir, WalkWide);
    if (wide == 0 || !CopyText(WalkText, TextSize, dir)) return -1;
    int text = (int)strlen(WalkText);
    if (WalkWide[wide - 1] != PATH_SEP) WalkWide[wide++] = PATH_SEP, WalkWide[wide] = 0;
    if (!EndsInSeparator(WalkText)) WalkText[text++] = PATH_SEP, WalkText[text] = '\0';
    WalkName = WalkText + text;
    int depth = 0;
    Levels[0].wide = wide;
    Levels[0].text = text;
    Levels[0].count = 0;
    Levels[0].listing = NULL;
    if (!EnterFolder(visit)) return -1;
    for (;;) {
        HANDLE* listing = &Levels[depth].listing;
        int found;
        if (*listing == NULL) {
            WalkWide[Levels[depth].wide] = '*';
            WalkWide[Levels[depth].wide + 1] = 0;
            *listing = FindFirstFileW(WalkWide, &WalkEntry);
            found = *listing != INVALID_HANDLE_VALUE;
        } else {
            found = *listing != INVALID_HANDLE_VALUE && FindNextFileW(*listing, &WalkEntry);
        }
        if (WalkStop) found = 0;
        if (!found) {
            if (*listing != INVALID_HANDLE_VALUE) FindClose(*listing);
            // The folder itself: its text with the separator, its wide path
            // without, as the system takes a folder to remove.
            WalkWide[Levels[depth].wide - 1] = 0;
            WalkText[Levels[depth].text] = '\0';
            WalkCountBelow = WalkCount - Levels[depth].count;
            int result = WalkStop ? 0 : visit(WalkLeave);
            if (depth == 0) return WalkStop ? -1 : result;
            depth--;
            continue;
        }
        const WCHAR* name = WalkEntry.cFileName;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        DWORD attributes = WalkEntry.dwFileAttributes;
        // The listing gives a reparse point's tag in dwReserved0.
        int link = IsLink(attributes, WalkEntry.dwReserved0);
        int folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) && !link;
        int added = Extend(depth, folder);
        if (added == 0 || (folder && depth == MaxWalkDepth)) {
            // Named by the folder that cannot be walked whole.
            visit(WalkDeep);
        } else if (link) {
            visit(WalkLink);
        } else if (!folder) {
            visit(WalkFile);
        } else if (EnterFolder(visit)) {
            depth++;
            Levels[depth].wide = Levels[depth - 1].wide + added;
            Levels[depth].text = Levels[depth - 1].text + (int)strlen(WalkName);
            Levels[depth].count = WalkCount;
            Levels[depth].listing = NULL;
        }
    }
}
