// The removal script "zarnouns.ini": sections choose a target directory,
// file lines name what to delete in it, "[*]" removes the installation.
// Its text is UTF-8, with or without a byte-order mark; a line that is not
// valid UTF-8 was written in the system's legacy ANSI code page.
#include "zarnouns.h"

static const char ScriptName[] = "zarnouns.ini";
static const char ByteOrderMark[] = "\xEF\xBB\xBF";

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

HANDLE OpenRemovalScript(const char* path) {
    // Shared for reading only: nobody can write, rename or delete it while
    // it is open.
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

int HashFile(HANDLE file, char* hex) {
    HCRYPTPROV provider;
    HCRYPTHASH hash;
    BYTE chunk[4096], digest[32];
    DWORD n = 0, size = sizeof digest;
    int done = 0;
    hex[0] = '\0';
    if (!CryptAcquireContextW(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return 0;
    if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
        BOOL read;
        while ((read = ReadFile(file, chunk, sizeof chunk, &n, NULL)) && n > 0 &&
               CryptHashData(hash, chunk, n, 0)) {
        }
        done = read && n == 0 && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) &&
               size == sizeof digest;
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
    for (int i = 0; done && i < 32; i++) {
        hex[2 * i] = "0123456789abcdef"[digest[i] >> 4];
        hex[2 * i + 1] = "0123456789abcdef"[digest[i] & 15];
    }
    hex[done ? 64 : 0] = '\0';
    return done;
}

int RemovalScriptHash(const char* dir, char* hex) {
    char path[TextSize];
    hex[0] = '\0';
    if (!JoinPath(path, sizeof path, dir, ScriptName)) return -1;
    HANDLE file = OpenRemovalScript(path);
    // A folder of that name is no script, as the uninstall cannot open it either.
    if (file == INVALID_HANDLE_VALUE) return HasRemovalScript(dir) ? -1 : 0;
    int hashed = HashFile(file, hex);
    CloseHandle(file);
    return hashed ? 1 : -1;
}

int HasRemovalScript(const char* dir) {
    char path[TextSize];
    if (!JoinPath(path, sizeof path, dir, ScriptName)) return 0;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static int IsAscii(const char* text) {
    for (; *text != '\0'; text++)
        if ((unsigned char)*text >= 0x80) return 0;
    return 1;
}

// The code page that scripts written before UTF-8 are in: the system's ANSI
// code page, which the locale still tells where this process runs in UTF-8.
// 0 when it tells none.
static UINT LegacyCodePage(void) {
    char number[8];
    int told = GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, number,
                              sizeof number);
    return told > 0 ? (UINT)atoi(number) : 0;
}

// Brings a line into the process's code page, the one of every path and
// trace: valid UTF-8 is read as UTF-8, anything else as the legacy code page
// (or taken as it is when there is none). Old Windows, which runs the
// program in the legacy code page, so gets a UTF-8 script right as well.
// 0 when the converted line no longer fits the line buffer.
static int ToProcessCodePage(char* line) {
    if (IsAscii(line)) return 1;
    UINT active = GetACP();
    WCHAR wide[TextSize];
    UINT source = CP_UTF8;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line, -1, wide, TextSize) == 0) {
        source = LegacyCodePage();
        if (source == active || source == 0 || source == CP_UTF8 ||
            MultiByteToWideChar(source, 0, line, -1, wide, TextSize) == 0)
            return 1;
    }
    if (source == active) return 1;
    // A character that the code page lacks becomes '?', which names no file,
    // never a look-alike that might (U+2215 as '/').
    DWORD flags = active == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    return WideCharToMultiByte(CP_ACP, flags, wide, -1, line, TextSize, NULL, NULL) > 0;
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
    // One open for the whole run: the bytes hashed are the bytes followed.
    HANDLE file = OpenRemovalScript(path);
    FILE* script = NULL;
    if (file != INVALID_HANDLE_VALUE) {
        char hash[HashTextSize];
        HashFile(file, hash);
        int refusal = JudgeRemovalScript(file, dir, hash);
        if (refusal != 0) {
            printf("removal script not followed: %s\n", ScriptRefusals[refusal - 1].reason);
            ScriptRefused = refusal;
            CloseHandle(file);
            return -2;
        }
        // The C runtime reads the same handle from its start, in text mode.
        int descriptor = SetFilePointer(file, 0, NULL, FILE_BEGIN) == 0
                             ? _open_osfhandle((intptr_t)file, _O_TEXT)
                             : -1;
        if (descriptor < 0) CloseHandle(file);
        script = descriptor >= 0 ? _fdopen(descriptor, "rt") : NULL;
        if (script == NULL && descriptor >= 0) _close(descriptor);
    }
    if (script == NULL) {
        printf("cannot open ini file: %s!\n", path);
        return -2;
    }
    printf("found '%s', using INI Mode:\n", path);
    // The script deletes by name; a file still held open would only be
    // marked for deletion and keep its folder from going.
    ReleaseHeldFiles();
    // The mark that Notepad and others put first in a UTF-8 file is no part
    // of the first line.
    char mark[3];
    if (fread(mark, 1, sizeof mark, script) != sizeof mark || memcmp(mark, ByteOrderMark, 3) != 0)
        rewind(script);

    while (ReadLine(line, script)) {
        if (!ToProcessCodePage(line)) {
            puts("skipped over-long line");
            continue;
        }
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
            CopyText(target, sizeof target, folder);  // TextSize fits
            continue;
        }
        if (target[0] == '\0') continue;
        if (!JoinPath(path, sizeof path, target, line)) {
            printf("skipped, path too long: %s%s%s\n", target,
                   EndsInSeparator(target) ? "" : PATH_SEP_TEXT, line);
            continue;
        }
        printf("deleting file: '%s'\n", path);
        DeleteBelow(target, path);
    }
    fclose(script);
    return 0;
}
