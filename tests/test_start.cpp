// The program as a process: registration, the about box for every other
// command line, and locating its own executable.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "harness.h"

using namespace zt;

static const char About[] =
    "For more information about this utility, contact zarno's support.\n\r"
    "Copyright (C) zarno. All rights reserved.";

static void ExpectOneBox(const Result& r, const std::string& text, const char* buttons = "OK") {
    ExpectBoxes(r, {{text, buttons}});
}

// The local date as -r writes it.
static std::string Today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[16];
    snprintf(date, sizeof date, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return date;
}

static void ExpectNumber(HKEY root, const std::string& key, const std::string& name, DWORD n) {
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadValue(root, key, name, &type, &bytes)) << name;
    EXPECT_EQ(type, (DWORD)REG_DWORD) << name;
    EXPECT_EQ(bytes, std::string((const char*)&n, 4)) << name;
}

class Registration : public Installed {
  protected:
    void SetUp() override {
        Installed::SetUp();
        day = Today();
    }
    // The four values, and the details every registration gives: the
    // installation's size (the program and `bytes` more, in KiB rounded up),
    // the date, no Modify, no Repair. `more` names the plug-in's details
    // that must be there as well; nothing else may be.
    void ExpectEntry(HKEY root, const std::string& name, const std::string& display,
                     std::vector<std::string> more = {}, uintmax_t bytes = 0) {
        std::string key = EntryKey(name);
        ExpectString(root, key, "DisplayName", display);
        ExpectString(root, key, "UninstallString", "\"" + exe + "\" -u \"" + name + "\"");
        ExpectString(root, key, "QuietUninstallString", "\"" + exe + "\" -s -u \"" + name + "\"");
        ExpectString(root, key, "InstallLocation", dir);
        ExpectNumber(root, key, "EstimatedSize",
                     (DWORD)((std::filesystem::file_size(exe) + bytes + 1023) / 1024));
        ExpectNumber(root, key, "NoModify", 1);
        ExpectNumber(root, key, "NoRepair", 1);
        // No removal script: the entry says so (RecordsTheRemovalScriptAsItIs).
        ExpectNumber(root, key, "NoRemovalScript", 1);
        // Either end of the run, should it cross midnight.
        std::string date = Today();
        if (date != day) {
            std::string bytes;
            ReadValue(root, key, "InstallDate", nullptr, &bytes);
            if (bytes.compare(0, 8, day) == 0) date = day;
        }
        ExpectString(root, key, "InstallDate", date);
        // Platforms list values in their own order.
        std::vector<std::string> names = ValueNames(root, key), expected = {
            "DisplayName", "InstallLocation", "QuietUninstallString", "UninstallString",
            "EstimatedSize", "InstallDate", "NoModify", "NoRepair", "NoRemovalScript"};
        expected.insert(expected.end(), more.begin(), more.end());
        std::sort(names.begin(), names.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
    }
    std::string day;  // when the test began
};

TEST_F(Registration, WritesTheEntryAndNothingElse) {
    Result r = RunApp(exe, {"-r", product, "Demo Plug-in"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.boxes.empty());
    ExpectEntry(HKEY_LOCAL_MACHINE, product, "Demo Plug-in");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Vostrel\\Harbo"));
}

// Large files past MAX_PATH, deep in one chain of Greek folders, count.
TEST_F(Registration, FilesPastMaxPathCountInTheSize) {
    MakeDeepFiles(dir, "Αποθετήριο_κώδικα", {320, 1000}, std::string(3 << 20, 'z'));
    Result r = RunApp(exe, {"-r", product, "Demo Plug-in"});
    EXPECT_EQ(r.exitCode, 0);
    ExpectEntry(HKEY_LOCAL_MACHINE, product, "Demo Plug-in", {}, 2 * (3 << 20));
}

// Publisher, version and icon come from the plug-in's version resource, the
// size from the installation folder. Each registration says what it finds
// then: a row sees nothing of the one before.
TEST_F(Registration, DetailsComeFromThePluginBesideTheProgram) {
    WriteFile("Tools/sub/a.bin", std::string(1000, 'a'));
    WriteFile("Tools/sub/deeper/b.bin", std::string(3000, 'b'));
    // A working copy in the folder is not the plug-in's: the size leaves it out.
    WriteFile("Tools/work/.git/pack", std::string(50000, 'g'));
    const std::string key = EntryKey(product), plugin = dir + "harbo.dll";
    struct Row {
        const char* dll;  // built beside the suite; none: no plug-in at all
        const char* version;
        const char* publisher;  // written from UTF-16, with its NUL
        bool icon;
    } rows[] = {
        {"versioned.dll", "2.5.1 ベータ", "Βόστρελ Α.Ε.", true},
        {"fixedver.dll", "1.2.30.400", nullptr, false},
        {"held.dll", nullptr, nullptr, false},  // no version resource, no icon
        {nullptr, nullptr, nullptr, false},
    };
    for (const Row& row : rows) {
        std::filesystem::remove(std::filesystem::u8path(plugin));
        if (row.dll != nullptr && !RealShell()) continue;  // the stand-in has no resources
        if (row.dll != nullptr)
            std::filesystem::copy_file(BuiltFile(row.dll), std::filesystem::u8path(plugin));
        Result r = RunApp(exe, {"-r", product, "Demo"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.boxes.empty());
        std::vector<std::string> more;
        DWORD type = 0;
        std::string bytes;
        if (row.version != nullptr) {
            more.push_back("DisplayVersion");
            bool wide = strcmp(row.dll, "versioned.dll") == 0;
            if (wide) {
                ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, key, "DisplayVersion", &type, &bytes));
                EXPECT_EQ(type, (DWORD)REG_SZ);
                EXPECT_EQ(bytes, std::string(row.version) + '\0') << row.dll;
            } else {
                ExpectString(HKEY_LOCAL_MACHINE, key, "DisplayVersion", row.version);
            }
        }
        if (row.publisher != nullptr) {
            more.push_back("Publisher");
            ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, key, "Publisher", &type, &bytes));
            EXPECT_EQ(type, (DWORD)REG_SZ);
            EXPECT_EQ(bytes, std::string(row.publisher) + '\0');
        }
        if (row.icon) {
            more.push_back("DisplayIcon");
            ExpectString(HKEY_LOCAL_MACHINE, key, "DisplayIcon", plugin + ",0");
        }
        uintmax_t size = 4000;
        if (row.dll != nullptr) size += std::filesystem::file_size(std::filesystem::u8path(plugin));
        ExpectEntry(HKEY_LOCAL_MACHINE, product, "Demo", more, size);
    }
}

// The removal script's SHA-256, taken anew at each registration: the value
// of the one before goes, and where there is no script the entry says so.
TEST_F(Registration, RecordsTheRemovalScriptAsItIs) {
    std::string block;
    for (int i = 0; i < 20 * 256; i++) block += (char)i;  // more than one read
    const struct {
        const char* label;
        std::string script;  // "-": none
        const char* hash;
    } rows[] = {
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"none", "-", nullptr},
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"cr lf, as bytes", "harbo.dll\r\n[*]\r\n",
         "c6d7973909e2299f28a79c9b742c842a0c60f00c8d31c87977bb05103aaa207d"},
        {"5120 bytes", block, "4345361085c730756d843f13849c50a996fe2f1fac3a7ac05fb063bb743a423e"},
        {"none again", "-", nullptr},
    };
    const std::string key = EntryKey(product);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::filesystem::remove(std::filesystem::u8path(dir + "zarnouns.ini"));
        if (row.script != "-") WriteFile("Tools/zarnouns.ini", row.script);
        Result r = RunApp(exe, {"-r", product, "Demo"});
        EXPECT_EQ(r.exitCode, 0);
        std::vector<std::string> names = ValueNames(HKEY_LOCAL_MACHINE, key);
        bool hashed = std::count(names.begin(), names.end(), "RemovalScriptHash") > 0;
        bool none = std::count(names.begin(), names.end(), "NoRemovalScript") > 0;
        EXPECT_EQ(hashed, row.hash != nullptr);
        EXPECT_EQ(none, row.hash == nullptr);
        if (row.hash != nullptr) ExpectString(HKEY_LOCAL_MACHINE, key, "RemovalScriptHash", row.hash);
        if (row.hash == nullptr) ExpectNumber(HKEY_LOCAL_MACHINE, key, "NoRemovalScript", 1);
    }
}

// Redirection Guard, in every run that deletes and in no other: the
// stand-in notes each mitigation asked for (Wine's call does nothing).
TEST_F(Registration, OnlyTheUninstallAsksForRedirectionGuard) {
    if (RealShell()) GTEST_SKIP() << "only the stand-in records the policies asked for";
    const struct {
        std::vector<std::string> args;
        std::vector<Answer> answers;
        const char* asked;  // <machine>/mitigations afterwards: "POLICY FLAGS" lines
    } rows[] = {
        {{"-r", product, "Demo"}, {}, ""},
        {{"-d", product}, {No}, "16 1\n"},
    };
    for (const auto& row : rows) {
        std::filesystem::remove(Path("machine/mitigations"));
        RunApp(exe, row.args, row.answers);
        std::ifstream in(Path("machine/mitigations"));
        std::string asked((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(asked, row.asked) << row.args[0];
    }
}

TEST_F(Registration, TwiceOverwritesTheSameEntry) {
    RunApp(exe, {"-r", product, "First"});
    Result r = RunApp(exe, {"-r", product, "Second"});
    EXPECT_EQ(r.exitCode, 0);
    ExpectEntry(HKEY_LOCAL_MACHINE, product, "Second");
}

TEST_F(Registration, NameWithSpacesEmptyDisplayNameAndTestMode) {
    std::string spaced = product + " with spaces";
    Result r = RunApp(exe, {"-t", "-r", spaced, ""});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.boxes.empty());
    ExpectEntry(HKEY_LOCAL_MACHINE, spaced, "");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, EntryKey(spaced));
}

TEST_F(Registration, NonAdministratorGetsTheEntryUnderTheUser) {
    if (!CanRefuseMachineRights()) GTEST_SKIP() << "this platform does not enforce registry rights";
    SetNonAdmin(true);
    Result r = RunApp(exe, {"-r", product, "Demo"});
    SetNonAdmin(false);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
    ExpectEntry(HKEY_CURRENT_USER, product, "Demo");
}

TEST_F(Registration, RefusesNamesThatCannotAddressTheirOwnEntry) {
    struct Case {
        std::string name, text;
    } cases[] = {
        {"", "Invalid product name: it is empty."},
        {"a\\b", "Invalid product name 'a\\b': it holds a backslash or a double quote."},
        {"a\"b", "Invalid product name 'a\"b': it holds a backslash or a double quote."},
        {std::string(256, 'n'), "Invalid product name: it is longer than 255 characters."},
    };
    for (const auto& c : cases) {
        Result r = RunApp(exe, {"-r", c.name, "Demo"}, {Ok});
        EXPECT_EQ(r.exitCode, 0);
        ExpectOneBox(r, c.text);
        if (!c.name.empty()) EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(c.name))) << c.name;
    }
    Result r = RunApp(exe, {"-r", product, std::string(1024, 'd')}, {Ok});
    ExpectOneBox(r, "Invalid display name: it is longer than 1023 characters.");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
}

TEST_F(Registration, EveryOtherCommandLineShowsTheAboutBox) {
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"-t"},
        {"-U", product},
        {"-u"},
        {"-r", product},
        {"-r", product, "Demo", "more"},
        {"-u", product, "-t"},
        {"-t", "-t", "-u", product},
        {"--r", product, "Demo"},
        {"/r", product, "Demo"},
        {"-rx", product, "Demo"},
        {"-tx", "-r", product, "Demo"},
    };
    for (const auto& args : lines) {
        Result r = RunApp(exe, args, {Ok});
        EXPECT_EQ(r.exitCode, 0);
        ExpectOneBox(r, About);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
}

// A silent run shows no box and tells its outcome by its exit code alone.
TEST_F(Registration, SilentCommandLinesEndWithTheirCodeAndNoBox) {
    const struct {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{"-s"}, 1639},
        {{"-s", "-s", "-r", product, "Demo"}, 1639},
        {{"-s", "-t", "-t", "-r", product, "Demo"}, 1639},
        {{"-s", "-r", product}, 1639},
        {{"-t", "-s", "-r", "a\\b", "Demo"}, 1639},
        {{"-s", "-r", product, std::string(1024, 'd')}, 1639},
        {{"-s", "-u", product}, 1605},
        {{"-t", "-s", "-d", product}, 1605},
        {{"-s", "-t", "-r", product, "Demo"}, 0},
    };
    for (const auto& c : cases) {
        Result r = RunApp(exe, c.args);
        EXPECT_EQ(r.exitCode, PlatformExit(c.code)) << c.args.size() << " " << c.args.back();
        EXPECT_TRUE(r.boxes.empty()) << r.boxes[0].text;
    }
    ExpectEntry(HKEY_LOCAL_MACHINE, product, "Demo");
}

TEST_F(Registration, SilentLogBeginsAfreshPastOneMebibyteAndIsNotNeeded) {
    char temp[MAX_PATH] = "";
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    std::string log = std::string(temp) + "zarnouns.log";
    std::filesystem::remove(log);
    std::ofstream(log, std::ios::binary) << std::string(1024 * 1024 + 1, 'x');
    EXPECT_EQ(RunApp(exe, {"-s"}).exitCode, PlatformExit(1639));
    std::ifstream f(log, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    f.close();
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    // Only this run's first and last lines; the full log is kept aside whole.
    EXPECT_EQ(std::filesystem::file_size(log + ".old"), 1024u * 1024 + 1);
    std::filesystem::remove(log + ".old");
    EXPECT_EQ(text.find("xx"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    EXPECT_EQ(text.substr(text.find('\n')), "\nexit code: 1639\n");
    // A log that cannot be written changes nothing else.
    std::filesystem::remove(log);
    std::filesystem::create_directory(log);
    Result r = RunApp(exe, {"-s", "-r", product, "Demo"});
    std::filesystem::remove(log);
    EXPECT_EQ(r.exitCode, 0);
    ExpectEntry(HKEY_LOCAL_MACHINE, product, "Demo");
}

TEST_F(Registration, AppendsExeOnlyWhenTheNameItselfDoesNotExist) {
    std::string app = Path("Tools") + PATH_SEP + "app.exe";
    std::filesystem::copy_file(exe, app);
    // Started as ".../app": nothing of that name, so ".../app.exe" is taken.
    std::string bare = Path("Tools") + PATH_SEP + "app";
    Result r = RunApp(app, {"-r", product, "Demo"}, {}, "", bare.c_str());
    EXPECT_EQ(r.exitCode, 0);
    ExpectString(HKEY_LOCAL_MACHINE, EntryKey(product), "UninstallString",
                 "\"" + app + "\" -u \"" + product + "\"");
    // A relative name is resolved against the working directory.
    Result rel = RunApp(app, {"-r", product, "Demo"}, {}, Path("Tools"), "app.exe");
    EXPECT_EQ(rel.exitCode, 0);
    ExpectString(HKEY_LOCAL_MACHINE, EntryKey(product), "InstallLocation", dir);
}

TEST_F(Registration, CannotLocateItselfEndsWithMinusTwo) {
    std::string empty = MakeDir("empty");
    Result r = RunApp(exe, {"-r", product, "Demo"}, {Ok}, Path("empty"), "nosuch");
    EXPECT_EQ(r.exitCode, PlatformExit(-2));
    ExpectOneBox(r, "Cannot find executable name: " + empty + "nosuch.exe");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
}
