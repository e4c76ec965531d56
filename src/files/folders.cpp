// The special folders a removal script may name, and their lookup.
#include "zarnouns.h"

char FolderBuffer[TextSize];

const SpecialFolder SpecialFolders[] = {
    {CSIDL_APPDATA, "CSIDL_APPDATA"},
    {CSIDL_COMMON_APPDATA, "CSIDL_COMMON_APPDATA"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, "CSIDL_COMMON_DESKTOPDIRECTORY"},
    {CSIDL_COMMON_DOCUMENTS, "CSIDL_COMMON_DOCUMENTS"},
    {CSIDL_COMMON_PROGRAMS, "CSIDL_COMMON_PROGRAMS"},
    {CSIDL_COMMON_STARTMENU, "CSIDL_COMMON_STARTMENU"},
    {CSIDL_COMMON_STARTUP, "CSIDL_COMMON_STARTUP"},
    {CSIDL_DESKTOP, "CSIDL_DESKTOP"},
    {CSIDL_DESKTOPDIRECTORY, "CSIDL_DESKTOPDIRECTORY"},
    {CSIDL_FAVORITES, "CSIDL_FAVORITES"},
    {CSIDL_FONTS, "CSIDL_FONTS"},
    {CSIDL_HISTORY, "CSIDL_HISTORY"},
    {CSIDL_LOCAL_APPDATA, "CSIDL_LOCAL_APPDATA"},
    {CSIDL_MYPICTURES, "CSIDL_MYPICTURES"},
    {CSIDL_PROFILE, "CSIDL_PROFILE"},
    {CSIDL_PROGRAM_FILES, "CSIDL_PROGRAM_FILES"},
    {CSIDL_PROGRAM_FILES_COMMON, "CSIDL_PROGRAM_FILES_COMMON"},
    {CSIDL_PROGRAMS, "CSIDL_PROGRAMS"},
    {CSIDL_STARTMENU, "CSIDL_STARTMENU"},
    {CSIDL_STARTUP, "CSIDL_STARTUP"},
    {CSIDL_SYSTEM, "CSIDL_SYSTEM"},
    {CSIDL_WINDOWS, "CSIDL_WINDOWS"},
    {0, NULL},
};

static int LowerAscii(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Whole texts equal, the case of ASCII letters ignored.
static int SameName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; a++, b++)
        if (LowerAscii((unsigned char)*a) != LowerAscii((unsigned char)*b)) return 0;
    return *a == *b;
}

// Asked in UTF-16: the ANSI call returns at most MAX_PATH bytes, and a folder
// within MAX_PATH characters can take more in UTF-8.
int ShellFolderPath(int csidl, char* folder) {
    WCHAR wide[MAX_PATH];
    folder[0] = '\0';
    if (!SHGetSpecialFolderPathW(NULL, wide, csidl, FALSE)) return 0;
    wide[MAX_PATH - 1] = 0;
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, folder, TextSize, NULL, NULL) > 1;
}

char* SpecialFolderPath(const char* name) {
    for (const SpecialFolder* row = SpecialFolders; row->name != NULL; row++) {
        if (!SameName(row->name, name)) continue;
        if (ShellFolderPath(row->csidl, FolderBuffer)) return FolderBuffer;
    }
    return NULL;
}
