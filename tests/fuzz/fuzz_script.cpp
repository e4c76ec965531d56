// RunRemovalScript on arbitrary scripts, in a sandbox under $TMPDIR (or /tmp,
// removed at exit) that holds
// an installation directory and every special folder of the stand-in
// machine. Inputs holding ".." are passed over, so no line can reach outside
// the sandbox; a canary file outside the installation and the folders must
// survive every run.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "machine.h"
#include "zarnouns.h"

namespace fs = std::filesystem;

static std::string Sandbox, Install, Canary;

// The files every run starts with (empty, each in its folder): one in the
// installation directory and its subfolder, and one in every special folder.
static std::vector<std::string> Files;

static void Touch(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
}

// Puts back what the last run removed. Looking for each file costs one
// system call; only a missing one is made again, with its folders.
static void Populate() {
    if (Files.empty()) {
        Files.push_back(Install + "harbo.dll");
        Files.push_back(Install + "sub/x.txt");
        for (const SpecialFolder* row = SpecialFolders; row->name != NULL; row++) {
            std::string folder = StandInFolderPath(row->csidl);
            if (!folder.empty()) Files.push_back(folder + "/harbo.dll");
        }
    }
    for (const std::string& file : Files) {
        if (access(file.c_str(), F_OK) == 0) continue;
        fs::create_directories(fs::path(file).parent_path());
        Touch(file);
    }
}

static void Setup() {
    const char* parent = getenv("TMPDIR");
    std::string pattern = std::string(parent != NULL && parent[0] != '\0' ? parent : "/tmp") +
                          "/zarno-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == NULL) abort();
    Sandbox = pattern;
    atexit([] {
        std::error_code ignored;
        fs::remove_all(Sandbox, ignored);
    });
    setenv("ZARNOUNS_MACHINE", (Sandbox + "/machine").c_str(), 1);
    Install = Sandbox + "/install/";
    Canary = Sandbox + "/canary.txt";
    Touch(Canary);
    for (const SpecialFolder* row = SpecialFolders; row->name != NULL; row++) {
        std::string folder = StandInFolderPath(row->csidl);
        if (folder.compare(0, Sandbox.size() + 1, Sandbox + "/") != 0) abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (Setup(), true);
    (void)ready;
    for (size_t i = 0; i + 1 < size; i++)
        if (data[i] == '.' && data[i + 1] == '.') return -1;  // not added to the corpus

    Populate();
    FILE* script = fopen((Install + "zarnouns.ini").c_str(), "wb");
    if (script == NULL) abort();
    fwrite(data, 1, size, script);
    fclose(script);

    TestMode = size & 1;
    int result = RunRemovalScript(Install.c_str());
    TestMode = 0;
    if (result != 0 && result != -1) abort();
    if (!fs::exists(Canary)) abort();
    return 0;
}
