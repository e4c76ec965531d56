// Bounded text: nothing is ever written past a buffer, and every result is
// terminated, even where msvcrt's own _snprintf would leave it open. Texts
// are UTF-8 (the code page the manifest asks for), so a cut text loses the
// whole character the cut fell into.
#include "zarnouns.h"

// Drops a UTF-8 sequence that the cut at `length` left unfinished: a lead
// byte in the last three, followed by fewer continuation bytes than it
// announces.
static void DropCutCharacter(char* text, size_t length) {
    size_t lead = length;
    while (lead > 0 && length - lead < 3 && ((unsigned char)text[lead - 1] & 0xC0) == 0x80) lead--;
    if (lead == 0) return;
    unsigned char c = (unsigned char)text[lead - 1];
    size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (length - (lead - 1) < need) text[lead - 1] = '\0';
}

int CopyText(char* dst, size_t size, const char* src) {
    if (size == 0) return 0;
    size_t i = 0;
    for (; src[i] != '\0'; i++) {
        if (i + 1 >= size) {
            dst[i] = '\0';
            DropCutCharacter(dst, i);
            return 0;
        }
        dst[i] = src[i];
    }
    dst[i] = '\0';
    return 1;
}

int AppendText(char* dst, size_t size, const char* src) {
    size_t used = strlen(dst);
    if (used >= size) return 0;
    return CopyText(dst + used, size - used, src);
}

int FormatText(char* dst, size_t size, const char* format, ...) {
    if (size == 0) return 0;
    va_list args;
    va_start(args, format);
    // msvcrt's own: MinGW's vsnprintf brings a whole printf engine along.
    int n = _vsnprintf(dst, size, format, args);
    va_end(args);
    if (n >= 0 && (size_t)n < size) return 1;
    dst[size - 1] = '\0';
    DropCutCharacter(dst, size - 1);
    return 0;
}

int IsSeparator(int c) { return c == '\\' || c == '/'; }

int EndsInSeparator(const char* path) {
    size_t n = strlen(path);
    return n > 0 && IsSeparator(path[n - 1]);
}

int JoinPath(char* dst, size_t size, const char* dir, const char* name) {
    if (!CopyText(dst, size, dir)) return 0;
    if (dir[0] != '\0' && !EndsInSeparator(dir) && !AppendText(dst, size, PATH_SEP_TEXT)) return 0;
    return AppendText(dst, size, name);
}

static int NameFits(const char* name) {
    if (name[0] == '\0') {
        TellUser(Text(TextNameEmpty));
        return 0;
    }
    // The registry counts the name in UTF-16 units, as it stores it.
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, NULL, 0) - 1 > MaxNameLength) {
        FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextNameTooLong), (int)MaxNameLength);
        TellUser(MessageBuffer);
        return 0;
    }
    if (strchr(name, '\\') != NULL || strchr(name, '"') != NULL) {
        FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextNameCharacters), name);
        TellUser(MessageBuffer);
        return 0;
    }
    return 1;
}

int CheckProductName(const char* name) {
    if (NameFits(name)) return 1;
    SetExitCode(ExitBadCommand);
    return 0;
}
