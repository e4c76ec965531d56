// The sandbox that the in-process fuzz targets run the program in, and the
// checks they share. Included by exactly one source file of each target.
//
// Safety does not rest on the program's own guard:
// - the target is linked with --wrap=CreateProcessA, so the program's process
//   start lands in __wrap_CreateProcessA below, which starts nothing (Setup
//   checks that the wrap is in effect before the first input);
// - standard input is /dev/null and every box is answered from the answers
//   the stand-in is given, so no box ever waits for a person;
// - the machine directory, the temporary directory, the special folders, the
//   home directory and the current directory all lie inside the sandbox, and
//   every path a target lets the program act on is resolved first (symbolic
//   links followed) and replaced when it leads outside;
// - a canary directory next to the sandbox must survive every input.
// Runs are independent: after each, the registry and the boxes and answers
// (which the stand-in keeps in memory) and the sandbox's files are put back,
// and before each the program's globals are cleared as a new process would
// find them. Of the files, only what the run removed is put back: the
// kernel's reports of the changes in the sandbox's directories tell what
// (see Present).
#pragma once

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "machine.h"
#include "zarnouns.h"

namespace fz {

namespace fs = std::filesystem;

// ---- Reporting ------------------------------------------------------------

// Bytes in quotes with C escapes, for failure reports.
inline std::string Show(const std::string& bytes) { return MachineQuoted(bytes); }

// The directory the fuzzer was started in; see EnterSandbox.
inline int StartDirectory = -1;

// A broken expectation: reported, then a crash, so that libFuzzer keeps the
// input (written where it was told, relative to where it was started).
[[noreturn]] inline void Fail(const std::string& what, const std::string& detail = "") {
    if (StartDirectory >= 0 && fchdir(StartDirectory) != 0) perror("fchdir");
    fprintf(stderr, "\n*** %s\n%s\n", what.c_str(), detail.c_str());
    abort();
}

// ---- The sandbox ----------------------------------------------------------

struct Sandbox {
    std::string root;     // resolved, no trailing '/'
    std::string machine;  // root/machine, the stand-in's machine directory
    std::string install;  // root/install/, the installation folder (SelfDir)
    std::string self;     // install + "zarnouns": argv[0] of every run
    std::string cwd;      // root/cwd, the current directory of every run
    std::string temp;     // the stand-in's temporary directory, ending in '/'
    std::string outside;  // next to the sandbox: holds the canary
    std::string canary;   // outside + "/canary.txt"
};
inline Sandbox Box;

// Content of the file that stands for the executable. It is no program and
// is not executable, so not even a real CreateProcessA could run a copy.
inline const char SelfContent[] = "stand-in for the installed executable\n";

inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline void WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) Fail("cannot write " + path, strerror(errno));
    if (write(fd, bytes.data(), bytes.size()) != (ssize_t)bytes.size())
        Fail("cannot write " + path, strerror(errno));
    close(fd);
}

inline std::string MakeTempDir(const std::string& parent, const std::string& stem) {
    std::string pattern = parent + "/" + stem + "-XXXXXX";
    if (mkdtemp(&pattern[0]) == NULL) Fail("cannot make " + pattern, strerror(errno));
    char* real = realpath(pattern.c_str(), NULL);
    if (real == NULL) Fail("cannot resolve " + pattern, strerror(errno));
    std::string out = real;
    free(real);
    return out;
}

inline bool Under(const std::string& path, const std::string& dir) {
    return path.compare(0, dir.size(), dir) == 0 &&
           (path.size() == dir.size() || path[dir.size()] == '/');
}

// The special folders of the stand-in machine: every one the program's table
// names (the Windows and system folders among them).
inline const std::vector<std::string>& SpecialFolderPaths() {
    static std::vector<std::string> out;
    if (out.empty())
        for (const SpecialFolder* row = SpecialFolders; row->name != NULL; row++)
            out.push_back(StandInFolderPath(row->csidl));
    return out;
}

// The fixed layout of the sandbox, relative to its root, put back before
// every input. A symbolic link "install/link" leads to "linked", which lies
// outside the installation: its file must outlive every removal of the
// installation.
struct Item {
    std::string path;
    char kind;  // 'd' directory, 'f' file, 'l' link to root/linked
};

inline const std::vector<Item>& Layout() {
    static std::vector<Item> items;
    if (!items.empty()) return items;
    items = {
        {"install", 'd'},
        {"install/sub", 'd'},
        {"install/zarnouns", 'f'},
        {"install/harbo.dll", 'f'},
        {"install/sub/x.txt", 'f'},
        {"linked", 'd'},
        {"linked/keep.txt", 'f'},
        {"install/link", 'l'},
        {"other/deep/a/b", 'd'},
        {"other/file.txt", 'f'},
        {"other/deep/a/b/c.txt", 'f'},
        {"cwd", 'd'},
        {"cwd/here.txt", 'f'},
        {"home", 'd'},
        {"machine/temp", 'd'},
        {"elsewhere", 'd'},
    };
    for (const std::string& folder : SpecialFolderPaths()) {
        std::string rel = folder.substr(Box.root.size() + 1);
        items.push_back({rel, 'd'});
        items.push_back({rel + "/harbo.dll", 'f'});
        items.push_back({rel + "/harbo-sub", 'd'});
        items.push_back({rel + "/harbo-sub/inner.txt", 'f'});
    }
    return items;
}

// Everything below the root, by path relative to it, with its kind ('d',
// 'f' or 'l'); links are listed, never followed.
using Entries = std::map<std::string, char>;

// What the sandbox holds, known without walking it after every run (a walk
// of its 65 directories costs more than a whole run): the kernel reports each
// entry made, removed or moved in a watched directory, whoever does it, and
// every directory of the sandbox is watched. Sync reads the reports.
inline Entries Present;
// What left Present since the start of the current run.
inline Entries Gone;
// The items of the layout that left Present since Restore last made it
// whole, or all of them (after the watch began afresh, nothing tells which):
// with neither, Restore has nothing to do.
inline std::vector<const Item*> Lost;
inline bool AllLost = true;
inline int Watcher = -1;
inline std::map<int, std::string> Watched;  // directory (relative) by watch

// Calls `each` with every entry of the open directory `dir` but "." and
// "..", listed with getdents64 into a buffer of its own (opendir would
// allocate 32 KiB for each directory); returns how many there were, or -1
// when it cannot be listed.
template <typename Each>
inline int ForEachEntry(int dir, Each each) {
    int count = 0;
    alignas(struct dirent64) char buffer[4096];
    ssize_t n;
    while ((n = getdents64(dir, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const struct dirent64* e = (const struct dirent64*)(buffer + at);
            at += e->d_reclen;
            if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
            count++;
            each(e);
        }
    }
    return n < 0 ? -1 : count;
}

// Adds what lies below `rel` to `out`; with `watch`, watches every directory
// first.
inline void Walk(const std::string& rel, Entries& out, bool watch) {
    std::string dir = rel.empty() ? Box.root : Box.root + "/" + rel;
    if (watch) {
        int wd = inotify_add_watch(Watcher, dir.c_str(),
                                   IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                       IN_ONLYDIR | IN_DONT_FOLLOW);
        if (wd < 0) Fail("cannot watch " + dir, strerror(errno));
        Watched[wd] = rel;
    }
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) Fail("cannot list " + dir, strerror(errno));
    int listed = ForEachEntry(fd, [&](const struct dirent64* e) {
        std::string path = rel.empty() ? e->d_name : rel + "/" + e->d_name;
        unsigned char type = e->d_type;
        struct stat st;
        if (type == DT_UNKNOWN && lstat((Box.root + "/" + path).c_str(), &st) == 0)
            type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        char kind = type == DT_LNK ? 'l' : type == DT_DIR ? 'd' : 'f';
        out[path] = kind;
        if (kind == 'd') Walk(path, out, watch);
    });
    if (listed < 0) Fail("cannot list " + dir, strerror(errno));
    close(fd);
}

// The sandbox as a walk finds it now.
inline Entries Snapshot() {
    Entries out;
    Walk("", out, false);
    return out;
}

// Starts watching the whole sandbox afresh.
inline void WatchAll() {
    if (Watcher >= 0) close(Watcher);
    Watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (Watcher < 0) Fail("cannot watch the sandbox", strerror(errno));
    Watched.clear();
    for (const auto& entry : Present) Gone.insert(entry);
    Present.clear();
    AllLost = true;
    Walk("", Present, true);
}

// The item of the layout at `rel`, or NULL.
inline const Item* LayoutItem(const std::string& rel) {
    static std::map<std::string, const Item*> items;
    if (items.empty())
        for (const Item& item : Layout()) items[item.path] = &item;
    auto found = items.find(rel);
    return found != items.end() ? found->second : NULL;
}

// Takes `rel` and what lay below it out of Present.
inline void Forget(const std::string& rel) {
    auto it = Present.lower_bound(rel);
    while (it != Present.end() && (it->first == rel || Under(it->first, rel))) {
        if (const Item* item = LayoutItem(it->first)) Lost.push_back(item);
        Gone.insert(*it);
        it = Present.erase(it);
    }
    for (auto w = Watched.begin(); w != Watched.end();)
        w = Under(w->second, rel) ? Watched.erase(w) : std::next(w);
}

// Brings Present up to date with the reports since the last call. An entry
// made is looked at as it is now (a later report tells if it went again); a
// directory made or moved in is walked, as it may have been filled before
// its watch began.
inline void Sync() {
    alignas(struct inotify_event) char buffer[16384];
    ssize_t n;
    while ((n = read(Watcher, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const struct inotify_event* e = (const struct inotify_event*)(buffer + at);
            at += sizeof(struct inotify_event) + e->len;
            if (e->mask & IN_Q_OVERFLOW) {
                WatchAll();
                return Sync();
            }
            auto w = Watched.find(e->wd);
            if (w == Watched.end()) continue;  // a directory gone or moved away
            if (e->mask & IN_IGNORED) {
                Watched.erase(w);
                continue;
            }
            if (e->len == 0) continue;
            std::string rel = w->second.empty() ? e->name : w->second + "/" + e->name;
            if (e->mask & (IN_DELETE | IN_MOVED_FROM)) {
                Forget(rel);
                continue;
            }
            struct stat st;
            if (lstat((Box.root + "/" + rel).c_str(), &st) != 0) continue;
            char kind = S_ISLNK(st.st_mode) ? 'l' : S_ISDIR(st.st_mode) ? 'd' : 'f';
            Present[rel] = kind;
            if (kind == 'd' && Watched.end() == std::find_if(Watched.begin(), Watched.end(),
                                                             [&](const auto& v) { return v.second == rel; }))
                Walk(rel, Present, true);
        }
    }
    if (n < 0 && errno != EAGAIN) Fail("cannot read the sandbox's changes", strerror(errno));
}

// Puts back each item of the layout that is not present. Only those that
// left are looked for, in the layout's order (a folder before what it holds).
inline void Restore() {
    Sync();
    if (!AllLost && Lost.empty()) return;
    if (AllLost) {
        Lost.clear();
        for (const Item& item : Layout()) Lost.push_back(&item);
    } else {
        std::sort(Lost.begin(), Lost.end());
        Lost.erase(std::unique(Lost.begin(), Lost.end()), Lost.end());
    }
    for (const Item* lost : Lost) {
        const Item& item = *lost;
        if (Present.count(item.path)) continue;
        std::string path = Box.root + "/" + item.path;
        if (item.kind == 'd') {
            std::error_code error;
            fs::create_directories(path, error);
            if (error) Fail("cannot make " + path, error.message());
        } else if (item.kind == 'f') {
            WriteFile(path, path == Box.self ? SelfContent : item.path + "\n");
        } else if (symlink((Box.root + "/linked").c_str(), path.c_str()) != 0) {
            Fail("cannot link " + path, strerror(errno));
        }
    }
    AllLost = false;
    Lost.clear();
    Sync();
}

// Writes the sandbox's file `rel` before a run, or with no content removes it.
inline void PutFile(const std::string& rel, const char* content) {
    std::string path = Box.root + "/" + rel;
    if (content != NULL)
        WriteFile(path, content);
    else if (unlink(path.c_str()) != 0 && errno != ENOENT)
        Fail("cannot remove " + path);
}

// The program runs with the sandbox's "cwd" as its current directory, so
// that relative paths stay inside; libFuzzer itself must get the directory
// it was started in back, as it reads and writes inputs by the paths it was
// given.
inline void EnterSandbox() {
    if (chdir(Box.cwd.c_str()) != 0) Fail("cannot enter " + Box.cwd, strerror(errno));
}

inline void LeaveSandbox() {
    if (fchdir(StartDirectory) != 0) Fail("cannot go back to the start directory", strerror(errno));
}

// A path as the program sees it from its current directory.
inline std::string FromSandbox(const std::string& path) {
    return !path.empty() && path[0] == '/' ? path : Box.cwd + "/" + path;
}

inline std::string Listing(const Entries& entries) {
    std::string out;
    for (const auto& entry : entries)
        out += std::string(1, entry.second) + " " + entry.first + "\n";
    return out.empty() ? "(nothing)\n" : out;
}

// Where a path leads, as Windows (and the stand-in) resolves it from the
// current directory of the runs: "." and ".." are first taken by name, then
// every existing component is resolved with its links followed. Empty when a
// link dangles.
inline std::string ByName(const std::string& path) {
    // The stand-in's own path resolution, which the program's calls go through.
    std::vector<char> buffer(path.size() + 2);
    DWORD n = GetFullPathNameA(path.c_str(), (DWORD)buffer.size(), buffer.data(), NULL);
    if (n == 0 || n >= buffer.size()) Fail("cannot resolve a path by name", path);
    return std::string(buffer.data(), n);
}

inline std::string Resolve(const std::string& text) {
    std::string whole = ByName(FromSandbox(text));
    std::string current = "/";
    size_t start = 0;
    if (Under(whole, Box.root)) {  // the root is resolved already
        current = Box.root;
        start = Box.root.size() + 1;
    }
    current.reserve(whole.size() + 1);
    while (start <= whole.size()) {
        size_t slash = whole.find('/', start);
        if (slash == std::string::npos) slash = whole.size();
        size_t from = start;
        start = slash + 1;
        if (slash == from) continue;  // "." and ".." are gone already
        if (current != "/") current.push_back('/');
        current.append(whole, from, slash - from);
        struct stat st;
        if (lstat(current.c_str(), &st) != 0) {
            // Nothing lies below what does not exist: the rest stands as
            // it is, without the '/' at its end.
            if (slash < whole.size()) current.append(whole, slash, std::string::npos);
            while (current.size() > 1 && current.back() == '/') current.pop_back();
            return current;
        }
        if (S_ISLNK(st.st_mode)) {
            char* real = realpath(current.c_str(), NULL);
            if (real == NULL) return std::string();
            current = real;
            free(real);
        }
    }
    return current;
}

inline bool InsideSandbox(const std::string& text) {
    std::string resolved = Resolve(text);
    return !resolved.empty() && Under(resolved, Box.root);
}

// ---- Process start ------------------------------------------------------

struct StartAttempt {
    std::string commandLine;
    std::string directory;
};
inline std::vector<StartAttempt> Starts;

}  // namespace fz

// Bound in place of CreateProcessA (-Wl,--wrap=CreateProcessA): records the
// attempt and refuses it the way a failed start is reported.
extern "C" BOOL __wrap_CreateProcessA(LPCSTR, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                                      LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                      LPCSTR currentDirectory, LPSTARTUPINFOA,
                                      LPPROCESS_INFORMATION) {
    fz::Starts.push_back(
        {commandLine != NULL ? commandLine : "", currentDirectory != NULL ? currentDirectory : ""});
    errno = ENOENT;
    return FALSE;
}

namespace fz {

// ---- Message boxes and standard output ----------------------------------

struct Shown {
    unsigned type;
    std::string caption;
    std::string text;
};

inline const char Caption[] = "zarno's Uninstall Utility v0.3";
// The type under which the elevation prompt is listed among the boxes, with
// the text "\"program\" parameters".
inline const unsigned Prompt = 0x10000;

inline std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); i++) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out.push_back(field[i]);
            continue;
        }
        char e = field[++i];
        out.push_back(e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e);
    }
    return out;
}

// The boxes of the last run, from the stand-in's log.
inline std::vector<Shown> BoxesShown() {
    std::vector<Shown> out;
    std::string log = MachineBoxesLog();
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) Fail("boxes.log ends inside a line", Show(log));
        std::string line = log.substr(start, end - start);
        start = end + 1;
        size_t tab1 = line.find('\t');
        size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos) Fail("malformed boxes.log line", Show(line));
        if (line.compare(0, tab1, "runas") == 0) {
            out.push_back({Prompt, Caption,
                           "\"" + Unescape(line.substr(tab1 + 1, tab2 - tab1 - 1)) + "\" " +
                               Unescape(line.substr(tab2 + 1))});
            continue;
        }
        out.push_back({(unsigned)strtoul(line.substr(0, tab1).c_str(), NULL, 10),
                       Unescape(line.substr(tab1 + 1, tab2 - tab1 - 1)),
                       Unescape(line.substr(tab2 + 1))});
    }
    return out;
}

inline std::string Describe(const std::vector<Shown>& boxes) {
    std::string out;
    for (const Shown& b : boxes)
        out +=
            "  type " + std::to_string(b.type) + " " + Show(b.caption) + " " + Show(b.text) + "\n";
    return out.empty() ? "  (no box)\n" : out;
}

// The boxes of the last run must be exactly `expected` ({type, text}), each
// with the program's caption.
inline void ExpectBoxes(const std::vector<std::pair<unsigned, std::string>>& expected) {
    std::vector<Shown> shown = BoxesShown();
    bool same = shown.size() == expected.size();
    for (size_t i = 0; same && i < shown.size(); i++)
        same = shown[i].type == expected[i].first && shown[i].text == expected[i].second &&
               shown[i].caption == Caption;
    if (same) return;
    std::vector<Shown> wanted;
    for (const auto& e : expected) wanted.push_back({e.first, Caption, e.second});
    Fail("unexpected message boxes",
         "shown:\n" + Describe(shown) + "expected:\n" + Describe(wanted));
}

// A formatted box text as the program's 1024-byte buffer holds it: its first
// 1023 bytes, less a UTF-8 sequence that the cut leaves shorter than its
// lead byte announces.
inline std::string Cut(const std::string& text) {
    if (text.size() < TextSize) return text;
    std::string cut = text.substr(0, TextSize - 1);
    for (size_t back = 1; back <= 3; back++) {
        unsigned char c = (unsigned char)cut[cut.size() - back];
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (length > back) cut.resize(cut.size() - back);
        break;
    }
    return cut;
}

// Answers for the boxes of one run: Yes to every question. No and Cancel end
// the process by design (their exit codes are checked by the test suite), and
// an exit ends the fuzzer; libFuzzer reports one as "fuzz target exited".
inline void AnswerYes(int boxes) {
    std::string text;
    for (int i = 0; i < boxes; i++) text += "yes\n";
    MachineBoxesInMemory(text);
}

// Standard output of one run goes to a file in memory, outside the sandbox,
// emptied before each run.
inline int TraceFd = -1;

inline void BeginTrace() {
    fflush(stdout);
    if (TraceFd < 0) TraceFd = memfd_create("trace", MFD_CLOEXEC);
    if (TraceFd < 0 || ftruncate(TraceFd, 0) != 0 || lseek(TraceFd, 0, SEEK_SET) != 0 ||
        dup2(TraceFd, 1) < 0)
        Fail("cannot redirect standard output", strerror(errno));
}

inline std::string EndTrace() {
    fflush(stdout);
    std::string out;
    char buffer[4096];
    ssize_t n;
    for (off_t at = 0; (n = pread(TraceFd, buffer, sizeof buffer, at)) > 0; at += n)
        out.append(buffer, (size_t)n);
    return out;
}

// ---- Registry -----------------------------------------------------------

inline const char EntryPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

struct Value {
    DWORD type;
    std::string bytes;
};
using Values = std::map<std::string, Value>;  // by value name

inline std::optional<Values> ReadKey(HKEY root, const std::string& path) {
    HKEY key = NULL;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    Values out;
    for (DWORD i = 0;; i++) {
        char name[16384];
        DWORD nameCount = sizeof name, type = 0, count = 0;
        LONG rc = RegEnumValueA(key, i, name, &nameCount, NULL, &type, NULL, &count);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) Fail("cannot list the values of " + path);
        std::string bytes(count, '\0');
        DWORD size = count;
        if (RegQueryValueExA(key, name, NULL, &type, (LPBYTE)&bytes[0], &size) != ERROR_SUCCESS)
            Fail("cannot read value " + Show(name) + " of " + path);
        out[name] = {type, bytes};
    }
    RegCloseKey(key);
    return out;
}

inline void WriteKey(HKEY root, const std::string& path, const Values& values) {
    HKEY key = NULL;
    if (RegCreateKeyExA(root, path.c_str(), 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                        &key, NULL) != ERROR_SUCCESS)
        Fail("cannot create " + path);
    for (const auto& v : values)
        if (RegSetValueExA(key, v.first.c_str(), 0, v.second.type,
                           (const BYTE*)v.second.bytes.data(),
                           (DWORD)v.second.bytes.size()) != ERROR_SUCCESS)
            Fail("cannot set " + v.first + " of " + path);
    RegCloseKey(key);
}

inline std::string DescribeKey(const std::optional<Values>& key) {
    if (!key) return "  (no key)\n";
    std::string out;
    for (const auto& v : *key)
        out += "  " + v.first + " type " + std::to_string(v.second.type) + " " +
               Show(v.second.bytes) + "\n";
    return out.empty() ? "  (no values)\n" : out;
}

inline void ExpectKey(HKEY root, const std::string& path, const std::optional<Values>& expected) {
    std::optional<Values> found = ReadKey(root, path);
    bool same = found.has_value() == expected.has_value();
    if (same && found) {
        same = found->size() == expected->size();
        for (const auto& v : *expected) {
            auto it = found->find(v.first);
            same = same && it != found->end() && it->second.type == v.second.type &&
                   it->second.bytes == v.second.bytes;
        }
    }
    if (same) return;
    Fail(std::string("unexpected registry key ") +
             (root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\") + Show(path),
         "found:\n" + DescribeKey(found) + "expected:\n" + DescribeKey(expected));
}

// Closes every registry handle the stand-in still has open and returns how
// many there were. The program closes each key it opens; any left open after
// a run is a leak.
inline int CloseOpenKeys() {
    int open = 0;
    for (uintptr_t handle = 1; handle <= 64; handle++)
        if (RegCloseKey((HKEY)handle) == ERROR_SUCCESS) open++;
    return open;
}

// The file descriptors this process has open.
inline int OpenDescriptors() {
    int dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) Fail("cannot list the open descriptors", strerror(errno));
    int count = ForEachEntry(dir, [](const struct dirent64*) {});
    close(dir);
    return count - 1;  // the listing's own
}

// What the end of a process does, as the program relies on it: the mutexes
// it holds are let go of and closed, and as each was the last handle, the
// mutex is gone (its lock file with it).
inline void EndProcess() {
    MachineEndProcess();
    int dir = open((Box.machine + "/mutex").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ForEachEntry(dir, [dir](const struct dirent64* e) { unlinkat(dir, e->d_name, 0); });
    close(dir);
}

// A fresh machine: no registry, no boxes, no answers, administrator rights.
inline void ResetMachine() {
    MachineRegistryInMemory();
    MachineBoxesInMemory("");
    PutFile("machine/nonadmin", NULL);
}

inline void SetNonAdmin() { PutFile("machine/nonadmin", ""); }

// The program's process-wide state as a new process starts with it.
inline void FreshProcessState() {
    memset(SelfPath, 0, sizeof SelfPath);
    memset(SelfDir, 0, sizeof SelfDir);
    memset(SelfName, 0, sizeof SelfName);
    memset(MessageBuffer, 0, sizeof MessageBuffer);
    memset(KeyPath, 0, sizeof KeyPath);
    memset(ValueBuffer, 0, sizeof ValueBuffer);
    memset(FolderBuffer, 0, sizeof FolderBuffer);
    TestMode = 0;
    SilentMode = 0;
    CurrentRoot = HKEY_LOCAL_MACHINE;
}

// ---- Set-up ---------------------------------------------------------------

inline void RemoveSandbox() {
    std::error_code ignored;
    if (!Box.root.empty()) fs::remove_all(Box.root, ignored);
    if (!Box.outside.empty()) fs::remove_all(Box.outside, ignored);
}

// Makes the sandbox under $TMPDIR (or /tmp) and points the stand-in at it.
inline void Setup(const std::string& tag) {
    StartDirectory = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (StartDirectory < 0) Fail("cannot open the start directory", strerror(errno));
    const char* parent = getenv("TMPDIR");
    std::string base = parent != NULL && parent[0] != '\0' ? parent : "/tmp";
    Box.root = MakeTempDir(base, "zarno-fuzz-" + tag);
    Box.outside = MakeTempDir(base, "zarno-fuzz-" + tag + "-outside");
    atexit(RemoveSandbox);
    Box.machine = Box.root + "/machine";
    Box.install = Box.root + "/install/";
    Box.self = Box.install + "zarnouns";
    Box.cwd = Box.root + "/cwd";
    Box.canary = Box.outside + "/canary.txt";
    WriteFile(Box.canary, "must survive\n");

    setenv("ZARNOUNS_MACHINE", Box.machine.c_str(), 1);
    setenv("HOME", (Box.root + "/home").c_str(), 1);
    setenv("XDG_DATA_HOME", (Box.root + "/home/.local/share").c_str(), 1);
    setenv("TMPDIR", (Box.root + "/home").c_str(), 1);

    // A message box with no scripted answer left would ask the terminal.
    int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null < 0 || dup2(null, 0) < 0) Fail("cannot point standard input at /dev/null");
    close(null);

    if (MachineDir() != Box.machine) Fail("the stand-in's machine is not the sandbox's");
    char temp[TextSize];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) Fail("no temporary directory");
    Box.temp = temp;
    if (Box.temp != Box.machine + "/temp/")
        Fail("temporary directory outside the machine", Box.temp);
    for (const std::string& folder : SpecialFolderPaths()) {
        if (!Under(folder, Box.machine)) Fail("special folder outside the machine", folder);
        // The shell gives none longer; the guard could not see it then.
        if (folder.size() >= MAX_PATH)
            Fail("sandbox path too long for the special folders", folder);
    }
    ResetMachine();
    WatchAll();
    Restore();

    // The wrap must be in effect before the program may run: this call
    // would start nothing even without it, as the file does not exist.
    char commandLine[] = "\"/nonexistent/zarno-fuzz-check\" -d \"x\"";
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    if (CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process) ||
        Starts.size() != 1)
        Fail("CreateProcessA is not the harness's: link with -Wl,--wrap=CreateProcessA");
    Starts.clear();
}

// What no input may ever change: the canary outside the sandbox and the file
// in each special folder (the guard keeps every special folder).
inline void ExpectIntact(const std::string& context) {
    if (!Exists(Box.canary))
        Fail("the canary outside the sandbox is gone", Box.canary + "\n" + context);
    static std::vector<std::string> files;  // relative to the root
    if (files.empty())
        for (const std::string& folder : SpecialFolderPaths())
            files.push_back(folder.substr(Box.root.size() + 1) + "/harbo.dll");
    for (const std::string& file : files)
        if (!Present.count(file)) Fail("a special folder lost its file", file + "\n" + context);
}

// ---- One run --------------------------------------------------------------

// The machine a run starts from: the sandbox's files put back, no registry
// but the product "demo"'s `entry` under HKLM and/or HKCU, the user an
// administrator or not, Yes to the first four boxes.
inline void NewMachine(bool inMachine, bool inUser, const Values& entry, bool nonAdmin) {
    Restore();  // the last run's PutBackAtEnd did the rest
    std::string key = EntryPrefix + std::string("demo");
    if (inMachine) WriteKey(HKEY_LOCAL_MACHINE, key, entry);
    if (inUser) WriteKey(HKEY_CURRENT_USER, key, entry);
    if (nonAdmin) SetNonAdmin();
    AnswerYes(4);
}

struct Outcome {
    std::string trace;    // standard output
    std::string context;  // what the run was, and its trace: for failure reports
    Entries install;      // what the installation folder held before the run
    Entries removed;      // what the run removed from the sandbox
};

// Puts the machine back at the end of a run too, so that every run ends with
// the memory it started with: libFuzzer takes a run that ends with more than
// it started with for a leak, and runs it again to see.
struct PutBackAtEnd {
    ~PutBackAtEnd() {
        ResetMachine();
        Restore();
    }
};

// Runs the program on `args` (argv[1..]; argv[0] is the sandbox's executable)
// in-process as a new process would start, and checks what every run must
// keep: AppMain returns 0, the canary and the special folders' files are
// there, no registry key is left open. `about` describes the run.
inline Outcome Run(const std::vector<std::string>& args, const std::string& about) {
    FreshProcessState();
    Starts.clear();
    Outcome out;
    Sync();
    Gone.clear();
    for (auto it = Present.lower_bound("install");
         it != Present.end() && it->first.compare(0, 7, "install") == 0; ++it)
        if (Under(it->first, "install")) out.install.insert(*it);
    std::vector<std::string> storage = {Box.self};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : storage) argv.push_back(&a[0]);
    argv.push_back(NULL);
    BeginTrace();
    int descriptors = OpenDescriptors();
    EnterSandbox();
    int rc = AppMain((int)storage.size(), argv.data());
    LeaveSandbox();
    out.trace = EndTrace();
    int leaked = CloseOpenKeys();
    EndProcess();
    out.context = about + "\nstandard output:\n" + out.trace;
    if (rc != 0) Fail("AppMain returned " + std::to_string(rc), out.context);
    // Left open, they would run out after some hundred thousand runs.
    int open = OpenDescriptors();
    if (open != descriptors)
        Fail(std::to_string(open - descriptors) + " file descriptor(s) left open", out.context);
    Sync();
    // ZARNO_FUZZ_WALK=1: every run also checks the watch against a walk.
    static const bool walk = getenv("ZARNO_FUZZ_WALK") != NULL;
    if (walk && Snapshot() != Present)
        Fail("the watch lost track of the sandbox",
             "walk:\n" + Listing(Snapshot()) + "watch:\n" + Listing(Present) + out.context);
    ExpectIntact(out.context);
    if (leaked != 0) Fail(std::to_string(leaked) + " registry key(s) left open", out.context);
    // What went and is not back: the run removed it.
    for (const auto& entry : Gone)
        if (!Present.count(entry.first)) out.removed.insert(entry);
    return out;
}

}  // namespace fz
