// holder.exe PATH: holds the file at PATH as a running IDE holds the
// plug-in, until it is ended (at most two minutes): a *.dll is loaded, any
// other file is kept open for reading without delete sharing, by the long
// form of its full path, so that files past MAX_PATH are held too.
#include <windows.h>

#include <string>

// Wide arguments (-municode), without loading shell32 to split them: the
// holder must start quickly.
int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    std::wstring path = argv[1];
    bool dll = path.size() > 4 && _wcsicmp(path.c_str() + path.size() - 4, L".dll") == 0;
    if (dll ? LoadLibraryW(path.c_str()) == NULL
            : CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                          OPEN_EXISTING, 0, NULL) == INVALID_HANDLE_VALUE)
        return 1;
    Sleep(120000);
    return 0;
}
