// The shell's special folders, inside <machine>/c/.
#include <shlobj.h>
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
        case CSIDL_PROGRAM_FILES: return "Program Files";
        case CSIDL_MYPICTURES: return "Users/user/Pictures";
        case CSIDL_PROFILE: return "Users/user";
        case CSIDL_PROGRAM_FILES_COMMON: return "Program Files/Common Files";
        case CSIDL_COMMON_DOCUMENTS: return "Users/Public/Documents";
        default: return std::string();
    }
}

}  // namespace

std::string StandInFolderPath(int csidl) {
    std::string rel = Relative(csidl);
    return rel.empty() ? rel : MachinePath("c/" + rel);
}

extern "C" BOOL SHGetSpecialFolderPathA(HWND, LPSTR path, int csidl, BOOL) {
    std::string folder = StandInFolderPath(csidl);
    if (folder.empty() || !path) return FALSE;
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return FALSE;
    if (folder.size() >= MAX_PATH) return FALSE;
    memcpy(path, folder.c_str(), folder.size() + 1);
    return TRUE;
}
