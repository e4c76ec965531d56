// Handles of files and folders as CreateFileA (kernel.cpp) opens them, and
// what handles.cpp adds: sharing that holds a folder or file, listing a
// folder through its handle, links opened as themselves, deletion through
// a handle, and the adversary that acts between the program's file-system
// calls.
#pragma once
#include <sys/types.h>
#include <windows.h>

#include <set>
#include <string>

struct OpenFile {
    int fd;
    std::string path;
    bool deleteOnClose;
    DWORD access = 0, share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    dev_t dev = 0;
    ino_t ino = 0;
    bool folder = false, link = false;  // a link opened as itself (O_PATH)
};
extern std::set<OpenFile*> OpenFiles;

// Counts a file-system call of the program. Where <machine>/adversary holds
// four lines, N, a path, another path and a target, before the N-th call
// the first path is renamed to the second and a symbolic link to the target
// put in its place, unless a handle holds it without delete sharing (as a
// Windows process would be refused); the count of calls is written to
// <machine>/adversary.calls at the end of the process.
void StandInFileCall();
// True when an open handle refuses others the deletion or renaming of what
// `path` names (the entry itself, not what a link leads to).
bool StandInHeld(const std::string& path);
// True when an open of the file (dev, ino) for `access` with `share` meets
// a handle that refuses it: one of them asks for DELETE and the other does
// not share it.
bool StandInShareConflict(dev_t dev, ino_t ino, DWORD access, DWORD share);
// At the close of a handle marked for deletion: removes what it is open on,
// where its path still names that (a file, a link itself, an empty folder).
bool StandInDeleteAtClose(const OpenFile* file);
