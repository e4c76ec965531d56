// Bounded text: nothing is ever written past a buffer, and every result is
// terminated, even where msvcrt's own _snprintf would leave it open.
#include "zarnouns.h"

int CopyText(char* dst, size_t size, const char* src) {
    if (size == 0) return 0;
    size_t i = 0;
    for (; src[i] != '\0'; i++) {
        if (i + 1 >= size) {
            dst[i] = '\0';
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
    dst[size - 1] = '\0';
    return n >= 0 && (size_t)n < size;
}

int EndsInSeparator(const char* path) {
    size_t n = strlen(path);
    return n > 0 && (path[n - 1] == '\\' || path[n - 1] == '/');
}

int JoinPath(char* dst, size_t size, const char* dir, const char* name) {
    if (!CopyText(dst, size, dir)) return 0;
    if (dir[0] != '\0' && !EndsInSeparator(dir) && !AppendText(dst, size, PATH_SEP_TEXT)) return 0;
    return AppendText(dst, size, name);
}

int CheckProductName(const char* name) {
    if (name[0] == '\0') {
        TellUser("Invalid product name: it is empty.");
        return 0;
    }
    if (strlen(name) > MaxNameLength) {
        FormatText(MessageBuffer, sizeof MessageBuffer,
                   "Invalid product name: it is longer than %d characters.", (int)MaxNameLength);
        TellUser(MessageBuffer);
        return 0;
    }
    if (strchr(name, '\\') != NULL || strchr(name, '"') != NULL) {
        FormatText(MessageBuffer, sizeof MessageBuffer,
                   "Invalid product name '%s': it holds a backslash or a double quote.", name);
        TellUser(MessageBuffer);
        return 0;
    }
    return 1;
}
