// Kernel services over POSIX: paths, file copies, attributes, processes,
// and the C runtime's _makepath.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <dirent.h>
#include <fnmatch.h>
#include <unistd.h>
#include <windows.h>

#include <time.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "handles.h"
#include "machine.h"

extern char** environ;

namespace {

std::string CurrentDir() {
    char small[PATH_MAX];
    if (getcwd(small, sizeof small)) return small;
    std::vector<char> buf(sizeof small);
    while (errno == ERANGE) {
        buf.resize(buf.size() * 2);
        if (getcwd(buf.data(), buf.size())) return buf.data();
    }
    return "/";
}

// The absolute, normalised form of a path: merged with the current
// directory when relative, "." and ".." resolved by name, "/" repeats
// collapsed; a trailing '/' is kept.
std::string FullPath(const std::string& name) {
    std::string joined;  // only a relative name is copied
    if (name.empty() || name[0] != '/') joined = CurrentDir() + "/" + name;
    const std::string& whole = joined.empty() ? name : joined;
    bool trailing = whole.size() > 1 && whole.back() == '/';
    std::string out;
    out.reserve(whole.size() + 1);
    size_t start = 0;
    while (start <= whole.size()) {
        size_t slash = whole.find('/', start);
        if (slash == std::string::npos) slash = whole.size();
        const char* part = whole.data() + start;
        size_t length = slash - start;
        if (length == 2 && part[0] == '.' && part[1] == '.') {
            size_t last = out.rfind('/');
            out.resize(last == std::string::npos ? 0 : last);
        } else if (length > 0 && !(length == 1 && part[0] == '.')) {
            out += '/';
            out.append(part, length);
        }
        start = slash + 1;
    }
    if (out.empty()) return "/";
    if (trailing) out += "/";
    return out;
}

// A path as Windows hands it to the file system: "." and ".." taken by name
// before any link is followed (POSIX would follow "link/.." into the link's
// parent). An empty path stays empty, naming nothing.
std::string WinPath(const char* name) { return name && *name ? FullPath(name) : std::string(); }

bool WriteAll(int fd, const char* data, size_t size) {
    while (size) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= (size_t)n;
    }
    return true;
}

// Splits a command line as the Windows C runtime does: blanks separate
// arguments, double quotes group, 2n backslashes before a quote give n and
// the quote counts, 2n+1 give n and a literal quote, "" inside quotes is a
// literal quote, other backslashes are literal. The program name (first
// token) takes no backslash escapes.
std::vector<std::string> SplitCommandLine(const char* line) {
    std::vector<std::string> args;
    if (!line) return args;
    const char* p = line;
    while (*p == ' ' || *p == '\t') p++;
    if (!*p) return args;
    std::string first;
    if (*p == '"') {
        p++;
        while (*p && *p != '"') first.push_back(*p++);
        if (*p == '"') p++;
    } else {
        while (*p && *p != ' ' && *p != '\t') first.push_back(*p++);
    }
    args.push_back(first);
    for (;;) {
        while (*p == ' ' || *p == '\t') p++;
        if (!*p) break;
        std::string arg;
        bool quoted = false;
        while (*p) {
            if (!quoted && (*p == ' ' || *p == '\t')) break;
            if (*p == '\\') {
                size_t n = 0;
                while (*p == '\\') {
                    n++;
                    p++;
                }
                if (*p == '"') {
                    arg.append(n / 2, '\\');
                    if (n % 2) {
                        arg.push_back('"');
                        p++;
                    }
                } else {
                    arg.append(n, '\\');
                }
                continue;
            }
            if (*p == '"') {
                if (quoted && p[1] == '"') {
                    arg.push_back('"');
                    p += 2;
                } else {
                    quoted = !quoted;
                    p++;
                }
                continue;
            }
            arg.push_back(*p++);
        }
        args.push_back(arg);
    }
    return args;
}

}  // namespace

extern "C" {

DWORD GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* filePart) {
    if (!name || !*name) {
        errno = EINVAL;
        return 0;
    }
    std::string full = FullPath(name);
    DWORD rc = MachineGiveString(full, size, buffer);
    if (rc == full.size() && filePart) {
        size_t slash = full.rfind('/');
        *filePart = slash + 1 == full.size() ? NULL : buffer + slash + 1;
    }
    return rc;
}

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
    std::string dir = MachinePath("temp");
    if (!MachineMakeDirs(dir)) return 0;
    return MachineGiveString(dir + "/", size, buffer);
}

static DWORD SamePathName(LPCSTR path, LPSTR buffer, DWORD size) {
    struct stat st;
    if (!path || stat(WinPath(path).c_str(), &st) != 0) return 0;
    return MachineGiveString(path, size, buffer);
}
DWORD GetLongPathNameA(LPCSTR path, LPSTR buffer, DWORD size) { return SamePathName(path, buffer, size); }
DWORD GetShortPathNameA(LPCSTR path, LPSTR buffer, DWORD size) { return SamePathName(path, buffer, size); }

BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
    if (!from || !to) {
        errno = EINVAL;
        return FALSE;
    }
    std::string fromPath = WinPath(from), toPath = WinPath(to);
    from = fromPath.c_str();
    to = toPath.c_str();
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return FALSE;
    struct stat src;
    if (fstat(in, &src) != 0 || !S_ISREG(src.st_mode)) {
        close(in);
        errno = EACCES;
        return FALSE;
    }
    struct stat dst;
    bool exists = stat(to, &dst) == 0;
    if (exists && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
        close(in);
        errno = ETXTBSY;  // the same file: Windows refuses as in use
        return FALSE;
    }
    // A read-only file is not overwritten, whoever the user is.
    if (exists && !(dst.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) {
        close(in);
        errno = EACCES;
        return FALSE;
    }
    mode_t mode = src.st_mode & 07777;
    int out;
    if (failIfExists) {
        out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    } else {
        // Overwrite in place, so that a running executable refuses (ETXTBSY)
        // as it does on Windows.
        out = open(to, O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (out < 0 && errno == ENOENT) out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    }
    if (out < 0) {
        int e = errno;
        close(in);
        errno = e;
        return FALSE;
    }
    bool ok = fchmod(out, mode) == 0;
    char buf[65536];
    while (ok) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        ok = WriteAll(out, buf, (size_t)n);
    }
    int e = errno;
    close(in);
    if (close(out) != 0 && ok) {
        ok = false;
        e = errno;
    }
    errno = ok ? 0 : e;
    return ok ? TRUE : FALSE;
}

BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES security) {
    std::string path = WinPath(name);
    if (path.empty()) {
        errno = ENOENT;
        return FALSE;
    }
    // A folder made with a descriptor admits only its owner (the stand-in's
    // Administrators and SYSTEM alike).
    mode_t mode = security && security->lpSecurityDescriptor ? 0700 : 0777;
    return mkdir(path.c_str(), mode) == 0;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if (from && to && (flags & ~MOVEFILE_REPLACE_EXISTING) == 0) {
        std::string source = WinPath(from), target = WinPath(to);
        struct stat st;
        StandInFileCall();
        if ((!MachineHolder(source).empty() && !MachineLoaded(source)) || StandInHeld(source)) {
            errno = ETXTBSY;
            return FALSE;
        }
        if (!(flags & MOVEFILE_REPLACE_EXISTING) && lstat(target.c_str(), &st) == 0) {
            errno = EEXIST;
            return FALSE;
        }
        if (rename(source.c_str(), target.c_str()) != 0) return FALSE;
        if (MachineLoaded(source)) MachineMoveHeld(source, target);
        return TRUE;
    }
    if (!from || !(flags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
        errno = EINVAL;
        return FALSE;
    }
    // Each operation is "\??\" and the source, then the target (empty for
    // a deletion), appended to the list that is carried out at start-up.
    HKEY key;
    const char* const manager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, manager, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS) {
        errno = EACCES;
        return FALSE;
    }
    const char* const name = "PendingFileRenameOperations";
    std::string list;
    DWORD count = 0, type = 0;
    if (RegQueryValueExA(key, name, NULL, &type, NULL, &count) == ERROR_SUCCESS && count > 0) {
        list.resize(count);
        RegQueryValueExA(key, name, NULL, &type, (LPBYTE)&list[0], &count);
        list.resize(count);
        if (!list.empty() && list.back() == '\0') list.pop_back();  // the list's own end
    }
    list += "\\??\\" + WinPath(from) + std::string(1, '\0');
    if (to && *to) list += "\\??\\" + WinPath(to);
    list += std::string(2, '\0');
    LONG rc = RegSetValueExA(key, name, 0, REG_MULTI_SZ, (const BYTE*)list.data(), (DWORD)list.size());
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) errno = EACCES;
    return rc == ERROR_SUCCESS;
}

// The files opened by CreateFileA: each its descriptor, its path, and
// whether it goes when the handle is closed (handles.h).
extern "C++" {
std::set<OpenFile*> OpenFiles;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
    std::string path = WinPath(name);
    StandInFileCall();
    if (!path.empty() && disposition == OPEN_ALWAYS && access == FILE_APPEND_DATA) {
        int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return INVALID_HANDLE_VALUE;
        OpenFile* file = new OpenFile{fd, path, false};
        OpenFiles.insert(file);
        return file;
    }
    if (path.empty() || disposition != OPEN_EXISTING) {
        errno = EINVAL;
        return INVALID_HANDLE_VALUE;
    }
    bool write = (access & (GENERIC_WRITE | DELETE)) != 0;
    bool loaded = !(access & GENERIC_WRITE) && MachineLoaded(path);
    if (write && !loaded && !MachineHolder(path).empty()) {
        errno = ETXTBSY;  // ERROR_SHARING_VIOLATION
        return INVALID_HANDLE_VALUE;
    }
    // A link asked for as itself is opened so, not what it leads to.
    struct stat st;
    bool link = (flags & FILE_FLAG_OPEN_REPARSE_POINT) && lstat(path.c_str(), &st) == 0 &&
                S_ISLNK(st.st_mode);
    // A folder is refused as it is on Windows without backup semantics.
    int fd = link ? open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)
                  : open(path.c_str(), ((access & GENERIC_WRITE) ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EISDIR) errno = EACCES;
        return INVALID_HANDLE_VALUE;
    }
    // Deletion needs the right to change the folder, not the file; a
    // read-only file refuses it all the same, as Windows does.
    bool folder = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    if (folder && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
        close(fd);
        errno = EACCES;
        return INVALID_HANDLE_VALUE;
    }
    if (write && !folder && !link && !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) {
        close(fd);
        errno = EACCES;
        return INVALID_HANDLE_VALUE;
    }
    if (StandInShareConflict(st.st_dev, st.st_ino, access, share)) {
        close(fd);
        errno = ETXTBSY;
        return INVALID_HANDLE_VALUE;
    }
    OpenFile* file = new OpenFile{fd, path, false};
    file->access = access;
    file->share = share;
    file->dev = st.st_dev;
    file->ino = st.st_ino;
    file->folder = folder;
    file->link = link;
    OpenFiles.insert(file);
    return file;
}

BOOL StandInSetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID data,
                                       DWORD size) {
    OpenFile* file = static_cast<OpenFile*>(handle);
    StandInFileCall();
    if (!OpenFiles.count(file) || kind != FileDispositionInfo || !data ||
        size < sizeof(FILE_DISPOSITION_INFO)) {
        errno = EINVAL;
        return FALSE;
    }
    bool marked = static_cast<FILE_DISPOSITION_INFO*>(data)->DeleteFile != 0;
    if (marked && file->folder) {
        // Listed afresh, apart from any listing through the handle.
        int fd = openat(file->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = fd >= 0 ? fdopendir(fd) : NULL;
        int entries = 0;
        for (struct dirent* e; dir && (e = readdir(dir)) != NULL;)
            entries += strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0;
        if (dir) closedir(dir);
        if (entries > 0 || !dir) {
            errno = ENOTEMPTY;
            return FALSE;
        }
    }
    // A file that a program has loaded may be opened for deletion, but not
    // deleted.
    if (marked && (!(file->access & DELETE) || !MachineHolder(file->path).empty())) {
        errno = EACCES;
        return FALSE;
    }
    file->deleteOnClose = marked;
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
    OpenFile* file = static_cast<OpenFile*>(handle);
    struct stat st;
    StandInFileCall();
    if (!OpenFiles.count(file) || !info || fstat(file->fd, &st) != 0) {
        errno = EBADF;
        return FALSE;
    }
    memset(info, 0, sizeof *info);
    info->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (file->link) {
        struct stat target;
        info->dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
        if (stat(file->path.c_str(), &target) == 0 && S_ISDIR(target.st_mode))
            info->dwFileAttributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
    info->dwVolumeSerialNumber = (DWORD)(st.st_dev ^ ((uint64_t)st.st_dev >> 32));
    info->nFileIndexHigh = (DWORD)((uint64_t)st.st_ino >> 32);
    info->nFileIndexLow = (DWORD)st.st_ino;
    info->nNumberOfLinks = (DWORD)st.st_nlink;
    return TRUE;
}

// A descriptor as a handle: tagged, so that it is told apart from a file
// opened by CreateFileA and from a process number.
const uintptr_t FdTag = 0x40000000u;
static HANDLE FdHandle(int fd) { return (HANDLE)(FdTag | (uintptr_t)fd); }
static int HandleFd(HANDLE handle) {
    uintptr_t h = (uintptr_t)handle;
    return (h & ~(uintptr_t)0xFFFF) == FdTag ? (int)(h & 0xFFFF) : -1;
}

HANDLE GetStdHandle(DWORD which) {
    if (which < STD_ERROR_HANDLE || which > STD_INPUT_HANDLE) return INVALID_HANDLE_VALUE;
    return FdHandle((int)(STD_INPUT_HANDLE - which));
}

BOOL CreatePipe(HANDLE* readEnd, HANDLE* writeEnd, LPSECURITY_ATTRIBUTES, DWORD) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return FALSE;
    *readEnd = FdHandle(fds[0]);
    *writeEnd = FdHandle(fds[1]);
    return TRUE;
}

BOOL SetHandleInformation(HANDLE handle, DWORD, DWORD) { return HandleFd(handle) >= 0; }

int StandInFileDescriptor(HANDLE handle) {
    OpenFile* file = static_cast<OpenFile*>(handle);
    return HandleFd(handle) < 0 && OpenFiles.count(file) ? file->fd : -1;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done, LPVOID) {
    int opened = StandInFileDescriptor(file);
    ssize_t n;
    do {
        n = read(opened >= 0 ? opened : HandleFd(file), buffer, size);
    } while (n < 0 && errno == EINTR);
    if (done) *done = n > 0 ? (DWORD)n : 0;
    if (opened >= 0) return n >= 0;
    if (n == 0) errno = EPIPE;  // Windows reports the closed end as an error
    return n > 0;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
    int fd = StandInFileDescriptor(file);
    off_t to = distanceHigh ? (off_t)((uint64_t)(uint32_t)*distanceHigh << 32 | (uint32_t)distance)
                            : (off_t)distance;
    off_t at = fd >= 0 && method == FILE_BEGIN ? lseek(fd, to, SEEK_SET) : (errno = EINVAL, -1);
    if (at < 0) return INVALID_SET_FILE_POINTER;
    if (distanceHigh) *distanceHigh = (LONG)((uint64_t)at >> 32);
    return (DWORD)at;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD done, LPVOID) {
    ssize_t n;
    do {
        n = write(HandleFd(file), buffer, size);
    } while (n < 0 && errno == EINTR);
    if (done) *done = n > 0 ? (DWORD)n : 0;
    return n >= 0;
}

// Process handles are process numbers here and need no closing.
// The named mutexes this process has open: one lock file each, whose
// flock is the ownership. As on Windows, a name opened again gives the same
// mutex, and its owner may wait for it again (each wait then needs a release
// of its own); the last handle closed lets it go. Ownership is the process's
// here, not a thread's: the program has one thread.
namespace {
struct NamedMutex {
    int handles = 0;
    int owned = 0;
};
std::map<std::string, int> MutexFds;  // by lock file
std::map<int, NamedMutex> Mutexes;    // by descriptor
}  // namespace

BOOL CloseHandle(HANDLE handle) {
    auto mutex = Mutexes.find(HandleFd(handle));
    if (HandleFd(handle) >= 0 && mutex != Mutexes.end()) {
        if (--mutex->second.handles > 0) return TRUE;
        Mutexes.erase(mutex);
        for (auto name = MutexFds.begin(); name != MutexFds.end(); ++name)
            if (name->second == HandleFd(handle)) {
                MutexFds.erase(name);
                break;
            }
    }
    if (HandleFd(handle) >= 0) return close(HandleFd(handle)) == 0;
    OpenFile* file = static_cast<OpenFile*>(handle);
    if (!OpenFiles.erase(file)) return TRUE;
    close(file->fd);
    bool gone = !file->deleteOnClose || StandInDeleteAtClose(file);
    delete file;
    return gone;
}

int _open_osfhandle(intptr_t handle, int) {
    OpenFile* file = reinterpret_cast<OpenFile*>(handle);
    if (!OpenFiles.erase(file)) return -1;
    int fd = file->fd;
    delete file;
    return fd;
}

DWORD GetFileAttributesA(LPCSTR name) {
    StandInFileCall();
    struct stat st;
    std::string whole = WinPath(name);
    const char* path = whole.c_str();
    if (lstat(path, &st) != 0) return INVALID_FILE_ATTRIBUTES;
    if (S_ISLNK(st.st_mode)) {
        DWORD attrs = FILE_ATTRIBUTE_REPARSE_POINT;
        struct stat target;
        if (stat(path, &target) == 0 && S_ISDIR(target.st_mode)) attrs |= FILE_ATTRIBUTE_DIRECTORY;
        return attrs;
    }
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    DWORD attrs = FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) attrs |= FILE_ATTRIBUTE_READONLY;
    return attrs;
}

namespace {

// An open listing: the directory, the last component of the pattern, and
// the entries read but not yet given. Read with getdents64 into a buffer of
// its own, as opendir would allocate 32 KiB for every listing.
struct Finder {
    int fd;
    std::string pattern;
    size_t at = 0, end = 0;
    alignas(struct dirent64) char buffer[2048];
};

// The next entry of the listing, or NULL at its end (errno 0) or on an error.
const struct dirent64* ReadEntry(Finder* f) {
    if (f->at >= f->end) {
        ssize_t n = getdents64(f->fd, f->buffer, sizeof f->buffer);
        if (n <= 0) {
            if (n == 0) errno = 0;
            return NULL;
        }
        f->at = 0;
        f->end = (size_t)n;
    }
    const struct dirent64* e = (const struct dirent64*)(f->buffer + f->at);
    f->at += e->d_reclen;
    return e;
}

// Fills `data` with the next entry that matches, taking the type from the
// listing itself and asking the file system only when the listing does not
// say (or for a link, whether it leads to a directory).
bool FindNext(Finder* f, LPWIN32_FIND_DATAA data) {
    for (;;) {
        errno = 0;
        const struct dirent64* e = ReadEntry(f);
        if (!e) {
            if (errno == 0) errno = ENOENT;
            return false;
        }
        if (f->pattern != "*" && fnmatch(f->pattern.c_str(), e->d_name, 0) != 0) continue;
        memset(data, 0, sizeof *data);
        size_t n = strlen(e->d_name);
        if (n >= sizeof data->cFileName) continue;  // cannot be named here
        memcpy(data->cFileName, e->d_name, n + 1);
        int fd = f->fd;
        struct stat st;
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN && fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        if (type == DT_DIR) {
            data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        } else if (type == DT_LNK) {
            data->dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
            if (fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode))
                data->dwFileAttributes |= FILE_ATTRIBUTE_DIRECTORY;
        } else {
            data->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
            if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                data->nFileSizeHigh = (DWORD)((uint64_t)st.st_size >> 32);
                data->nFileSizeLow = (DWORD)st.st_size;
            }
        }
        return true;
    }
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (!pattern || !data || !*pattern) {
        errno = ENOENT;
        return INVALID_HANDLE_VALUE;
    }
    std::string whole = WinPath(pattern);
    size_t slash = whole.rfind('/');
    std::string dir = slash == std::string::npos ? "." : whole.substr(0, slash + 1);
    std::string last = slash == std::string::npos ? whole : whole.substr(slash + 1);
    if (last.empty()) {  // "dir/" names no entry
        errno = ENOENT;
        return INVALID_HANDLE_VALUE;
    }
    StandInFileCall();
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    Finder* f = new Finder;
    f->fd = fd;
    f->pattern = last;
    if (!FindNext(f, data)) {
        int error = errno;
        close(fd);
        errno = error;
        delete f;
        return INVALID_HANDLE_VALUE;
    }
    return f;
}

BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
    StandInFileCall();
    if (!find || find == INVALID_HANDLE_VALUE || !data) {
        errno = EBADF;
        return FALSE;
    }
    return FindNext(static_cast<Finder*>(find), data) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE find) {
    if (!find || find == INVALID_HANDLE_VALUE) return FALSE;
    Finder* f = static_cast<Finder*>(find);
    close(f->fd);
    delete f;
    return TRUE;
}

#undef fopen

namespace {

// A file read in the Windows C runtime's text mode: each CR LF reads as LF,
// and a Ctrl-Z ends the file.
struct TextFile {
    std::string bytes;
    size_t at = 0;
    FILE* raw = NULL;
};

ssize_t ReadText(void* cookie, char* buffer, size_t size) {
    TextFile* f = static_cast<TextFile*>(cookie);
    size_t n = std::min(size, f->bytes.size() - f->at);
    memcpy(buffer, f->bytes.data() + f->at, n);
    f->at += n;
    return (ssize_t)n;
}

// Positions count the text as read (CR LF as one, nothing after a Ctrl-Z);
// enough for rewind and for a seek back to a position once told.
int SeekText(void* cookie, off64_t* offset, int whence) {
    TextFile* f = static_cast<TextFile*>(cookie);
    off64_t base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? (off64_t)f->at
                                        : (off64_t)f->bytes.size();
    if (base + *offset < 0 || base + *offset > (off64_t)f->bytes.size()) {
        errno = EINVAL;
        return -1;
    }
    f->at = (size_t)(base + *offset);
    *offset = (off64_t)f->at;
    return 0;
}

int CloseText(void* cookie) {
    TextFile* f = static_cast<TextFile*>(cookie);
    if (f->raw) fclose(f->raw);
    delete f;
    return 0;
}

// The bytes of `raw` from where it stands, as text. `raw` stays open, as
// its file does on Windows, until the text is closed.
FILE* OpenTextForReading(FILE* raw) {
    if (!raw) return NULL;
    TextFile* f = new TextFile;
    int c, held = EOF;
    while ((c = getc(raw)) != EOF && c != 0x1A) {
        if (held == '\r' && c != '\n') f->bytes.push_back('\r');
        held = c;
        if (c != '\r') f->bytes.push_back((char)c);
    }
    if (held == '\r') f->bytes.push_back('\r');
    f->raw = raw;
    cookie_io_functions_t io = {ReadText, NULL, SeekText, CloseText};
    FILE* file = fopencookie(f, "r", io);
    if (!file) CloseText(f);
    return file;
}

}  // namespace

FILE* StandInOpenFile(const char* name, const char* mode) {
    StandInFileCall();
    struct stat st;
    std::string path = WinPath(name);
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EACCES;  // as the Windows C runtime reports it
        return NULL;
    }
    bool text = mode && mode[0] == 'r' && !strchr(mode, 'b') && !strchr(mode, '+');
    if (!text) return fopen(path.c_str(), mode);
    return OpenTextForReading(fopen(path.c_str(), "rb"));
}

FILE* StandInOpenDescriptor(int fd, const char* mode) {
    bool text = mode && mode[0] == 'r' && !strchr(mode, 'b') && !strchr(mode, '+');
    if (!text) return fdopen(fd, mode);
    FILE* raw = fdopen(fd, "rb");
    return OpenTextForReading(raw);
}

// The C runtime's remove, bound in place of the C library's by the linker
// (--wrap=remove), and _rmdir and _access: each takes its path as Windows does.
extern "C" int __real_remove(const char* path);
extern "C" int __wrap_remove(const char* name) {
    std::string path = WinPath(name);
    StandInFileCall();
    if (!MachineHolder(path).empty() || StandInHeld(path)) {
        errno = ETXTBSY;  // held by another program, or by a handle
        return -1;
    }
    return __real_remove(path.c_str());
}
int _rmdir(const char* name) {
    std::string path = WinPath(name);
    StandInFileCall();
    if (StandInHeld(path)) {
        errno = ETXTBSY;
        return -1;
    }
    return rmdir(path.c_str());
}
int _access(const char* name, int mode) { return access(WinPath(name).c_str(), mode); }

DWORD GetLastError(void) {
    switch (errno) {
        case 0: return ERROR_SUCCESS;
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS: return ERROR_ACCESS_DENIED;
        case ETXTBSY:
        case EBUSY: return ERROR_SHARING_VIOLATION;
        case EEXIST: return ERROR_FILE_EXISTS;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case EBADF: return ERROR_INVALID_HANDLE;
        case ENAMETOOLONG: return ERROR_BAD_PATHNAME;
        case ERANGE: return ERROR_INSUFFICIENT_BUFFER;
        case ECANCELED: return ERROR_CANCELLED;
        default: return ERROR_INVALID_PARAMETER;
    }
}

void GetStartupInfoA(LPSTARTUPINFOA info) {
    if (!info) return;
    memset(info, 0, sizeof *info);
    info->cb = sizeof *info;
}

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID environment,
                    LPCSTR currentDirectory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
    int standard[3] = {0, 1, 2};
    if (startup && (startup->dwFlags & STARTF_USESTDHANDLES)) {
        HANDLE given[3] = {startup->hStdInput, startup->hStdOutput, startup->hStdError};
        for (int i = 0; i < 3; i++) standard[i] = given[i] ? HandleFd(given[i]) : -1;
    }
    std::vector<std::string> args = SplitCommandLine(commandLine);
    std::string program;
    if (application) {
        program = application;
        if (args.empty()) args.push_back(program);
    } else {
        if (args.empty()) {
            errno = ENOENT;
            return FALSE;
        }
        program = args[0];
    }
    if (program.empty()) {
        errno = ENOENT;
        return FALSE;
    }
    // The program is found from the caller's directory, not the child's.
    if (program[0] != '/') program = FullPath(program);

    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::vector<char*> envp;
    char** env = environ;
    if (environment) {
        for (char* e = (char*)environment; *e; e += strlen(e) + 1) envp.push_back(e);
        envp.push_back(nullptr);
        env = envp.data();
    }
    std::string dir = currentDirectory ? currentDirectory : "";

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return FALSE;
    pid_t pid = fork();
    if (pid < 0) {
        int e = errno;
        close(report[0]);
        close(report[1]);
        errno = e;
        return FALSE;
    }
    if (pid == 0) {
        close(report[0]);
        // Moved out of the way first, so that no dup2 overwrites one still to come.
        int moved[3];
        for (int i = 0; i < 3; i++) moved[i] = standard[i] >= 0 ? fcntl(standard[i], F_DUPFD_CLOEXEC, 3) : -1;
        for (int i = 0; i < 3; i++) {
            if (moved[i] >= 0)
                dup2(moved[i], i);
            else
                close(i);
        }
        if (dir.empty() || chdir(dir.c_str()) == 0) execve(program.c_str(), argv.data(), env);
        int e = errno;
        ssize_t ignored = write(report[1], &e, sizeof e);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int childErr = 0;
    ssize_t n;
    do {
        n = read(report[0], &childErr, sizeof childErr);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n == (ssize_t)sizeof childErr) {
        waitpid(pid, nullptr, 0);
        errno = childErr;
        return FALSE;
    }
    if (info) {
        info->hProcess = (HANDLE)(uintptr_t)pid;
        info->hThread = (HANDLE)(uintptr_t)pid;
        info->dwProcessId = (DWORD)pid;
        info->dwThreadId = (DWORD)pid;
    }
    errno = 0;
    return TRUE;
}

namespace {
std::map<pid_t, DWORD> ExitCodes;  // of the children waited for
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto mutex = Mutexes.find(HandleFd(handle));
    if (HandleFd(handle) >= 0 && mutex != Mutexes.end()) {
        if (mutex->second.owned == 0 &&
            flock(HandleFd(handle), LOCK_EX | (milliseconds == INFINITE ? 0 : LOCK_NB)) != 0)
            return WAIT_TIMEOUT;
        mutex->second.owned++;
        return WAIT_OBJECT_0;
    }
    pid_t pid = (pid_t)(uintptr_t)handle;
    if (ExitCodes.count(pid)) return WAIT_OBJECT_0;
    for (DWORD waited = 0;; waited += 10) {
        int status = 0;
        pid_t done = waitpid(pid, &status, milliseconds == INFINITE ? 0 : WNOHANG);
        if (done == pid) {
            ExitCodes[pid] = WIFEXITED(status) ? (DWORD)WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return WAIT_OBJECT_0;
        }
        if (done < 0 && errno != EINTR) return WAIT_FAILED;
        if (milliseconds != INFINITE && waited >= milliseconds) return WAIT_TIMEOUT;
        if (done == 0) usleep(10000);
    }
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD code) {
    auto found = ExitCodes.find((pid_t)(uintptr_t)process);
    if (!code || found == ExitCodes.end()) {
        errno = EINVAL;
        return FALSE;
    }
    *code = found->second;
    return TRUE;
}

LPSTR GetCommandLineA(void) {
    static std::string line;
    if (line.empty()) {
        FILE* f = fopen("/proc/self/cmdline", "rb");
        std::string arg;
        for (int c; f && (c = getc(f)) != EOF;) {
            if (c != 0) {
                arg.push_back((char)c);
                continue;
            }
            bool blank = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
            line += (line.empty() ? "" : " ") + (blank ? "\"" + arg + "\"" : arg);
            arg.clear();
        }
        if (f) fclose(f);
    }
    return &line[0];
}

void Sleep(DWORD milliseconds) { usleep((useconds_t)milliseconds * 1000); }

void GetLocalTime(LPSYSTEMTIME time) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    time->wYear = (WORD)(local.tm_year + 1900);
    time->wMonth = (WORD)(local.tm_mon + 1);
    time->wDayOfWeek = (WORD)local.tm_wday;
    time->wDay = (WORD)local.tm_mday;
    time->wHour = (WORD)local.tm_hour;
    time->wMinute = (WORD)local.tm_min;
    time->wSecond = (WORD)local.tm_sec;
    time->wMilliseconds = (WORD)(now.tv_nsec / 1000000);
}

void _makepath(char* path, const char* drive, const char* dir, const char* name, const char* ext) {
    (void)drive;  // no drives here
    if (!path) return;
    std::string out;
    if (dir && *dir) {
        out = dir;
        if (out.back() != '/' && out.back() != '\\') out.push_back('/');
    }
    if (name) out += name;
    if (ext && *ext) {
        if (*ext != '.') out.push_back('.');
        out += ext;
    }
    memcpy(path, out.c_str(), out.size() + 1);
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL owned, LPCWSTR name) {
    std::string dir = MachinePath("mutex");
    MachineMakeDirs(dir);
    char file[32];
    snprintf(file, sizeof file, "/%zx", std::hash<std::u16string>()(name ? name : u""));
    auto known = MutexFds.find(dir + file);
    int fd = known != MutexFds.end() ? known->second
                                     : open((dir + file).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return NULL;
    MutexFds[dir + file] = fd;
    Mutexes[fd].handles++;
    HANDLE mutex = FdHandle(fd);
    if (owned) WaitForSingleObject(mutex, INFINITE);
    return mutex;
}

BOOL ReleaseMutex(HANDLE mutex) {
    auto known = Mutexes.find(HandleFd(mutex));
    if (known == Mutexes.end() || known->second.owned == 0) return FALSE;
    return --known->second.owned > 0 || flock(HandleFd(mutex), LOCK_UN) == 0;
}

DWORD CharUpperBuffW(LPWSTR text, DWORD length) {
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    for (DWORD i = 0; i < length; i++) {
        wint_t upper = unicode ? towupper_l((wint_t)text[i], unicode) : towupper((wint_t)text[i]);
        if (upper <= 0xFFFF && (text[i] < 0xD800 || text[i] > 0xDFFF)) text[i] = (WCHAR)upper;
    }
    return length;
}

}  // extern "C"

void MachineEndProcess() {
    for (const auto& mutex : Mutexes) {
        if (mutex.second.owned > 0) flock(mutex.first, LOCK_UN);
        close(mutex.first);
    }
    Mutexes.clear();
    MutexFds.clear();
}
