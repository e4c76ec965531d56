// The program's whole start-up and dispatch (AppMain) on arbitrary command
// lines, in-process, against a model of what each command line must do.
//
// Input: the first byte chooses the machine the run starts from (bits 0-1:
// the product "demo" registered nowhere, under HKLM, under HKCU or under
// both; bit 2: the user is no administrator); the rest, split at NUL bytes,
// is argv[1..]. argv[0] is always the sandbox's installed executable, so the
// program only ever locates itself, and registers or removes, inside the
// sandbox. See fuzz_sandbox.h for what keeps the runs inside it.
#include <stdint.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_sandbox.h"

using namespace fz;

namespace {

const char About[] =
    "For more information about this utility, contact zarno's support.\n\r"
    "Copyright (C) zarno. All rights reserved.";
const char Permission[] =
    "You must have permission to update LOCAL_MACHINE Registry,\nlike Administrator. You must "
    "reinstall.";
const char DemoDisplay[] = "Demo Plug-in";

std::string Lower(const std::string& s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return out;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

Values Entry(const std::string& display, const std::string& uninstall,
             const std::string& location) {
    return {{"DisplayName", {REG_SZ, display}},
            {"UninstallString", {REG_SZ, uninstall}},
            {"InstallLocation", {REG_SZ, location}}};
}

fz::Value Number(DWORD n) { return {REG_DWORD, std::string((const char*)&n, sizeof n)}; }

// What every registration adds for the list of programs (the stand-in's
// plug-in has no version resource and no icon): the size of the files in
// the installation folder, links not followed, in KiB rounded up, unless the
// folder is another entry's and so kept whole by an uninstall; the date.
void AddDetails(Values& entry, const std::string& install, bool kept) {
    namespace fs = std::filesystem;
    uintmax_t bytes = 0;
    for (const auto& e : fs::recursive_directory_iterator(install))
        if (e.is_regular_file() && !e.is_symlink()) bytes += e.file_size();
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[16];
    snprintf(date, sizeof date, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    if (!kept) entry["EstimatedSize"] = Number((DWORD)((bytes + 1023) / 1024));
    entry["InstallDate"] = {REG_SZ, date};
    // It holds no removal script: the entry says so.
    entry["NoModify"] = entry["NoRepair"] = entry["NoRemovalScript"] = Number(1);
}

// The Uninstall entries of the machine, as the model expects them: by root
// (0 HKLM, 1 HKCU) and lower-case name.
struct Machine {
    std::map<std::string, Values> entries[2];
    bool nonAdmin = false;
};

HKEY RootKey(int root) { return root == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// The box that refuses a product name, or none for a good name.
std::optional<std::string> NameProblem(const std::string& name) {
    if (name.empty()) return std::string("Invalid product name: it is empty.");
    // The registry's limit, in the UTF-16 units the name converts to.
    if (MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, NULL, 0) - 1 > 255)
        return std::string("Invalid product name: it is longer than 255 characters.");
    if (name.find('\\') != std::string::npos || name.find('"') != std::string::npos)
        return Cut("Invalid product name '" + name + "': it holds a backslash or a double quote.");
    return std::nullopt;
}

// The root whose entry `name` opens with full rights: HKLM first, then HKCU;
// -1 for none.
int FoundRoot(const Machine& m, const std::string& name) {
    std::string key = Lower(name);
    if (!m.nonAdmin && m.entries[0].count(key)) return 0;
    if (m.entries[1].count(key)) return 1;
    return -1;
}

bool HasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (fz::Setup("cmdline"), true);
    (void)ready;
    uint8_t flags = size > 0 ? data[0] : 0;
    std::vector<std::string> args = {Box.self};
    if (size > 1) {
        std::string rest((const char*)data + 1, size - 1);
        size_t start = 0;
        for (;;) {
            size_t nul = rest.find('\0', start);
            args.push_back(rest.substr(start, nul == std::string::npos ? nul : nul - start));
            if (nul == std::string::npos) break;
            start = nul + 1;
        }
    }
    if (args.size() > 16) return -1;  // every command has at most 4; not worth the corpus
    // A silent run waits for the copy it starts; the suite drives those.
    for (size_t i = 1; i < args.size() && i < 3; i++)
        if (args[i] == "-s") return -1;

    // The machine before the run, and the model's copy of it.
    Machine model;
    Values demo = Entry(DemoDisplay, Quoted(Box.self) + " -u " + Quoted("demo"), Box.install);
    for (int root = 0; root < 2; root++)
        if (flags & (1 << root)) model.entries[root]["demo"] = demo;
    model.nonAdmin = flags & 4;
    fz::PutBackAtEnd putBack;
    fz::NewMachine(flags & 1, flags & 2, demo, model.nonAdmin);
    fz::PutFile(Box.temp.substr(Box.root.size() + 1) + "zarnouns", NULL);

    std::string about = "command line:";
    for (size_t i = 1; i < args.size(); i++) about += " " + Show(args[i]);
    fz::Outcome run = fz::Run(std::vector<std::string>(args.begin() + 1, args.end()), about);
    const std::string& trace = run.trace;
    const std::string& context = run.context;
    if (SelfPath != Box.self || SelfDir != Box.install || strcmp(SelfName, "zarnouns") != 0)
        Fail("the executable was located wrongly", std::string(SelfPath) + "\n" + context);

    // The model: the test switch, then the command table.
    std::vector<std::string> rest = args;
    bool test = rest.size() > 1 && rest[1] == "-t";
    if (test) rest.erase(rest.begin() + 1);
    if (TestMode != (test ? 1 : 0)) Fail("TestMode is " + std::to_string(TestMode), context);
    char command = 'a';
    if (rest.size() == 3 && rest[1] == "-u") command = 'u';
    if (rest.size() == 3 && rest[1] == "-d") command = 'd';
    if (rest.size() == 4 && rest[1] == "-r") command = 'r';

    std::vector<std::pair<unsigned, std::string>> boxes;
    std::vector<fz::StartAttempt> starts;
    bool removesInstall = false, copiesSelf = false;
    std::string copyFolder;
    std::string name = command == 'a' ? "" : rest[2];
    std::optional<std::string> problem = command == 'a' ? std::nullopt : NameProblem(name);
    if (command == 'a') {
        boxes.push_back({MB_OK, About});
    } else if (problem) {
        boxes.push_back({MB_OK, *problem});
    } else if (command == 'r') {
        const std::string& display = rest[3];
        std::string uninstall = Quoted(Box.self) + " -u " + Quoted(name);
        std::string quiet = Quoted(Box.self) + " -s -u " + Quoted(name);
        if (display.size() >= TextSize) {
            boxes.push_back({MB_OK, "Invalid display name: it is longer than 1023 characters."});
        } else if (quiet.size() >= TextSize) {
            boxes.push_back(
                {MB_OK, "Cannot register: the uninstall command is longer than 1023 characters."});
        } else if (HasControl(name)) {
            boxes.push_back({MB_OK, Permission});  // no key of that name under either root
        } else {
            Values entry = Entry(display, uninstall, Box.install);
            entry["QuietUninstallString"] = {REG_SZ, quiet};
            // "demo" names the same folder: under another name, it is
            // another program's.
            AddDetails(entry, Box.install, (flags & 3) && Lower(name) != "demo");
            model.entries[model.nonAdmin ? 1 : 0][Lower(name)] = entry;
        }
    } else {
        int root = FoundRoot(model, name);
        // Only under HKLM, and this user may not change it: -u asks for
        // consent (the elevated start is refused here), -d does not.
        bool closed = root < 0 && model.nonAdmin && model.entries[0].count(Lower(name));
        if (closed) {
            if (command == 'u') {
                std::string again = Quoted(Box.self) + (test ? " -t" : "") + " -u " + Quoted(name);
                boxes.push_back({fz::Prompt, again});
                starts.push_back({again, ""});
            }
            boxes.push_back({MB_OK, "Uninstalling '" + name + "' needs administrator rights."});
        } else if (root < 0) {
            boxes.push_back({MB_OK, Cut("'" + name + "' not installed!")});
        } else {
            if (command == 'u') {
                // A folder of its own, which the failed start leaves behind empty.
                copyFolder = Box.temp + "zarnouns-" + std::to_string(getpid()) + "-0";
                starts.push_back({Quoted(copyFolder + "/zarnouns") + " -d " + Quoted(name), copyFolder});
                copiesSelf = true;
                if (trace.find("Cannot execute the uninstaller in temporary directory.\n") ==
                    std::string::npos)
                    Fail("no trace of the failed start", context);
            }
            boxes.push_back({MB_YESNOCANCEL, "Are you sure to uninstall '" +
                                                 std::string(DemoDisplay) +
                                                 "'?\nAll files will be removed.\n\n"
                                                 "(Please close all running sessions)"});
            if (test) {
                boxes.push_back(
                    {MB_OK, "Cannot completely remove files. You must manually delete:\n'" +
                                Box.install + "'."});
            } else {
                boxes.push_back(
                    {MB_OK, "Successfully uninstalled '" + std::string(DemoDisplay) + "'."});
                model.entries[root].erase(Lower(name));
                removesInstall = true;
            }
            if (trace.find("delete: " + name + " (" + Box.install + ")\n") == std::string::npos)
                Fail("no trace line of the deletion", context);
        }
    }

    fz::ExpectBoxes(boxes);

    bool sameStarts = fz::Starts.size() == starts.size();
    for (size_t i = 0; sameStarts && i < starts.size(); i++)
        sameStarts = fz::Starts[i].commandLine == starts[i].commandLine &&
                     fz::Starts[i].directory == starts[i].directory;
    if (!sameStarts) {
        std::string shown;
        for (const auto& s : fz::Starts)
            shown += "  " + Show(s.commandLine) + " in " + s.directory + "\n";
        Fail("unexpected process starts", shown + context);
    }
    if (copiesSelf && access(copyFolder.c_str(), F_OK) == 0)
        Fail("the copy's folder outlived the failed start", context);

    // Files: only a confirmed uninstall outside test mode removes anything,
    // and then exactly the installation folder and what it holds.
    const fz::Entries& removed = run.removed;
    fz::Entries expected;
    if (removesInstall)
        expected = run.install;
    if (removed != expected)
        Fail("unexpected removals",
             "removed:\n" + fz::Listing(removed) + "expected:\n" + fz::Listing(expected) + context);

    // Registry: every entry the model knows of, under both roots, exactly.
    std::vector<std::string> names = {"demo"};
    if (command != 'a' && !problem && !HasControl(name)) names.push_back(Lower(name));
    for (int root = 0; root < 2; root++)
        for (const std::string& n : names) {
            auto it = model.entries[root].find(n);
            fz::ExpectKey(
                RootKey(root), fz::EntryPrefix + n,
                it == model.entries[root].end() ? std::nullopt : std::optional<Values>(it->second));
        }
    return 0;
}
