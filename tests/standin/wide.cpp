// The wide-character file functions over the ANSI ones: a "\\?\" prefix
// before a full path is taken away (the host has no MAX_PATH to pass), the
// rest goes as UTF-8.
#include <errno.h>
#include <string.h>
#include <direct.h>
#include <windows.h>

#include <string>

namespace {

std::string Narrow(LPCWSTR wide) {
    std::string text;
    if (!wide) return text;
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
    if (n <= 0) return text;
    text.resize((size_t)n);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], n, NULL, NULL);
    text.resize((size_t)n - 1);
    // Windows takes the prefix before a full path only. Before anything else
    // the path is left as it stands, a relative name that begins "\\?\",
    // which names nothing, as Windows completes no such path either.
    return text.compare(0, 5, "\\\\?\\/") == 0 ? text.substr(4) : text;
}

// A name of more than MAX_PATH bytes in UTF-8 is left out of the ANSI
// listing, and so out of this one.
BOOL Widen(const WIN32_FIND_DATAA& narrow, LPWIN32_FIND_DATAW data) {
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = narrow.dwFileAttributes;
    data->nFileSizeHigh = narrow.nFileSizeHigh;
    data->nFileSizeLow = narrow.nFileSizeLow;
    return MultiByteToWideChar(CP_UTF8, 0, narrow.cFileName, -1, data->cFileName, MAX_PATH) > 0;
}

}  // namespace

extern "C" {

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    WIN32_FIND_DATAA narrow;
    HANDLE find = FindFirstFileA(Narrow(pattern).c_str(), &narrow);
    if (find != INVALID_HANDLE_VALUE) Widen(narrow, data);
    return find;
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
    WIN32_FIND_DATAA narrow;
    return FindNextFileA(find, &narrow) && Widen(narrow, data);
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
    return CreateFileA(Narrow(path).c_str(), access, share, security, disposition, flags,
                       templateFile);
}

DWORD GetFileAttributesW(LPCWSTR path) { return GetFileAttributesA(Narrow(path).c_str()); }

BOOL DeleteFileW(LPCWSTR path) {
    // A folder is refused as Windows refuses it; a link to one is not.
    std::string name = Narrow(path);
    DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes == FILE_ATTRIBUTE_DIRECTORY) {
        errno = EACCES;
        return FALSE;
    }
    return remove(name.c_str()) == 0;
}

BOOL RemoveDirectoryW(LPCWSTR path) { return _rmdir(Narrow(path).c_str()) == 0; }

BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    return MoveFileExA(Narrow(from).c_str(), to ? Narrow(to).c_str() : NULL, flags);
}

DWORD GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
    // Asked first for the size, so that no path-sized buffer is made per call.
    std::string narrow = Narrow(name);
    DWORD need = GetFullPathNameA(narrow.c_str(), 0, NULL, NULL);
    if (need == 0) return 0;
    std::string full(need, '\0');
    DWORD n = GetFullPathNameA(narrow.c_str(), need, &full[0], NULL);
    if (n == 0 || n >= need) return 0;
    int units = MultiByteToWideChar(CP_UTF8, 0, full.c_str(), -1, NULL, 0);
    if (filePart) *filePart = NULL;
    if (units <= 0 || (DWORD)units > size) return units > 0 ? (DWORD)units : 0;
    MultiByteToWideChar(CP_UTF8, 0, full.c_str(), -1, buffer, (int)size);
    return (DWORD)units - 1;
}

}  // extern "C"
