// What Windows does with handles of files and folders, as the walk of the
// installation tree and the removal script rely on it: a handle that holds
// what it is open on (no deletion or renaming by others without delete
// sharing), a folder's listing through its handle with file IDs, links
// opened as themselves and deleted through their handles; and the adversary
// that the tests set on the program between two of its file-system calls.
#include "handles.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "machine.h"

#undef fopen  // the host's own, for the count at the end

namespace {

long Calls;
long AttackAt = -2;  // -2: not yet read; -1: no adversary
std::string Moved, Aside, Target;
char CallsFile[4096];  // named at the start: the machine's name is gone by the end

void WriteCalls() {
    FILE* file = fopen(CallsFile, "w");
    if (file == NULL) return;
    fprintf(file, "%ld\n", Calls);
    fclose(file);
}

bool Names(const std::string& path, dev_t* dev, ino_t* ino) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    *dev = st.st_dev;
    *ino = st.st_ino;
    return true;
}

}  // namespace

void StandInFileCall() {
    if (AttackAt == -2) {
        AttackAt = -1;
        std::ifstream plan(MachinePath("adversary"));
        std::string at;
        if (std::getline(plan, at) && std::getline(plan, Moved) && std::getline(plan, Aside) &&
            std::getline(plan, Target)) {
            AttackAt = atol(at.c_str());
            snprintf(CallsFile, sizeof CallsFile, "%s", MachinePath("adversary.calls").c_str());
            atexit(WriteCalls);
        }
    }
    if (++Calls != AttackAt || StandInHeld(Moved)) return;
    if (rename(Moved.c_str(), Aside.c_str()) == 0 && symlink(Target.c_str(), Moved.c_str()) != 0)
        perror("adversary: symlink");
}

bool StandInHeld(const std::string& path) {
    dev_t dev;
    ino_t ino;
    if (!Names(path, &dev, &ino)) return false;
    for (const OpenFile* file : OpenFiles)
        if (file->dev == dev && file->ino == ino && !(file->share & FILE_SHARE_DELETE)) return true;
    return false;
}

bool StandInShareConflict(dev_t dev, ino_t ino, DWORD access, DWORD share) {
    for (const OpenFile* file : OpenFiles)
        if (file->dev == dev && file->ino == ino &&
            (((access & DELETE) && !(file->share & FILE_SHARE_DELETE)) ||
             ((file->access & DELETE) && !(share & FILE_SHARE_DELETE))))
            return true;
    return false;
}

bool StandInDeleteAtClose(const OpenFile* file) {
    // On Windows the handle follows its file wherever it was renamed; here a
    // path that names something else now is left alone.
    dev_t dev;
    ino_t ino;
    if (!Names(file->path, &dev, &ino) || dev != file->dev || ino != file->ino) return false;
    return (file->folder ? rmdir(file->path.c_str()) : unlink(file->path.c_str())) == 0;
}

void SetLastError(DWORD code) {
    errno = code == ERROR_SUCCESS               ? 0
            : code == ERROR_FILE_NOT_FOUND      ? ENOENT
            : code == ERROR_SHARING_VIOLATION   ? ETXTBSY
            : code == ERROR_ACCESS_DENIED       ? EACCES
                                                : EINVAL;
}

namespace {

DWORD Attributes(int dir, const char* name, const struct stat& st, DWORD* tag) {
    *tag = 0;
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        *tag = IO_REPARSE_TAG_SYMLINK;
        bool folder = fstatat(dir, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        return FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : 0);
    }
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

// Fills `out` with the entries that follow in the folder's listing, as many
// as fit; the descriptor's position moves past those given only.
BOOL ListThrough(int fd, BYTE* out, DWORD size) {
    alignas(struct dirent64) char buffer[4096];
    DWORD used = 0;
    FILE_ID_BOTH_DIR_INFO* last = NULL;
    for (;;) {
        off_t start = lseek(fd, 0, SEEK_CUR);
        ssize_t n = getdents64(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const struct dirent64* e = (const struct dirent64*)(buffer + at);
            at += e->d_reclen;
            size_t bytes = strlen(e->d_name);
            struct stat st;
            // A name that Windows could not list here is left out, as
            // FindFirstFileA leaves it out.
            if (bytes >= MAX_PATH || fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                start = e->d_off;
                continue;
            }
            WCHAR name[MAX_PATH];
            int units = MultiByteToWideChar(CP_UTF8, 0, e->d_name, (int)bytes, name, MAX_PATH);
            DWORD need = (DWORD)((offsetof(FILE_ID_BOTH_DIR_INFO, FileName) +
                                  units * sizeof(WCHAR) + 7) & ~(size_t)7);
            if (used + need > size) {
                lseek(fd, start, SEEK_SET);
                if (last == NULL) errno = ERANGE;
                return last != NULL;
            }
            FILE_ID_BOTH_DIR_INFO* entry = (FILE_ID_BOTH_DIR_INFO*)(out + used);
            memset(entry, 0, offsetof(FILE_ID_BOTH_DIR_INFO, FileName));
            entry->FileAttributes = Attributes(fd, e->d_name, st, &entry->EaSize);
            entry->FileId.QuadPart = (LONGLONG)st.st_ino;
            if (!S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) entry->EndOfFile.QuadPart = st.st_size;
            entry->FileNameLength = (DWORD)(units * sizeof(WCHAR));
            memcpy(entry->FileName, name, units * sizeof(WCHAR));
            if (last != NULL) last->NextEntryOffset = (DWORD)((BYTE*)entry - (BYTE*)last);
            last = entry;
            used += need;
            start = e->d_off;
        }
        lseek(fd, start, SEEK_SET);
    }
    if (last == NULL) errno = ENOENT;  // ERROR_NO_MORE_FILES
    return last != NULL;
}

}  // namespace

extern "C" BOOL StandInGetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind,
                                                    LPVOID data, DWORD size) {
    OpenFile* file = static_cast<OpenFile*>(handle);
    StandInFileCall();
    struct stat st;
    if (!OpenFiles.count(file) || !data || fstat(file->fd, &st) != 0) {
        errno = EBADF;
        return FALSE;
    }
    if (kind == FileAttributeTagInfo && size >= sizeof(FILE_ATTRIBUTE_TAG_INFO)) {
        FILE_ATTRIBUTE_TAG_INFO* info = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(data);
        if (file->link) {
            info->ReparseTag = IO_REPARSE_TAG_SYMLINK;
            struct stat target;
            info->FileAttributes = FILE_ATTRIBUTE_REPARSE_POINT |
                                   (stat(file->path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)
                                        ? FILE_ATTRIBUTE_DIRECTORY
                                        : 0);
        } else {
            info->FileAttributes = Attributes(AT_FDCWD, file->path.c_str(), st, &info->ReparseTag);
        }
        return TRUE;
    }
    if (kind == FileIdInfo && size >= sizeof(FILE_ID_INFO)) {
        FILE_ID_INFO* info = static_cast<FILE_ID_INFO*>(data);
        memset(info, 0, sizeof *info);
        info->VolumeSerialNumber = (ULONGLONG)st.st_dev;
        uint64_t inode = (uint64_t)st.st_ino;
        memcpy(info->FileId.Identifier, &inode, sizeof inode);
        return TRUE;
    }
    if ((kind != FileIdBothDirectoryInfo && kind != FileIdBothDirectoryRestartInfo) || !file->folder) {
        errno = EINVAL;
        return FALSE;
    }
    if (kind == FileIdBothDirectoryRestartInfo) lseek(file->fd, 0, SEEK_SET);
    return ListThrough(file->fd, static_cast<BYTE*>(data), size);
}
