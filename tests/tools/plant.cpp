// plant.exe: stands for a program that someone else put into the temporary
// folder under the uninstaller's name. Started with "--hold", it only stays
// running (so that its file is in use) until "planted.stop" appears beside
// it. Started in any other way it appends its command line to
// "planted.log" beside itself.
#include <stdio.h>
#include <string.h>
#include <windows.h>

static char Beside[MAX_PATH];

// The path of `name` in the program's own folder, in Beside.
static const char* BesideSelf(const char* name) {
    DWORD n = GetModuleFileNameA(NULL, Beside, sizeof Beside);
    char* cut = strrchr(Beside, '\\');
    if (n == 0 || n >= sizeof Beside || cut == NULL || strlen(name) >= (size_t)(Beside + sizeof Beside - cut - 1))
        ExitProcess(1);
    strcpy(cut + 1, name);
    return Beside;
}

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--hold") == 0) {
        const char* stop = BesideSelf("planted.stop");
        for (int i = 0; i < 600 && GetFileAttributesA(stop) == INVALID_FILE_ATTRIBUTES; i++) Sleep(50);
        return 0;
    }
    FILE* log = fopen(BesideSelf("planted.log"), "a");
    if (log == NULL) return 1;
    fprintf(log, "%s\n", GetCommandLineA());
    fclose(log);
    return 0;
}
