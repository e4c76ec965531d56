// The emulated machine directory.
#include "machine.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

bool MachineMakeDirs(const std::string& path) {
    if (path.empty()) return false;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    std::string part;
    size_t i = 0;
    while (i <= path.size()) {
        size_t next = path.find('/', i);
        if (next == std::string::npos) next = path.size();
        part = path.substr(0, next);
        if (!part.empty()) {
            if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        }
        i = next + 1;
    }
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string MachineDir() {
    std::string dir;
    const char* env = getenv("ZARNOUNS_MACHINE");
    if (env && *env) {
        dir = env;
    } else {
        const char* data = getenv("XDG_DATA_HOME");
        if (data && *data) {
            dir = data;
        } else {
            const char* home = getenv("HOME");
            dir = std::string(home && *home ? home : "/tmp") + "/.local/share";
        }
        dir += "/zarnouns/machine";
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    // Looked for (and made) once per name: every registry call and every
    // special folder asks, and the in-process fuzz targets ask thousands of
    // times a second. A machine directory removed under a running process is
    // not made again.
    static thread_local std::string known;
    if (dir == known) return dir;
    if (MachineMakeDirs(dir)) known = dir;
    return dir;
}

std::string MachinePath(const std::string& rel) { return MachineDir() + "/" + rel; }

std::string MachineQuoted(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + 2);
    out.push_back('"');
    for (unsigned char c : bytes) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
            out.push_back((char)c);
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out.push_back((char)c);
        }
    }
    out.push_back('"');
    return out;
}

uint32_t MachineGiveString(const std::string& text, uint32_t size, char* buffer) {
    if (!buffer || size <= text.size()) return (uint32_t)text.size() + 1;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return (uint32_t)text.size();
}

bool MachineIsNonAdmin() {
    // A process started through the elevation prompt, and what it starts.
    if (getenv("ZARNOUNS_ELEVATED") != NULL) return false;
    struct stat st;
    return stat(MachinePath("nonadmin").c_str(), &st) == 0;
}
