// The rest of the emulated 64-bit Windows that the program asks about: its
// environment's folders, modules and their procedures, the process token,
// security descriptors, code pages and COM memory.
#include <errno.h>
#include <locale.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>
#include <wctype.h>

#include <string>

#include "machine.h"

namespace {

HMODULE const Kernel32 = (HMODULE)(uintptr_t)0x1000;
HMODULE const Shell32 = (HMODULE)(uintptr_t)0x2000;
HANDLE const ProcessToken = (HANDLE)(uintptr_t)0x3000;

BOOL WINAPI StandInSetDefaultDllDirectories(DWORD flags) { return flags != 0; }

// ---- Code pages ----

const char32_t Invalid = 0xFFFD;  // the replacement character

bool IsUtf8(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

// Code page 1252 from 0x80 to 0x9F; the five bytes it leaves undefined read
// as the control characters of the same number, as on Windows.
const char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The byte for a character in code page 1252, or -1 when it has none.
int Cp1252Byte(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) return (int)c;
    for (int i = 0; i < 32; i++)
        if (Cp1252High[i] == c) return 0x80 + i;
    return -1;
}

// One character from `n` bytes of UTF-8 into `c`; returns the bytes taken.
// A sequence that is not valid (overlong, a surrogate, beyond U+10FFFF, cut
// short) gives Invalid and takes its longest valid beginning, at least one
// byte, as Windows does.
size_t DecodeUtf8(const unsigned char* s, size_t n, char32_t* c) {
    unsigned char lead = s[0];
    size_t need;
    unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
    if (lead < 0x80) {
        *c = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        *c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        *c = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        *c = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        *c = Invalid;
        return 1;
    }
    for (size_t i = 1; i <= need; i++) {
        bool fits = i < n && (i == 1 ? s[i] >= low && s[i] <= high : (s[i] & 0xC0) == 0x80);
        if (!fits) {
            *c = Invalid;
            return i;
        }
        *c = *c << 6 | (s[i] & 0x3F);
    }
    return need + 1;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back((char)c);
    } else if (c < 0x800) {
        out.push_back((char)(0xC0 | c >> 6));
        out.push_back((char)(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back((char)(0xE0 | c >> 12));
        out.push_back((char)(0x80 | (c >> 6 & 0x3F)));
        out.push_back((char)(0x80 | (c & 0x3F)));
    } else {
        out.push_back((char)(0xF0 | c >> 18));
        out.push_back((char)(0x80 | (c >> 12 & 0x3F)));
        out.push_back((char)(0x80 | (c >> 6 & 0x3F)));
        out.push_back((char)(0x80 | (c & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back((char16_t)c);
    } else {
        out.push_back((char16_t)(0xD800 + ((c - 0x10000) >> 10)));
        out.push_back((char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
}

// The conversions' answer: with no room asked for, the units needed; with
// room enough, the units written; otherwise 0 and the error
// ERROR_INSUFFICIENT_BUFFER.
template <typename Unit>
int GiveOut(const Unit* units, size_t count, int size, Unit* buffer) {
    if (size == 0) return (int)count;
    if (!buffer || (size_t)size < count) {
        errno = ERANGE;
        return 0;
    }
    memcpy(buffer, units, count * sizeof(Unit));
    return (int)count;
}

}  // namespace

extern "C" {

// A 32-bit process on a 64-bit Windows finds the native Program Files in its
// environment; everything else is the real environment.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    if (!name) return 0;
    std::string value;
    if (strcasecmp(name, "ProgramW6432") == 0) {
        value = MachinePath("c/Program Files");
    } else if (strcasecmp(name, "CommonProgramW6432") == 0) {
        value = MachinePath("c/Program Files/Common Files");
    } else {
        const char* v = getenv(name);
        if (!v) {
            errno = ENOENT;
            return 0;
        }
        value = v;
    }
    return MachineGiveString(value, size, buffer);
}

UINT GetSystemWow64DirectoryA(LPSTR buffer, UINT size) {
    return MachineGiveString(MachinePath("c/Windows/SysWOW64"), size, buffer);
}

BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
    if (!name || !*name || strchr(name, '=')) {
        errno = EINVAL;
        return FALSE;
    }
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

UINT GetACP(void) { return CP_UTF8; }

int GetLocaleInfoA(LCID, LCTYPE type, LPSTR text, int size) {
    if (type != LOCALE_IDEFAULTANSICODEPAGE) {
        errno = EINVAL;
        return 0;
    }
    static const char Legacy[] = "1252";
    if (size == 0) return sizeof Legacy;
    if (!text || size < (int)sizeof Legacy) {
        errno = ERANGE;
        return 0;
    }
    memcpy(text, Legacy, sizeof Legacy);
    return sizeof Legacy;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int count, LPWSTR wide,
                        int size) {
    bool utf8 = IsUtf8(codePage);
    if (!text || count == 0 || size < 0 || (!utf8 && codePage != 1252) ||
        (utf8 && (flags & ~(DWORD)MB_ERR_INVALID_CHARS))) {
        errno = EINVAL;
        return 0;
    }
    size_t n = count < 0 ? strlen(text) + 1 : (size_t)count;
    const unsigned char* in = (const unsigned char*)text;
    std::u16string out;
    out.reserve(n);  // a byte gives at most one unit, four bytes two
    for (size_t i = 0; i < n;) {
        char32_t c;
        if (!utf8) {
            c = in[i] >= 0x80 && in[i] < 0xA0 ? Cp1252High[in[i] - 0x80] : in[i];
            i++;
        } else {
            size_t used = DecodeUtf8(in + i, n - i, &c);
            if (c == Invalid && (flags & MB_ERR_INVALID_CHARS)) {
                errno = EILSEQ;
                return 0;
            }
            i += used;
        }
        AppendUtf16(out, c);
    }
    return GiveOut(out.data(), out.size(), size, wide);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR text,
                        int size, LPCSTR defaultChar, LPBOOL usedDefault) {
    bool utf8 = IsUtf8(codePage);
    if (!wide || wideCount == 0 || size < 0 || (!utf8 && codePage != 1252) ||
        (utf8 && (flags != 0 || defaultChar || usedDefault))) {
        errno = EINVAL;
        return 0;
    }
    size_t n = 0;
    if (wideCount < 0) {
        while (wide[n]) n++;
        n++;  // the NUL is converted too
    } else {
        n = (size_t)wideCount;
    }
    if (usedDefault) *usedDefault = FALSE;
    std::string out;
    out.reserve(3 * n);  // a unit gives at most three bytes, two units four
    for (size_t i = 0; i < n;) {
        char32_t c = wide[i++];
        if (c >= 0xD800 && c < 0xDC00 && i < n && wide[i] >= 0xDC00 && wide[i] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i++] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = Invalid;  // a lone surrogate
        if (utf8) {
            AppendUtf8(out, c);
            continue;
        }
        int byte = Cp1252Byte(c);
        if (byte < 0) {
            byte = defaultChar ? (unsigned char)*defaultChar : '?';
            if (usedDefault) *usedDefault = TRUE;
        }
        out.push_back((char)byte);
    }
    return GiveOut(out.data(), out.size(), size, text);
}

HMODULE GetModuleHandleA(LPCSTR name) {
    if (name && strcasecmp(name, "kernel32.dll") == 0) return Kernel32;
    if (name && strcasecmp(name, "shell32.dll") == 0) return Shell32;
    errno = ENOENT;
    return NULL;
}

// Windows folds each UTF-16 unit by its own upper-case table, the one the
// file system names by; the host's Unicode character data stands for it.
static int StandInCompareStringOrdinal(LPCWSTR a, int aCount, LPCWSTR b, int bCount,
                                       BOOL ignoreCase) {
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    auto fold = [ignoreCase](WCHAR c) -> unsigned {
        if (!ignoreCase) return c;
        if (unicode == (locale_t)0 || (c >= 0xD800 && c <= 0xDFFF))
            return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
        wint_t upper = towupper_l((wint_t)c, unicode);
        return upper <= 0xFFFF ? (unsigned)upper : c;
    };
    if (!a || !b) {
        errno = EINVAL;
        return 0;
    }
    if (aCount < 0) aCount = (int)std::char_traits<char16_t>::length(a);
    if (bCount < 0) bCount = (int)std::char_traits<char16_t>::length(b);
    for (int i = 0; i < aCount && i < bCount; i++) {
        unsigned x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
    }
    return aCount == bCount ? CSTR_EQUAL : aCount < bCount ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (!name) return NULL;
    if (module == Kernel32 && strcmp(name, "SetDefaultDllDirectories") == 0)
        return (FARPROC)(void (*)(void))StandInSetDefaultDllDirectories;
    if (module == Kernel32 && strcmp(name, "CompareStringOrdinal") == 0)
        return (FARPROC)(void (*)(void))StandInCompareStringOrdinal;
    if (module == Kernel32 && strcmp(name, "SetProcessMitigationPolicy") == 0)
        return (FARPROC)(void (*)(void))StandInSetProcessMitigationPolicy;
    if (module == Kernel32 && strcmp(name, "SetFileInformationByHandle") == 0)
        return (FARPROC)(void (*)(void))StandInSetFileInformationByHandle;
    if (module == Kernel32 && strcmp(name, "GetFileInformationByHandleEx") == 0)
        return (FARPROC)(void (*)(void))StandInGetFileInformationByHandleEx;
    if (FARPROC procedure = StandInRestartManagerProcedure(module, name)) return procedure;
    if (module == Shell32 && strcmp(name, "SHGetKnownFolderPath") == 0)
        return (FARPROC)(void (*)(void))StandInGetKnownFolderPath;
    errno = ENOENT;
    return NULL;
}

BOOL SetDllDirectoryA(LPCSTR) { return TRUE; }

HANDLE GetCurrentProcess(void) { return (HANDLE)(intptr_t)-1; }
DWORD GetCurrentProcessId(void) { return (DWORD)getpid(); }

BOOL OpenProcessToken(HANDLE process, DWORD, HANDLE* token) {
    if (process != GetCurrentProcess() || !token) {
        errno = EINVAL;
        return FALSE;
    }
    *token = ProcessToken;
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data, DWORD size,
                         LPDWORD needed) {
    if (token == ProcessToken && kind == TokenUser) return StandInTokenUser(data, size, needed);
    if (token != ProcessToken || kind != TokenElevation) {
        errno = EINVAL;
        return FALSE;
    }
    if (needed) *needed = sizeof(TOKEN_ELEVATION);
    if (!data || size < sizeof(TOKEN_ELEVATION)) {
        errno = ERANGE;
        return FALSE;
    }
    static_cast<TOKEN_ELEVATION*>(data)->TokenIsElevated = MachineIsNonAdmin() ? 0 : 1;
    return TRUE;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          DWORD* size) {
    if (!text || !descriptor) {
        errno = EINVAL;
        return FALSE;
    }
    *descriptor = malloc(1);
    if (size) *size = 1;
    return *descriptor != NULL;
}

HLOCAL LocalFree(HLOCAL memory) {
    free(memory);
    return NULL;
}

HRESULT CoInitializeEx(LPVOID, DWORD) { return S_OK; }
void CoTaskMemFree(LPVOID memory) { free(memory); }

}  // extern "C"
