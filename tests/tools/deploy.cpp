// deploy NAME: removes a product as a deployment tool does. It reads the
// QuietUninstallString of NAME's Uninstall entry, starts it, waits for it,
// and prints its exit code, then whether the entry is there and what is
// left in the installation folder, at once and again one second later:
//
//   exit code: 0
//   at exit: entry no, files zarnouns.exe
//   a second later: entry no, files -
//
// ("files -" when the folder is gone). Exit code 2 when there is nothing to
// run. Built for both platforms: its boxes, if any, are the harness's to see.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <string>

static const char Prefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

static std::string Value(const std::string& key, const char* name) {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        HKEY k;
        if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) continue;
        char data[2048] = {0};
        DWORD size = sizeof data - 1, type = 0;
        LONG rc = RegQueryValueExA(k, name, NULL, &type, (LPBYTE)data, &size);
        RegCloseKey(k);
        if (rc == ERROR_SUCCESS && type == REG_SZ) return data;
    }
    return "";
}

static bool EntryThere(const std::string& key) {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        HKEY k;
        if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) continue;
        RegCloseKey(k);
        return true;
    }
    return false;
}

// The names in the folder, sorted as the listing gives them; "-" when it is gone.
static std::string Files(const std::string& dir) {
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((dir + "*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return "-";
    std::string names;
    do {
        if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
        names += (names.empty() ? "" : " ") + std::string(entry.cFileName);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return names.empty() ? "(empty)" : names;
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::string key = Prefix + std::string(argv[1]);
    std::string command = Value(key, "QuietUninstallString");
    std::string dir = Value(key, "InstallLocation");
    if (command.empty()) {
        printf("no QuietUninstallString\n");
        return 2;
    }
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        printf("cannot start %s\n", command.c_str());
        return 2;
    }
    DWORD code = 0;
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    std::string now = "at exit: entry " + std::string(EntryThere(key) ? "yes" : "no") + ", files " + Files(dir);
    Sleep(1000);
    std::string later = "a second later: entry " + std::string(EntryThere(key) ? "yes" : "no") +
                        ", files " + Files(dir);
    printf("exit code: %lu\n%s\n%s\n", (unsigned long)code, now.c_str(), later.c_str());
    return 0;
}
