// The registry layer: every registry access of the program goes through here.
// Keys are always opened with full access, also for reading; strings are
// written without their terminating NUL.
#include "zarnouns.h"

char KeyPath[TextSize];
char ValueBuffer[TextSize];
HKEY CurrentRoot = HKEY_LOCAL_MACHINE;
LONG MachineResult = ERROR_SUCCESS;

// Prefix then name into the buffer; 0 when the path does not fit.
static int ComposePath(char* buffer, const char* prefix, const char* name) {
    buffer[0] = '\0';
    if (prefix != NULL && !CopyText(buffer, TextSize, prefix)) return 0;
    return AppendText(buffer, TextSize, name);
}

static LONG OpenUnder(HKEY root, const char* path, HKEY* key) {
    return RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, key);
}

static LONG CreateUnder(HKEY root, const char* path, HKEY* key) {
    return RegCreateKeyExA(root, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                           key, NULL);
}

// The root choice shared by KeyOpen and KeyCreate.
static int OpenWithFallback(const char* prefix, const char* name, char* pathBuffer, HKEY* key,
                            int hktype, LONG (*open)(HKEY, const char*, HKEY*),
                            const char* invalidText) {
    char* path = pathBuffer != NULL ? pathBuffer : KeyPath;
    if (!ComposePath(path, prefix, name)) return 0;
    if (hktype == 0 || hktype == 2)
        CurrentRoot = HKEY_LOCAL_MACHINE;
    else if (hktype == 1)
        CurrentRoot = HKEY_CURRENT_USER;
    else
        TellUser(invalidText);
    LONG result = open(CurrentRoot, path, key);
    if (CurrentRoot == HKEY_LOCAL_MACHINE) MachineResult = result;
    if (result == ERROR_SUCCESS) return 1;
    if (hktype != 0) return 0;
    CurrentRoot = HKEY_CURRENT_USER;
    return open(CurrentRoot, path, key) == ERROR_SUCCESS;
}

int KeyOpen(const char* prefix, const char* name, char* pathBuffer, HKEY* key, int hktype) {
    return OpenWithFallback(prefix, name, pathBuffer, key, hktype, OpenUnder,
                            "API Error: invalid hktype for KeyOpen");
}

int KeyCreate(const char* prefix, const char* name, char* pathBuffer, HKEY* key, int hktype) {
    return OpenWithFallback(prefix, name, pathBuffer, key, hktype, CreateUnder,
                            "API Error: invalid hktype for KeyCreate");
}

void KeyClose(HKEY* key) {
    RegCloseKey(*key);
    *key = NULL;
}

int KeyDelete(const char* path) {
    if (TestMode) return 0;
    // A key that another program deleted first is as good as deleted.
    LONG result = RegDeleteKeyA(CurrentRoot, path != NULL ? path : KeyPath);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

char* ValueGet(HKEY key, const char* name) {
    DWORD type;
    DWORD count = sizeof ValueBuffer;
    if (RegQueryValueExA(key, name, NULL, &type, (LPBYTE)ValueBuffer, &count) != ERROR_SUCCESS)
        return NULL;
    if (count > sizeof ValueBuffer) return NULL;
    // A value that fills the whole buffer fits only when it brought its own NUL.
    if (count == sizeof ValueBuffer) return ValueBuffer[count - 1] == '\0' ? ValueBuffer : NULL;
    ValueBuffer[count] = '\0';
    return ValueBuffer;
}

int ValueSet(HKEY key, const char* name, const char* text) {
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)strlen(text)) ==
           ERROR_SUCCESS;
}

// Text in UTF-16, as a resource holds it, whatever the ANSI code page:
// written with its NUL, as wide writers do.
int ValueSetWide(HKEY key, const char* name, const WCHAR* text) {
    DWORD units = 0;
    while (text[units] != 0) units++;
    WCHAR wideName[64];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, 64) == 0) return 0;
    return RegSetValueExW(key, wideName, 0, REG_SZ, (const BYTE*)text,
                          (units + 1) * (DWORD)sizeof(WCHAR)) == ERROR_SUCCESS;
}

int ValueSetNumber(HKEY key, const char* name, DWORD number) {
    return RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE*)&number, sizeof number) ==
           ERROR_SUCCESS;
}

int ValueDelete(HKEY key, const char* name) { return RegDeleteValueA(key, name) == ERROR_SUCCESS; }
