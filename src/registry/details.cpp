// What Windows, its package tools and fleet tools show of an installed
// program besides its name: publisher and version (from the plug-in's
// version resource), its icon, the size of the installation, the date of
// the installation, and that it can neither be changed nor repaired. Each
// registration writes what it finds now and deletes what it could not give,
// so the entry never shows what an earlier registration found.
#include "zarnouns.h"

static const char PluginFile[] = "harbo.dll";

enum { Version, Publisher, Icon, Size, Date, NoModify, NoRepair, DetailCount };
static const char* const DetailNames[DetailCount] = {
    "DisplayVersion", "Publisher", "DisplayIcon", "EstimatedSize",
    "InstallDate",    "NoModify",  "NoRepair",
};

// The plug-in's version resource, as version.dll reads it (aligned for it).
// Resources take a few KiB; a larger one is passed over as none.
static DWORD VersionData[8192];
typedef BOOL(WINAPI* QueryProc)(const void*, const WCHAR*, void**, UINT*);
static QueryProc Query;

// version.dll is loaded only here, from the system folder: it is not in
// the import table, so that the program starts without it.
static int ReadVersionResource(const WCHAR* path) {
    typedef DWORD(WINAPI * SizeProc)(const WCHAR*, DWORD*);
    typedef BOOL(WINAPI * InfoProc)(const WCHAR*, DWORD, DWORD, void*);
    HMODULE library = LoadSystemLibrary("version.dll");
    if (library == NULL) return 0;
    SizeProc size = (SizeProc)(SystemProc)GetProcAddress(library, "GetFileVersionInfoSizeW");
    InfoProc info = (InfoProc)(SystemProc)GetProcAddress(library, "GetFileVersionInfoW");
    Query = (QueryProc)(SystemProc)GetProcAddress(library, "VerQueryValueW");
    if (size == NULL || info == NULL || Query == NULL) return 0;
    DWORD ignored = 0;
    DWORD needed = size(path, &ignored);
    return needed > 0 && needed <= sizeof VersionData && info(path, 0, needed, VersionData);
}

// The block `name` of the resource, and its length as version.dll counts it.
static void* QueryBlock(const char* name, UINT* length) {
    WCHAR wide[64];
    void* found = NULL;
    *length = 0;
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 64) == 0 ||
        !Query(VersionData, wide, &found, length))
        return NULL;
    return found;
}

// The text `name` of the resource's first language into `text` (TextSize
// units), exactly as it is held; 0 when it is missing or empty.
static int VersionText(const char* name, WCHAR* text) {
    UINT length;
    const WORD* language = (const WORD*)QueryBlock("\\VarFileInfo\\Translation", &length);
    char block[64];
    if (language == NULL || length < 2 * sizeof(WORD) ||
        !FormatText(block, sizeof block, "\\StringFileInfo\\%04X%04X\\%s", language[0],
                    language[1], name))
        return 0;
    const WCHAR* found = (const WCHAR*)QueryBlock(block, &length);
    if (found == NULL) return 0;
    UINT n = 0;
    while (n < length && n < TextSize - 1 && found[n] != 0) text[n] = found[n], n++;
    text[n] = 0;
    return n > 0;
}

// The fixed product version as "a.b.c.d"; 0 when the resource has none.
static int FixedVersion(char* text) {
    UINT length;
    const VS_FIXEDFILEINFO* fixed = (const VS_FIXEDFILEINFO*)QueryBlock("\\", &length);
    if (fixed == NULL || length < sizeof *fixed || fixed->dwSignature != 0xFEEF04BD) return 0;
    return FormatText(text, TextSize, "%u.%u.%u.%u", HIWORD(fixed->dwProductVersionMS),
                      LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
                      LOWORD(fixed->dwProductVersionLS));
}

// The size of the files below the installation folder, into SizeBytes.
// Links are not followed. The walk gives up past MaxEntries entries, or at
// a folder it cannot walk whole: the size is then not given.
enum { MaxEntries = 100000 };
static unsigned long long SizeBytes;
static long SizeEntries;

static int AddEntrySize(int event) {
    if (event == WalkLeave) return 0;
    // What the uninstall would keep is not counted: the walk looks itself.
    if (event == WalkEnter && IsKeptFolder(WalkWide, WalkText, KeptQuiet)) return 0;
    WalkStop |= event == WalkDeep || ++SizeEntries > MaxEntries;
    if (event == WalkFile)
        SizeBytes += (unsigned long long)WalkEntry->EndOfFile.QuadPart;
    return 1;
}

// Which details this registration gives, and whether every write succeeded.
static int Given[DetailCount];
static int AllWritten;

static void Wrote(int detail, int written) {
    Given[detail] = 1;
    AllWritten &= written;
}

int WriteEntryDetails(HKEY key) {
    char path[TextSize], text[TextSize];
    WCHAR widePath[TextSize], value[TextSize];
    memset(Given, 0, sizeof Given);
    AllWritten = 1;

    int hasPath = JoinPath(path, sizeof path, SelfDir, PluginFile) &&
                  MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, TextSize) > 0;
    if (hasPath && ReadVersionResource(widePath)) {
        if (VersionText("ProductVersion", value))
            Wrote(Version, ValueSetWide(key, DetailNames[Version], value));
        else if (FixedVersion(text))
            Wrote(Version, ValueSet(key, DetailNames[Version], text));
        if (VersionText("CompanyName", value))
            Wrote(Publisher, ValueSetWide(key, DetailNames[Publisher], value));
    }
    // Asked how many icons a file holds, the shell may answer a file it
    // cannot read with -1.
    UINT icons = hasPath ? ExtractIconExW(widePath, -1, NULL, NULL, 0) : 0;
    if (icons > 0 && icons != (UINT)-1 && FormatText(text, sizeof text, "%s,0", path))
        Wrote(Icon, ValueSet(key, DetailNames[Icon], text));

    SizeBytes = 0;
    // Shown in KiB, rounded up.
    // The top folder is no entry of its own.
    SizeEntries = -1;
    if (WalkTree(SelfDir, AddEntrySize, 0) == 0 && SizeBytes / 1024 < 0xFFFFFFFFu)
        Wrote(Size, ValueSetNumber(key, DetailNames[Size], (DWORD)((SizeBytes + 1023) / 1024)));

    SYSTEMTIME now;
    GetLocalTime(&now);
    FormatText(text, sizeof text, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    Wrote(Date, ValueSet(key, DetailNames[Date], text));
    Wrote(NoModify, ValueSetNumber(key, DetailNames[NoModify], 1));
    Wrote(NoRepair, ValueSetNumber(key, DetailNames[NoRepair], 1));

    // What an earlier registration found and this one did not goes.
    for (int i = 0; i < DetailCount; i++)
        if (!Given[i]) ValueDelete(key, DetailNames[i]);
    return AllWritten;
}
