// The removal script "zarnouns.ini": sections choose a target directory,
// file lines name what to delete in it, "[*]" removes the installation.
#include "zarnouns.h"

static const char ScriptName[] = "zarnouns.ini";

static int IsSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void TrimSpaces(char* text) {
    if (text == NULL || text[0] == '\0') return;
    size_t end = strlen(text);
    while (end > 0 && IsSpace((unsigned char)text[end - 1])) end--;
    text[end] = '\0';
    size_t start = 0;
    while (IsSpace((unsigned char)text[start])) start++;
    if (start > 0) memmove(text, text + start, end - start + 1);
}

static int LowerAscii(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

static int HasPrefix(const char* text, const char* prefix) {
    for (; *prefix != '\0'; text++, prefix++)
        if (LowerAscii((unsigned char)*text) != LowerAscii((unsigned char)*prefix)) return 0;
    return 1;
}

// Reads the next line that fits `line` (TextSize bytes). A longer physical
// line is passed over whole, with one trace. 0 at the end of the file or on
// a read failure.
static int ReadLine(char* line, FILE* script) {
    for (;;) {
        line[TextSize - 1] = 'x';  // a full buffer gets its terminator here
        if (fgets(line, TextSize, script) == NULL) return 0;
        if (line[TextSize - 1] != '\0' || line[TextSize - 2] == '\n') return 1;
        int next = getc(script);
        if (next == '\r') next = getc(script);  // CR LF read in binary form
        if (next == EOF || next == '\n') return 1;  // exactly TextSize - 1 characters
        puts("skipped over-long line");
        for (;;) {
            line[TextSize - 1] = 'x';
            if (fgets(line, TextSize, script) == NULL) return 0;
            if (line[TextSize - 1] != '\0' || line[TextSize - 2] == '\n') break;
        }
    }
}

int HasRemovalScript(const char* dir) {
    char path[TextSize];
    if (!JoinPath(path, sizeof path, dir, ScriptName)) return 0;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int RunRemovalScript(const char* dir) {
    char target[TextSize];
    char line[TextSize];
    char path[TextSize];

    if (!JoinPath(path, sizeof path, dir, ScriptName) || !CopyText(target, sizeof target, dir)) {
        printf("skipped, path too long: %s%s%s\n", dir,
               dir[0] == '\0' || EndsInSeparator(dir) ? "" : PATH_SEP_TEXT, ScriptName);
        return -2;
    }
    printf("checking ini file: %s!\n", path);
    FILE* script = fopen(path, "rt");
    if (script == NULL) {
        printf("cannot open ini file: %s!\n", path);
        return -2;
    }
    printf("found '%s', using INI Mode:\n", path);
    // The script deletes by name; a file still held open would only be
    // marked for deletion and keep its folder from going.
    ReleaseHeldFiles();

    while (ReadLine(line, script)) {
        TrimSpaces(line);
        if (line[0] == '\0' || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t length = strlen(line);
            if (line[length - 1] == ']') line[length - 1] = '\0';
            const char* name = line + 1;
            if (name[0] == '*') {
                puts("Found last section: [*], closing INI file.");
                fclose(script);
                puts("delete(tree) all files!");
                return RemoveTreeGuarded(dir);
            }
            printf("*change category to: %s\n", name);
            if (!HasPrefix(name, "csidl_")) {
                printf("Unknown category: %s\n", name);
                target[0] = '\0';
                continue;
            }
            const char* folder = SpecialFolderPath(name);
            if (folder == NULL) {
                printf("Unknown csidl: %s\n", name);
                target[0] = '\0';
                continue;
            }
            printf("Found csidl: %s=%s\n", name, folder);
            CopyText(target, sizeof target, folder);  // MAX_PATH fits
            continue;
        }
        if (target[0] == '\0') continue;
        if (!JoinPath(path, sizeof path, target, line)) {
            printf("skipped, path too long: %s%s%s\n", target,
                   EndsInSeparator(target) ? "" : PATH_SEP_TEXT, line);
            continue;
        }
        printf("deleting file: '%s'\n", path);
        remove(path);
        _rmdir(path);
    }
    fclose(script);
    return 0;
}
