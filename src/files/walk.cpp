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
const FILE_ID_BOTH_DIR_INFO* WalkEntry;
int WalkCount, WalkCountBelow, WalkStop;

// The system's procedures that list a folder through its handle, tell what
// a handle is and delete through it (Vista and later), and ntdll's that
// open relative to a folder and name what a handle is, where there is an
// ntdll (their absence is no error), looked up once before a walk.
typedef BOOL(WINAPI* HandleInfoProc)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
static HandleInfoProc GetInformation, SetInformation;

struct IoStatus {
    void* status;  // an NTSTATUS, in a union with a pointer
    ULONG_PTR information;
};
struct CountedName {  // UNICODE_STRING
    USHORT length, maximum;
    const WCHAR* units;
};
struct ObjectNaming {  // OBJECT_ATTRIBUTES
    ULONG length;
    HANDLE root;
    CountedName* name;
    ULONG attributes;
    void* descriptor;
    void* quality;
};
typedef LONG(WINAPI* QueryFileProc)(HANDLE, IoStatus*, void*, DWORD, int);
typedef LONG(WINAPI* CreateFileProc)(HANDLE*, DWORD, ObjectNaming*, IoStatus*, void*, ULONG, ULONG,
                                     ULONG, ULONG, void*, ULONG);
typedef ULONG(WINAPI* StatusErrorProc)(LONG);
static QueryFileProc QueryFile;
static CreateFileProc CreateRelative;
static StatusErrorProc StatusError;

static int FindHandleProcedures(void) {
    static int looked;
    if (!looked) {
        GetInformation = (HandleInfoProc)SystemProcedure("kernel32.dll", "GetFileInformationByHandleEx");
        SetInformation = (HandleInfoProc)SystemProcedure("kernel32.dll", "SetFileInformationByHandle");
        QueryFile = (QueryFileProc)SystemProcedure("ntdll.dll", "NtQueryInformationFile");
        CreateRelative = (CreateFileProc)SystemProcedure("ntdll.dll", "NtCreateFile");
        StatusError = (StatusErrorProc)SystemProcedure("ntdll.dll", "RtlNtStatusToDosError");
    }
    looked = 1;
    return GetInformation != NULL && SetInformation != NULL;
}

// Each level is a folder held open, without delete sharing, from the top one
// down, while the walk works below it: no folder on the walk's path can be
// renamed, deleted or replaced by a link meanwhile. Its listing is read
// through that handle into the level's own buffer, part by part.
enum { ListingSize = 8192, Used = -1 };
static struct {
    HANDLE folder;
    int wide, text;  // lengths of the folder's path, its separator included
    int count;       // WalkCount when the folder was entered
    int at;          // the next entry in the buffer, Used when it is read to its end
    int more;        // the listing goes on past the buffer
} Levels[MaxWalkDepth + 1];
static LONGLONG Listings[MaxWalkDepth + 1][ListingSize / sizeof(LONGLONG)];
static LONGLONG Scratch[ListingSize / sizeof(LONGLONG)];
static int Depth;
int WalkMarked = -1;

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
// separator; how many units that added, 0 when the path would not fit (the
// text is then the folder's).
static int Extend(int level, int folder) {
    int wide = Levels[level].wide, text = Levels[level].text;
    int n = (int)(WalkEntry->FileNameLength / sizeof(WCHAR));
    WalkName = WalkText + text;
    WalkText[text] = '\0';
    if (n == 0 || wide + n + 2 >= WalkPathSize) return 0;
    // Each UTF-16 unit takes at most three bytes: the text always fits.
    int bytes = WideCharToMultiByte(CP_ACP, 0, WalkEntry->FileName, n, WalkText + text,
                                    WalkTextSize - text - 2, NULL, NULL);
    if (bytes <= 0) return 0;
    memcpy(WalkWide + wide, WalkEntry->FileName, n * sizeof(WCHAR));
    if (folder) {
        WalkWide[wide + n++] = PATH_SEP;
        WalkText[text + bytes++] = PATH_SEP;
    }
    WalkWide[wide + n] = 0;
    WalkText[text + bytes] = '\0';
    return n;
}

static int IsDots(const FILE_ID_BOTH_DIR_INFO* entry) {
    const WCHAR* name = entry->FileName;
    DWORD n = entry->FileNameLength / sizeof(WCHAR);
    return name[0] == '.' && (n == 1 || (n == 2 && name[1] == '.'));
}

// 1 when a part of a listing holds a working copy's marker.
static int ListsMarker(const LONGLONG* part) {
    const BYTE* at = (const BYTE*)part;
    for (;;) {
        const FILE_ID_BOTH_DIR_INFO* entry = (const FILE_ID_BOTH_DIR_INFO*)at;
        if (IsMarker(entry->FileName, (int)(entry->FileNameLength / sizeof(WCHAR)))) return 1;
        if (entry->NextEntryOffset == 0) return 0;
        at += entry->NextEntryOffset;
    }
}

// Reads the first part of the listing of the folder at `level`, and tells
// whether the listing holds a marker. A folder whose listing does not fit
// the buffer is looked through to its end first, then read from its start
// again; any other is listed once.
static int BeginListing(int level) {
    HANDLE folder = Levels[level].folder;
    Levels[level].at = 0;
    Levels[level].more = 1;
    if (!GetInformation(folder, FileIdBothDirectoryRestartInfo, Listings[level], ListingSize)) {
        Levels[level].at = Used;
        Levels[level].more = 0;
        return 0;
    }
    if (ListsMarker(Listings[level])) return 1;
    int rest = 0;
    while (GetInformation(folder, FileIdBothDirectoryInfo, Scratch, sizeof Scratch)) {
        rest = 1;
        if (ListsMarker(Scratch)) return 1;
    }
    if (!rest) Levels[level].more = 0;
    else if (!GetInformation(folder, FileIdBothDirectoryRestartInfo, Listings[level], ListingSize))
        Levels[level].at = Used, Levels[level].more = 0;
    return 0;
}

// The next entry of the listing at `level`; none at its end.
static const FILE_ID_BOTH_DIR_INFO* NextEntry(int level) {
    if (Levels[level].at == Used) {
        if (!Levels[level].more || !GetInformation(Levels[level].folder, FileIdBothDirectoryInfo,
                                                   Listings[level], ListingSize))
            return NULL;
        Levels[level].at = 0;
    }
    const BYTE* part = (const BYTE*)Listings[level];
    const FILE_ID_BOTH_DIR_INFO* entry = (const FILE_ID_BOTH_DIR_INFO*)(part + Levels[level].at);
    Levels[level].at = entry->NextEntryOffset == 0 ? Used : Levels[level].at + (int)entry->NextEntryOffset;
    return entry;
}

// Opens what WalkWide names, never through a link, and tells what it is
// (its attributes and tag in Opened, its file ID in OpenedId): 1 a link
// itself, 0 a file or folder (perhaps a link that the system followed all
// the same: Wine's, whose handle is its target), -1 none. Asked by class,
// as the whole BY_HANDLE_FILE_INFORMATION costs Wine a query of the volume.
static FILE_ATTRIBUTE_TAG_INFO Opened;
static FILE_ID_INFO OpenedId;

// The handle's file ID alone, as the listing gives it, from the system's
// internal information where it has that call: FileIdInfo also names the
// volume, which costs Wine a query of it for every file (it took two
// thirds of the time of an uninstall of 10,000 files). Elsewhere by class.
enum { FileInternalInformation = 6, FileNameInformation = 9 };

static int HandleFileId(HANDLE item) {
    if (QueryFile == NULL) return GetInformation(item, FileIdInfo, &OpenedId, sizeof OpenedId);
    IoStatus status;
    ULONGLONG index;  // FILE_INTERNAL_INFORMATION
    if (QueryFile(item, &status, &index, sizeof index, FileInternalInformation) != 0) return 0;
    memset(&OpenedId, 0, sizeof OpenedId);
    memcpy(OpenedId.FileId.Identifier, &index, sizeof index);
    return 1;
}

// A listed entry is opened by its name relative to the folder held open
// above it, where ntdll gives that call: nothing above that folder is looked
// at again, and Wine then needs neither the drive's mapping nor the path
// folder by folder. Elsewhere, and for the top folder, by the full path.
enum {
    CaseInsensitive = 0x40,       // OBJ_CASE_INSENSITIVE
    OpenExisting = 1,             // FILE_OPEN
    OpenOptions = 0x200000        // FILE_OPEN_REPARSE_POINT
                  | 0x4000        // FILE_OPEN_FOR_BACKUP_INTENT
                  | 0x20          // FILE_SYNCHRONOUS_IO_NONALERT
};

static HANDLE OpenRelative(HANDLE folder, DWORD access, DWORD share) {
    if (CreateRelative == NULL || StatusError == NULL) return NULL;
    CountedName name = {(USHORT)WalkEntry->FileNameLength, (USHORT)WalkEntry->FileNameLength,
                        WalkEntry->FileName};
    ObjectNaming naming = {sizeof naming, folder, &name, CaseInsensitive, NULL, NULL};
    IoStatus status;
    HANDLE item = INVALID_HANDLE_VALUE;
    // As CreateFileW asks for a file opened for synchronous use.
    LONG got = CreateRelative(&item, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &naming, &status, NULL, 0,
                              share, OpenExisting, OpenOptions, NULL, 0);
    if (got >= 0) return item;
    SetLastError(StatusError(got));
    return INVALID_HANDLE_VALUE;
}

static HANDLE OpenItem(DWORD access, DWORD share, int* state, int listed) {
    HANDLE item = listed && Levels[Depth].folder != NULL ? OpenRelative(Levels[Depth].folder, access, share)
                                                         : NULL;
    if (item == NULL) {
        int n = 0;
        while (WalkWide[n] != 0) n++;
        // A folder is opened by its name, without the separator.
        int cut = n > 0 && WalkWide[n - 1] == PATH_SEP;
        if (cut) WalkWide[n - 1] = 0;
        item = CreateFileW(WalkWide, access, share, NULL, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
        if (cut) WalkWide[n - 1] = PATH_SEP;
    }
    *state = -1;
    if (item == INVALID_HANDLE_VALUE) return item;
    if (!HandleFileId(item)) {
        CloseHandle(item);
        return INVALID_HANDLE_VALUE;
    }
    // What the listing showed, no link, under the same ID is that item:
    // its attributes are the listing's (one query a file, as each costs Wine
    // a call to its server). Anything else is asked.
    ULONGLONG id;
    memcpy(&id, OpenedId.FileId.Identifier, sizeof id);
    if (listed && WalkEntry->FileId.QuadPart != 0 && (ULONGLONG)WalkEntry->FileId.QuadPart == id &&
        !IsLink(WalkEntry->FileAttributes, WalkEntry->EaSize)) {
        Opened.FileAttributes = WalkEntry->FileAttributes;
        Opened.ReparseTag = 0;
    } else if (!GetInformation(item, FileAttributeTagInfo, &Opened, sizeof Opened)) {
        CloseHandle(item);
        return INVALID_HANDLE_VALUE;
    }
    *state = IsLink(Opened.FileAttributes, Opened.ReparseTag) ? 1 : 0;
    return item;
}

// 1 when what OpenItem opened is what the listing showed: the same file ID
// (where the file system gives one), a file or folder as it was, and the
// listing showed no link. Under Wine a link's handle is its target, with the
// target's ID, and only the listing tells it; a folder swapped for a link
// after it was listed gives another ID.
static int AsListed(void) {
    ULONGLONG id;
    memcpy(&id, OpenedId.FileId.Identifier, sizeof id);
    ULONGLONG listed = (ULONGLONG)WalkEntry->FileId.QuadPart;
    return (listed == 0 || id == listed) &&
           ((Opened.FileAttributes ^ WalkEntry->FileAttributes) & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           !IsLink(WalkEntry->FileAttributes, WalkEntry->EaSize);
}

// 1 unless the system names the file `item` other than as the listed entry
// of the folder it was opened in. Wine 8 lists a link to a file as a plain
// file with its target's attributes and ID, and opens the target, which a
// deletion through the handle would delete: only the name tells. Both names
// come from the volume's root (FileNameInformation, of any length); the
// held folder's is asked once while its files are opened. Where ntdll does
// not give the call, links are told by their handles.
enum { NameUnits = WalkPathSize + 2 };
static LONGLONG FolderName[NameUnits * sizeof(WCHAR) / sizeof(LONGLONG)];
static LONGLONG ItemName[NameUnits * sizeof(WCHAR) / sizeof(LONGLONG)];
static int FolderNameLevel = -1;  // -1 once a folder is entered

// The name's length in units, -1 when the system gives none.
static int HandleName(HANDLE handle, LONGLONG* buffer) {
    IoStatus status;
    if (QueryFile(handle, &status, buffer, sizeof FolderName, FileNameInformation) != 0) return -1;
    ULONG bytes;  // FILE_NAME_INFORMATION: the length, then the units
    memcpy(&bytes, buffer, sizeof bytes);
    return (int)(bytes / sizeof(WCHAR));
}

// 1 when the system names `item` as the folder whose name of
// `folderLength` units FolderName holds, a separator and `name` (n units).
static int NamedInFolder(HANDLE item, int folderLength, const WCHAR* name, int n) {
    const WCHAR* folder = (const WCHAR*)((const char*)FolderName + sizeof(ULONG));
    const WCHAR* named = (const WCHAR*)((const char*)ItemName + sizeof(ULONG));
    int f = folderLength;
    while (f > 0 && folder[f - 1] == PATH_SEP) f--;
    return HandleName(item, ItemName) == f + 1 + n && SameLetters(named, folder, f) &&
           named[f] == PATH_SEP && SameLetters(named + f + 1, name, n);
}

static int NamedAsListed(HANDLE item) {
    if (QueryFile == NULL) return 1;
    static int folderLength;
    if (FolderNameLevel != Depth) {
        folderLength = Levels[Depth].folder != NULL ? HandleName(Levels[Depth].folder, FolderName) : -1;
        if (folderLength < 0) return 0;
        FolderNameLevel = Depth;
    }
    return NamedInFolder(item, folderLength, WalkEntry->FileName,
                         (int)(WalkEntry->FileNameLength / sizeof(WCHAR)));
}

HANDLE WalkOpen(DWORD access, int* state) {
    HANDLE item = OpenItem(access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, state, 1);
    if (item == INVALID_HANDLE_VALUE || *state == 1) return item;
    if (AsListed() && ((WalkEntry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || NamedAsListed(item)))
        return item;
    CloseHandle(item);
    *state = -1;
    // The file listed is not there any more.
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

int WalkDelete(HANDLE item) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return SetInformation != NULL &&
           SetInformation(item, FileDispositionInfo, &disposition, sizeof disposition);
}

int WalkRemoveFolder(void) {
    HANDLE* folder = &Levels[Depth].folder;
    int marked = WalkDelete(*folder);
    CloseHandle(*folder);
    *folder = NULL;
    // Where the system takes a folder that is not empty only to leave it at
    // the close, its name tells.
    return marked && GetFileAttributesW(WalkWide) == INVALID_FILE_ATTRIBUTES ? 0 : -1;
}

// What a walk holds its folders with: listing, and deleting where it removes.
static DWORD FolderAccess;

// Every walk enters every folder, the top one included, here and nowhere
// else, once the folder is held and its listing begun, WalkWide naming it
// in full: the one place to tell a folder that is to be kept whole, so that
// nothing in it is opened. 0 passes over the folder, which is let go.
static int EnterFolder(int level, HANDLE folder, WalkVisit visit) {
    Levels[level].folder = folder;
    FolderNameLevel = -1;
    WalkMarked = BeginListing(level);
    int entered = visit(WalkEnter);
    WalkMarked = -1;
    if (!entered) {
        CloseHandle(folder);
        Levels[level].folder = NULL;
    }
    return entered;
}

static int Walk(WalkVisit visit);

int WalkTree(const char* dir, WalkVisit visit, int removes) {
    WalkCount = 0;
    WalkStop = 0;
    int wide = LongPath(dir, WalkWide);
    if (wide == 0 || !CopyText(WalkText, TextSize, dir) || !FindHandleProcedures()) return -1;
    int text = (int)strlen(WalkText);
    if (WalkWide[wide - 1] != PATH_SEP) WalkWide[wide++] = PATH_SEP, WalkWide[wide] = 0;
    if (!EndsInSeparator(WalkText)) WalkText[text++] = PATH_SEP, WalkText[text] = '\0';
    WalkName = WalkText + text;
    FolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE | (removes ? DELETE : 0);
    const DWORD hold = FILE_SHARE_READ | FILE_SHARE_WRITE;
    Depth = 0;
    Levels[0].wide = wide;
    Levels[0].text = text;
    Levels[0].count = 0;
    int state;
    HANDLE top = OpenItem(FolderAccess, hold, &state, 0);
    if (top != INVALID_HANDLE_VALUE && !(Opened.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        state = -1;
    if (top != INVALID_HANDLE_VALUE && state != 0) CloseHandle(top);
    if (top != INVALID_HANDLE_VALUE && state == 0) return EnterFolder(0, top, visit) ? Walk(visit) : -1;
    // A folder that is not there, or no folder, is entered (and so traced)
    // with nothing in it looked at, and the walk fails.
    WalkMarked = 0;
    visit(WalkEnter);
    WalkMarked = -1;
    return -1;
}

// The walk below the top folder, held at level 0.
static int Walk(WalkVisit visit) {
    const DWORD hold = FILE_SHARE_READ | FILE_SHARE_WRITE;
    int state;
    for (;;) {
        WalkEntry = WalkStop ? NULL : NextEntry(Depth);
        if (WalkEntry == NULL) {
            // The folder itself: its text with the separator, its wide path
            // without, as the system takes a folder to remove.
            WalkWide[Levels[Depth].wide - 1] = 0;
            WalkText[Levels[Depth].text] = '\0';
            WalkCountBelow = WalkCount - Levels[Depth].count;
            int result = WalkStop ? 0 : visit(WalkLeave);
            if (Levels[Depth].folder != NULL) CloseHandle(Levels[Depth].folder);
            Levels[Depth].folder = NULL;
            if (Depth == 0) return WalkStop ? -1 : result;
            Depth--;
            continue;
        }
        if (IsDots(WalkEntry)) continue;
        DWORD attributes = WalkEntry->FileAttributes;
        // The listing gives a reparse point's tag in EaSize.
        int link = IsLink(attributes, WalkEntry->EaSize);
        int folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) && !link;
        int added = Extend(Depth, folder);
        if (added == 0 || (folder && Depth == MaxWalkDepth)) {
            // Named by the folder that cannot be walked whole.
            visit(WalkDeep);
        } else if (link) {
            visit(WalkLink);
        } else if (!folder) {
            visit(WalkFile);
        } else {
            HANDLE below = OpenItem(FolderAccess, hold, &state, 1);
            if (below != INVALID_HANDLE_VALUE && state == 0 && !AsListed()) state = -1;
            if (below != INVALID_HANDLE_VALUE && state != 0) CloseHandle(below);
            if (state == 1) {
                // Made a link since it was listed: removed as one, never entered.
                Extend(Depth, 0);
                visit(WalkLink);
            } else if (state == 0) {
                Levels[Depth + 1].wide = Levels[Depth].wide + added;
                Levels[Depth + 1].text = Levels[Depth].text + (int)strlen(WalkName);
                Levels[Depth + 1].count = WalkCount;
                if (EnterFolder(Depth + 1, below, visit)) Depth++;
            }
        }
    }
}

int ListedAsLink(const WCHAR* path) {
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(path, &entry);
    if (listing == INVALID_HANDLE_VALUE) return 0;
    FindClose(listing);
    // The listing gives a reparse point's tag in dwReserved0.
    return IsLink(entry.dwFileAttributes, entry.dwReserved0);
}

// 1 unless the system names `item`, opened by the name that ends WalkWide
// (of n units), other than as that name in the held `parent`, as for the
// walk's files (NamedAsListed).
static int ReachedAsNamed(HANDLE item, HANDLE parent, int n) {
    if (QueryFile == NULL) return 1;
    int name = n;
    while (name > 0 && WalkWide[name - 1] != PATH_SEP) name--;
    // FolderName then holds another folder's name than the walk's.
    FolderNameLevel = -1;
    int folderLength = HandleName(parent, FolderName);
    return folderLength >= 0 && NamedInFolder(item, folderLength, WalkWide + name, n - name);
}

// Where the volume's root folder ends in a "\\?\" path: "\\?\C:" or
// "\\?\UNC\server\share".
static int RootEnd(const WCHAR* path, int n) {
    int at = 4, parts = 1;
    if (n > 8 && path[4] == 'U' && path[5] == 'N' && path[6] == 'C' && path[7] == PATH_SEP)
        at = 8, parts = 2;
    for (; at < n; at++)
        if (path[at] == PATH_SEP && --parts == 0) break;
    return at;
}

void DeleteBelow(const char* base, const char* path) {
    static WCHAR from[WalkPathSize];
    int n = LongPath(path, WalkWide), b = LongPath(base, from);
    if (n == 0 || b == 0 || !FindHandleProcedures()) return;
    while (n > 0 && WalkWide[n - 1] == PATH_SEP) WalkWide[--n] = 0;
    while (b > 0 && from[b - 1] == PATH_SEP) from[--b] = 0;
    // Taken as it is: the deepest folder that both the base and the item's
    // folder lie in, and at least the volume's root.
    int root = RootEnd(WalkWide, n), start = root;
    for (int i = root + 1; i < n && i <= b; i++)
        if (WalkWide[i] == PATH_SEP && (i == b || from[i] == PATH_SEP) && SameLetters(WalkWide, from, i))
            start = i;
    if (start >= n) return;
    // Every folder below it is held while the next one is opened, and none
    // may be a link; the root is opened with its separator.
    int depth = 0, state = 0, at = start + (start == root);
    WCHAR cut = WalkWide[at];
    WalkWide[at] = 0;
    Levels[0].folder = CreateFileW(WalkWide, FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, NULL);
    WalkWide[at] = cut;
    int held = Levels[0].folder != INVALID_HANDLE_VALUE;
    for (int s = start + 1; held && s <= n; s++) {
        if (s < n && WalkWide[s] != PATH_SEP) continue;
        WalkWide[s] = 0;
        if (s == n) {
            // The item: deleted as a link where it is one, never through it.
            HANDLE item = OpenItem(DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &state, 0);
            if (item != INVALID_HANDLE_VALUE) {
                if (state == 1 || (!ListedAsLink(WalkWide) && ReachedAsNamed(item, Levels[depth].folder, s)))
                    WalkDelete(item);
                CloseHandle(item);
            }
            break;
        }
        HANDLE folder = depth < MaxWalkDepth ? OpenItem(FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, &state, 0)
                                             : INVALID_HANDLE_VALUE;
        if (folder != INVALID_HANDLE_VALUE && (state == 1 || ListedAsLink(WalkWide))) {
            int unc = WalkWide[4] == 'U' && WalkWide[7] == PATH_SEP;
            int bytes = WideCharToMultiByte(CP_ACP, 0, WalkWide + (unc ? 6 : 4), -1, WalkText,
                                            WalkTextSize, NULL, NULL);
            if (bytes > 0 && unc) WalkText[0] = PATH_SEP;
            printf("not following link: %s\n", bytes > 0 ? WalkText : path);
            state = 1;
        }
        if (folder != INVALID_HANDLE_VALUE && (state != 0 || !(Opened.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))) {
            CloseHandle(folder);
            folder = INVALID_HANDLE_VALUE;
        }
        WalkWide[s] = PATH_SEP;
        held = folder != INVALID_HANDLE_VALUE;
        if (held) Levels[++depth].folder = folder;
    }
    for (int i = depth; i >= 0; i--) {
        if (Levels[i].folder != INVALID_HANDLE_VALUE) CloseHandle(Levels[i].folder);
        Levels[i].folder = NULL;
    }
}
