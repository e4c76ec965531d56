// The shell's special folders, inside <machine>/c/.
#include <shellapi.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "machine.h"

namespace {

const char* const Roaming = "Users/user/AppData/Roaming";
const char* const StartMenu = "Users/user/AppData/Roaming/Microsoft/Windows/Start Menu";
const char* const CommonStartMenu = "ProgramData/Microsoft/Windows/Start Menu";

// The folder's place under c/, empty for a number this machine lacks.
std::string Relative(int csidl) {
    switch (csidl) {
        case CSIDL_DESKTOP:
        case CSIDL_DESKTOPDIRECTORY: return "Users/user/Desktop";
        case CSIDL_PROGRAMS: return std::string(StartMenu) + "/Programs";
        case CSIDL_FAVORITES: return "Users/user/Favorites";
        case CSIDL_STARTUP: return std::string(StartMenu) + "/Programs/Startup";
        case CSIDL_STARTMENU: return StartMenu;
        case CSIDL_FONTS: return "Windows/Fonts";
        case CSIDL_COMMON_STARTMENU: return CommonStartMenu;
        case CSIDL_COMMON_PROGRAMS: return std::string(CommonStartMenu) + "/Programs";
        case CSIDL_COMMON_STARTUP: return std::string(CommonStartMenu) + "/Programs/Startup";
        case CSIDL_COMMON_DESKTOPDIRECTORY: return "Users/Public/Desktop";
        case CSIDL_APPDATA: return Roaming;
        case CSIDL_LOCAL_APPDATA: return "Users/user/AppData/Local";
        case CSIDL_HISTORY: return "Users/user/AppData/Local/Microsoft/Windows/History";
        case CSIDL_COMMON_APPDATA: return "ProgramData";
        case CSIDL_WINDOWS: return "Windows";
        case CSIDL_SYSTEM: return "Windows/System32";
        // A 32-bit program on a 64-bit Windows is told of the 32-bit folders.
        case CSIDL_PROGRAM_FILES:
        case CSIDL_PROGRAM_FILESX86: return "Program Files (x86)";
        case CSIDL_PROGRAM_FILES_COMMON:
        case CSIDL_PROGRAM_FILES_COMMONX86: return "Program Files (x86)/Common Files";
        case CSIDL_SYSTEMX86: return "Windows/SysWOW64";
        case CSIDL_PERSONAL: return "Users/user/Documents";
        case CSIDL_MYMUSIC: return "Users/user/Music";
        case CSIDL_MYVIDEO: return "Users/user/Videos";
        case CSIDL_RECENT: return std::string(Roaming) + "/Microsoft/Windows/Recent";
        case CSIDL_SENDTO: return std::string(Roaming) + "/Microsoft/Windows/SendTo";
        case CSIDL_TEMPLATES: return std::string(Roaming) + "/Microsoft/Windows/Templates";
        case CSIDL_MYPICTURES: return "Users/user/Pictures";
        case CSIDL_PROFILE: return "Users/user";
        case CSIDL_COMMON_DOCUMENTS: return "Users/Public/Documents";
        default: return std::string();
    }
}

}  // namespace

// The known folders without a CSIDL number, told apart by the first part of
// their identifiers, which differs for each.
static std::string KnownRelative(const GUID* id) {
    switch (id ? id->Data1 : 0) {
        case 0x374de290: return "Users/user/Downloads";
        case 0x4c5c32ff: return "Users/user/Saved Games";
        case 0xbfb9d5e0: return "Users/user/Links";
        case 0x56784854: return "Users/user/Contacts";
        case 0x7d1d3a04: return "Users/user/Searches";
        case 0x31c0dd25: return "Users/user/3D Objects";
        case 0xdfdf76a2: return "Users/Public";
        case 0x0762d272: return "Users";
        case 0x5cd7aee2: return "Users/user/AppData/Local/Programs";
        default: return std::string();
    }
}

static bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string StandInKnownFolderPath(const GUID* id) {
    std::string rel = KnownRelative(id);
    return rel.empty() ? rel : MachinePath("c/" + rel);
}

// Found for a known folder that exists, as the shell does without
// KF_FLAG_CREATE; the path comes in UTF-16, freed with CoTaskMemFree.
extern "C" HRESULT StandInGetKnownFolderPath(const GUID* id, DWORD, HANDLE, PWSTR* path) {
    if (!path) return E_INVALIDARG;
    *path = NULL;
    std::string folder = StandInKnownFolderPath(id);
    if (folder.empty() || !IsFolder(folder)) return (HRESULT)0x80070002L;
    int units = MultiByteToWideChar(CP_UTF8, 0, folder.c_str(), -1, NULL, 0);
    WCHAR* wide = (WCHAR*)malloc(units * sizeof(WCHAR));
    if (!wide) return (HRESULT)0x8007000EL;
    MultiByteToWideChar(CP_UTF8, 0, folder.c_str(), -1, wide, units);
    *path = wide;
    return S_OK;
}

std::string StandInFolderPath(int csidl) {
    std::string rel = Relative(csidl);
    return rel.empty() ? rel : MachinePath("c/" + rel);
}

extern "C" BOOL SHGetSpecialFolderPathA(HWND, LPSTR path, int csidl, BOOL) {
    std::string folder = StandInFolderPath(csidl);
    if (folder.empty() || !path) return FALSE;
    if (!IsFolder(folder)) return FALSE;
    if (folder.size() >= MAX_PATH) return FALSE;
    memcpy(path, folder.c_str(), folder.size() + 1);
    return TRUE;
}

extern "C" BOOL SHGetSpecialFolderPathW(HWND, LPWSTR path, int csidl, BOOL) {
    std::string folder = StandInFolderPath(csidl);
    if (folder.empty() || !path || !IsFolder(folder)) return FALSE;
    return MultiByteToWideChar(CP_UTF8, 0, folder.c_str(), -1, path, MAX_PATH) != 0;
}

extern "C" UINT ExtractIconExW(LPCWSTR, int, HICON*, HICON*, UINT) { return 0; }
