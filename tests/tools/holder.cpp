// holder.exe PATH: holds the file at PATH as a running IDE holds the
// plug-in, until it is ended (at most two minutes): a *.dll is loaded, any
// other file is kept open for reading without delete sharing.
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    size_t n = strlen(argv[1]);
    bool dll = n > 4 && _stricmp(argv[1] + n - 4, ".dll") == 0;
    if (dll ? LoadLibraryA(argv[1]) == NULL
            : CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL) ==
                  INVALID_HANDLE_VALUE)
        return 1;
    Sleep(120000);
    return 0;
}
