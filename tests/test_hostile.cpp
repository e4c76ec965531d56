// Bad input through the real command line and the registry: what the user
// sees, and that nothing is written that should not be.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>

#include "harness.h"

using namespace zt;

class Hostile : public Installed {};

static std::string Repeat(const std::string& text, size_t count) {
    std::string out;
    while (count-- > 0) out += text;
    return out;
}

TEST_F(Hostile, NamesOfEveryLengthAndShape) {
    const std::string tooLong = "Invalid product name: it is longer than 255 characters.";
    const struct {
        std::string name;
        std::string box;  // empty: registered without a box
    } cases[] = {
        {std::string(200, 'n'), ""},
        {std::string(971, 'n'), tooLong},
        {std::string(972, 'n'), tooLong},
        {std::string(1018, 'n'), tooLong},
        {std::string(1019, 'n'), tooLong},
        {std::string(5000, 'n'), tooLong},
        {"star*and?query", ""},
        {"café üß", ""},
        // The limit counts UTF-16 units, not bytes: 200 Greek letters fit (as
        // the 200 letters above do), 128 characters beyond U+FFFF (two units
        // each) do not.
        {Repeat("Ω", 200), ""},
        {Repeat("𝄞", 128), tooLong},
        {"back\\slash", "Invalid product name 'back\\slash': it holds a backslash or a double quote."},
        {"\"quoted\"", "Invalid product name '\"quoted\"': it holds a backslash or a double quote."},
    };
    for (const auto& c : cases) {
        std::string name = c.name.size() == 200 ? product + std::string(200 - product.size(), 'n') : c.name;
        if (c.box.empty()) {
            Result r = RunApp(exe, {"-r", name, "Demo"});
            EXPECT_TRUE(r.boxes.empty()) << name;
            Result d = RunApp(exe, {"-d", name}, {Cancel});
            EXPECT_EQ(d.exitCode, 1);
            ASSERT_EQ(d.boxes.size(), 1u);
            EXPECT_EQ(d.boxes[0].buttons, "Yes No Cancel");
        } else {
            for (const char* option : {"-r", "-u", "-d"}) {
                std::vector<std::string> args = {option, name};
                if (std::string(option) == "-r") args.push_back("Demo");
                Result r = RunApp(exe, args, {Ok});
                EXPECT_FALSE(r.timedOut);
                ASSERT_EQ(r.boxes.size(), 1u) << option << " " << name.size();
                EXPECT_EQ(r.boxes[0].text, c.box);
                EXPECT_EQ(r.out, "");
            }
        }
        if (c.box.empty()) {
            ExpectString(HKEY_LOCAL_MACHINE, EntryKey(name), "DisplayName", "Demo");
            DeleteKeyTree(HKEY_LOCAL_MACHINE, EntryKey(name));
        } else if (name.size() <= 255) {
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(name)));
        }
    }
}

TEST_F(Hostile, DisplayNamesUpToTheBufferAndBeyond) {
    for (size_t n : {0u, 971u, 1018u, 1023u}) {
        std::string display(n, 'd');
        Result r = RunApp(exe, {"-r", product, display});
        EXPECT_TRUE(r.boxes.empty()) << n;
        ExpectString(HKEY_LOCAL_MACHINE, EntryKey(product), "DisplayName", display);
        // The confirmation is bounded to its buffer, and still names the product.
        Result d = RunApp(exe, {"-d", product}, {No});
        ASSERT_EQ(d.boxes.size(), 1u);
        EXPECT_EQ(d.boxes[0].text.rfind("Are you sure to uninstall '" + display.substr(0, 900), 0), 0u);
        EXPECT_LE(d.boxes[0].text.size(), 1023u);
    }
    Result r = RunApp(exe, {"-r", product + "x", std::string(5000, 'd')}, {Ok});
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Invalid display name: it is longer than 1023 characters.");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product + "x")));
}

TEST_F(Hostile, EntryValuesOfOtherTypesAndSizes) {
    std::string key = EntryKey(product);
    const struct {
        DWORD type;
        std::string bytes;
        std::string shown;
    } cases[] = {
        {REG_BINARY, "Bin", "Bin"},
        {REG_DWORD, std::string("\x41\x42\0\0", 4), "AB"},
        // None to show: the key name stands for it.
        {REG_SZ, "", product},
        {REG_SZ, std::string(1024, 'x'), product},
        {REG_SZ, std::string(1025, 'x'), product},
    };
    for (const auto& c : cases) {
        WriteValue(HKEY_LOCAL_MACHINE, key, "DisplayName", c.type, c.bytes);
        Result r = RunApp(exe, {"-d", product}, {No});
        EXPECT_EQ(r.exitCode, 0);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text, "Are you sure to uninstall '" + c.shown +
                                       "'?\nAll files will be removed.\n\n(Please close all running sessions)");
    }
}

// ---- removal scripts and deep trees through the real uninstall ----
//
// Each case registers the installation with "-r" from its installed copy in
// "Tools", then runs "-d" from a second copy in "Runner", as the copy in the
// temporary directory does, so that the installation folder holds no running
// program and can go whole on every platform. Around the installation lie
// canaries: folders and files next to it and in its parent, a folder next to
// the sandbox, a file on the desktop where the shell has one, and another
// product's entries under both roots; after every case they must be as they
// were.

namespace {

namespace fs = std::filesystem;

const std::string Sep(1, PATH_SEP);

// What a tree holds: each path below the root (separators as '/'), "dir" for
// a folder, the size and a hash of the bytes for a file.
using Listing = std::map<std::string, std::string>;

std::string Fingerprint(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return std::to_string(bytes.size()) + " bytes, hash " + std::to_string(hash);
}

// `skip` leaves out an entry (and all below it), given its relative path and
// whether it is a folder.
using Skip = std::function<bool(const std::string& rel, bool folder)>;

Listing ListTree(const std::string& root, const Skip& skip = nullptr) {
    Listing listing;
    std::error_code ec;
    if (!fs::exists(root, ec)) return listing;
    fs::recursive_directory_iterator it(root, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::string rel = fs::relative(it->path(), root).generic_string();
        bool folder = it->is_directory() && !it->is_symlink();
        if (skip && skip(rel, folder)) {
            if (folder) it.disable_recursion_pending();
            continue;
        }
        listing[rel] = it->is_symlink() ? "link" : it->is_directory() ? "dir" : Fingerprint(it->path());
    }
    EXPECT_FALSE(ec) << root << ": " << ec.message();
    return listing;
}

// In the sandbox: everything but the installation folder and the stand-in's
// own bookkeeping files (registry, box answers and log, the mutexes' lock
// files) that every run rewrites.
bool InstallationOrBookkeeping(const std::string& rel, bool folder) {
    if (rel == "Tools" || rel == "machine/temp" || rel.rfind("machine/mutex", 0) == 0) return true;
    return !folder && rel.rfind("machine/", 0) == 0 && rel.find('/', 8) == std::string::npos;
}

// The names directly in a folder, sorted.
std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().string());
    return names;
}

// Runs of more than 20 equal characters written as "<x*count>", so that a
// failure over long padded lines and paths stays readable; the counts keep
// the comparison exact.
std::string Short(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t j = i;
        while (j < text.size() && text[j] == text[i]) j++;
        if (j - i > 20)
            out += "<" + (text[i] == '\0' ? std::string("NUL") : std::string(1, text[i])) + "*" +
                   std::to_string(j - i) + ">";
        else
            out.append(text, i, j - i);
        i = j;
    }
    return out;
}

const char* const Display = "Demo Plug-in";

std::string Confirmation() {
    return std::string("Are you sure to uninstall '") + Display +
           "'?\nAll files will be removed.\n\n(Please close all running sessions)";
}

}  // namespace

class HostileUninstall : public Installed {
  protected:
    void SetUp() override {
        Installed::SetUp();
        runner = Install("Runner");
        for (const char* rel : {"Canary/harbo.dll", "Canary/other.dll", "Canary/h", "Canary/l",
                                "Canary/zarnouns.ini", "Canary/sub/deep.txt", "Tools2/harbo.dll",
                                "Tools2/zarnouns.ini", "harbo.dll", "other.dll", "zarnouns.ini"})
            WriteFile(rel, std::string("canary ") + rel + "\n");
        MakeDir("Canary/empty");
        // Next to the sandbox, in the folder that holds the sandboxes.
        outside = sandbox + "-outside";
        fs::create_directories(outside + Sep + "keep");
        std::ofstream(outside + Sep + "harbo.dll", std::ios::binary) << "outside";
        std::ofstream(outside + Sep + "keep" + Sep + "notes.txt", std::ios::binary) << "notes";
        // The stand-in's shell has a desktop once its folder exists in the
        // emulated machine, which lies in the sandbox's folder "machine".
        if (!RealShell()) MakeDir("machine/c/Users/user/Desktop");
        char desktop[MAX_PATH] = "";
        if (SHGetSpecialFolderPathA(NULL, desktop, CSIDL_DESKTOPDIRECTORY, FALSE) && desktop[0]) {
            desktopCanary = std::string(desktop) + Sep + product + ".txt";
            std::ofstream(desktopCanary, std::ios::binary) << "desktop canary";
        }
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            WriteValue(root, EntryKey(CanaryProduct()), "DisplayName", REG_SZ, "Canary");
            WriteValue(root, EntryKey(CanaryProduct()), "InstallLocation", REG_SZ,
                       Path("Canary") + Sep);
        }
        canaries = Canaries();
        ASSERT_TRUE(canaries.count("sandbox: Canary/sub/deep.txt")) << "canaries not laid";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(outside, ec);
        if (!desktopCanary.empty()) fs::remove(desktopCanary, ec);
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            DeleteKeyTree(root, EntryKey(CanaryProduct()));
        Installed::TearDown();
    }

    std::string CanaryProduct() const { return product + "-canary"; }

    // Everything a case must leave alone, in one listing.
    Listing Canaries() const {
        Listing all;
        for (const auto& [rel, what] : ListTree(sandbox, InstallationOrBookkeeping))
            all["sandbox: " + rel] = what;
        for (const auto& [rel, what] : ListTree(outside)) all["outside: " + rel] = what;
        if (!desktopCanary.empty())
            all["desktop: " + product + ".txt"] =
                fs::exists(desktopCanary) ? Fingerprint(desktopCanary) : "missing";
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            std::string where = root == HKEY_LOCAL_MACHINE ? "HKLM: " : "HKCU: ";
            for (const char* name : {"DisplayName", "InstallLocation"}) {
                DWORD type = 0;
                std::string bytes;
                bool read = ReadValue(root, EntryKey(CanaryProduct()), name, &type, &bytes);
                all[where + name] = read ? std::to_string(type) + " " + bytes : "missing";
            }
        }
        return all;
    }
    // Reports each canary that went, came or changed.
    void ExpectCanariesIntact(const std::string& label) const {
        Listing now = Canaries();
        std::string changes;
        for (const auto& [what, was] : canaries) {
            auto it = now.find(what);
            if (it == now.end())
                changes += "  gone: " + what + "\n";
            else if (it->second != was)
                changes += "  changed: " + what + " (" + was + " -> " + it->second + ")\n";
        }
        for (const auto& [what, is] : now)
            if (!canaries.count(what)) changes += "  new: " + what + "\n";
        EXPECT_EQ(changes, "") << "outside the installation, after " << label;
    }

    // A fresh installation folder holding the program, the given removal
    // script (none when empty) and the files the scripts name, registered.
    void Reinstall(const std::string& script) {
        std::error_code ec;
        fs::remove_all(Path("Tools"), ec);
        ASSERT_EQ(Install("Tools"), exe);
        for (const char* name : {"harbo.dll", "other.dll", "h", "l", "c"})
            WriteFile(std::string("Tools/") + name, name);
        if (!script.empty()) WriteFile("Tools/zarnouns.ini", script);
        Result r = RunApp(exe, {"-r", product, Display});
        ASSERT_FALSE(r.timedOut);
        ASSERT_EQ(r.exitCode, 0);
        ASSERT_TRUE(r.boxes.empty()) << r.boxes[0].text;
        ExpectString(HKEY_LOCAL_MACHINE, EntryKey(product), "InstallLocation", dir);
    }
    // The uninstall as the user runs it: Yes to the question, OK to the
    // outcome; started in a canary folder, so that a relative path would
    // land among canaries.
    Result Uninstall() { return RunApp(runner, {"-d", product}, {Yes, Ok}, Path("Canary")); }

    std::string Head(bool script) const {
        std::string ini = dir + "zarnouns.ini";
        return "delete: " + product + " (" + dir + ")\nchecking ini file: " + ini + "!\n" +
               (script ? "found '" + ini + "', using INI Mode:\n"
                       : "cannot open ini file: " + ini + "!\n");
    }
    std::string Deleting(const std::string& name) const {
        return "deleting file: '" + dir + name + "'\n";
    }
    std::string LastSection() const {
        return "Found last section: [*], closing INI file.\ndelete(tree) all files!\n-> " + dir + "\n";
    }

    // A confirmed uninstall that told success: the whole trace, and either
    // the installation folder gone or exactly `deleted` gone from it; the
    // entry deleted and the canaries intact.
    // `more` follows the success text.
    void ExpectSucceeded(const Result& r, const std::string& trace, bool treeRemoved,
                         const std::set<std::string>& deleted, const std::string& label,
                         const std::string& more = "") const {
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0);
        ExpectBoxes(r, {{Confirmation(), "Yes No Cancel"},
                        {std::string("Successfully uninstalled '") + Display + "'." + more, "OK"}});
        EXPECT_EQ(Short(r.out), Short(trace));
        if (treeRemoved) {
            EXPECT_FALSE(Exists("Tools"));
        } else {
            std::set<std::string> left = {AppFileName(), "zarnouns.ini", "harbo.dll", "other.dll",
                                          "h", "l", "c"};
            for (const auto& name : deleted) left.erase(name);
            EXPECT_EQ(Names(Path("Tools")), left);
        }
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
        ExpectCanariesIntact(label);
    }

    // Whom the uninstall trusts with its removal script: the rows whose
    // installation lies in a folder that every user may change (`open`) or
    // in one that only administrators and its user may. The script as
    // registered deletes harbo.dll; the one an adversary puts in its place
    // also names a canary outside. Not followed, nothing it names is
    // touched: the tree goes instead, and the box says why.
    void ExpectScriptTrust(bool open) {
        enum Script { Registered, Rewritten, Planted };
        const struct {
            const char* label;
            bool open;
            Script script;
            bool hashless;    // an older registration: no RemovalScriptHash
            bool perUser;     // the entry under HKCU
            bool elevated;    // the run's rights (the stand-in's switch)
            bool system;      // the run is SYSTEM's
            const char* not_followed;  // the reason, or none: followed
        } rows[] = {
            {"rewritten", true, Rewritten, false, false, true, false, "changed since registration"},
            {"planted", true, Planted, false, false, true, false, "not there at registration"},
            {"as registered", true, Registered, false, false, true, false, nullptr},
            {"older entry", true, Registered, true, false, true, false, "writable by others"},
            // A per-user entry vouches only for its own user's runs.
            {"per-user, elevated", true, Registered, false, true, true, false, "writable by others"},
            {"per-user, as its user", true, Rewritten, false, true, false, false,
             "changed since registration"},
            {"per-user, older, as its user", true, Registered, true, true, false, false, nullptr},
            {"per-user, older, as SYSTEM", true, Registered, true, true, false, true,
             "writable by others"},
            {"older entry, administrators only", false, Registered, true, false, true, false, nullptr},
            {"per-user, elevated, administrators only", false, Registered, false, true, true, false,
             nullptr},
            {"rewritten, administrators only", false, Rewritten, false, false, true, false,
             "changed since registration"},
        };
        const std::string registered = "harbo.dll\n";
        const std::string adversary = "other.dll\n.." + Sep + "Canary" + Sep + "harbo.dll\n";
        const std::string key = EntryKey(product), ini = dir + "zarnouns.ini";
        for (const auto& row : rows) {
            if (row.open != open || (!row.elevated && !CanRefuseMachineRights())) continue;
            SCOPED_TRACE(row.label);
            Reinstall(row.script == Planted ? "" : registered);
            if (row.script != Registered) WriteFile("Tools/zarnouns.ini", adversary);
            HKEY entry;
            if (row.hashless && RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS,
                                              &entry) == ERROR_SUCCESS) {
                EXPECT_EQ(RegDeleteValueA(entry, "RemovalScriptHash"), ERROR_SUCCESS);
                RegCloseKey(entry);
            }
            if (row.perUser) {
                for (const std::string& name : ValueNames(HKEY_LOCAL_MACHINE, key)) {
                    DWORD type = 0;
                    std::string bytes;
                    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, key, name, &type, &bytes));
                    WriteValue(HKEY_CURRENT_USER, key, name, type, bytes);
                }
                DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
            }
            SetNonAdmin(!row.elevated);
            SetLocalSystem(row.system);
            Result r = Uninstall();
            SetNonAdmin(false);
            SetLocalSystem(false);
            if (row.not_followed == nullptr) {
                ExpectSucceeded(r, Head(true) + Deleting("harbo.dll"), false, {"harbo.dll"},
                                row.label);
            } else {
                const std::map<std::string, std::string> why = {
                    {"changed since registration", "it was changed after the plug-in was registered"},
                    {"not there at registration", "it was not there when the plug-in was registered"},
                    {"writable by others",
                     "users other than administrators may change it or a folder above it"}};
                ExpectSucceeded(r,
                                "delete: " + product + " (" + dir + ")\nchecking ini file: " + ini +
                                    "!\nremoval script not followed: " + row.not_followed + "\n-> " +
                                    dir + "\n",
                                true, {}, row.label,
                                "\n\nThe removal script was not followed because " +
                                    why.at(row.not_followed) +
                                    "; the shortcuts and other items it names outside the "
                                    "installation folder were not removed.");
            }
            EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));
        }
    }

    std::string runner;         // the copy that runs "-d"
    std::string outside;        // a folder next to the sandbox
    std::string desktopCanary;  // a file on the shell's desktop, where there is one
    Listing canaries;
};

class OpenHostileUninstall : public HostileUninstall {
  protected:
    OpenHostileUninstall() { openToAll = true; }
};

TEST_F(OpenHostileUninstall, RemovalScriptInAFolderEveryUserMayChange) { ExpectScriptTrust(true); }

TEST_F(HostileUninstall, RemovalScriptInAFolderOnlyAdministratorsMayChange) {
    ExpectScriptTrust(false);
}

// Lines that hold NUL bytes, that lack the final line feed, that end in
// CR LF, and that are 1022, 1023 and 1024 characters long. A line counts by
// its bytes as read, NULs and padding included: up to 1023 it is acted on,
// a longer one is passed over whole with one trace.
TEST_F(HostileUninstall, RemovalScriptLinesOfEveryShape) {
    const std::string nul(1, '\0');
    const std::string over = "skipped over-long line\n";
    const std::string foo = "*change category to: foo\nUnknown category: foo\n";
    struct Case {
        std::string label;
        std::string script;
        std::string trace;                 // after the head
        std::set<std::string> deleted;     // of the standard files
        bool treeRemoved;
    };
    std::vector<Case> cases = {
        // What follows a NUL is not part of the line; the lines after it act.
        {"nul cuts the line", "harbo.dll" + nul + "other.dll\nh" + nul + "arbo.dll\n" + nul +
                                  "l\n   " + nul + "c\n",
         Deleting("harbo.dll") + Deleting("h"), {"harbo.dll", "h"}, false},
        {"nul in comments, trailing blanks and sections",
         "; x" + nul + "\nother.dll   " + nul + " junk\r\n[foo" + nul + "]\nharbo.dll\n",
         Deleting("other.dll") + foo, {"other.dll"}, false},
        {"nul-only line, then a last section cut by a nul",
         nul + nul + nul + "\n[*" + nul + "junk\nharbo.dll\n", LastSection(), {}, true},
        {"1023 bytes with a nul", "harbo.dll" + nul + std::string(1013, 'x') + "\nother.dll\n",
         Deleting("harbo.dll") + Deleting("other.dll"), {"harbo.dll", "other.dll"}, false},
        {"1024 bytes with a nul", "harbo.dll" + nul + std::string(1014, 'x') + "\nother.dll\n",
         over + Deleting("other.dll"), {"other.dll"}, false},
        // The last line acts without its line feed.
        {"no final line feed", "other.dll\nharbo.dll", Deleting("other.dll") + Deleting("harbo.dll"),
         {"other.dll", "harbo.dll"}, false},
        {"last section without line feed", "harbo.dll\n[*]", Deleting("harbo.dll") + LastSection(),
         {"harbo.dll"}, true},
        {"nul and no final line feed", "other.dll\r\nh" + nul,
         Deleting("other.dll") + Deleting("h"), {"other.dll", "h"}, false},
        // CR LF: no carriage return reaches a path or a section name.
        {"crlf", "harbo.dll\r\n\r\n[foo]\r\nother.dll\r\n[*]\r\n",
         Deleting("harbo.dll") + foo + LastSection(), {"harbo.dll"}, true},
    };
    // One script per length and line end, each line of that length: a
    // file line padded in front, one padded behind, a comment, an unknown
    // section, a short file line, and a last section padded in front. Were a
    // 1024-character line read as two, its second piece would be a file line
    // "l" or "c", and its first piece would delete "harbo.dll" or end the
    // script at "[*".
    for (size_t n : {1022u, 1023u, 1024u}) {
        for (std::string end : {"\n", "\r\n", ""}) {
            std::string eol = end.empty() ? "\n" : end;
            std::string section(n - 2, 'a');
            std::string script = std::string(n - 9, ' ') + "harbo.dll" + eol + "other.dll" +
                                 std::string(n - 9, '\t') + eol + "#" + std::string(n - 2, 'c') +
                                 "c" + eol + "[" + section + "]" + eol + "h" + eol +
                                 std::string(n - 3, ' ') + "[*]" + end;
            std::string label = std::to_string(n) + " characters, ending " +
                                (end == "\n" ? "LF" : end == "\r\n" ? "CR LF" : "LF, none at the end");
            if (n <= 1023)
                cases.push_back({label, script,
                                 Deleting("harbo.dll") + Deleting("other.dll") +
                                     "*change category to: " + section + "\nUnknown category: " +
                                     section + "\n" + LastSection(),
                                 {"harbo.dll", "other.dll"}, true});
            else
                cases.push_back({label, script, over + over + over + over + Deleting("h") + over,
                                 {"h"}, false});
        }
    }

    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Reinstall(c.script);
        Result r = Uninstall();
        ExpectSucceeded(r, Head(true) + c.trace, c.treeRemoved, c.deleted, c.label);
    }
}

// A tree deeper than the 1024-byte text buffers, through the real uninstall,
// with no script and with a script's last section, goes whole. At the
// deepest level, entries are placed whose paths are 1022, 1023 and 1024
// characters long, with and without the separator a folder gets.
TEST_F(HostileUninstall, TreeDeeperThanThePathBuffersGoesWhole) {
    for (bool script : {false, true}) {
        SCOPED_TRACE(script ? "last section" : "no script");
        Reinstall(script ? "[*]\n" : "");
        const std::string name(200, 'n');
        std::vector<std::string> levels = {dir};  // each ends in the separator
        while (levels.back().size() + name.size() + 1 <= 1000)
            levels.push_back(levels.back() + name + Sep);
        std::string deep = levels.back();  // room left for one name of 24 to 223 characters
        size_t room = 1023 - deep.size();
        ASSERT_GT(room, 15u);
        ASSERT_LT(room, 255u);
        std::error_code ec;
        fs::create_directories(deep, ec);
        if (ec) GTEST_SKIP() << "cannot create a deep tree: " << ec.message();
        DWORD attributes = GetFileAttributesA(deep.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            GTEST_SKIP() << "the ANSI calls cannot reach a path this long here";
        for (size_t i = 1; i < levels.size(); i++)
            std::ofstream(levels[i] + "x.txt", std::ios::binary) << "x";
        const std::string fits = deep + std::string(room, 'a');             // a file, 1023
        const std::string tooLong = deep + std::string(room + 1, 'b');      // a file, 1024
        const std::string emptyDir = deep + std::string(room - 1, 'c');     // 1022, 1023 with separator
        const std::string fullDir = deep + std::string(room - 1, 'd');      // same, holding "f"
        const std::string noRoomDir = deep + std::string(room, 'e');        // 1023, 1024 with separator
        std::ofstream(fits, std::ios::binary) << "a";
        std::ofstream(tooLong, std::ios::binary) << "b";
        fs::create_directory(emptyDir);
        fs::create_directory(fullDir);
        std::ofstream(fullDir + Sep + "f", std::ios::binary) << "f";
        fs::create_directory(noRoomDir);
        ASSERT_EQ(fits.size(), 1023u);
        ASSERT_TRUE(fs::exists(fullDir + Sep + "f"));

        Result r = Uninstall();
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0);
        ExpectBoxes(r, {{Confirmation(), "Yes No Cancel"},
                        {std::string("Successfully uninstalled '") + Display + "'.", "OK"}});
        std::string head = Head(script) + (script ? std::string(
                                                        "Found last section: [*], closing INI "
                                                        "file.\ndelete(tree) all files!\n")
                                                  : std::string());
        ASSERT_EQ(Short(r.out.substr(0, head.size())), Short(head));
        // Below the head, the walk in the platform's order of siblings.
        std::string walk;
        for (const auto& level : levels) walk += "-> " + level + "\n";
        for (const std::string& full : {emptyDir, fullDir, noRoomDir}) walk += "-> " + full + Sep + "\n";
        std::vector<std::string> seen = SortedLines(r.out.substr(head.size()));
        std::vector<std::string> expected = SortedLines(walk);
        for (auto* lines : {&seen, &expected})
            for (auto& line : *lines) line = Short(line);
        EXPECT_EQ(seen, expected);

        EXPECT_FALSE(fs::exists(dir));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
        ExpectCanariesIntact(script ? "last section" : "no script");
    }
}

// A tree deeper than the walk takes is refused before anything changes.
TEST_F(HostileUninstall, TreeTooDeepForTheWalkChangesNothing) {
    Reinstall("");
    std::string deep = dir;
    for (int i = 0; i <= MaxWalkDepth; i++) {
        deep += "a" + Sep;
        ASSERT_TRUE(fs::create_directory(deep)) << i;
    }
    std::ofstream(deep + "f", std::ios::binary) << "f";
    Result r = Uninstall();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    // The box holds 1,023 bytes; the trace gives the path whole.
    std::string refusal = std::string("Cannot uninstall '") + Display + "': the folder\n'" +
                          deep.substr(0, 1023) + "'\nis nested too deeply to be removed.";
    ExpectBoxes(r, {{Confirmation(), "Yes No Cancel"}, {refusal.substr(0, 1023), "OK"}});
    EXPECT_EQ(r.out, "too deep to walk: " + deep + "\n");
    EXPECT_TRUE(fs::exists(deep + "f"));
    EXPECT_TRUE(fs::exists(dir + "harbo.dll"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
}

// What an over-long line's tail or a NUL's remainder would do if it were
// read as a line of its own: switch to the desktop and delete the canary
// there. Carriage returns that do not end a line, a CR at the edge of the
// line buffer, an empty script, and a folder in the script's place.
TEST_F(HostileUninstall, RemovalScriptTailsCarriageReturnsAndNonScripts) {
    ASSERT_FALSE(desktopCanary.empty()) << "the shell has no desktop folder";
    const std::string nul(1, '\0');
    const std::string over = "skipped over-long line\n";
    const std::string victim = product + ".txt";  // the desktop canary's name
    const std::string desktopSection = "[CSIDL_DESKTOPDIRECTORY]";
    struct Case {
        std::string label;
        std::string script;  // the bytes of zarnouns.ini
        bool folder;         // a folder of that name instead of the file
        std::string trace;   // after "checking ini file"
        std::set<std::string> deleted;
        bool treeRemoved;
    };
    const std::string ini = dir + "zarnouns.ini";
    const std::string found = "found '" + ini + "', using INI Mode:\n";
    const Case cases[] = {
        {"over-long comment whose tail is a desktop section",
         "#" + std::string(1022, 'x') + desktopSection + "\n" + victim + "\n", false,
         found + over + Deleting(victim), {}, false},
        {"nul in a comment before a desktop section",
         "; note" + nul + desktopSection + "\n" + victim + "\n", false, found + Deleting(victim), {},
         false},
        {"nul-filled line of 3000 bytes", std::string(3000, '\0') + "\nharbo.dll\n", false,
         found + over + Deleting("harbo.dll"), {"harbo.dll"}, false},
        // A CR ends no line; at the end of a line it is white space.
        {"lone cr inside a line", "harbo.dll\rother.dll\nh\n", false,
         found + Deleting("harbo.dll\rother.dll") + Deleting("h"), {"h"}, false},
        {"cr cr lf", "harbo.dll\r\r\nh\n", false, found + Deleting("harbo.dll") + Deleting("h"),
         {"harbo.dll", "h"}, false},
        {"1023 characters, then a cr that ends nothing",
         std::string(1014, ' ') + "harbo.dll\rX\nh\n", false, found + over + Deleting("h"), {"h"},
         false},
        {"1023 characters and a cr at the end of the file", std::string(1014, ' ') + "harbo.dll\r",
         false, found + Deleting("harbo.dll"), {"harbo.dll"}, false},
        // Read in text mode: a CR LF reads as LF, and a Ctrl-Z ends the file.
        {"1023 characters, then cr cr lf", std::string(1014, ' ') + "harbo.dll\r\r\nh\n", false,
         found + Deleting("harbo.dll") + Deleting("h"), {"harbo.dll", "h"}, false},
        {"ctrl-z on a line of its own", "harbo.dll\n\x1a\nother.dll\n", false,
         found + Deleting("harbo.dll"), {"harbo.dll"}, false},
        {"ctrl-z inside a line", "harbo.dll\x1aother.dll\nh\n", false, found + Deleting("harbo.dll"),
         {"harbo.dll"}, false},
        {"empty script", "", false, found, {}, false},
        // Not a script: the whole tree goes, the folder with it.
        {"folder named like the script", "", true,
         "cannot open ini file: " + ini + "!\n-> " + dir + "\n-> " + ini + Sep + "\n", {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Reinstall("");
        if (c.folder) {
            MakeDir("Tools/zarnouns.ini");
        } else {
            // Registered as it is, so that its bytes are followed.
            WriteFile("Tools/zarnouns.ini", c.script);
            ASSERT_EQ(RunApp(exe, {"-r", product, Display}).exitCode, 0);
        }
        Result r = Uninstall();
        ExpectSucceeded(r,
                        "delete: " + product + " (" + dir + ")\nchecking ini file: " + ini + "!\n" +
                            c.trace,
                        c.treeRemoved, c.deleted, c.label);
    }
}

// An installation folder whose own path nearly fills the buffers: with room
// for the script's name the script is followed; without it the script
// cannot be named, counts as missing, and the tree removal goes instead,
// which deletes everything, the script too.
// "-r" cannot register such a folder (its uninstall command is too long),
// so the entry is written directly.
TEST_F(HostileUninstall, InstallationFolderNearTheBuffer) {
    const std::string name(200, 'n');
    const struct {
        size_t length;  // of the folder's path, with its separator
        bool followed;
    } rows[] = {{1011, true}, {1012, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.length);
        std::error_code ec;
        fs::remove_all(Path("Tools"), ec);
        std::string location = dir;
        while (location.size() + name.size() + 1 < row.length - 20) location += name + Sep;
        location += std::string(row.length - location.size() - 1, 'm') + Sep;
        ASSERT_EQ(location.size(), row.length);
        fs::create_directories(location, ec);
        if (ec) GTEST_SKIP() << "cannot create a deep folder: " << ec.message();
        DWORD attributes = GetFileAttributesA(location.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            GTEST_SKIP() << "the ANSI calls cannot reach a path this long here";
        for (const char* file : {"harbo.dll", "other.dll"})
            std::ofstream(location + file, std::ios::binary) << file;
        std::ofstream(location + "zarnouns.ini", std::ios::binary) << "harbo.dll\n";
        WriteValue(HKEY_LOCAL_MACHINE, EntryKey(product), "DisplayName", REG_SZ, Display);
        WriteValue(HKEY_LOCAL_MACHINE, EntryKey(product), "InstallLocation", REG_SZ, location);

        Result r = Uninstall();
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0);
        std::string ini = location + "zarnouns.ini";
        std::string head = "delete: " + product + " (" + location + ")\n";
        if (row.followed) {
            ExpectBoxes(r, {{Confirmation(), "Yes No Cancel"},
                            {std::string("Successfully uninstalled '") + Display + "'.", "OK"}});
            EXPECT_EQ(Short(r.out), Short(head + "checking ini file: " + ini + "!\nfound '" + ini +
                                          "', using INI Mode:\ndeleting file: '" + location +
                                          "harbo.dll'\n"));
            EXPECT_EQ(Names(location), (std::set<std::string>{"other.dll", "zarnouns.ini"}));
        } else {
            // The script's path is past its buffer; the tree walk is not.
            ExpectBoxes(r, {{Confirmation(), "Yes No Cancel"},
                            {std::string("Successfully uninstalled '") + Display + "'.", "OK"}});
            EXPECT_EQ(Short(r.out), Short(head + "skipped, path too long: " + ini + "\n-> " +
                                          location + "\n"));
            EXPECT_FALSE(fs::exists(location));
        }
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
        ExpectCanariesIntact(std::to_string(row.length));
    }
}

// A script line that passes through a link (here to the canaries' folder,
// as a user may make a folder a script names a link to a system folder) is
// not followed, and says so; a line that names a link deletes the link,
// never what it leads to. Wine cannot delete a link as a link (its handle
// is the target; a link to a file even lists as a file): there it stays.
TEST_F(HostileUninstall, RemovalScriptLinesNeverPassThroughALink) {
    const std::string lnk = "lnk" + Sep;
    Reinstall(lnk + "harbo.dll\n" + lnk + "sub" + Sep + "deep.txt\n" + lnk + "sub\nlnk\nflink\n");
    if (!MakeHostLink(dir + "lnk", Path("Canary")) ||
        !MakeHostLink(dir + "flink", Path("Canary") + Sep + "other.dll"))
        GTEST_SKIP() << "no links can be made here";
    Result r = Uninstall();
    const std::string refused = "not following link: " + dir + "lnk\n";
    EXPECT_EQ(r.exitCode, 0);
    ExpectBoxes(r, {{Confirmation(), "Yes No Cancel"},
                    {std::string("Successfully uninstalled '") + Display + "'.", "OK"}});
    EXPECT_EQ(r.out, Head(true) + Deleting(lnk + "harbo.dll") + refused +
                         Deleting(lnk + "sub" + Sep + "deep.txt") + refused + Deleting(lnk + "sub") +
                         refused + Deleting("lnk") + Deleting("flink"));
    EXPECT_EQ(Exists("Tools/lnk"), RealShell());
    EXPECT_EQ(Exists("Tools/flink"), RealShell());
    ExpectCanariesIntact("links on the lines");
}

// A folder of the tree swapped for a link to a folder outside while the
// in-use box waits for Retry: the next walk finds the link and never enters
// it. Windows removes it as a link and the uninstall succeeds; Wine's
// handle on a link is its target, so there the link stays and the outcome
// says what is left.
TEST_F(HostileUninstall, AFolderMadeALinkWhileTheInUseBoxWaitsIsNeverEntered) {
    Reinstall("");
    WriteFile("Tools/sub/held.txt", "held");
    HoldFile(dir + "sub" + Sep + "held.txt", "Harbo IDE");
    bool swapped = false;
    Result r = RunApp(runner, {"-d", product}, {Yes, Free, Act, Retry, Ok}, Path("Canary"), nullptr, [&] {
        swapped = MoveFileExA((dir + "sub").c_str(), Path("Aside").c_str(), 0) &&
                  MakeHostLink(dir + "sub", outside + Sep + "keep");
    });
    ASSERT_TRUE(swapped) << "the folder could not be swapped for a link";
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_EQ(r.boxes.size(), 3u) << r.out;
    EXPECT_EQ(r.boxes[1].buttons, "Retry Cancel");
    EXPECT_EQ(r.boxes[2].text, RealShell() ? "Cannot completely remove files. You must manually delete:\n'" +
                                                 dir + "'."
                                           : std::string("Successfully uninstalled '") + Display + "'.");
    EXPECT_EQ(Exists("Tools"), RealShell()) << r.out;
    EXPECT_EQ(Exists("Tools/sub"), RealShell()) << r.out;
    EXPECT_TRUE(Exists("Aside/held.txt"));
    std::error_code ec;
    fs::remove_all(Path("Aside"), ec);
    ExpectCanariesIntact("a folder made a link at Retry");
}

// An adversary at every file-system call of a whole uninstall: before call
// N (for every N in turn), a folder of the tree is renamed aside and a link
// to a folder outside put in its place, or a file replaced by a link to a
// file outside. Nothing outside the tree changes, and as on Windows, where
// a link is removed as a link, the uninstall succeeds. The stand-in's
// adversary is a Windows process: a folder or file held without delete
// sharing cannot be renamed.
TEST_F(HostileUninstall, AnAdversaryAtEveryFileSystemCallReachesNothingOutside) {
    if (RealShell()) GTEST_SKIP() << "the adversary is the stand-in's";
    // This process reads the adversary's plan at its first file-system call,
    // which is long past: only the uninstalls below act on it.
    GetFileAttributesA(dir.c_str());
    const std::string plan = Path("machine/adversary"), aside = Path("Aside");
    const struct {
        const char* label;
        std::string moved, target;
    } attacks[] = {
        {"a folder made a link", dir + "sub", outside + Sep + "keep"},
        {"a file made a link", dir + "sub" + Sep + "f.txt", outside + Sep + "harbo.dll"},
    };
    const Listing before = ListTree(outside);
    for (const auto& attack : attacks) {
        long calls = 0;
        for (long n = 0; n == 0 || n <= calls; n++) {
            std::error_code ec;
            fs::remove_all(Path("Tools"), ec);
            WriteFile("Tools/sub/f.txt", "f");
            WriteFile("Tools/harbo.dll", "h");
            WriteValue(HKEY_LOCAL_MACHINE, EntryKey(product), "DisplayName", REG_SZ, Display);
            WriteValue(HKEY_LOCAL_MACHINE, EntryKey(product), "InstallLocation", REG_SZ, dir);
            std::ofstream(plan) << n << "\n" << attack.moved << "\n" << aside << "\n" << attack.target << "\n";
            Result r = Uninstall();
            std::string label = std::string(attack.label) + " before call " + std::to_string(n);
            EXPECT_FALSE(r.timedOut) << label;
            EXPECT_EQ(r.exitCode, 0) << label << "\n" << r.out;
            EXPECT_FALSE(Exists("Tools")) << label << "\n" << r.out;
            EXPECT_EQ(ListTree(outside), before) << label << "\n" << r.out;
            fs::remove_all(aside, ec);
            if (n == 0) std::ifstream(Path("machine/adversary.calls")) >> calls;
            ASSERT_GT(calls, 20) << "the stand-in counted no calls";
            if (HasFailure()) break;
        }
    }
    fs::remove(plan);
    ExpectCanariesIntact("the adversary's runs");
}
