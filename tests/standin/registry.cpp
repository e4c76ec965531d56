// The registry of the emulated machine, kept in <machine>/registry.txt as
// plain text:
//
//   [HKEY_LOCAL_MACHINE\Software\Maker\Product]
//   "Name"=1:"text"
//   @=4:"\x01\x00\x00\x00"
//
// A section per key (the full path, names as first spelled), then its values
// in the order they were first set: the name in quotes (@ alone for the
// default value), the type number, and the exact bytes of the data in quotes
// with \\, \" and \xHH for bytes below 0x20 or from 0x7f up. Every call takes
// a lock on <machine>/registry.lock (shared to read, exclusive to change),
// reads the file, acts, and after a change writes a new file and renames it
// over the old one, so that several processes see one registry and a writer
// killed halfway leaves the old or the new file, never a torn one.
// An in-process fuzz target may keep the registry in memory instead
// (MachineRegistryInMemory): one store, no file and no lock.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "machine.h"

namespace {

const size_t MaxKeyNameLength = 255;
const size_t MaxValueNameLength = 16383;

struct Value {
    std::string name;  // empty for the default value
    DWORD type = REG_NONE;
    std::string data;
};

struct Key {
    std::string path;  // full path with the root's name, case as created
    std::vector<Value> values;
};

char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// Whether `text` starts with `head`, letter case aside. Compares in place:
// the lookups run on every registry call, so they make no copies.
bool StartsSame(const std::string& text, const char* head, size_t length) {
    if (text.size() < length) return false;
    for (size_t i = 0; i < length; i++)
        if (LowerChar(text[i]) != LowerChar(head[i])) return false;
    return true;
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && StartsSame(a, b.data(), b.size());
}

// The order of names with the letter case aside.
bool LowerLess(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; i++) {
        unsigned char x = (unsigned char)LowerChar(a[i]), y = (unsigned char)LowerChar(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

const char* const RootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                 "HKEY_USERS"};

int RootIndexOf(HKEY key) {
    uintptr_t v = (uintptr_t)key;
    if (v >= 0x80000000u && v <= 0x80000003u) return (int)(v - 0x80000000u);
    return -1;
}

bool IsMachinePath(const std::string& path) {
    size_t n = strlen(RootNames[2]);
    return StartsSame(path, RootNames[2], n) && (path.size() == n || path[n] == '\\');
}

bool IsRootPath(const std::string& path) {
    for (const char* r : RootNames)
        if (path.size() == strlen(r) && StartsSame(path, r, path.size())) return true;
    return false;
}

std::string ParentPath(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The whole registry, keyed by the full path as created and ordered with the
// letter case aside, so that a path in any case finds its key uncopied.
struct Store {
    struct CaseLess {
        bool operator()(const std::string& a, const std::string& b) const {
            return LowerLess(a, b);
        }
    };
    std::map<std::string, Key, CaseLess> keys;
    // The file exists but could not be read whole, or no lock could be taken:
    // such a store is never saved, as that would lose what was not read.
    bool unsafe = false;

    Key* Find(const std::string& path) {
        auto it = keys.find(path);
        return it == keys.end() ? nullptr : &it->second;
    }

    // Adds the key and any missing parents; true when the key itself is new.
    bool Add(const std::string& path) {
        if (Find(path)) return false;
        std::string parent = ParentPath(path);
        if (!parent.empty()) Add(parent);
        Key k;
        k.path = path;
        keys[path] = k;
        return true;
    }

    std::vector<std::string> Children(const std::string& path) {
        std::vector<std::string> names;
        std::string prefix = path + "\\";
        for (auto it = keys.lower_bound(prefix); it != keys.end(); ++it) {
            if (!StartsSame(it->first, prefix.data(), prefix.size())) break;
            std::string rest = it->second.path.substr(prefix.size());
            if (rest.find('\\') == std::string::npos) names.push_back(rest);
        }
        std::sort(names.begin(), names.end(), LowerLess);
        return names;
    }
};

// --- The file ---------------------------------------------------------------

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted string at line[pos]; leaves pos after the closing quote.
bool ParseQuoted(const std::string& line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    pos++;
    out.clear();
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"') return true;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (pos >= line.size()) return false;
        char e = line[pos++];
        if (e == 'x') {
            if (pos + 1 >= line.size()) return false;
            int hi = HexDigit(line[pos]), lo = HexDigit(line[pos + 1]);
            if (hi < 0 || lo < 0) return false;
            out.push_back((char)(hi * 16 + lo));
            pos += 2;
        } else {
            out.push_back(e);
        }
    }
    return false;
}

std::string RegistryFile() { return MachinePath("registry.txt"); }

// The registry of a process that keeps it in memory (MachineRegistryInMemory).
bool InMemory = false;
Store Memory;

void AddRoots(Store& store) {
    for (const char* r : RootNames) store.Add(r);
}

void Load(Store& store) {
    AddRoots(store);
    std::ifstream f(RegistryFile(), std::ios::binary);
    if (!f) {
        struct stat st;
        if (stat(RegistryFile().c_str(), &st) == 0 || errno != ENOENT) store.unsafe = true;
        return;
    }
    std::string line;
    Key* current = nullptr;
    while (std::getline(f, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            current = nullptr;
            if (close == std::string::npos || close < 2) continue;
            std::string path = line.substr(1, close - 1);
            size_t slash = path.find('\\');
            std::string root = path.substr(0, slash);
            bool known = false;
            for (const char* r : RootNames)
                if (SameName(root, r)) {
                    path = std::string(r) + (slash == std::string::npos ? "" : path.substr(slash));
                    known = true;
                }
            if (!known) continue;
            store.Add(path);
            current = store.Find(path);
            continue;
        }
        if (!current) continue;
        Value v;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!ParseQuoted(line, pos, v.name)) {
            continue;
        }
        if (pos >= line.size() || line[pos] != '=') continue;
        pos++;
        size_t colon = line.find(':', pos);
        if (colon == std::string::npos) continue;
        v.type = (DWORD)strtoul(line.substr(pos, colon - pos).c_str(), nullptr, 10);
        pos = colon + 1;
        if (!ParseQuoted(line, pos, v.data)) continue;
        bool replaced = false;
        for (Value& old : current->values)
            if (SameName(old.name, v.name)) {
                old = v;
                replaced = true;
            }
        if (!replaced) current->values.push_back(v);
    }
    if (f.bad()) store.unsafe = true;
}

// Removes the temporary files of writers that died before their rename.
// Called under the exclusive lock, when no other writer can be at work.
void RemoveDeadWritersFiles(const std::string& own) {
    std::string dir = MachineDir();
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    const std::string prefix = "registry.txt.tmp.";
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0 && dir + "/" + name != own)
            unlink((dir + "/" + name).c_str());
    }
    closedir(d);
}

// The store as the file holds it.
std::string Text(Store& store) {
    std::string text = "; The registry of the emulated machine.\n";
    for (auto& entry : store.keys) {
        Key& k = entry.second;
        if (IsRootPath(k.path) && k.values.empty()) continue;
        text += "\n[" + k.path + "]\n";
        for (const Value& v : k.values) {
            if (v.name.empty())
                text += "@";
            else
                text += MachineQuoted(v.name);
            text += "=" + std::to_string(v.type) + ":";
            text += MachineQuoted(v.data);
            text += "\n";
        }
    }
    return text;
}

bool Save(Store& store) {
    if (InMemory) return true;  // changed in place
    if (store.unsafe) {
        errno = EACCES;
        return false;
    }
    std::string text = Text(store);
    std::string final = RegistryFile();
    std::string tmp = final + ".tmp." + std::to_string((long)getpid());
    RemoveDeadWritersFiles(tmp);
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            unlink(tmp.c_str());
            return false;
        }
        done += (size_t)n;
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    if (rename(tmp.c_str(), final.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    int dir = open(MachineDir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

// The registry, read under the lock, for the length of one call.
class Session {
public:
    explicit Session(bool write) : store(InMemory ? Memory : own_) {
        if (InMemory) return;
        fd_ = open(MachinePath("registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ >= 0)
            while (flock(fd_, write ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
            }
        Load(store);
        if (fd_ < 0 && write) store.unsafe = true;
    }
    ~Session() {
        if (fd_ >= 0) close(fd_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    Store own_;  // read from the file for this call

public:
    Store& store;

private:
    int fd_ = -1;
};

// --- Handles ----------------------------------------------------------------

struct Handle {
    bool used = false;
    std::string path;
    REGSAM sam = 0;
};

std::mutex HandleLock;
std::vector<Handle> Handles;

HKEY NewHandle(const std::string& path, REGSAM sam) {
    std::lock_guard<std::mutex> guard(HandleLock);
    size_t i = 0;
    while (i < Handles.size() && Handles[i].used) i++;
    if (i == Handles.size()) Handles.emplace_back();
    Handles[i].used = true;
    Handles[i].path = path;
    Handles[i].sam = sam;
    return (HKEY)(uintptr_t)(i + 1);
}

// The full path and rights of an open key, false for no such handle.
bool HandlePath(HKEY key, std::string& path, REGSAM& sam) {
    int root = RootIndexOf(key);
    if (root >= 0) {
        path = RootNames[root];
        sam = KEY_ALL_ACCESS;
        return true;
    }
    std::lock_guard<std::mutex> guard(HandleLock);
    uintptr_t v = (uintptr_t)key;
    if (v == 0 || v > Handles.size() || !Handles[v - 1].used) return false;
    path = Handles[v - 1].path;
    sam = Handles[v - 1].sam;
    return true;
}

// Joins a relative subkey onto a key's path, checking each name.
LONG JoinPath(const std::string& base, const char* subKey, std::string& out) {
    out = base;
    if (!subKey || !*subKey) return ERROR_SUCCESS;
    std::string sub(subKey);
    if (sub[0] == '\\') return ERROR_BAD_PATHNAME;
    if (sub.back() == '\\') sub.pop_back();
    size_t start = 0;
    for (;;) {
        size_t slash = sub.find('\\', start);
        std::string part = sub.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        // The limit counts UTF-16 units, as Windows stores the name.
        if (part.empty() ||
            MultiByteToWideChar(CP_UTF8, 0, part.data(), (int)part.size(), NULL, 0) >
                (int)MaxKeyNameLength)
            return ERROR_INVALID_PARAMETER;
        for (unsigned char c : part)
            if (c < 0x20) return ERROR_INVALID_PARAMETER;
        out += "\\" + part;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return ERROR_SUCCESS;
}

bool WantsWrite(REGSAM sam) { return (sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0; }

// The key an open handle names, or the reason there is none.
LONG OpenKeyOf(Store& store, HKEY key, Key*& out, REGSAM* sam = nullptr) {
    std::string path;
    REGSAM rights;
    if (!HandlePath(key, path, rights)) return ERROR_INVALID_HANDLE;
    out = store.Find(path);
    if (!out) return ERROR_KEY_DELETED;
    if (sam) *sam = rights;
    return ERROR_SUCCESS;
}

Value* FindValue(Key& k, const char* name) {
    std::string n = name ? name : "";
    for (Value& v : k.values)
        if (SameName(v.name, n)) return &v;
    return nullptr;
}

// The full path of `subKey` below the key that `key` names.
LONG SubKeyPath(Store& store, HKEY key, const char* subKey, std::string& path) {
    Key* parent;
    LONG rc = OpenKeyOf(store, key, parent);
    if (rc != ERROR_SUCCESS) return rc;
    return JoinPath(parent->path, subKey, path);
}

// Asked for the 32-bit view, HKLM\Software is its WOW6432Node, as a
// 64-bit Windows shows it to 32-bit programs; the stand-in's programs are
// 64-bit ones, which see Software itself.
void InView(std::string& path, REGSAM sam) {
    const std::string software = std::string(RootNames[2]) + "\\Software";
    const size_t n = software.size();
    if (!(sam & KEY_WOW64_32KEY) || !StartsSame(path, software.data(), n) ||
        (path.size() > n && path[n] != '\\'))
        return;
    static const char Node[] = "\\WOW6432Node";
    const size_t nodeLength = sizeof Node - 1;
    if (path.size() >= n + nodeLength && SameName(path.substr(n, nodeLength), Node)) return;
    path.insert(n, Node);
}

}  // namespace

extern "C" {

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM sam, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = NULL;
    Session s(false);
    std::string path;
    LONG rc = SubKeyPath(s.store, key, subKey, path);
    InView(path, sam);
    if (rc != ERROR_SUCCESS) return rc;
    Key* k = s.store.Find(path);
    if (!k) return ERROR_FILE_NOT_FOUND;
    if (MachineIsNonAdmin() && IsMachinePath(path) && WantsWrite(sam)) return ERROR_ACCESS_DENIED;
    *result = NewHandle(k->path, sam);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM sam,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = NULL;
    Session s(true);
    std::string path;
    LONG rc = SubKeyPath(s.store, key, subKey, path);
    InView(path, sam);
    if (rc != ERROR_SUCCESS) return rc;
    bool machine = MachineIsNonAdmin() && IsMachinePath(path);
    if (machine && WantsWrite(sam)) return ERROR_ACCESS_DENIED;
    Key* k = s.store.Find(path);
    bool created = false;
    if (!k) {
        if (machine) return ERROR_ACCESS_DENIED;
        s.store.Add(path);
        if (!Save(s.store)) return ERROR_ACCESS_DENIED;
        k = s.store.Find(path);
        created = true;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(k->path, sam);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (RootIndexOf(key) >= 0) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> guard(HandleLock);
    uintptr_t v = (uintptr_t)key;
    if (v == 0 || v > Handles.size() || !Handles[v - 1].used) return ERROR_INVALID_HANDLE;
    Handles[v - 1] = Handle();
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    if (!subKey) return ERROR_INVALID_PARAMETER;
    Session s(true);
    std::string path;
    LONG rc = SubKeyPath(s.store, key, subKey, path);
    if (rc != ERROR_SUCCESS) return rc;
    Key* k = s.store.Find(path);
    if (!k) return ERROR_FILE_NOT_FOUND;
    if (IsRootPath(path)) return ERROR_ACCESS_DENIED;
    if (MachineIsNonAdmin() && IsMachinePath(path)) return ERROR_ACCESS_DENIED;
    if (!s.store.Children(path).empty()) return ERROR_ACCESS_DENIED;
    s.store.keys.erase(path);
    if (!Save(s.store)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD count) {
    if (data && !count) return ERROR_INVALID_PARAMETER;
    Session s(false);
    Key* k;
    LONG rc = OpenKeyOf(s.store, key, k);
    if (rc != ERROR_SUCCESS) return rc;
    Value* v = FindValue(*k, name);
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    DWORD size = (DWORD)v->data.size();
    if (data) {
        if (*count < size) {
            *count = size;
            return ERROR_MORE_DATA;
        }
        memcpy(data, v->data.data(), size);
    }
    if (count) *count = size;
    return ERROR_SUCCESS;
}

// A value name given in UTF-16, in UTF-8 as the store keeps it; false when
// it cannot be converted.
static bool NameInUtf8(LPCWSTR name, std::string& text) {
    text.clear();
    if (!name || !*name) return true;
    int n = WideCharToMultiByte(CP_UTF8, 0, name, -1, NULL, 0, NULL, NULL);
    if (n <= 0) return false;
    text.resize((size_t)n);
    if (!WideCharToMultiByte(CP_UTF8, 0, name, -1, &text[0], n, NULL, NULL)) return false;
    text.resize(strlen(text.c_str()));
    return true;
}

// The value read in UTF-8, the strings handed over in UTF-16.
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD count) {
    if (data && !count) return ERROR_INVALID_PARAMETER;
    std::string nameText;
    if (!NameInUtf8(name, nameText)) return ERROR_INVALID_PARAMETER;
    DWORD kind = REG_NONE, size = 0;
    LONG rc = RegQueryValueExA(key, nameText.c_str(), NULL, &kind, NULL, &size);
    if (rc != ERROR_SUCCESS) return rc;
    std::string bytes(size, '\0');
    rc = RegQueryValueExA(key, nameText.c_str(), NULL, &kind, (LPBYTE)&bytes[0], &size);
    if (rc != ERROR_SUCCESS) return rc;
    bytes.resize(size);
    if ((kind == REG_SZ || kind == REG_EXPAND_SZ || kind == REG_MULTI_SZ) && size > 0) {
        int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)size, NULL, 0);
        std::u16string wide(units, u'\0');
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)size, &wide[0], units);
        bytes.assign((const char*)wide.data(), wide.size() * sizeof(char16_t));
    }
    if (type) *type = kind;
    if (data && *count < bytes.size()) {
        *count = (DWORD)bytes.size();
        return ERROR_MORE_DATA;
    }
    if (data) memcpy(data, bytes.data(), bytes.size());
    if (count) *count = (DWORD)bytes.size();
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD count) {
    if (!data && count) return ERROR_INVALID_PARAMETER;
    std::string n = name ? name : "";
    if (n.size() > MaxValueNameLength) return ERROR_INVALID_PARAMETER;
    Session s(true);
    Key* k;
    REGSAM sam;
    LONG rc = OpenKeyOf(s.store, key, k, &sam);
    if (rc != ERROR_SUCCESS) return rc;
    if (!(sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (MachineIsNonAdmin() && IsMachinePath(k->path)) return ERROR_ACCESS_DENIED;
    std::string bytes(data ? (const char*)data : "", data ? count : 0);
    Value* v = FindValue(*k, name);
    if (v) {
        v->type = type;
        v->data = bytes;
    } else {
        Value nv;
        nv.name = n;
        nv.type = type;
        nv.data = bytes;
        k->values.push_back(nv);
    }
    if (!Save(s.store)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD count) {
    if (!data && count) return ERROR_INVALID_PARAMETER;
    std::string nameText, bytes(data ? (const char*)data : "", data ? count : 0);
    if (!NameInUtf8(name, nameText)) return ERROR_INVALID_PARAMETER;
    if ((type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) && count >= 2) {
        std::u16string wide(count / 2, u'\0');
        memcpy(&wide[0], data, wide.size() * sizeof(char16_t));
        int units = (int)wide.size();
        int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, NULL, 0, NULL, NULL);
        bytes.assign(size, '\0');
        if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &bytes[0], size, NULL, NULL);
    }
    return RegSetValueExA(key, nameText.c_str(), 0, type, (const BYTE*)bytes.data(),
                          (DWORD)bytes.size());
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
    Session s(true);
    Key* k;
    REGSAM sam;
    LONG rc = OpenKeyOf(s.store, key, k, &sam);
    if (rc != ERROR_SUCCESS) return rc;
    if (!(sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (MachineIsNonAdmin() && IsMachinePath(k->path)) return ERROR_ACCESS_DENIED;
    Value* v = FindValue(*k, name);
    if (!v) return ERROR_FILE_NOT_FOUND;
    k->values.erase(k->values.begin() + (v - k->values.data()));
    if (!Save(s.store)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameCount, LPDWORD, LPSTR keyClass,
                   LPDWORD classCount, void*) {
    if (!name || !nameCount) return ERROR_INVALID_PARAMETER;
    Session s(false);
    Key* k;
    LONG rc = OpenKeyOf(s.store, key, k);
    if (rc != ERROR_SUCCESS) return rc;
    std::vector<std::string> children = s.store.Children(k->path);
    if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& child = children[index];
    if (child.size() >= *nameCount) return ERROR_MORE_DATA;
    memcpy(name, child.c_str(), child.size() + 1);
    *nameCount = (DWORD)child.size();
    if (keyClass && classCount && *classCount) keyClass[0] = '\0';
    if (classCount) *classCount = 0;
    return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameCount, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD count) {
    if (!name || !nameCount) return ERROR_INVALID_PARAMETER;
    if (data && !count) return ERROR_INVALID_PARAMETER;
    Session s(false);
    Key* k;
    LONG rc = OpenKeyOf(s.store, key, k);
    if (rc != ERROR_SUCCESS) return rc;
    if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& v = k->values[index];
    if (v.name.size() >= *nameCount) return ERROR_MORE_DATA;
    DWORD size = (DWORD)v.data.size();
    if (type) *type = v.type;
    if (data && *count < size) {
        *count = size;
        return ERROR_MORE_DATA;
    }
    memcpy(name, v.name.c_str(), v.name.size() + 1);
    *nameCount = (DWORD)v.name.size();
    if (data) memcpy(data, v.data.data(), size);
    if (count) *count = size;
    return ERROR_SUCCESS;
}

}  // extern "C"

void MachineRegistryInMemory() {
    InMemory = true;
    Memory = Store();
    AddRoots(Memory);
}

std::string MachineRegistryText() {
    Session s(false);
    return Text(s.store);
}
