// Starting the uninstall from a copy of the executable in the temporary
// directory, so that the installation directory can be deleted.
#include "zarnouns.h"

int OpenProductEntry(const char* name, HKEY* key) {
    if (!CheckProductName(name)) return 0;
    if (KeyOpen(UninstallPrefix, name, KeyPath, key, 0)) return 1;
    FormatText(MessageBuffer, sizeof MessageBuffer, "'%s' not installed!", name);
    TellUser(MessageBuffer);
    return 0;
}

void StartUninstall(const char* name) {
    HKEY key = NULL;
    if (!OpenProductEntry(name, &key)) return;
    KeyClose(&key);

    char arguments[TextSize];
    int started = 0;
    if (FormatText(arguments, sizeof arguments, "-d \"%s\"", name)) started = RunFromTemp(arguments);
    if (started) {
        puts("Executed succesfully!");
        return;
    }
    puts("Cannot execute the uninstaller in temporary directory.");
    Uninstall(name);
}

int RunFromTemp(const char* arguments) {
    char tempDir[TextSize];
    char destination[TextSize];
    char commandLine[TextSize];

    DWORD length = GetTempPathA(sizeof tempDir, tempDir);
    if (length == 0 || length >= sizeof tempDir) return 0;
    tempDir[length] = '\0';
    // Both texts are composed before anything is copied, so that nothing is
    // left in the temporary directory when the start is given up.
    if (!JoinPath(destination, sizeof destination, tempDir, SelfName)) return 0;
    if (!FormatText(commandLine, sizeof commandLine, "\"%s\" %s", destination, arguments)) return 0;

    printf("Copying: %s -> %s\n", SelfPath, destination);
    CopyFileA(SelfPath, destination, FALSE);
    printf("Executing: %s\n", commandLine);

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    memset(&process, 0, sizeof process);
    GetStartupInfoA(&startup);
    // The copy writes to the same output; what this process traced comes first.
    fflush(stdout);
    return CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, tempDir, &startup,
                          &process);
}
