// Stand-in for the Win32 services the program calls, for native POSIX builds.
// Names, types, constants and return codes are those of Windows; the services
// act on an emulated machine directory (see machine.h), never on the real
// home. Only what the program and its tests use is here.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef int BOOL;
typedef unsigned char BYTE;
typedef BYTE BOOLEAN;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef unsigned short WORD;
typedef unsigned short USHORT;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;  // 32 bits, as on Windows
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef LONG LSTATUS;
typedef unsigned int UINT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef DWORD REGSAM;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef LONG HRESULT;
typedef char16_t WCHAR;
typedef WCHAR* PWSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef BOOL* LPBOOL;
typedef void* PSECURITY_DESCRIPTOR;
// A SID here is its string form, "S-1-...", terminated (see <aclapi.h>).
typedef void* PSID;
typedef void* HLOCAL;
typedef intptr_t (*FARPROC)(void);

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;

#define WINAPI
#define FALSE 0
#define TRUE 1
#define MAX_PATH 260

// Registry.
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define HKEY_USERS ((HKEY)(ULONG_PTR)0x80000003u)

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
// The registry views: HKLM\Software as 64-bit programs see it (this
// stand-in's own), and as 32-bit ones do (under Software\WOW6432Node).
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200

#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_KEY_DELETED 1018L
#define ERROR_BADKEY 1010L
#define ERROR_CANCELLED 1223L

#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_INVALIDARG ((HRESULT)0x80070057L)

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#ifdef __cplusplus
extern "C" {
#endif

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
LONG RegCloseKey(HKEY key);
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD count);
// String data in UTF-16, as Windows hands it to a wide reader.
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD count);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD count);
// String data given in UTF-16 is stored as UTF-8, as the A calls store it.
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD count);
LONG RegDeleteValueA(HKEY key, LPCSTR name);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameCount, LPDWORD reserved,
                   LPSTR keyClass, LPDWORD classCount, void* lastWrite);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameCount, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD count);

// Message boxes.
#define MB_OK 0x0
#define MB_OKCANCEL 0x1
#define MB_YESNOCANCEL 0x3
#define MB_YESNO 0x4
#define MB_ICONMASK 0xF0
#define IDOK 1
#define IDCANCEL 2
#define MB_RETRYCANCEL 0x5
#define IDRETRY 4
#define IDYES 6
#define IDNO 7
#define MB_CANCELTRYCONTINUE 0x6
#define IDTRYAGAIN 10
#define IDCONTINUE 11

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Kernel.
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_READONLY 0x1
#define FILE_ATTRIBUTE_HIDDEN 0x2
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400

DWORD GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* filePart);
DWORD GetTempPathA(DWORD size, LPSTR buffer);
// There are no short names here: both give an existing path unchanged.
DWORD GetLongPathNameA(LPCSTR path, LPSTR buffer, DWORD size);
DWORD GetShortPathNameA(LPCSTR path, LPSTR buffer, DWORD size);
BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists);
DWORD GetFileAttributesA(LPCSTR path);
DWORD GetLastError(void);

// Files opened by handle: only existing files, for writing and deletion. A
// file that the machine's "inuse" list names is held by another program:
// it cannot be opened for writing (ERROR_SHARING_VIOLATION) nor deleted. One
// that the list marks as loaded (a DLL) may be opened for deletion alone.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define DELETE 0x00010000u
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define OPEN_EXISTING 3
// A file opened for appending only (a log) is made when missing, and every
// write goes to its end.
#define FILE_APPEND_DATA 0x4
#define OPEN_ALWAYS 4
// Opens a link itself, not what it leads to. A handle opened without
// FILE_SHARE_DELETE refuses others the file's deletion and renaming (and
// opens for DELETE) while it is open, as one opened for DELETE refuses
// opens without that sharing.
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
// A folder opens only with backup semantics.
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
// Kernel32's SetFileInformationByHandle (Vista and later) is reached through
// GetProcAddress; a file marked for deletion goes when its handle is closed.
// A folder marked so goes at the close only when it is empty by then; one
// that is not empty already refuses the mark (ERROR_DIR_NOT_EMPTY).
typedef enum _FILE_INFO_BY_HANDLE_CLASS {
    FileDispositionInfo = 4,
    FileAttributeTagInfo = 9,
    FileIdBothDirectoryInfo = 10,
    FileIdBothDirectoryRestartInfo = 11,
    FileIdInfo = 18
} FILE_INFO_BY_HANDLE_CLASS;
typedef struct _FILE_DISPOSITION_INFO {
    BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFO;
typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER;
typedef char CCHAR;
// Kernel32's GetFileInformationByHandleEx (Vista and later), reached through
// GetProcAddress: a folder's listing through its handle (as many entries as
// fit, then the next ones; ERROR_NO_MORE_FILES at the end), with each
// entry's attributes, size, file ID (the host's inode number) and, for a
// link, its reparse tag in EaSize; a handle's attributes and reparse tag.
typedef struct _FILE_ID_BOTH_DIR_INFO {
    DWORD NextEntryOffset;
    DWORD FileIndex;
    LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;
    LARGE_INTEGER EndOfFile, AllocationSize;
    DWORD FileAttributes;
    DWORD FileNameLength;  // in bytes, no NUL
    DWORD EaSize;
    CCHAR ShortNameLength;
    WCHAR ShortName[12];
    LARGE_INTEGER FileId;
    WCHAR FileName[1];
} FILE_ID_BOTH_DIR_INFO;
typedef struct _FILE_ID_128 {
    BYTE Identifier[16];
} FILE_ID_128;
// The volume and the file ID: the host's device and inode numbers.
typedef struct _FILE_ID_INFO {
    ULONGLONG VolumeSerialNumber;
    FILE_ID_128 FileId;
} FILE_ID_INFO;
typedef struct _FILE_ATTRIBUTE_TAG_INFO {
    DWORD FileAttributes;
    DWORD ReparseTag;
} FILE_ATTRIBUTE_TAG_INFO;
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu
#define FILE_LIST_DIRECTORY 0x1
#define FILE_READ_ATTRIBUTES 0x80
#define SYNCHRONIZE 0x00100000u
#define ERROR_NO_MORE_FILES 18L
void SetLastError(DWORD code);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
// Only the Restart Manager (rstrtmgr.dll of the system folder) can be loaded:
// there is no version.dll, so no file has a version resource here.
HMODULE LoadLibraryA(LPCSTR path);
#define LOWORD(l) ((WORD)((DWORD)(l) & 0xffff))
#define HIWORD(l) ((WORD)((DWORD)(l) >> 16))
typedef struct tagVS_FIXEDFILEINFO {
    DWORD dwSignature, dwStrucVersion, dwFileVersionMS, dwFileVersionLS;
    DWORD dwProductVersionMS, dwProductVersionLS, dwFileFlagsMask, dwFileFlags;
    DWORD dwFileOS, dwFileType, dwFileSubtype, dwFileDateMS, dwFileDateLS;
} VS_FIXEDFILEINFO;

// Directory listings. The pattern's last component may be "*" (every entry)
// or a plain name; "." and ".." are listed as Windows lists them.
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
typedef struct _FILETIME {
    DWORD dwLowDateTime, dwHighDateTime;
} FILETIME;
// What is filled in: the volume and the file index, from the host's device
// and inode numbers, so that every name of one file gives the same.
typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh, nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh, nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;
BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info);
// Kernel32's CompareStringOrdinal (Vista and later) is reached through
// GetProcAddress; with case ignored it folds every UTF-16 unit to upper
// case as Windows does, letters of every script.
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3
typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;  // only the directory and reparse-point bits are filled in
    FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    DWORD nFileSizeHigh, nFileSizeLow;
    DWORD dwReserved0, dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE find);
// The wide-character forms take "\\?\" before a full path, for paths past
// MAX_PATH; names longer than MAX_PATH bytes in UTF-8 are not listed.
typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    DWORD nFileSizeHigh, nFileSizeLow;
    DWORD dwReserved0, dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
DWORD GetFileAttributesW(LPCWSTR path);
BOOL DeleteFileW(LPCWSTR path);
BOOL RemoveDirectoryW(LPCWSTR path);
BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
DWORD GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR* filePart);

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

#define STARTF_USESTDHANDLES 0x100
void GetStartupInfoA(LPSTARTUPINFOA info);
BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags,
                    LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startup,
                    LPPROCESS_INFORMATION info);
BOOL CloseHandle(HANDLE handle);
// A process handle is its process number; only a process's own children can
// be waited for (the copy by its starter). The exit code is what POSIX
// keeps of it: the low 8 bits.
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT 258
#define WAIT_FAILED 0xFFFFFFFFu
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD code);
// The command line as Windows would hold it: the arguments, each quoted
// where it holds a blank.
LPSTR GetCommandLineA(void);
void Sleep(DWORD milliseconds);
// Anonymous pipes and the standard handles are file descriptors here. A
// started process gets the standard handles that STARTF_USESTDHANDLES
// names; every other descriptor of a pipe stays with its maker.
#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)
#define HANDLE_FLAG_INHERIT 0x1
HANDLE GetStdHandle(DWORD which);
BOOL CreatePipe(HANDLE* readEnd, HANDLE* writeEnd, LPSECURITY_ATTRIBUTES security, DWORD size);
BOOL SetHandleInformation(HANDLE handle, DWORD mask, DWORD flags);
// A file opened by CreateFileA reads from where it stands, and at its end
// answers TRUE with nothing read, as on Windows; a pipe's closed end fails.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done, LPVOID overlapped);
#define FILE_BEGIN 0
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD done, LPVOID overlapped);

typedef struct _SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;
void GetLocalTime(LPSYSTEMTIME time);

// Folders, environment and code pages of the emulated 64-bit Windows, as a
// 32-bit process there sees them.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value);  // a null value removes it
UINT GetSystemWow64DirectoryA(LPSTR buffer, UINT size);
// The process runs in UTF-8, as a program whose manifest asks for it does
// on Windows 10 version 1903 and later, on a system whose legacy ANSI code
// page (what the locale tells) is 1252. The conversions know CP_ACP and
// CP_UTF8 (both UTF-8) and 1252; an invalid UTF-8 sequence reads as U+FFFD,
// or fails the call under MB_ERR_INVALID_CHARS.
#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x8
#define WC_NO_BEST_FIT_CHARS 0x400
typedef DWORD LCID;
typedef DWORD LCTYPE;
#define LOCALE_SYSTEM_DEFAULT 0x800
#define LOCALE_IDEFAULTANSICODEPAGE 0x1004
UINT GetACP(void);
int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR text, int size);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int count, LPWSTR wide,
                        int size);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR text,
                        int size, LPCSTR defaultChar, LPBOOL usedDefault);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
// Deletions after the next restart go to the registry value
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\PendingFileRenameOperations,
// as on Windows; only an administrator may add them. Without the flag, a
// rename that replaces nothing but with MOVEFILE_REPLACE_EXISTING: a held
// file may be renamed only when it is loaded, and the program still holds
// it under its new name.
#define MOVEFILE_REPLACE_EXISTING 0x1
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x4
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
HLOCAL LocalFree(HLOCAL memory);

// Modules: kernel32 and shell32 are there, with the procedures that a
// program may look up at run time.
HMODULE GetModuleHandleA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800
BOOL SetDllDirectoryA(LPCSTR path);

// The process token: elevated unless the machine is switched to a user
// without administrator rights (and the process was not started elevated).
#define TOKEN_QUERY 0x0008
typedef enum _TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenElevationType = 18,
    TokenElevation = 20
} TOKEN_INFORMATION_CLASS;
typedef struct _TOKEN_ELEVATION {
    DWORD TokenIsElevated;
} TOKEN_ELEVATION;
// The account: SYSTEM (S-1-5-18) where the machine has the file "system",
// else the user, the same account elevated or not.
typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;
typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER;
HANDLE GetCurrentProcess(void);
DWORD GetCurrentProcessId(void);
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data, DWORD size,
                         LPDWORD needed);

// Named mutexes, shared by every process of the machine: a lock file per
// name in <machine>/mutex. The handle is the lock file's descriptor; a
// wait of 0 or INFINITE takes the lock, which the process's end lets go.
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
// Upper case by the host's Unicode character data, unit by unit.
DWORD CharUpperBuffW(LPWSTR text, DWORD length);

// The user's display language: <machine>/language holds its identifier in
// hexadecimal ("0407" for German); without it, English (United States).
typedef WORD LANGID;
LANGID GetUserDefaultUILanguage(void);

#ifdef __cplusplus
}
#endif
